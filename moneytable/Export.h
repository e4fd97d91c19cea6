// Export of a dataset as text: the one code path behind the browser's two
// export commands and `tamblor export`.
//
// The text has a header line with the FieldName of every visible field (in
// field order), then one line per record, from the first record to the end,
// with each visible field's AsString. Every line, the last included, ends
// with CR LF; there is no byte order mark.
//   Tab, Semicolon  TAB or ';' between the values; values are written as they
//                   stand: no quoting, no escaping of separators, quotes or
//                   line breaks inside a value (a memo keeps its line breaks)
//   Csv             RFC 4180: ',' between the values; a value that holds a
//                   ',', a '"', a CR or a LF is put in quotes with every '"'
//                   doubled
// The walk moves the dataset's cursor (First, Next) and leaves it at the end.
// On a closed dataset the header line is empty (a closed dataset has no
// fields) and First then raises "Cannot perform this operation on a closed
// dataset". An error while reading ends the export; the complete lines
// written before it stay in the output.
//
// Ownership: nothing is kept; the stream belongs to the caller.
// Threads: the dataset's thread.
#pragma once

#include <string>

#include "framework/DB.h"
#include "rtl/Classes.h"

namespace moneytable {

enum class TExportFormat { Tab, Semicolon, Csv };

// Writes the dataset to Out at its position.
void ExportDataSet(TDataSet* DataSet, TStream& Out, TExportFormat Format);

// Creates (or replaces) FileName and writes the dataset into it; a file that
// cannot be created raises EFCreateError "Cannot create file <name>" before
// anything is written. The file is closed also when the export fails.
void ExportDataSetToFile(TDataSet* DataSet, const std::string& FileName, TExportFormat Format);

// One value as the format writes it (quoted for Csv when it must be).
std::string ExportValue(const std::string& Value, TExportFormat Format);

}  // namespace moneytable
