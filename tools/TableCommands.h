// The `tamblor` tool's commands and options that work through TMoneyTable's
// own operations: `dump-header`, and the options of `export` that choose the
// records (index, filter, key range).
//
// RunDumpHeader(args, out, err): `tamblor dump-header TABLE OUTPUT` appends
// the header dump of the table file TABLE (the name as given, extension
// included) to OUTPUT, which must exist, as in the browser; OUTPUT "-" writes
// to `out`. Exit codes and errors as every command (tools/Commands.h).
//
// Export selection, for `export`:
//   ExportSelectionOptions()  the option specifications to merge into the
//                             command's ParseArgs call
//   ApplyExportSelection      puts the parsed options into force on the open
//                             table, in this order: --index (IndexFieldNames),
//                             --case-insensitive / --no-partial (FilterOptions),
//                             --filter (Filter, then Filtered), --range-start
//                             with --range-end (filled as the browser's key
//                             box fills key fields: '|'-separated values of
//                             the index fields, moneytable::FillKeyFields,
//                             then ApplyRange)
// Wrong combinations throw UsageError before the table is touched
// (CheckExportSelection); a failure of the table (an unknown index, an
// expression the engine refuses, a value its key field cannot take) throws
// ToolError naming the table file.
//
// Ownership: nothing is kept. Threads: the thread that opened the table.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "tools/Args.h"

class TMoneyTable;

namespace tools {

extern const char* const kDumpHeaderHelp;
int RunDumpHeader(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

const std::vector<OptionSpec>& ExportSelectionOptions();
// Throws UsageError for options that cannot go together: --range-start
// without --range-end (or the reverse), a range without --index, and
// --case-insensitive or --no-partial without --filter.
void CheckExportSelection(const ParsedArgs& Args);
// CheckExportSelection, then the options in the order above. Table must be
// open.
void ApplyExportSelection(TMoneyTable& Table, const ParsedArgs& Args);

}  // namespace tools
