#include "moneytable/Export.h"

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

void ExportDataSet(TDataSet* DataSet, TStream& Out, TExportFormat Format) {
    const char Sep = Separator(Format);
    std::vector<TField*> Columns;
    for (int I = 0; I < DataSet->FieldCount(); ++I)
        if (DataSet->Fields(I)->Visible()) Columns.push_back(DataSet->Fields(I));

    TLineWriter Writer(Out);
    try {
        std::string Line;
        for (std::size_t I = 0; I < Columns.size(); ++I) {
            if (I) Line += Sep;
            Line += ExportValue(Columns[I]->FieldName(), Format);
        }
        Writer.Line(Line);
        DataSet->First();
        while (!DataSet->Eof()) {
            Line.clear();
            for (std::size_t I = 0; I < Columns.size(); ++I) {
                if (I) Line += Sep;
                Line += ExportValue(Columns[I]->AsString(), Format);
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

void ExportDataSetToFile(TDataSet* DataSet, const std::string& FileName, TExportFormat Format) {
    TFileStream File(FileName, fmCreate);
    ExportDataSet(DataSet, File, Format);
}

}  // namespace moneytable
