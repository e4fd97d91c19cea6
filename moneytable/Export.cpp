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

void ExportDataSet(TDataSet* DataSet, TStream& Out, TExportFormat Format) {
    const char Sep = Separator(Format);
    std::vector<TField*> Columns;
    for (int I = 0; I < DataSet->FieldCount(); ++I)
        if (DataSet->Fields(I)->Visible()) Columns.push_back(DataSet->Fields(I));

    TLineWriter Writer(Out);
    try {
        for (std::size_t I = 0; I < Columns.size(); ++I) {
            if (I) Writer.Text() += Sep;
            AppendValue(Writer.Text(), Columns[I]->FieldName(), Format);
        }
        Writer.EndLine();
        DataSet->First();
        while (!DataSet->Eof()) {
            for (std::size_t I = 0; I < Columns.size(); ++I) {
                if (I) Writer.Text() += Sep;
                AppendValue(Writer.Text(), Columns[I]->AsString(), Format);
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

void ExportDataSetToFile(TDataSet* DataSet, const std::string& FileName, TExportFormat Format) {
    TFileStream File(FileName, fmCreate);
    ExportDataSet(DataSet, File, Format);
}

}  // namespace moneytable
