// Export of a dataset as text: the one code path behind the browser's two
// export commands and `tamblor export`.
//
// The text has a header line with a name per column, then one line per
// record, from the first record to the end, with each column's value. Every
// line, the last included, ends with CR LF; there is no byte order mark.
// ExportDataSet's columns are the visible fields in field order, named by
// FieldName (ExportColumns); a caller may name them otherwise or take a value
// from elsewhere (ExportRecords).
//   Tab, Semicolon  TAB or ';' between the values; each value is the field's
//                   AsString under the user's format settings, written as it
//                   stands: no quoting, no escaping of separators, quotes or
//                   line breaks inside a value (a memo keeps its line breaks)
//   Csv             RFC 4180 in C notation, whatever the process locale, so
//                   that a program (and `tamblor import`) reads it back: ','
//                   between the values; numbers with '.' and as many digits
//                   as give back the same double; dates YYYY-MM-DD; times
//                   HH:MM:SS, with .mmm when there are milliseconds; a value
//                   that holds a ',', a '"', a CR or a LF is put in quotes with
//                   every '"' doubled; null is an empty field and an empty
//                   text is "" (a field of two quotes)
// The walk moves the dataset's cursor (First, Next) and leaves it at the end.
// On a closed dataset the header line is empty (a closed dataset has no
// fields) and First then raises "Cannot perform this operation on a closed
// dataset". An error while reading ends the export; the complete lines
// written before it stay in the output.
//
// Ownership: nothing is kept; the stream belongs to the caller.
// Threads: the dataset's thread.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "framework/DB.h"
#include "rtl/Classes.h"

namespace moneytable {

enum class TExportFormat { Tab, Semicolon, Csv };

// One column of an export: its header text, and its value in the dataset's
// current record (nullopt for null); a column without Value writes its
// Field's AsString as it stands.
struct TExportColumn {
    std::string Name;
    std::function<std::optional<std::string>()> Value;
    TField* Field = nullptr;
};

// The visible fields of the dataset, in field order: FieldName, and
// ExportFieldText of the field (for Tab and Semicolon as the column's Field,
// without a Value).
std::vector<TExportColumn> ExportColumns(TDataSet* DataSet, TExportFormat Format);

// Writes the header line and the records with the given columns to Out at
// its position.
void ExportRecords(TDataSet* DataSet, TStream& Out, TExportFormat Format, const std::vector<TExportColumn>& Columns);

// Writes the dataset (ExportColumns) to Out at its position.
void ExportDataSet(TDataSet* DataSet, TStream& Out, TExportFormat Format);

// Creates (or replaces) FileName and writes the dataset into it; a file that
// cannot be created raises EFCreateError "Cannot create file <name>" before
// anything is written. The file is closed also when the export fails.
void ExportDataSetToFile(TDataSet* DataSet, const std::string& FileName, TExportFormat Format);

// One value as the format writes it (quoted for Csv when it must be).
std::string ExportValue(const std::string& Value, TExportFormat Format);

// A field's value as the format takes it: AsString for Tab and Semicolon;
// for Csv nullopt when the field is null, CsvNumberText for float, date,
// time and date-and-time fields, AsString for the others.
std::optional<std::string> ExportFieldText(TField* Field, TExportFormat Format);

// The C-notation text of a value of a float field (the shortest text that
// reads back as the same double), a date field (YYYY-MM-DD), a time field
// (HH:MM:SS, HH:MM:SS.mmm when the milliseconds are not 0) or a date-and-time
// field (both, separated by a blank). Value is the field's AsFloat or
// AsDateTime.
std::string CsvNumberText(TFieldType Type, double Value);

}  // namespace moneytable
