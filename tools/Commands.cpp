// The `tamblor` tool: command table, dispatcher and the commands create,
// import, info, check and sample.
#include "tools/Commands.h"

#include "engine/Engine.h"
#include "tools/Args.h"
#include "tools/Csv.h"
#include "tools/Files.h"
#include "tools/Sample.h"
#include "tools/TableCommands.h"

#include "rtl/SysUtils.h"

#include <unicode/unistr.h>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>

namespace tools {

namespace {

const char* const kToolHelp =
    "Usage: tamblor COMMAND [ARGUMENTS]\n"
    "\n"
    "Creates, fills and inspects table files (NAME.dat).\n"
    "\n"
    "Commands:\n";

const char* const kCreateHelp =
    "Usage: tamblor create TABLE --column NAME:LETTER[:SIZE][:autoinc] ... [--index COL[+COL...][:unique] ...]\n"
    "                            [--locale ID]\n"
    "       tamblor create TABLE --like OLD\n"
    "\n"
    "Creates the table file TABLE (which must not exist) with the given columns and indexes, or\n"
    "empty with the columns, indexes and locale of the table OLD.\n"
    "\n"
    "  --column NAME:LETTER[:SIZE][:autoinc]\n"
    "        a column, in order; LETTER is the type: B boolean, C text (SIZE bytes, 1 to 255, required),\n"
    "        D date, E and R double, G GUID, I 16-bit integer, L 32-bit integer, M memo, T time,\n"
    "        U text (SIZE bytes, required), V and W 16-bit unsigned, Y post time, Z post date.\n"
    "        'autoinc' makes an I, L, V or W column count up by itself.\n"
    "  --index COL[+COL...][:unique]\n"
    "        an index on one or more columns (names ignore letter case); ':unique' refuses duplicate keys\n"
    "  --locale ID\n"
    "        ICU locale that orders the text keys of the indexes, e.g. cs or de_DE (default: root)\n"
    "  --like OLD\n"
    "        the columns, indexes and locale of the table file OLD (instead of the options above)\n";

const char* const kImportHelp =
    "Usage: tamblor import TABLE CSVFILE [--separator CHAR|tab] [--no-header]\n"
    "\n"
    "Adds the records of the UTF-8 CSV file CSVFILE (RFC 4180: quoted fields, doubled quotes, line\n"
    "breaks inside quotes) to TABLE in one transaction: all of them or, on any error, none.\n"
    "CSVFILE '-' reads the standard input. What 'tamblor export' writes reads back unchanged.\n"
    "\n"
    "The first line names the columns, in any order, letter case ignored; columns it does not name\n"
    "stay empty. A name may also be the first 10 characters of a column's name (the field name\n"
    "that the browser and the TAB export show) when only one column starts so; a _RECNO_ column\n"
    "(the record number) is skipped. An empty field is null; \"\" in a text column is an empty\n"
    "text. Values in C notation whatever the locale: dates YYYY-MM-DD, times HH:MM[:SS[.mmm]],\n"
    "booleans true/false/1/0, numbers with '.'. Auto-increment columns left empty get the next\n"
    "value; Y and Z columns are written by the engine and their values in the file are ignored.\n"
    "\n"
    "  --separator CHAR|tab   field separator (default ',')\n"
    "  --no-header            the file has no header line; every line holds all columns in order\n";

const char* const kInfoHelp =
    "Usage: tamblor info TABLE\n"
    "\n"
    "Shows the columns (name, type letter, size), the indexes (column names joined by ';') and the\n"
    "number of records of TABLE.\n";

const char* const kCheckHelp =
    "Usage: tamblor check TABLE\n"
    "\n"
    "Checks TABLE without changing it (the file is opened for reading only): the catalog against\n"
    "the copy of it that the page store keeps, the full column names and the record table; the page\n"
    "store's own integrity check, with the table's collation; every index against its catalog record\n"
    "and its records; the cached record count against the records. Prints a line per check\n"
    "(\"ok: ...\") and per problem found (\"PROBLEM: ...\"), then a summary.\n"
    "\n"
    "Exit codes: 0 the table is sound, 1 it is damaged (or cannot be checked), 2 usage error.\n";

const char* const kVersionHelp =
    "Usage: tamblor version\n"
    "       tamblor --version\n"
    "\n"
    "Shows the version of the tool.\n";

const char* const kSampleHelp =
    "Usage: tamblor sample DIR [--records N]\n"
    "\n"
    "Writes the demo tables accounts.dat, payees.dat and transactions.dat into DIR (created when\n"
    "missing; the files must not exist). The data are pseudo-random but the same on every run.\n"
    "\n"
    "  --records N   number of transactions (default 10000)\n";

// Letter-case-insensitive equality of UTF-8 names (full Unicode case folding).
bool SameName(const std::string& a, const std::string& b) {
    return icu::UnicodeString::fromUTF8(a).foldCase() == icu::UnicodeString::fromUTF8(b).foldCase();
}

std::optional<int> FindColumn(const engine::TableSchema& schema, const std::string& name) {
    for (std::size_t i = 0; i < schema.Columns.size(); ++i)
        if (SameName(schema.Columns[i].Name, name)) return int(i);
    return std::nullopt;
}

// The column that a header name of a CSV file names: the column of that
// name or, when there is none, the one column whose name starts with it cut
// to 10 bytes (the field name of TMoneyTable, which its TAB export writes).
// -1 for "_RECNO_" (the record number, which the table gives itself).
int HeaderColumn(const engine::TableSchema& schema, const std::string& name, const std::string& where) {
    if (const auto col = FindColumn(schema, name)) return *col;
    if (name == "_RECNO_") return -1;
    int found = -1;
    std::string candidates;
    for (std::size_t i = 0; i < schema.Columns.size(); ++i) {
        const std::string& full = schema.Columns[i].Name;
        if (!SameName(full.substr(0, rtl::Utf8CutLength(full, 10)), name)) continue;
        candidates += (found < 0 ? "'" : ", '") + full + "'";
        found = found < 0 ? int(i) : -2;
    }
    if (found == -1) throw ToolError(where + ": unknown column '" + name + "' in the header");
    if (found == -2)
        throw ToolError(where + ": the header name '" + name + "' is the start of several columns (" + candidates +
                        "); name the column in full");
    return found;
}

bool IsTextType(char type) { return type == 'C' || type == 'U' || type == 'M'; }

bool EqualsNoCase(const std::string& a, const char* b) {
    if (a.size() != std::strlen(b)) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != b[i]) return false;
    return true;
}

bool AllDigits(const std::string& s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// NAME:LETTER[:SIZE][:autoinc], read from the right (a name may hold ':').
engine::ColumnSpec ParseColumnSpec(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t colon = text.find(':', start);
        parts.push_back(text.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    const std::string bad = "invalid column '" + text + "' (expected NAME:LETTER[:SIZE][:autoinc])";
    engine::ColumnSpec spec;
    if (parts.size() >= 3 && EqualsNoCase(parts.back(), "autoinc")) {
        spec.AutoInc = true;
        parts.pop_back();
    }
    std::optional<int> size;
    if (parts.size() >= 3 && AllDigits(parts.back()) && parts[parts.size() - 2].size() == 1) {
        int n = 0;
        const std::string& digits = parts.back();
        std::from_chars(digits.data(), digits.data() + digits.size(), n);
        if (digits.size() > 3 || n > 255 || n < 1) throw UsageError("invalid size in column '" + text + "' (1 to 255)");
        size = n;
        parts.pop_back();
    }
    if (parts.size() < 2 || parts.back().size() != 1) throw UsageError(bad);
    spec.Type = char(std::toupper(static_cast<unsigned char>(parts.back()[0])));
    parts.pop_back();
    for (std::size_t i = 0; i < parts.size(); ++i) spec.Name += (i ? ":" : "") + parts[i];
    if (spec.Name.empty()) throw UsageError(bad);
    if (std::string("BCDEGILMRTUVWYZ").find(spec.Type) == std::string::npos)
        throw UsageError("unknown type letter '" + std::string(1, spec.Type) + "' in column '" + text + "'");
    if ((spec.Type == 'C' || spec.Type == 'U') && !size)
        throw UsageError("column '" + spec.Name + "' of type " + spec.Type + " needs a size (1 to 255)");
    if (spec.AutoInc && std::string("ILVW").find(spec.Type) == std::string::npos)
        throw UsageError("column '" + spec.Name + "': only I, L, V and W columns can be autoinc");
    spec.Size = size.value_or(0);
    return spec;
}

// COL[+COL...][:unique]
engine::IndexSpec ParseIndexSpec(const std::string& text, const engine::TableSchema& schema) {
    engine::IndexSpec spec;
    std::string cols = text;
    if (cols.size() > 7 && EqualsNoCase(cols.substr(cols.size() - 7), ":unique")) {
        spec.Unique = true;
        cols.resize(cols.size() - 7);
    }
    std::size_t start = 0;
    for (;;) {
        const std::size_t plus = cols.find('+', start);
        const std::string name = cols.substr(start, plus == std::string::npos ? std::string::npos : plus - start);
        if (name.empty()) throw UsageError("invalid index '" + text + "' (expected COL[+COL...][:unique])");
        const auto col = FindColumn(schema, name);
        if (!col) throw UsageError("index '" + text + "' names an unknown column '" + name + "'");
        spec.Columns.push_back(*col);
        if (plus == std::string::npos) break;
        start = plus + 1;
    }
    return spec;
}

bool ValidUtf8(const std::string& s) {
    std::size_t i = 0;
    const std::size_t n = s.size();
    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        std::size_t len;
        std::uint32_t cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            len = 2, cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3, cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4, cp = c & 0x07;
        } else {
            return false;
        }
        if (i + len > n) return false;
        for (std::size_t k = 1; k < len; ++k) {
            const unsigned char cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
            return false;
        i += len;
    }
    return true;
}

char ParseSeparator(const std::string& text) {
    if (EqualsNoCase(text, "tab") || text == "\\t" || text == "\t") return '\t';
    if (text.size() != 1 || text[0] == '"' || text[0] == '\r' || text[0] == '\n' ||
        static_cast<unsigned char>(text[0]) >= 0x80)
        throw UsageError("invalid separator '" + text + "' (one ASCII character other than '\"', or 'tab')");
    return text[0];
}

std::string ErrnoText() { return std::strerror(errno); }

// Messages go out as one line: line breaks (from a quoted CSV value, say)
// are shown as \n.
std::string OneLine(const std::string& message) {
    std::string s;
    for (char c : message) {
        if (c == '\n')
            s += "\\n";
        else if (c == '\r')
            s += "\\r";
        else
            s.push_back(c);
    }
    return s;
}

}  // namespace

// --------------------------------------------------------------------------
// create

int RunCreate(const std::vector<std::string>& args, std::ostream&, std::ostream&) {
    const ParsedArgs a = ParseArgs(
        args, {{"column", true, true}, {"index", true, true}, {"locale", true, false}, {"like", true, false}});
    if (a.Positional.size() != 1) throw UsageError(a.Positional.empty() ? "missing TABLE" : "too many arguments");
    const std::string& path = a.Positional[0];
    if (a.Has("like")) {
        if (a.Has("column") || a.Has("index") || a.Has("locale"))
            throw UsageError("--like takes the columns, indexes and locale of OLD: no --column, --index or --locale with it");
        const std::string old = a.Value("like");
        CheckTableFile(old);
        engine::CreateTable(path, engine::ReadTableInfo(old).Schema);
        return 0;
    }
    engine::TableSchema schema;
    for (const std::string& c : a.Values("column")) schema.Columns.push_back(ParseColumnSpec(c));
    if (schema.Columns.empty()) throw UsageError("at least one --column is needed");
    for (const std::string& i : a.Values("index")) schema.Indexes.push_back(ParseIndexSpec(i, schema));
    schema.Locale = a.Value("locale");
    engine::CreateTable(path, schema);
    return 0;
}

// --------------------------------------------------------------------------
// import

int RunImport(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const ParsedArgs a = ParseArgs(args, {{"separator", true, false}, {"no-header", false, false}});
    if (a.Positional.size() < 2)
        throw UsageError(a.Positional.empty() ? "missing TABLE and CSVFILE" : "missing CSVFILE");
    if (a.Positional.size() > 2) throw UsageError("too many arguments");
    const std::string& table = a.Positional[0];
    const bool fromStdin = a.Positional[1] == "-";
    const std::string csvPath = fromStdin ? "standard input" : a.Positional[1];
    const char separator = a.Has("separator") ? ParseSeparator(a.Value("separator")) : ',';

    CheckTableFile(table);
    std::ifstream file;
    if (!fromStdin) {
        CheckCsvFile(csvPath);
        file.open(csvPath, std::ios::binary);
        if (!file) throw ToolError(csvPath + ": cannot open: " + ErrnoText());
    }
    std::istream& in = fromStdin ? std::cin : file;

    engine::BulkInserter inserter(table);
    const engine::TableSchema& schema = inserter.Schema();
    const std::size_t columnCount = schema.Columns.size();
    CsvReader reader(in, separator);
    std::vector<std::string> fields;
    const auto at = [&](std::int64_t line) { return csvPath + ": line " + std::to_string(line); };

    // fieldColumn[i]: column number of field i.
    std::vector<int> fieldColumn;
    try {
        if (a.Has("no-header")) {
            for (std::size_t i = 0; i < columnCount; ++i) fieldColumn.push_back(int(i));
        } else {
            if (!reader.Next(fields)) throw ToolError(csvPath + ": the file is empty (a header line is expected)");
            std::vector<bool> named(columnCount, false);
            for (const std::string& name : fields) {
                const std::string where = at(reader.RecordLine());
                if (!ValidUtf8(name)) throw ToolError(where + ": the header is not valid UTF-8");
                const int col = HeaderColumn(schema, name, where);
                if (col >= 0 && named[std::size_t(col)])
                    throw ToolError(where + ": column '" + name + "' named twice in the header");
                if (col >= 0) named[std::size_t(col)] = true;
                fieldColumn.push_back(col);
            }
        }

        const bool progress = isatty(STDERR_FILENO) != 0;
        const auto started = std::chrono::steady_clock::now();
        auto lastReport = started;
        bool reported = false;
        std::vector<engine::Value> row(columnCount);
        while (reader.Next(fields)) {
            const std::int64_t line = reader.RecordLine();
            if (fields.size() != fieldColumn.size())
                throw ToolError(at(line) + ": " + std::to_string(fields.size()) + " fields where " +
                                std::to_string(fieldColumn.size()) + " are expected");
            for (auto& v : row) v = engine::Value::Null();
            for (std::size_t i = 0; i < fields.size(); ++i) {
                if (fieldColumn[i] < 0) continue;  // the record number
                const engine::ColumnSpec& col = schema.Columns[std::size_t(fieldColumn[i])];
                if (col.Type == 'Y' || col.Type == 'Z') continue;  // written by the engine
                if (!ValidUtf8(fields[i]))
                    throw ToolError(at(line) + ", column '" + col.Name + "': not valid UTF-8");
                try {
                    row[std::size_t(fieldColumn[i])] = fields[i].empty() && reader.Quoted()[i] && IsTextType(col.Type)
                                                           ? engine::Value::Text("")
                                                           : engine::ParseValue(col.Type, fields[i]);
                } catch (const engine::EngineError& e) {
                    throw ToolError(at(line) + ", column '" + col.Name + "': " + e.what());
                }
            }
            try {
                inserter.Add(row);
            } catch (const engine::EngineError& e) {
                throw ToolError(at(line) + ": " + e.what());
            }
            if (progress) {
                const auto now = std::chrono::steady_clock::now();
                if (now - started > std::chrono::seconds(1) && now - lastReport > std::chrono::milliseconds(250)) {
                    err << "\rtamblor: importing " << csvPath << ": " << std::to_string(inserter.RowsAdded()) << " records"
                        << std::flush;
                    lastReport = now;
                    reported = true;
                }
            }
        }
        if (reported) err << "\n";
    } catch (const CsvError& e) {
        throw ToolError(at(e.Line()) + ": " + e.what());
    } catch (const std::ios_base::failure& e) {
        throw ToolError(csvPath + ": cannot read: " + e.code().message());
    }
    inserter.Commit();
    out << "imported " << std::to_string(inserter.RowsAdded()) << " records into " << table << "\n";
    return 0;
}

// --------------------------------------------------------------------------
// info

int RunInfo(const std::vector<std::string>& args, std::ostream& out, std::ostream&) {
    const ParsedArgs a = ParseArgs(args, {});
    if (a.Positional.size() != 1) throw UsageError(a.Positional.empty() ? "missing TABLE" : "too many arguments");
    CheckTableFile(a.Positional[0]);
    const engine::TableInfo info = engine::ReadTableInfo(a.Positional[0]);
    out << "table: " << a.Positional[0] << "\n";
    out << "locale: " << (info.Schema.Locale.empty() ? "root" : info.Schema.Locale) << "\n";
    // Numbers through to_string: the stream's locale never shapes them.
    out << "columns: " << std::to_string(info.Schema.Columns.size()) << "\n";
    for (const engine::ColumnSpec& c : info.Schema.Columns)
        out << "  " << c.Name << "\t" << c.Type << "\t" << std::to_string(c.Size) << (c.AutoInc ? "\tautoinc" : "")
            << "\n";
    out << "indexes: " << std::to_string(info.Schema.Indexes.size()) << "\n";
    for (const engine::IndexSpec& ix : info.Schema.Indexes) {
        out << "  ";
        for (std::size_t k = 0; k < ix.Columns.size(); ++k) {
            const int c = ix.Columns[k];
            out << (k ? ";" : "")
                << (c >= 0 && std::size_t(c) < info.Schema.Columns.size() ? info.Schema.Columns[std::size_t(c)].Name
                                                                           : "?" + std::to_string(c));
        }
        out << (ix.Unique ? "\tunique" : "") << "\n";
    }
    out << "records: " << std::to_string(info.RecordCount) << "\n";
    return 0;
}

// --------------------------------------------------------------------------
// version

int RunVersion(const std::vector<std::string>& args, std::ostream& out, std::ostream&) {
    if (!ParseArgs(args, {}).Positional.empty()) throw UsageError("too many arguments");
    out << "tamblor " << TAMBLOR_VERSION << "\n";
    return 0;
}

// --------------------------------------------------------------------------
// check

int RunCheck(const std::vector<std::string>& args, std::ostream& out, std::ostream&) {
    const ParsedArgs a = ParseArgs(args, {});
    if (a.Positional.size() != 1) throw UsageError(a.Positional.empty() ? "missing TABLE" : "too many arguments");
    const std::string& table = a.Positional[0];
    const std::vector<engine::CheckLine> lines = engine::CheckTable(table);
    std::size_t problems = 0;
    out << "checking " << table << "\n";
    for (const engine::CheckLine& line : lines) {
        out << (line.Problem ? "PROBLEM: " : "ok: ") << OneLine(line.Text) << "\n";
        problems += line.Problem ? 1 : 0;
    }
    if (problems == 0)
        out << table << ": no problem found\n";
    else
        out << table << ": damaged, " << problems << (problems == 1 ? " problem" : " problems") << " found\n";
    return problems == 0 ? 0 : 1;
}

// --------------------------------------------------------------------------
// sample

int RunSample(const std::vector<std::string>& args, std::ostream& out, std::ostream&) {
    const ParsedArgs a = ParseArgs(args, {{"records", true, false}});
    if (a.Positional.size() != 1) throw UsageError(a.Positional.empty() ? "missing DIR" : "too many arguments");
    const long long records = a.Has("records") ? ParseCount(a.Value("records"), "records", 0, 100000000) : 10000;
    const std::string& dir = a.Positional[0];
    if (const std::string what = DescribeFile(dir); !what.empty() && what != "a directory")
        throw ToolError(dir + ": is " + what + ", not a folder");
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) throw ToolError(dir + ": cannot create the folder: " + ec.message());
    for (const std::string& path : WriteSampleTables(dir, records)) out << "wrote " << path << "\n";
    return 0;
}

// --------------------------------------------------------------------------
// dispatch

const std::vector<Command>& CommandTable() {
    static const std::vector<Command> table = {
        {"create", "create a table file with columns and indexes", kCreateHelp, RunCreate},
        {"import", "add the records of a CSV file to a table, all or nothing", kImportHelp, RunImport},
        {"export", "write a table as CSV (or TAB or ';' text) through the component", kExportHelp, RunExport},
        {"dump-header", "append a dump of a table file's header to a text file", kDumpHeaderHelp, RunDumpHeader},
        {"info", "show the columns, indexes and record count of a table", kInfoHelp, RunInfo},
        {"check", "check a table's catalog, page store, indexes and record count", kCheckHelp, RunCheck},
        {"sample", "write the demo tables accounts, payees and transactions", kSampleHelp, RunSample},
        {"version", "show the version of the tool", kVersionHelp, RunVersion},
    };
    return table;
}

namespace {

void PrintToolHelp(std::ostream& out) {
    out << kToolHelp;
    for (const Command& c : CommandTable()) {
        std::string name = c.Name;
        name.resize(std::max<std::size_t>(name.size() + 2, 14), ' ');
        out << "  " << name << c.Summary << "\n";
    }
    out << "\nRun 'tamblor COMMAND --help' for the arguments of a command.\n"
           "Exit codes: 0 success, 1 failure, 2 usage error.\n";
}

const Command* FindCommand(const std::string& name) {
    for (const Command& c : CommandTable())
        if (name == c.Name) return &c;
    return nullptr;
}

}  // namespace

int RunTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        err << "tamblor: missing command\n";
        PrintToolHelp(err);
        return 2;
    }
    const std::string& name = args[0];
    if (name == "--version") return RunTool({"version"}, out, err);
    if (name == "--help" || name == "-h" || name == "help") {
        if (name == "help" && args.size() > 1) {
            const Command* c = FindCommand(args[1]);
            if (!c) {
                err << "tamblor: unknown command '" << args[1] << "' (see tamblor --help)\n";
                return 2;
            }
            out << c->Help;
            return 0;
        }
        PrintToolHelp(out);
        return 0;
    }
    const Command* command = FindCommand(name);
    if (!command) {
        err << "tamblor: unknown command '" << name << "' (see tamblor --help)\n";
        return 2;
    }
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    for (const std::string& a : rest) {
        if (a == "--") break;
        if (a == "--help" || a == "-h") {
            out << command->Help;
            return 0;
        }
    }
    try {
        return command->Run(rest, out, err);
    } catch (const UsageError& e) {
        err << "tamblor " << name << ": " << OneLine(e.what()) << " (see tamblor " << name << " --help)\n";
        return 2;
    } catch (const std::exception& e) {
        // ToolError, engine::EngineError and anything unexpected: exit 1.
        err << "tamblor " << name << ": " << OneLine(e.what()) << "\n";
    }
    out.flush();
    return 1;
}

}  // namespace tools
