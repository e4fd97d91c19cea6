// Filter expression compiler: recursive-descent parser that emits SQL with
// bound parameters. See FilterExpr.h for the language and the contract.
#include "engine/FilterExpr.h"

#include "engine/Errors.h"

#include <sqlite3.h>
#include <unicode/bytestream.h>
#include <unicode/casemap.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>
#include <algorithm>

#include <charconv>
#include <cstring>
#include <optional>

namespace engine {

namespace {

// ---------------------------------------------------------------------------
// Case folding (full Unicode default folding, code point by code point)

bool IsAscii(std::string_view s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

std::string FoldCase(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    if (IsAscii(s)) {
        for (char c : s) out.push_back(c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c);
        return out;
    }
    UErrorCode err = U_ZERO_ERROR;
    icu::StringByteSink<std::string> sink(&out);
    icu::CaseMap::utf8Fold(U_FOLD_CASE_DEFAULT, icu::StringPiece(s.data(), int32_t(s.size())), sink, nullptr,
                           err);
    if (U_FAILURE(err)) return std::string(s);  // cannot happen for in-memory sinks; compare unfolded
    return out;
}

char AsciiLower(unsigned char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : char(c); }

// Skips the common ASCII prefix of a and b that folds equal. Folding works on
// each code point alone, so the rest can be folded separately. Returns the
// number of bytes skipped; stops at the first non-ASCII byte of either.
std::size_t SkipEqualAscii(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    const std::size_t n = std::min(a.size(), b.size());
    while (i < n) {
        unsigned char ca = a[i], cb = b[i];
        if (ca >= 0x80 || cb >= 0x80) break;
        if (AsciiLower(ca) != AsciiLower(cb)) break;
        ++i;
    }
    return i;
}

int CompareBytes(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    int r = n ? std::memcmp(a.data(), b.data(), n) : 0;
    if (r != 0) return r < 0 ? -1 : 1;
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

int FoldCompare(std::string_view a, std::string_view b) {
    const std::size_t skip = SkipEqualAscii(a, b);
    a.remove_prefix(skip);
    b.remove_prefix(skip);
    if (a.empty() || b.empty() || (static_cast<unsigned char>(a[0]) < 0x80 && static_cast<unsigned char>(b[0]) < 0x80)) {
        // Both continue with ASCII (or one ended): the first differing ASCII
        // pair decides, unless the mismatch is only one of letter case,
        // which SkipEqualAscii has already consumed.
        if (a.empty() || b.empty()) return a.empty() ? (b.empty() ? 0 : -1) : 1;
        const char la = AsciiLower(a[0]), lb = AsciiLower(b[0]);
        return static_cast<unsigned char>(la) < static_cast<unsigned char>(lb) ? -1 : 1;
    }
    return CompareBytes(FoldCase(a), FoldCase(b));
}

bool StartsWith(std::string_view value, std::string_view prefix, bool caseInsensitive) {
    if (!caseInsensitive)
        return value.size() >= prefix.size() && std::memcmp(value.data(), prefix.data(), prefix.size()) == 0;
    const std::size_t skip = SkipEqualAscii(value, prefix);
    value.remove_prefix(skip);
    prefix.remove_prefix(skip);
    if (prefix.empty()) return true;
    if (value.empty()) return false;
    if (static_cast<unsigned char>(value[0]) < 0x80 && static_cast<unsigned char>(prefix[0]) < 0x80) return false;
    const std::string fv = FoldCase(value), fp = FoldCase(prefix);
    return fv.size() >= fp.size() && std::memcmp(fv.data(), fp.data(), fp.size()) == 0;
}

int FoldCollation(void*, int n1, const void* p1, int n2, const void* p2) {
    return FoldCompare(std::string_view(static_cast<const char*>(p1), std::size_t(n1)),
                       std::string_view(static_cast<const char*>(p2), std::size_t(n2)));
}

void PrefixFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    const unsigned char* v = sqlite3_value_text(argv[0]);
    const int vn = sqlite3_value_bytes(argv[0]);
    const unsigned char* p = sqlite3_value_text(argv[1]);
    const int pn = sqlite3_value_bytes(argv[1]);
    if (!v || !p) {
        sqlite3_result_error_nomem(ctx);
        return;
    }
    const bool ci = sqlite3_value_int(argv[2]) != 0;
    sqlite3_result_int(ctx, StartsWith(std::string_view(reinterpret_cast<const char*>(v), std::size_t(vn)),
                                       std::string_view(reinterpret_cast<const char*>(p), std::size_t(pn)), ci)
                                ? 1
                                : 0);
}

// filter_logic(program, leaves): runs the postfix program of a deep
// condition (Fragment::Program) over the values of its leaves, one character
// '0' or '1' each; 1 when the condition holds, else 0.
void LogicFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
    const unsigned char* program = sqlite3_value_text(argv[0]);
    const int programSize = sqlite3_value_bytes(argv[0]);
    const unsigned char* leaves = sqlite3_value_text(argv[1]);
    const int leafCount = sqlite3_value_bytes(argv[1]);
    if (!program || !leaves) {
        sqlite3_result_error(ctx, "filter_logic: a program and the values of its leaves are needed", -1);
        return;
    }
    std::vector<bool> stack;
    int next = 0;
    for (int i = 0; i < programSize; ++i) {
        const char op = static_cast<char>(program[i]);
        if (op == 'x') {
            if (next >= leafCount) break;
            stack.push_back(leaves[next++] != '0');
            continue;
        }
        if (op == '!') {
            if (stack.empty()) break;
            stack.back() = !stack.back();
            continue;
        }
        if (stack.size() < 2) break;
        const bool b = stack.back();
        stack.pop_back();
        const bool a = stack.back();
        bool r;
        switch (op) {
            case '&': r = a && b; break;
            case '|': r = a || b; break;
            case '=': r = a == b; break;
            case '#': r = a != b; break;
            case '<': r = a < b; break;
            case '{': r = a <= b; break;
            case '>': r = a > b; break;
            case '}': r = a >= b; break;
            default: sqlite3_result_error(ctx, "filter_logic: invalid program", -1); return;
        }
        stack.back() = r;
    }
    if (stack.size() != 1 || next != leafCount) {
        sqlite3_result_error(ctx, "filter_logic: the program does not fit its leaves", -1);
        return;
    }
    sqlite3_result_int(ctx, stack.back() ? 1 : 0);
}

// ---------------------------------------------------------------------------
// Lexer

enum class Tok { End, Name, Bracket, String, Number, Op, LParen, RParen };

struct Token {
    Tok Kind = Tok::End;
    std::size_t Pos = 0;  // byte offset in the expression
    std::string Text;     // name, string contents, number text or operator
};

bool IsAsciiNameStart(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }

bool EqualsNoCaseAscii(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(static_cast<unsigned char>(a[i])) != AsciiLower(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

enum class Kind { Text, Number, Date, Time, Bool };

// A compiled condition: SQL that is always 0 or 1, nested at most
// MaxSqlDepth parentheses deep. A condition nested deeper than SQLite's
// parser can take is kept as its logic instead: a postfix program over its
// leaves, each a condition in SQL (see RegisterFilterSql: filter_logic).
constexpr int MaxSqlDepth = 16;

struct Fragment {
    std::string Sql;
    std::vector<FilterParam> Params;
    int Depth = 0;  // nesting of parentheses in Sql
    // Logic of a deep condition: 'x' takes the next leaf; '!' negates; '&',
    // '|' and the comparisons '=', '#' (<>), '<', '{' (<=), '>', '}' (>=)
    // combine the two conditions before them. Empty for an SQL condition.
    std::string Program;
    std::vector<Fragment> Leaves;

    bool Deep() const { return !Program.empty(); }
    void Append(const Fragment& f) {
        Sql += f.Sql;
        Params.insert(Params.end(), f.Params.begin(), f.Params.end());
    }
    // Sets Depth from the parentheses of Sql (which holds no user text).
    void Measure() {
        int level = 0;
        for (char c : Sql) {
            level += c == '(' ? 1 : c == ')' ? -1 : 0;
            Depth = std::max(Depth, level);
        }
    }
};

std::string ProgramOf(const Fragment& f) { return f.Deep() ? f.Program : "x"; }

void MoveLeaves(Fragment& from, std::vector<Fragment>& to) {
    if (!from.Deep()) {
        to.push_back(std::move(from));
        return;
    }
    for (Fragment& leaf : from.Leaves) to.push_back(std::move(leaf));
}

// "(l op r)", or the logic of it when that would nest too deeply.
Fragment Binary(Fragment l, const std::string& sqlOp, char programOp, Fragment r) {
    Fragment f;
    if (!l.Deep() && !r.Deep() && std::max(l.Depth, r.Depth) < MaxSqlDepth) {
        f.Sql.reserve(l.Sql.size() + r.Sql.size() + sqlOp.size() + 2);
        f.Sql = "(";
        f.Append(l);
        f.Sql += sqlOp;
        f.Append(r);
        f.Sql += ")";
        f.Depth = std::max(l.Depth, r.Depth) + 1;
        return f;
    }
    f.Program = ProgramOf(l) + ProgramOf(r) + programOp;
    MoveLeaves(l, f.Leaves);
    MoveLeaves(r, f.Leaves);
    return f;
}

Fragment Not(Fragment x) {
    Fragment f;
    if (!x.Deep() && x.Depth < MaxSqlDepth) {
        f.Sql = "(NOT ";
        f.Append(x);
        f.Sql += ")";
        f.Depth = x.Depth + 1;
        return f;
    }
    f.Program = ProgramOf(x) + "!";
    MoveLeaves(x, f.Leaves);
    return f;
}

// The leaves' values as one text of '0' and '1' characters: chains of
// concatenations (flat for SQLite's parser) joined in a balanced tree (so
// that the expression depth stays far below SQLite's limit).
Fragment ConcatenatedLeaves(std::vector<Fragment>& leaves, std::size_t from, std::size_t to) {
    constexpr std::size_t chain = 256;
    Fragment f;
    if (to - from > chain) {
        const std::size_t mid = from + (to - from) / 2;
        Fragment left = ConcatenatedLeaves(leaves, from, mid);
        Fragment right = ConcatenatedLeaves(leaves, mid, to);
        f.Sql = "(";
        f.Append(left);
        f.Sql += " || ";
        f.Append(right);
        f.Sql += ")";
        return f;
    }
    f.Sql = "(";
    for (std::size_t i = from; i < to; ++i) {
        if (i > from) f.Sql += " || ";
        f.Append(leaves[i]);
    }
    f.Sql += ")";
    return f;
}

struct Operand {
    enum Source { Column, TextLit, NumLit, BoolLit, Group } Src = Group;
    std::size_t Pos = 0;
    const FilterColumn* Col = nullptr;
    std::string Text;  // text literal contents or number text
    bool BoolValue = false;
    Fragment Sql;  // for Group
};

std::optional<Kind> KindOfType(char letter) {
    switch (letter) {
        case 'B': return Kind::Bool;
        case 'C': case 'U': case 'M': case 'G': return Kind::Text;
        case 'D': case 'Z': return Kind::Date;
        case 'T': case 'Y': return Kind::Time;
        case 'E': case 'R': case 'I': case 'L': case 'V': case 'W': return Kind::Number;
        default: return std::nullopt;
    }
}

// Parses exactly `width` digits (or 1..width when minWidth < width) at s[i].
bool ReadNumberField(std::string_view s, std::size_t& i, std::size_t minWidth, std::size_t maxWidth, int& out) {
    std::size_t start = i;
    int v = 0;
    while (i < s.size() && i - start < maxWidth && IsDigit(static_cast<unsigned char>(s[i]))) v = v * 10 + (s[i++] - '0');
    if (i - start < minWidth) return false;
    out = v;
    return true;
}

bool ParseDatePart(std::string_view s, std::size_t& i, int& y, int& m, int& d) {
    if (!ReadNumberField(s, i, 4, 4, y) || i >= s.size() || s[i] != '-') return false;
    ++i;
    if (!ReadNumberField(s, i, 1, 2, m) || i >= s.size() || s[i] != '-') return false;
    ++i;
    if (!ReadNumberField(s, i, 1, 2, d)) return false;
    static const int monthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 1 || m < 1 || m > 12 || d < 1) return false;
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return d <= monthDays[m - 1] + (m == 2 && leap ? 1 : 0);
}

bool ParseTimePart(std::string_view s, std::size_t& i, std::int64_t& ms) {
    int h = 0, mi = 0, se = 0;
    if (!ReadNumberField(s, i, 1, 2, h) || i >= s.size() || s[i] != ':') return false;
    ++i;
    if (!ReadNumberField(s, i, 2, 2, mi)) return false;
    if (i < s.size() && s[i] == ':') {
        ++i;
        if (!ReadNumberField(s, i, 2, 2, se)) return false;
    }
    if (h > 23 || mi > 59 || se > 59) return false;
    ms = (std::int64_t(h) * 3600 + mi * 60 + se) * 1000;
    return true;
}

class Compiler {
public:
    Compiler(std::string_view text, const std::vector<FilterColumn>& columns, int flags)
        : FText(text), FColumns(columns), FFlags(flags) {}

    CompiledFilter Run() {
        Next();
        CompiledFilter result;
        if (FTok.Kind == Tok::End) return result;
        Fragment f = Disjunction();
        if (FTok.Kind == Tok::RParen) Fail(FTok.Pos, "unexpected ')'");
        if (FTok.Kind != Tok::End) Fail(FTok.Pos, "AND, OR or end of expression expected");
        if (f.Deep()) {
            const Fragment bits = ConcatenatedLeaves(f.Leaves, 0, f.Leaves.size());
            result.Where = "filter_logic(?, " + bits.Sql + ")";
            result.Params.push_back(f.Program);
            result.Params.insert(result.Params.end(), bits.Params.begin(), bits.Params.end());
            return result;
        }
        result.Where = std::move(f.Sql);
        result.Params = std::move(f.Params);
        return result;
    }

private:
    [[noreturn]] void Fail(std::size_t bytePos, const std::string& reason) const {
        std::size_t chars = 0;
        for (std::size_t i = 0; i < bytePos && i < FText.size(); ++i)
            if ((static_cast<unsigned char>(FText[i]) & 0xC0) != 0x80) ++chars;
        throw EngineError("Filter expression error at position " + std::to_string(chars + 1) + ": " + reason);
    }

    // -- lexer --------------------------------------------------------------
    // Byte length of the character at byte offset i when it may start
    // (start) or continue an unbracketed name: letters, digits (not first),
    // '_' and the other Unicode identifier characters; 0 otherwise.
    std::size_t NameCharLength(std::size_t i, bool start) const {
        if (i >= FText.size()) return 0;
        const unsigned char c = static_cast<unsigned char>(FText[i]);
        if (c < 0x80) return IsAsciiNameStart(c) || (!start && IsDigit(c)) ? 1 : 0;
        std::int32_t k = std::int32_t(i);
        UChar32 cp;
        U8_NEXT(reinterpret_cast<const std::uint8_t*>(FText.data()), k, std::int32_t(FText.size()), cp);
        if (cp < 0) return 0;
        return u_hasBinaryProperty(cp, start ? UCHAR_ID_START : UCHAR_ID_CONTINUE) ? std::size_t(k) - i : 0;
    }

    void Next() {
        std::size_t i = FPos;
        while (i < FText.size() && (FText[i] == ' ' || FText[i] == '\t' || FText[i] == '\r' || FText[i] == '\n')) ++i;
        FTok = Token();
        FTok.Pos = i;
        if (i >= FText.size()) {
            FTok.Kind = Tok::End;
            FPos = i;
            return;
        }
        const unsigned char c = static_cast<unsigned char>(FText[i]);
        const auto peek = [&](std::size_t k) -> unsigned char {
            return i + k < FText.size() ? static_cast<unsigned char>(FText[i + k]) : 0;
        };
        if (c == '\'') {
            std::string s;
            std::size_t j = i + 1;
            for (;;) {
                if (j >= FText.size()) Fail(i, "closing quote expected");
                if (FText[j] == '\'') {
                    if (j + 1 < FText.size() && FText[j + 1] == '\'') {
                        s.push_back('\'');
                        j += 2;
                        continue;
                    }
                    ++j;
                    break;
                }
                s.push_back(FText[j++]);
            }
            FTok.Kind = Tok::String;
            FTok.Text = std::move(s);
            FPos = j;
            return;
        }
        if (c == '[') {
            std::size_t j = FText.find(']', i + 1);
            if (j == std::string_view::npos) Fail(i, "']' expected");
            FTok.Kind = Tok::Bracket;
            FTok.Text = std::string(FText.substr(i + 1, j - i - 1));
            if (FTok.Text.empty()) Fail(i, "column name expected inside '[ ]'");
            FPos = j + 1;
            return;
        }
        if (IsDigit(c) || (c == '.' && IsDigit(peek(1))) ||
            ((c == '-' || c == '+') && (IsDigit(peek(1)) || (peek(1) == '.' && IsDigit(peek(2)))))) {
            std::size_t j = i;
            if (FText[j] == '-' || FText[j] == '+') ++j;
            while (j < FText.size() && IsDigit(static_cast<unsigned char>(FText[j]))) ++j;
            if (j < FText.size() && FText[j] == '.') {
                ++j;
                while (j < FText.size() && IsDigit(static_cast<unsigned char>(FText[j]))) ++j;
            }
            if (j < FText.size() && (FText[j] == 'e' || FText[j] == 'E')) {
                std::size_t k = j + 1;
                if (k < FText.size() && (FText[k] == '+' || FText[k] == '-')) ++k;
                if (k < FText.size() && IsDigit(static_cast<unsigned char>(FText[k]))) {
                    while (k < FText.size() && IsDigit(static_cast<unsigned char>(FText[k]))) ++k;
                    j = k;
                }
            }
            if (j < FText.size() && (NameCharLength(j, false) != 0 || FText[j] == '.'))
                Fail(i, "invalid number");
            FTok.Kind = Tok::Number;
            FTok.Text = std::string(FText.substr(i, j - i));
            FPos = j;
            return;
        }
        if (NameCharLength(i, true) != 0) {
            std::size_t j = i;
            while (std::size_t len = NameCharLength(j, j == i)) j += len;
            FTok.Kind = Tok::Name;
            FTok.Text = std::string(FText.substr(i, j - i));
            FPos = j;
            return;
        }
        if (c == '(' || c == ')') {
            FTok.Kind = c == '(' ? Tok::LParen : Tok::RParen;
            FPos = i + 1;
            return;
        }
        std::string op;
        if (c == '<' && (peek(1) == '>' || peek(1) == '='))
            op = FText.substr(i, 2);
        else if ((c == '>' || c == '!') && peek(1) == '=')
            op = FText.substr(i, 2);
        else if (c == '<' || c == '>' || c == '=')
            op = std::string(1, char(c));
        if (op.empty()) {
            // Name the whole (possibly multi-byte) character.
            std::size_t len = 1;
            while (i + len < FText.size() && (static_cast<unsigned char>(FText[i + len]) & 0xC0) == 0x80) ++len;
            Fail(i, "unexpected character '" + std::string(FText.substr(i, len)) + "'");
        }
        FTok.Kind = Tok::Op;
        FTok.Text = op;
        FPos = i + op.size();
    }

    bool IsKeyword(const char* kw) const { return FTok.Kind == Tok::Name && EqualsNoCaseAscii(FTok.Text, kw); }
    bool IsReserved() const {
        for (const char* kw : {"AND", "OR", "NOT", "IS", "NULL", "TRUE", "FALSE"})
            if (IsKeyword(kw)) return true;
        return false;
    }

    // -- grammar --------------------------------------------------------------
    // A chain a OR b OR c ... (or AND) becomes a balanced tree of
    // parenthesised pairs, so that SQLite's expression depth grows with the
    // logarithm of the chain's length, not with the length.
    static Fragment Balanced(std::vector<Fragment>& parts, std::size_t from, std::size_t to, const char* op,
                             char programOp) {
        if (to - from == 1) return std::move(parts[from]);
        const std::size_t mid = from + (to - from) / 2;
        Fragment left = Balanced(parts, from, mid, op, programOp);
        Fragment right = Balanced(parts, mid, to, op, programOp);
        return Binary(std::move(left), op, programOp, std::move(right));
    }

    Fragment Disjunction() {
        std::vector<Fragment> parts;
        parts.push_back(Conjunction());
        while (IsKeyword("OR")) {
            Next();
            parts.push_back(Conjunction());
        }
        return Balanced(parts, 0, parts.size(), " OR ", '|');
    }

    Fragment Conjunction() {
        std::vector<Fragment> parts;
        parts.push_back(Negation());
        while (IsKeyword("AND")) {
            Next();
            parts.push_back(Negation());
        }
        return Balanced(parts, 0, parts.size(), " AND ", '&');
    }

    // Nesting (parentheses and NOT) is limited, so that no expression can
    // exhaust the stack or SQLite's expression depth.
    static constexpr int MaxNesting = 100;
    void Enter() {
        if (++FDepth > MaxNesting)
            Fail(FTok.Pos, "expression nested too deeply (more than " + std::to_string(MaxNesting) + " levels)");
    }

    Fragment Negation() {
        if (IsKeyword("NOT")) {
            Enter();
            Next();
            Fragment inner = Negation();
            --FDepth;
            return Not(std::move(inner));
        }
        return Comparison();
    }

    Fragment Comparison() {
        Operand left = Term();
        if (IsKeyword("IS")) {
            Next();
            bool negate = false;
            if (IsKeyword("NOT")) {
                negate = true;
                Next();
            }
            if (!IsKeyword("NULL")) Fail(FTok.Pos, "NULL expected");
            Next();
            Fragment f;
            if (left.Src == Operand::Column)
                f.Sql = "(" + ColumnId(*left.Col) + (negate ? " IS NOT NULL)" : " IS NULL)");
            else
                f.Sql = negate ? "1" : "0";  // literals and conditions are never null
            f.Measure();
            return f;
        }
        if (FTok.Kind == Tok::Op) {
            const std::string op = FTok.Text == "!=" ? "<>" : FTok.Text;
            const std::size_t opPos = FTok.Pos;
            Next();
            Operand right = Term();
            return Compare(left, op, opPos, right);
        }
        return Condition(left);
    }

    Operand Term() {
        Operand o;
        o.Pos = FTok.Pos;
        switch (FTok.Kind) {
            case Tok::LParen: {
                Enter();
                Next();
                o.Src = Operand::Group;
                o.Sql = Disjunction();
                if (FTok.Kind != Tok::RParen) Fail(FTok.Pos, "')' expected");
                Next();
                --FDepth;
                return o;
            }
            case Tok::String:
                o.Src = Operand::TextLit;
                o.Text = FTok.Text;
                Next();
                return o;
            case Tok::Number:
                o.Src = Operand::NumLit;
                o.Text = FTok.Text;
                Next();
                return o;
            case Tok::Bracket:
                o.Src = Operand::Column;
                o.Col = FindColumn(FTok.Text, FTok.Pos);
                Next();
                return o;
            case Tok::Name:
                if (IsKeyword("TRUE") || IsKeyword("FALSE")) {
                    o.Src = Operand::BoolLit;
                    o.BoolValue = IsKeyword("TRUE");
                    Next();
                    return o;
                }
                if (IsKeyword("NULL")) Fail(FTok.Pos, "NULL can only be tested with IS NULL or IS NOT NULL");
                if (IsReserved()) Fail(FTok.Pos, "column, value or '(' expected");
                o.Src = Operand::Column;
                o.Col = FindColumn(FTok.Text, FTok.Pos);
                Next();
                return o;
            default:
                Fail(FTok.Pos, "column, value or '(' expected");
        }
    }

    const FilterColumn* FindColumn(const std::string& name, std::size_t pos) const {
        const std::string folded = FoldCase(name);
        for (const FilterColumn& c : FColumns)
            if (FoldCase(c.Name) == folded) {
                if (!KindOfType(c.Type))
                    Fail(pos, "column '" + c.Name + "' of type '" + std::string(1, c.Type) + "' cannot be filtered");
                return &c;
            }
        Fail(pos, "unknown column '" + name + "'");
    }

    static std::string ColumnId(const FilterColumn& c) { return "c" + std::to_string(c.Number); }

    // A term standing alone: it must be a condition.
    Fragment Condition(const Operand& o) {
        Fragment f;
        switch (o.Src) {
            case Operand::Group:
                return o.Sql;
            case Operand::BoolLit:
                f.Sql = o.BoolValue ? "1" : "0";
                return f;
            case Operand::Column:
                if (*KindOfType(o.Col->Type) == Kind::Bool) return HoldsTrue(*o.Col);
                break;
            default:
                break;
        }
        Fail(FTok.Pos, "comparison operator expected");
    }

    // A boolean column as a condition: true when it holds true.
    static Fragment HoldsTrue(const FilterColumn& c) {
        Fragment f;
        const std::string id = ColumnId(c);
        f.Sql = "(" + id + " IS NOT NULL AND " + id + " <> 0)";
        f.Measure();
        return f;
    }

    static Kind OperandKind(const Operand& o) {
        switch (o.Src) {
            case Operand::Column: return *KindOfType(o.Col->Type);
            case Operand::TextLit: return Kind::Text;
            case Operand::NumLit: return Kind::Number;
            default: return Kind::Bool;
        }
    }

    static const char* KindName(Kind k) {
        switch (k) {
            case Kind::Text: return "text";
            case Kind::Number: return "number";
            case Kind::Date: return "date";
            case Kind::Time: return "time";
            default: return "boolean";
        }
    }

    static std::string Describe(const Operand& o) {
        switch (o.Src) {
            case Operand::Column: return "column '" + o.Col->Name + "'";
            case Operand::TextLit: return "a text";
            case Operand::NumLit: return "a number";
            case Operand::BoolLit: return "a boolean";
            default: return "a condition";
        }
    }

    // Converts a literal operand to a parameter of kind `k`; `other` names the
    // other side for the message.
    FilterParam LiteralParam(const Operand& lit, Kind k, const Operand& other) const {
        const std::string forWhat = other.Src == Operand::Column ? " for column '" + other.Col->Name + "'" : "";
        switch (k) {
            case Kind::Text:
                if (lit.Src == Operand::TextLit) return lit.Text;
                Fail(lit.Pos, "text literal expected" + forWhat);
            case Kind::Number:
                if (lit.Src == Operand::NumLit) return NumberParam(lit);
                Fail(lit.Pos, "number expected" + forWhat);
            case Kind::Bool:
                if (lit.Src == Operand::BoolLit) return std::int64_t(lit.BoolValue ? 1 : 0);
                if (lit.Src == Operand::NumLit && (lit.Text == "0" || lit.Text == "1"))
                    return std::int64_t(lit.Text == "1" ? 1 : 0);
                Fail(lit.Pos, "TRUE or FALSE expected" + forWhat);
            case Kind::Date: {
                if (lit.Src == Operand::TextLit) {
                    std::size_t i = 0;
                    int y, m, d;
                    const std::string_view s = lit.Text;
                    if (ParseDatePart(s, i, y, m, d)) {
                        const std::int64_t day = FilterDayNumber(y, m, d);
                        if (i == s.size()) return day;
                        if (s[i] == ' ' || s[i] == 'T') {
                            ++i;
                            std::int64_t ms;
                            if (ParseTimePart(s, i, ms) && i == s.size()) return double(day) + double(ms) / 86400000.0;
                        }
                    }
                    Fail(lit.Pos, "'" + lit.Text + "' is not a valid date (YYYY-MM-DD [HH:MM[:SS]])" + forWhat);
                }
                Fail(lit.Pos, "date literal 'YYYY-MM-DD' expected" + forWhat);
            }
            case Kind::Time: {
                if (lit.Src == Operand::TextLit) {
                    std::size_t i = 0;
                    std::int64_t ms;
                    if (ParseTimePart(lit.Text, i, ms) && i == lit.Text.size()) return ms;
                    Fail(lit.Pos, "'" + lit.Text + "' is not a valid time (HH:MM[:SS])" + forWhat);
                }
                Fail(lit.Pos, "time literal 'HH:MM[:SS]' expected" + forWhat);
            }
        }
        Fail(lit.Pos, "value expected");
    }

    FilterParam NumberParam(const Operand& lit) const {
        std::string_view s = lit.Text;
        if (!s.empty() && s[0] == '+') s.remove_prefix(1);
        if (s.find_first_of(".eE") == std::string_view::npos) {
            std::int64_t v = 0;
            auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
            if (ec == std::errc() && p == s.data() + s.size()) return v;
        }
        double d = 0;
        auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), d);
        if (ec != std::errc() || p != s.data() + s.size()) Fail(lit.Pos, "number out of range");
        return d;
    }

    // SQL for one side of a comparison of kind `k`.
    Fragment Side(const Operand& o, Kind k, const Operand& other) const {
        Fragment f;
        if (o.Src == Operand::Column) {
            f.Sql = ColumnId(*o.Col);
        } else {
            f.Sql = "?";
            f.Params.push_back(LiteralParam(o, k, other));
        }
        return f;
    }

    Fragment Compare(const Operand& left, const std::string& op, std::size_t opPos, const Operand& right) {
        const bool caseInsensitive = (FFlags & cfCaseInsensitive) != 0;
        // Prefix test: text literal ending in '*' on the right of = or <>.
        if ((op == "=" || op == "<>") && right.Src == Operand::TextLit && !right.Text.empty() &&
            right.Text.back() == '*' && (FFlags & cfNoPartialCompare) == 0 &&
            (left.Src == Operand::TextLit || (left.Src == Operand::Column && OperandKind(left) == Kind::Text))) {
            Fragment f;
            f.Sql = "(";
            if (left.Src == Operand::Column) f.Sql += ColumnId(*left.Col) + " IS NOT NULL AND ";
            f.Sql += op == "=" ? "" : "NOT ";
            f.Sql += "filter_prefix(";
            f.Append(Side(left, Kind::Text, right));
            f.Sql += ", ?, ";
            f.Params.emplace_back(std::in_place_type<std::string>, right.Text, 0, right.Text.size() - 1);
            f.Sql += caseInsensitive ? "1))" : "0))";
            f.Measure();
            return f;
        }

        Kind k;
        if (left.Src == Operand::Column || right.Src == Operand::Column) {
            const Operand& col = left.Src == Operand::Column ? left : right;
            const Operand& other = left.Src == Operand::Column ? right : left;
            k = OperandKind(col);
            if (other.Src == Operand::Column && OperandKind(other) != k)
                Fail(opPos, "column '" + left.Col->Name + "' (" + KindName(k) + ") cannot be compared with column '" +
                                right.Col->Name + "' (" + KindName(OperandKind(right)) + ")");
            if (other.Src == Operand::Group && k != Kind::Bool)
                Fail(other.Pos, "column '" + col.Col->Name + "' is not boolean and cannot be compared with a condition");
        } else {
            k = OperandKind(left);
            if (OperandKind(right) != k)
                Fail(opPos, Describe(left) + " cannot be compared with " + Describe(right));
        }

        if (k == Kind::Bool && (left.Src == Operand::Group || right.Src == Operand::Group))
            return CompareConditions(left, op, right);

        Fragment f;
        f.Sql = "(";
        if (left.Src == Operand::Column) f.Sql += ColumnId(*left.Col) + " IS NOT NULL AND ";
        if (right.Src == Operand::Column) f.Sql += ColumnId(*right.Col) + " IS NOT NULL AND ";
        f.Append(Side(left, k, right));
        if (k == Kind::Text) f.Sql += caseInsensitive ? " COLLATE FILTER_FOLD" : " COLLATE BINARY";
        f.Sql += " " + op + " ";
        f.Append(Side(right, k, left));
        f.Sql += ")";
        f.Measure();
        return f;
    }

    // A comparison of truth values where one side at least is a condition
    // (which may itself be deep): a column side must not be null and counts
    // as true when it holds true.
    Fragment CompareConditions(const Operand& left, const std::string& op, const Operand& right) const {
        const auto side = [&](const Operand& o, const Operand& other) {
            if (o.Src == Operand::Column) return HoldsTrue(*o.Col);
            if (o.Src == Operand::Group) return o.Sql;
            Fragment f = Side(o, Kind::Bool, other);
            f.Measure();
            return f;
        };
        static const char* const ops[] = {"=", "<>", "<", "<=", ">", ">="};
        static const char programOps[] = "=#<{>}";
        const char programOp = programOps[std::find(std::begin(ops), std::end(ops), op) - std::begin(ops)];
        Fragment f = Binary(side(left, right), " " + op + " ", programOp, side(right, left));
        for (const Operand* o : {&right, &left}) {
            if (o->Src != Operand::Column) continue;
            Fragment present;
            present.Sql = "(" + ColumnId(*o->Col) + " IS NOT NULL)";
            present.Depth = 1;
            f = Binary(std::move(present), " AND ", '&', std::move(f));
        }
        return f;
    }

    std::string_view FText;
    const std::vector<FilterColumn>& FColumns;
    int FFlags;
    std::size_t FPos = 0;
    Token FTok;
    int FDepth = 0;
};

}  // namespace

std::int64_t FilterDayNumber(int year, int month, int day) {
    // Days from 1 Mar of year 0 (proleptic Gregorian), shifted to 30 Dec 1899.
    const int y = year - (month <= 2 ? 1 : 0);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const std::int64_t daysSince1970 = std::int64_t(era) * 146097 + doe - 719468;
    return daysSince1970 + 25569;
}

CompiledFilter CompileFilter(std::string_view expression, const std::vector<FilterColumn>& columns,
                             int compareFlags) {
    return Compiler(expression, columns, compareFlags).Run();
}

int BindFilterParams(sqlite3_stmt* stmt, int firstIndex, const std::vector<FilterParam>& params) {
    int index = firstIndex;
    for (const FilterParam& p : params) {
        int rc;
        if (std::holds_alternative<std::nullptr_t>(p))
            rc = sqlite3_bind_null(stmt, index);
        else if (const auto* i = std::get_if<std::int64_t>(&p))
            rc = sqlite3_bind_int64(stmt, index, *i);
        else if (const auto* d = std::get_if<double>(&p))
            rc = sqlite3_bind_double(stmt, index, *d);
        else {
            const std::string& s = std::get<std::string>(p);
            rc = sqlite3_bind_text64(stmt, index, s.data(), s.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
        }
        if (rc != SQLITE_OK)
            throw EngineError("Cannot bind filter parameter " + std::to_string(index) + ": " + sqlite3_errstr(rc));
        ++index;
    }
    return index;
}

void RegisterFilterSql(sqlite3* db) {
    int rc = sqlite3_create_collation_v2(db, "FILTER_FOLD", SQLITE_UTF8, nullptr, FoldCollation, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_create_function_v2(db, "filter_prefix", 3, SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS,
                                        nullptr, PrefixFunction, nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_create_function_v2(db, "filter_logic", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS,
                                        nullptr, LogicFunction, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        throw EngineError(std::string("Cannot register the filter functions: ") + sqlite3_errstr(rc));
}

}  // namespace engine
