// `tamblor export`: writes a table as text through TMoneyTable, by the same
// export code that the browser uses (moneytable/Export.h).
#include "moneytable/Export.h"
#include "moneytable/Tamblor.h"
#include "tools/Args.h"
#include "tools/Commands.h"
#include "tools/TableCommands.h"

#include <cerrno>
#include <ostream>

namespace tools {

const char* const kExportHelp =
    "Usage: tamblor export TABLE [--tab | --semicolon | --csv] [-o FILE] [--index NAMES]\n"
    "                            [--filter EXPR [--case-insensitive] [--no-partial]]\n"
    "                            [--range-start TEXT --range-end TEXT]\n"
    "\n"
    "Writes TABLE (opened read-only) as text: a header line with the field names, then one line\n"
    "per record with each field's text. Every line ends with CR LF; there is no byte order mark.\n"
    "\n"
    "  --tab         TAB between the values, written as they stand (the default)\n"
    "  --semicolon   ';' between the values, written as they stand\n"
    "  --csv         RFC 4180: ',' between the values; values holding ',', '\"' or a line break\n"
    "                are quoted, with '\"' doubled\n"
    "  -o FILE       write to FILE (created or replaced) instead of the standard output\n"
    "                (also --output FILE)\n"
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
        throw UsageError("choose one of --tab, --semicolon and --csv");
    CheckExportSelection(a);
    const moneytable::TExportFormat Format = a.Has("csv")         ? moneytable::TExportFormat::Csv
                                             : a.Has("semicolon") ? moneytable::TExportFormat::Semicolon
                                                                  : moneytable::TExportFormat::Tab;
    const std::string& Table = a.Positional[0];

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
    if (a.Has("output")) {
        const std::string File = a.Value("output");
        TFileStream Out(File, fmCreate);
        try {
            moneytable::ExportDataSet(&T, Out, Format);
        } catch (const EWriteError&) {
            throw ToolError(File + ": " + WriteFailureReason(Out.LastError()));
        }
    } else {
        TOutStream Out(out);
        errno = 0;
        try {
            moneytable::ExportDataSet(&T, Out, Format);
            out.flush();
        } catch (const EWriteError&) {
        }
        if (!out) throw ToolError("cannot write the standard output: " + WriteFailureReason(errno));
    }
    return 0;
}

}  // namespace tools
