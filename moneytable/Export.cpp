#include "moneytable/Export.h"

#include <charconv>
#include <vector>

namespace moneytable {

namespace {

char Separator(TExportFormat Format) {
    switch (Format) {
        case TExportFormat::Tab: return '\t';
        case TExportFormat::Semicolon: return ';';
        case TExportFormat::Csv: return ',';
    }
    return '\t';
}

// Appends one value as the format writes it.
void AppendValue(std::string& Out, const std::string& Value, TExportFormat Format) {
    if (Format != TExportFormat::Csv || Value.find_first_of(",\"\r\n") == std::string::npos) {
        Out += Value;
        return;
    }
    Out += '"';
    for (char C : Value) {
        if (C == '"') Out += '"';
        Out += C;
    }
    Out += '"';
}

// Collects whole lines and hands them to the stream in large blocks; what
// it holds when an error ends the export is still written out, up to the
// last complete line. A line is written straight into the block.
class TLineWriter {
public:
    explicit TLineWriter(TStream& Out) : FOut(Out) { FBuffer.reserve(kBlock + 4096); }
    // The block, to append the values of the current line to.
    std::string& Text() { return FBuffer; }
    void EndLine() {
        FBuffer += "\r\n";
        FLineStart = FBuffer.size();
        if (FBuffer.size() >= kBlock) Flush();
    }
    // Writes the complete lines collected so far (once: a failed write
    // drops them, so that the error's own flush does not repeat it).
    void Flush() {
        FBuffer.resize(FLineStart);
        FLineStart = 0;
        if (FBuffer.empty()) return;
        try {
            FOut.WriteBuffer(FBuffer.data(), static_cast<std::int64_t>(FBuffer.size()));
        } catch (...) {
            FBuffer.clear();
            throw;
        }
        FBuffer.clear();
    }

private:
    static constexpr std::size_t kBlock = 1 << 16;
    TStream& FOut;
    std::string FBuffer;
    std::size_t FLineStart = 0;  // where the current line begins
};

}  // namespace

std::string ExportValue(const std::string& Value, TExportFormat Format) {
    std::string Out;
    AppendValue(Out, Value, Format);
    return Out;
}

std::string CsvNumberText(TFieldType Type, double Value) {
    const TFormatSettings C = TFormatSettings::Invariant();
    switch (Type) {
        case ftDate: return FormatDateTime("yyyy-mm-dd", Value, C);
        case ftTime: {
            Word H, N, S, MS;
            DecodeTime(Value, H, N, S, MS);
            return FormatDateTime(MS ? "hh:nn:ss.zzz" : "hh:nn:ss", Value, C);
        }
        case ftDateTime: return CsvNumberText(ftDate, Value) + " " + CsvNumberText(ftTime, Value);
        default: {
            char Buf[64];
            const auto R = std::to_chars(Buf, Buf + sizeof Buf, Value);
            return std::string(Buf, R.ptr);
        }
    }
}

std::optional<std::string> ExportFieldText(TField* Field, TExportFormat Format) {
    if (Format != TExportFormat::Csv) return Field->AsString();
    if (Field->IsNull()) return std::nullopt;
    switch (Field->DataType()) {
        case ftFloat:
        case ftCurrency: return CsvNumberText(ftFloat, Field->AsFloat());
        case ftDate:
        case ftTime:
        case ftDateTime: return CsvNumberText(Field->DataType(), Field->AsDateTime());
        default: return Field->AsString();
    }
}

std::vector<TExportColumn> ExportColumns(TDataSet* DataSet, TExportFormat Format) {
    std::vector<TExportColumn> Columns;
    for (int I = 0; I < DataSet->FieldCount(); ++I) {
        TField* Field = DataSet->Fields(I);
        if (!Field->Visible()) continue;
        // The user's forms are the field's AsString, read straight into the
        // line; only the C notation needs a conversion of its own.
        if (Format == TExportFormat::Csv)
            Columns.push_back({Field->FieldName(), [Field, Format] { return ExportFieldText(Field, Format); }, Field});
        else
            Columns.push_back({Field->FieldName(), nullptr, Field});
    }
    return Columns;
}

void ExportRecords(TDataSet* DataSet, TStream& Out, TExportFormat Format, const std::vector<TExportColumn>& Columns) {
    const char Sep = Separator(Format);
    TLineWriter Writer(Out);
    try {
        for (std::size_t I = 0; I < Columns.size(); ++I) {
            if (I) Writer.Text() += Sep;
            AppendValue(Writer.Text(), Columns[I].Name, Format);
        }
        Writer.EndLine();
        DataSet->First();
        while (!DataSet->Eof()) {
            for (std::size_t I = 0; I < Columns.size(); ++I) {
                if (I) Writer.Text() += Sep;
                const TExportColumn& Column = Columns[I];
                if (!Column.Value) {
                    AppendValue(Writer.Text(), Column.Field->AsString(), Format);
                    continue;
                }
                const std::optional<std::string> Value = Column.Value();
                if (!Value) continue;
                // An empty text that is not null: two quotes in CSV.
                if (Format == TExportFormat::Csv && Value->empty())
                    Writer.Text() += "\"\"";
                else
                    AppendValue(Writer.Text(), *Value, Format);
            }
            Writer.EndLine();
            DataSet->Next();
        }
    } catch (...) {
        Writer.Flush();
        throw;
    }
    Writer.Flush();
}

void ExportDataSet(TDataSet* DataSet, TStream& Out, TExportFormat Format) {
    ExportRecords(DataSet, Out, Format, ExportColumns(DataSet, Format));
}

void ExportDataSetToFile(TDataSet* DataSet, const std::string& FileName, TExportFormat Format) {
    TFileStream File(FileName, fmCreate);
    ExportDataSet(DataSet, File, Format);
}

}  // namespace moneytable
