// RFC 4180 comma-separated values: a streaming reader and field quoting.
//
// CsvReader reads records from a stream, one at a time, so a large file never
// sits in memory whole. Fields are returned as the raw bytes between the
// separators (UTF-8 is passed through untouched; a leading UTF-8 byte order
// mark of the input is skipped, and a first character that merely starts
// with the mark's first byte is data). Rules:
//   - records end at CR LF, LF or a lone CR; the last one may lack it;
//   - a field that starts with '"' is quoted: it may hold separators, line
//     breaks and quotes written as two quotes, and ends at a quote followed
//     by a separator, a line break or the end of the input;
//   - a quote inside an unquoted field, text after a closing quote, and a
//     quoted field that is still open at the end of the input are errors;
//   - lines with no characters at all are skipped (they hold no record).
// Errors throw CsvError carrying the 1-based line number where the problem
// was found and a reason without the line ("quote inside an unquoted field").
//
// Ownership: the reader borrows the stream, which must outlive it.
// Threads: one reader belongs to one thread.
#pragma once

#include <cstdint>
#include <istream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tools {

class CsvError : public std::runtime_error {
public:
    CsvError(std::int64_t line, const std::string& reason)
        : std::runtime_error(reason), FLine(line) {}
    std::int64_t Line() const { return FLine; }

private:
    std::int64_t FLine;
};

class CsvReader {
public:
    // separator: any single byte except '"', CR and LF.
    CsvReader(std::istream& in, char separator = ',');

    // Reads the next record into `fields` (replacing its contents). Returns
    // false at the end of the input (fields then empty).
    bool Next(std::vector<std::string>& fields);

    // Line on which the record last returned by Next starts (1-based).
    std::int64_t RecordLine() const { return FRecordLine; }
    // For each field of the record last returned by Next: whether it was
    // quoted (so "" is an empty text where an empty field is nothing).
    const std::vector<bool>& Quoted() const { return FQuoted; }

private:
    int Get();
    int Peek();

    std::streambuf* FBuf;
    std::string FPending;  // bytes read ahead at the start, returned first
    char FSeparator;
    std::int64_t FLine = 1;
    std::int64_t FRecordLine = 0;
    bool FStarted = false;
    std::vector<bool> FQuoted;
};

// The field as it is written into a CSV file with the given separator: quoted
// (quotes doubled) when it contains the separator, a quote, CR or LF, or
// starts or ends with a blank; as it is otherwise.
std::string CsvField(std::string_view text, char separator = ',');

}  // namespace tools
