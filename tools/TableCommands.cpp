// `tamblor dump-header` and the record selection of `tamblor export`, both
// through TMoneyTable's own operations.
#include "tools/TableCommands.h"

#include "moneytable/Tamblor.h"
#include "tools/Commands.h"
#include "tools/Files.h"

#include <cerrno>
#include <ostream>

namespace tools {

const char* const kDumpHeaderHelp =
    "Usage: tamblor dump-header TABLE OUTPUT\n"
    "\n"
    "Appends a dump of the table file's header (header block, column records and index records,\n"
    "mostly as hexadecimal bytes) to OUTPUT, as the browser's \"Dump header\" command does.\n"
    "TABLE is the table file itself (NAME.dat: the name is taken as given). OUTPUT must already\n"
    "exist: it is appended to, never created. OUTPUT '-' writes the dump to the standard output.\n"
    "Lines end with CR LF; every dump ends with two empty lines.\n";

// --------------------------------------------------------------------------
// dump-header

int RunDumpHeader(const std::vector<std::string>& args, std::ostream& out, std::ostream&) {
    const ParsedArgs a = ParseArgs(args, {});
    if (a.Positional.size() < 2)
        throw UsageError(a.Positional.empty() ? "missing TABLE and OUTPUT" : "missing OUTPUT");
    if (a.Positional.size() > 2) throw UsageError("too many arguments");
    const std::string& Table = a.Positional[0];
    const std::string& Output = a.Positional[1];
    // Any file's first bytes can be dumped; a folder has none.
    if (DescribeFile(Table) == "a directory") throw ToolError(Table + ": is a directory, not a table file");
    if (Output == "-") {
        // EFOpenError "Cannot open file <TABLE>" names the file already.
        errno = 0;
        moneytable::WriteHeaderDump(Table, [&out](std::string_view Text) {
            out.write(Text.data(), static_cast<std::streamsize>(Text.size()));
        });
        out.flush();
        if (!out) throw ToolError("cannot write the standard output: " + WriteFailureReason(errno));
        return 0;
    }
    TMoneyTable T(nullptr);
    T.SetFileName(Table);
    try {
        T.DumpHeader(Output);
    } catch (const EInOutError& E) {
        // The output file's errors: the run time's message does not name it.
        if (E.ErrorCode == ENOSPC) throw ToolError(Output + ": " + WriteFailureReason(E.ErrorCode));
        const bool Missing = std::string(E.what()) == "File not found";
        throw ToolError(Output + ": " + E.what() + (Missing ? " (the output file must already exist)" : ""));
    }
    return 0;
}

// --------------------------------------------------------------------------
// export selection

const std::vector<OptionSpec>& ExportSelectionOptions() {
    static const std::vector<OptionSpec> Specs = {
        {"index", true, false},        {"filter", true, false},      {"case-insensitive", false, false},
        {"no-partial", false, false},  {"range-start", true, false}, {"range-end", true, false},
    };
    return Specs;
}

void CheckExportSelection(const ParsedArgs& Args) {
    if (Args.Has("range-start") != Args.Has("range-end"))
        throw UsageError(Args.Has("range-start") ? "--range-start needs --range-end" : "--range-end needs --range-start");
    if (Args.Has("range-start") && Args.Value("index").empty())
        throw UsageError("a range (--range-start, --range-end) needs --index");
    if ((Args.Has("case-insensitive") || Args.Has("no-partial")) && !Args.Has("filter"))
        throw UsageError("--case-insensitive and --no-partial need --filter");
}

namespace {

// Fills one range bound as the browser's range commands do: the key state,
// the values, and Post also when filling fails.
void FillBound(TMoneyTable& Table, void (TMoneyTable::*Begin)(), const std::string& Text) {
    (Table.*Begin)();
    try {
        moneytable::FillKeyFields(&Table, Text);
    } catch (...) {
        Table.Post();
        throw;
    }
    Table.Post();
}

}  // namespace

void ApplyExportSelection(TMoneyTable& Table, const ParsedArgs& Args) {
    CheckExportSelection(Args);
    const std::string Where = Table.FileName() + ": ";
    try {
        if (Args.Has("index")) Table.SetIndexFieldNames(Args.Value("index"));
        if (Args.Has("filter")) {
            TFilterOptions Options;
            if (Args.Has("case-insensitive")) Options.Include(foCaseInsensitive);
            if (Args.Has("no-partial")) Options.Include(foNoPartialCompare);
            Table.SetFilterOptions(Options);
            Table.SetFilterText(Args.Value("filter"));
            Table.SetFiltered(true);
        }
        if (Args.Has("range-start")) {
            FillBound(Table, &TMoneyTable::SetRangeStart, Args.Value("range-start"));
            FillBound(Table, &TMoneyTable::SetRangeEnd, Args.Value("range-end"));
            Table.ApplyRange();
        }
    } catch (const UsageError&) {
        throw;
    } catch (const std::exception& E) {
        throw ToolError(Where + E.what());
    }
}

}  // namespace tools
