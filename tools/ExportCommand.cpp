// `tamblor export`: writes a table as text through TMoneyTable, by the same
// export code that the browser uses (moneytable/Export.h). The CSV form names
// each column by its full name and takes the columns that TMoneyTable cannot
// address (a name whose first 10 characters repeat another column's, the
// always-null field Payee[1]) from a second engine table object, so that
// `tamblor import` reads every column back.
#include "moneytable/Export.h"
#include "moneytable/Tamblor.h"
#include "tools/Args.h"
#include "tools/Commands.h"
#include "tools/Files.h"
#include "tools/TableCommands.h"

#include <filesystem>
#include <memory>
#include <cerrno>
#include <ostream>

namespace tools {

const char* const kExportHelp =
    "Usage: tamblor export TABLE [--csv | --tab | --semicolon] [-o FILE] [--index NAMES]\n"
    "                            [--filter EXPR [--case-insensitive] [--no-partial]]\n"
    "                            [--range-start TEXT --range-end TEXT]\n"
    "\n"
    "Writes TABLE (opened read-only) as text: a header line with the column names, then one line\n"
    "per record. Every line ends with CR LF; there is no byte order mark.\n"
    "\n"
    "  --csv         RFC 4180, the default: ',' between the values; values holding ',', '\"' or a\n"
    "                line break (a memo's lines) are quoted, with '\"' doubled; C notation whatever\n"
    "                the locale: numbers with '.' and all the digits that give the same number back,\n"
    "                dates YYYY-MM-DD, times HH:MM:SS[.mmm]; an empty field is null, \"\" an empty\n"
    "                text; the header holds the columns' full names and _RECNO_, the record number.\n"
    "                'tamblor import' reads it back (into a table made by 'create --like TABLE').\n"
    "  --tab         as the browser exports: TAB between the values, the field names and each\n"
    "                field's text in the user's notation, written as they stand (not quoted)\n"
    "  --semicolon   the same with ';' between the values\n"
    "  -o FILE       write to FILE instead of the standard output ('-'); FILE is replaced only\n"
    "                when the export is complete: an export that fails or is interrupted leaves\n"
    "                it as it was (also --output FILE)\n"
    "\n"
    "Records, in the order of the index chosen and limited by the filter and range:\n"
    "  --index NAMES        order by the index on these fields, names separated by ';' (as the\n"
    "                       browser's index list shows them, e.g. Payee;Date)\n"
    "  --filter EXPR        only the records for which the filter expression holds\n"
    "  --case-insensitive   the filter compares text ignoring letter case\n"
    "  --no-partial         a text ending in '*' in the filter is no prefix pattern\n"
    "  --range-start TEXT   with --range-end and --index: only the records whose leading index\n"
    "  --range-end TEXT     fields lie between the two keys (both included); TEXT holds the values\n"
    "                       of the index fields separated by '|', as the browser's key box reads them\n";

namespace {

// The output stream of the tool as a write-only TStream.
class TOutStream : public TStream {
public:
    explicit TOutStream(std::ostream& Out) : FOut(Out) {}
    std::int64_t Read(void*, std::int64_t) override { return 0; }
    std::int64_t Write(const void* Buffer, std::int64_t Count) override {
        FOut.write(static_cast<const char*>(Buffer), static_cast<std::streamsize>(Count));
        if (!FOut) return 0;
        FWritten += Count;
        return Count;
    }
    std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override {
        if (Offset == 0 && Origin != soBeginning) return FWritten;
        throw EStreamError("Invalid stream position");
    }

private:
    std::ostream& FOut;
    std::int64_t FWritten = 0;
};

// A second engine table object on the table's file, read by record number
// (and in the table's order, which makes that a step to the next record).
class TColumnReader {
public:
    explicit TColumnReader(TMoneyTable& Table) : FTable(CoBFTable::Create()), FName(Table.FileName()) {
        WideString Path;
        OleCheck(Table.EngineTable()->GetTablePath(&Path));
        OleCheck(FTable->SetTablePath(Path));
        std::int32_t Status = 0;
        OleCheck(FTable->OpenTable(OleVariant(Path), &Status));
        Table.CheckError(Status);
        // The table's order, so that the export's next record is mostly this
        // object's next one.
        OleCheck(FTable->SetIndex(Utf8ToWide(IndexFieldNamesToIndexName(Table.IndexFieldNames())), &Status));
        Table.CheckError(Status);
    }
    ~TColumnReader() {
        FTable->PrepareClose(0);
        FTable->CloseTable();
    }
    TColumnReader(const TColumnReader&) = delete;
    TColumnReader& operator=(const TColumnReader&) = delete;

    OleVariant Value(std::int32_t RecNo, std::int32_t Column) {
        if (RecNo != FRecNo) {
            // Records in the table's order are mostly the next ones.
            std::int32_t Status = 0, Number = 0;
            if (FRecNo != 0) {
                OleCheck(FTable->MoveNext(&Status));
                if (Status == 0) OleCheck(FTable->GetRecordNumber(&Number));
            }
            if (Number != RecNo) OleCheck(FTable->MoveToRecord(RecNo, &Status));
            if (Number != RecNo && Status != 0)
                throw ToolError(FName + ": record " + std::to_string(RecNo) +
                                " was deleted by another user during the export");
            FRecNo = RecNo;
        }
        OleVariant Result;
        OleCheck(FTable->GetColumnValue(OleVariant(Column), &Result));
        return Result;
    }

private:
    rtl::ComPtr<IBFTable7> FTable;
    std::string FName;
    std::int32_t FRecNo = 0;
};

// The columns of the CSV form: the visible fields, each named by its
// column's full name; the fields that TMoneyTable cannot read take their
// values from Reader (made when the first one is met). An empty text is ""
// (not null) only where TMoneyTable tells the two apart.
std::vector<moneytable::TExportColumn> CsvColumns(TMoneyTable& Table, std::unique_ptr<TColumnReader>& Reader) {
    std::vector<moneytable::TExportColumn> Columns = moneytable::ExportColumns(&Table, moneytable::TExportFormat::Csv);
    TField* RecNo = Table.FieldByName("_RECNO_");
    auto C = Columns.begin();
    for (TField* F : Table.Fields()->List()) {
        if (!F->Visible()) continue;
        moneytable::TExportColumn& Column = *C++;
        const std::int32_t Number = F->FieldNo() - 2;  // field 1 is _RECNO_, field k + 2 column k
        if (Number < 0) continue;
        WideString Name;
        OleCheck(Table.EngineTable()->GetColumnName(Number, &Name));
        Column.Name = WideToUtf8(Name);
        if (Table.IsFieldAccesable(F)) {
            // A wide text or GUID column is read through GetWideValue or
            // GetGuidValue, which give "" for null: written as null.
            const std::uint8_t Letter = Table.ColumnDescs()[static_cast<std::size_t>(F->FieldNo() - 1)].TypeLetter;
            if (Letter == 'U' || Letter == 'G')
                Column.Value = [F]() -> std::optional<std::string> {
                    std::optional<std::string> Text = moneytable::ExportFieldText(F, moneytable::TExportFormat::Csv);
                    return Text && Text->empty() ? std::nullopt : Text;
                };
            continue;
        }
        if (!Reader) Reader = std::make_unique<TColumnReader>(Table);
        Column.Value = [&Reader, RecNo, F, Number]() -> std::optional<std::string> {
            const OleVariant V = Reader->Value(RecNo->AsInteger(), Number);
            if (V.IsEmpty()) return std::nullopt;
            if (V.VType() == VT_R8 || V.VType() == VT_DATE) return moneytable::CsvNumberText(F->DataType(), V.ToDouble());
            return V.ToString();
        };
    }
    return Columns;
}

}  // namespace

int RunExport(const std::vector<std::string>& args, std::ostream& out, std::ostream&) {
    // "-o FILE" is the short form of "--output FILE".
    std::vector<std::string> Args;
    for (const std::string& A : args) Args.push_back(A == "-o" ? "--output" : A);
    std::vector<OptionSpec> Specs{{"tab", false, false}, {"semicolon", false, false}, {"csv", false, false}, {"output", true, false}};
    Specs.insert(Specs.end(), ExportSelectionOptions().begin(), ExportSelectionOptions().end());
    const ParsedArgs a = ParseArgs(Args, Specs);
    if (a.Positional.size() != 1) throw UsageError(a.Positional.empty() ? "missing TABLE" : "too many arguments");
    if (a.Has("tab") + a.Has("semicolon") + a.Has("csv") > 1)
        throw UsageError("choose one of --csv, --tab and --semicolon");
    if (a.Has("output") && a.Value("output").empty()) throw UsageError("-o needs a file name ('-' for the standard output)");
    CheckExportSelection(a);
    const moneytable::TExportFormat Format = a.Has("tab")         ? moneytable::TExportFormat::Tab
                                             : a.Has("semicolon") ? moneytable::TExportFormat::Semicolon
                                                                  : moneytable::TExportFormat::Csv;
    const std::string& Table = a.Positional[0];
    const std::string Output = a.Value("output", "-");

    // The file that TMoneyTable opens: the name with the extension ".dat".
    const std::string TableFile = ChangeFileExt(Table, ".dat");
    CheckTableFile(TableFile);
    std::error_code Ec;
    if (Output != "-" && std::filesystem::equivalent(Output, TableFile, Ec))
        throw ToolError(Output + ": is the table being exported");
    TMoneyTable T(nullptr);
    T.SetFileName(Table);
    T.SetReadOnly(true);
    try {
        T.Open();
    } catch (const std::exception& E) {
        // The engine's status messages do not name the file; the tool's do.
        throw ToolError(Table + ": " + E.what());
    }
    ApplyExportSelection(T, a);
    std::unique_ptr<TColumnReader> Reader;
    const auto Write = [&](TStream& Stream) {
        try {
            moneytable::ExportRecords(&T, Stream, Format,
                                      Format == moneytable::TExportFormat::Csv ? CsvColumns(T, Reader)
                                                                               : moneytable::ExportColumns(&T, Format));
        } catch (const ToolError&) {
            throw;
        } catch (const std::exception& E) {
            throw ToolError(Table + ": " + E.what());
        }
    };
    if (Output != "-") {
        TReplacingFile File(Output);
        Write(File);
        File.Commit();
    } else {
        TOutStream Out(out);
        Write(Out);
        out.flush();
        if (!out) throw ToolError("cannot write the standard output");
    }
    return 0;
}

}  // namespace tools
