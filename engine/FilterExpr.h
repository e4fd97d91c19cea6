// Filter expression compiler: turns the text of a filter expression into an
// SQL WHERE fragment over the page store's `records` table.
//
// Contract
// - CompileFilter() parses the expression against the table's columns and
//   returns the fragment and its parameters by value (the caller owns them).
//   The fragment names columns only by their fixed identifiers c0, c1, ...
//   and carries every value of the expression as a bound parameter: user
//   text never becomes SQL text. Each parameter is a plain `?`; the
//   parameters are listed in the order in which their `?` appear, so a caller
//   that combines several fragments binds them in textual order
//   (BindFilterParams() helps).
// - The fragment is a boolean SQL expression that is always 0 or 1, never
//   NULL: a comparison with a null side is false, so NOT of it is true.
//   An empty (or all-blank) expression gives an empty fragment: no
//   restriction.
// - The fragment may call the collation and functions that RegisterFilterSql()
//   installs; call it once on every connection that runs a fragment.
// - Every expression within the nesting limit (100 levels of parentheses and
//   NOT) compiles to SQL that SQLite's parser takes: a condition nested too
//   deeply for it is compiled flat, as a program of its logic that
//   filter_logic runs over the values of its shallow parts.
// - Errors: CompileFilter() throws engine::EngineError (status -1) with the
//   message "Filter expression error at position N: <reason>", N being the
//   1-based character (code point) position in the expression.
// - Threads: pure functions; any thread. RegisterFilterSql() must run on the
//   thread that uses the connection, as for any sqlite3 call.
//
// Language (keywords and column names ignore letter case):
//   expression  := disjunction
//   disjunction := conjunction { OR conjunction }
//   conjunction := negation { AND negation }
//   negation    := NOT negation | comparison
//   comparison  := term [ (= | <> | != | < | <= | > | >=) term ] | term IS [NOT] NULL
//   term        := column | literal | ( expression )
//   column      := name | [ name with blanks ]
//   literal     := 'text' ('' inside is one quote) | number | TRUE | FALSE
// A term standing alone must be a condition: a boolean column (true when it
// holds true), TRUE, FALSE or a parenthesised expression.
//
// Values and columns (type letters as in the table file):
//   B            TRUE / FALSE (also the numbers 0 and 1); false < true
//   C U M G      text; compared by code point, or by full Unicode case
//                folding with compare flag 1
//   D Z          date literal 'YYYY-MM-DD' (whole days since 30 Dec 1899) or
//                'YYYY-MM-DD HH:MM[:SS]' (day plus fraction)
//   T Y          time literal 'HH:MM[:SS]' (milliseconds since midnight)
//   E R I L V W  numbers: [+|-]digits[.digits][e[+|-]digits]
// Two columns compare when their kinds match (text, number, date, time,
// boolean). A text literal ending in '*' on the right of = or <> tests for a
// prefix (the text before the '*'), unless compare flag 2 is set.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace engine {

// Compare flags of the filter object.
enum FilterCompareFlag : int {
    cfCaseInsensitive = 1,   // text compares ignoring letter case
    cfNoPartialCompare = 2,  // a trailing '*' is an ordinary character
};

// One column of the table as the compiler sees it.
struct FilterColumn {
    std::string Name;  // full column name (UTF-8)
    char Type = 'C';   // type letter
    int Number = 0;    // zero-based column number: SQL identifier c<Number>
};

// A bound parameter: null, integer, double or UTF-8 text.
using FilterParam = std::variant<std::nullptr_t, std::int64_t, double, std::string>;

struct CompiledFilter {
    std::string Where;                // SQL boolean expression; empty = no restriction
    std::vector<FilterParam> Params;  // one per `?` in Where, in textual order
    bool Empty() const { return Where.empty(); }
};

// Compiles `expression` (UTF-8) against `columns` with the compare flags
// (cfCaseInsensitive | cfNoPartialCompare). Throws EngineError on a syntax
// error, an unknown column or a value that does not fit its column.
CompiledFilter CompileFilter(std::string_view expression, const std::vector<FilterColumn>& columns,
                             int compareFlags);

// Binds `params` to `stmt` starting at parameter index `firstIndex` (1-based)
// and returns the index after the last one bound. Throws EngineError when
// SQLite refuses a bind.
int BindFilterParams(sqlite3_stmt* stmt, int firstIndex, const std::vector<FilterParam>& params);

// Registers on `db` what compiled fragments use: the collation FILTER_FOLD
// (code-point order of the full Unicode case folding), the function
// filter_prefix(value, prefix, caseInsensitive) (1 when the text value starts
// with prefix, 0 otherwise, NULL when value is NULL) and the function
// filter_logic(program, leaves) of deep conditions. Throws EngineError when
// SQLite refuses the registration.
void RegisterFilterSql(sqlite3* db);

// Days since 30 Dec 1899 for a valid civil date (year 1..9999); used by the
// compiler for date literals and shared with callers that convert dates the
// same way.
std::int64_t FilterDayNumber(int year, int month, int day);

}  // namespace engine
