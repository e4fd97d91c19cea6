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

// Collects whole lines and hands them to the stream in large blocks; what
// it holds when an error ends the export is still written out.
class TLineWriter {
public:
    explicit TLineWriter(TStream& Out) : FOut(Out) { FBuffer.reserve(kBlock + 4096); }
    void Line(const std::string& Text) {
        FBuffer += Text;
        FBuffer += "\r\n";
        if (FBuffer.size() >= kBlock) Flush();
    }
    void Flush() {
        if (FBuffer.empty()) return;
        std::string Block;
        Block.swap(FBuffer);
        FOut.WriteBuffer(Block.data(), static_cast<std::int64_t>(Block.size()));
    }

private:
    static constexpr std::size_t kBlock = 1 << 16;
    TStream& FOut;
    std::string FBuffer;
};

}  // namespace

std::string ExportValue(const std::string& Value, TExportFormat Format) {
    if (Format != TExportFormat::Csv || Value.find_first_of(",\"\r\n") == std::string::npos) return Value;
    std::string Quoted = "\"";
    for (char C : Value) {
        if (C == '"') Quoted += '"';
        Quoted += C;
    }
    Quoted += '"';
    return Quoted;
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
        if (Field->Visible())
            Columns.push_back({Field->FieldName(), [Field, Format] { return ExportFieldText(Field, Format); }});
    }
    return Columns;
}

void ExportRecords(TDataSet* DataSet, TStream& Out, TExportFormat Format, const std::vector<TExportColumn>& Columns) {
    const char Sep = Separator(Format);
    TLineWriter Writer(Out);
    try {
        std::string Line;
        for (std::size_t I = 0; I < Columns.size(); ++I) {
            if (I) Line += Sep;
            Line += ExportValue(Columns[I].Name, Format);
        }
        Writer.Line(Line);
        DataSet->First();
        while (!DataSet->Eof()) {
            Line.clear();
            for (std::size_t I = 0; I < Columns.size(); ++I) {
                if (I) Line += Sep;
                const std::optional<std::string> Value = Columns[I].Value();
                if (!Value) continue;
                // An empty text that is not null: two quotes in CSV.
                Line += Format == TExportFormat::Csv && Value->empty() ? "\"\"" : ExportValue(*Value, Format);
            }
            Writer.Line(Line);
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
