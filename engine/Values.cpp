#include "engine/Values.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>

namespace engine {

namespace {

std::string Col(const ColumnSpec& c) { return "column '" + c.Name + "'"; }

const char* KindName(ClientValue::Kind k) {
    switch (k) {
    case ClientValue::Kind::Null: return "Empty";
    case ClientValue::Kind::Int: return "Integer";
    case ClientValue::Kind::Real: return "Double";
    case ClientValue::Kind::Text: return "String";
    case ClientValue::Kind::Bool: return "Boolean";
    case ClientValue::Kind::Date: return "Date";
    }
    return "?";
}

[[noreturn]] void Mismatch(const ColumnSpec& c, const std::string& what) {
    throw EngineError("Value " + what + " does not fit " + Col(c) + " (type " + std::string(1, c.Type) + ")");
}

// Blanks in the C sense only: under a single-byte locale isspace would also
// take bytes of UTF-8 sequences.
bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::string Trim(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

bool ParseInt(const std::string& text, std::int64_t& out) {
    const std::string t = Trim(text);
    if (t.empty()) return false;
    const char* b = t.data();
    if (*b == '+') ++b;
    auto [p, ec] = std::from_chars(b, t.data() + t.size(), out);
    return ec == std::errc() && p == t.data() + t.size();
}

// Decimal number in C notation ('.' before the fraction), whatever the
// process locale: from_chars, never strtod.
bool ParseReal(const std::string& text, double& out) {
    const std::string t = Trim(text);
    if (t.empty()) return false;
    for (char c : t)
        if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E')) return false;
    const char* b = t.data();
    const char* e = t.data() + t.size();
    if (*b == '+' && e - b > 1 && b[1] != '-' && b[1] != '+') ++b;
    const auto [p, ec] = std::from_chars(b, e, out);
    return ec == std::errc() && p == e && std::isfinite(out);
}

// One to `max` decimal digits at s[i]; i moves past them.
bool ReadDigits(const std::string& s, std::size_t& i, std::size_t max, int& value, std::size_t& count) {
    value = 0;
    count = 0;
    while (i < s.size() && count < max && s[i] >= '0' && s[i] <= '9') {
        value = value * 10 + (s[i++] - '0');
        ++count;
    }
    return count > 0;
}

// YYYY-MM-DD (a year of one to four digits, month and day of one or two).
bool ParseDate(const std::string& text, std::int64_t& day) {
    std::size_t i = 0, n = 0;
    int y = 0, m = 0, d = 0;
    if (!ReadDigits(text, i, 4, y, n) || i >= text.size() || text[i++] != '-' || !ReadDigits(text, i, 2, m, n) ||
        i >= text.size() || text[i++] != '-' || !ReadDigits(text, i, 2, d, n) || i != text.size())
        return false;
    if (!ValidDate(y, m, d)) return false;
    day = DayFromCivil(y, m, d);
    return true;
}

// HH:MM[:SS[.fff]], hours and minutes and seconds of one or two digits, a
// fraction of one to three digits (".5" is 500 ms).
bool ParseTime(const std::string& text, std::int64_t& ms) {
    std::size_t i = 0, n = 0;
    int h = 0, mi = 0, s = 0, frac = 0;
    if (!ReadDigits(text, i, 2, h, n) || i >= text.size() || text[i++] != ':' || !ReadDigits(text, i, 2, mi, n))
        return false;
    if (i < text.size() && text[i] == ':') {
        ++i;
        if (!ReadDigits(text, i, 2, s, n)) return false;
        if (i < text.size() && text[i] == '.') {
            ++i;
            if (!ReadDigits(text, i, 3, frac, n)) return false;
            for (; n < 3; ++n) frac *= 10;
        }
    }
    if (i != text.size() || h > 23 || mi > 59 || s > 59) return false;
    ms = (static_cast<std::int64_t>(h) * 3600 + mi * 60 + s) * 1000 + frac;
    return true;
}

// The shortest text that reads back as the same double, in C notation.
std::string FormatReal(double v) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

bool ValidUtf8(const std::string& s) {
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        std::size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (len == 0 || i + len > s.size()) return false;
        for (std::size_t k = 1; k < len; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += len;
    }
    return true;
}

// Banker's rounding of a finite double to an integer, false when it cannot be
// an int64.
bool RoundToInt(double v, std::int64_t& out) {
    if (!std::isfinite(v) || std::fabs(v) > 9.0e18) return false;
    out = static_cast<std::int64_t>(std::nearbyint(v));
    return true;
}

void CheckIntRange(const ColumnSpec& c, std::int64_t v) {
    std::int64_t lo, hi;
    switch (c.Type) {
    case 'I': lo = -32768; hi = 32767; break;
    case 'L': lo = std::numeric_limits<std::int32_t>::min(); hi = std::numeric_limits<std::int32_t>::max(); break;
    default: lo = 0; hi = 65535; break;  // V, W
    }
    if (v < lo || v > hi)
        throw EngineError("Value " + std::to_string(v) + " is out of range for " + Col(c) + " (" + std::to_string(lo) +
                          " to " + std::to_string(hi) + ")");
}

std::int64_t DayOf(const ColumnSpec& c, double v) {
    if (!std::isfinite(v)) Mismatch(c, "(not a number)");
    const double d = std::floor(v);
    if (d < MinDay || d > MaxDay) throw EngineError("Date is out of range for " + Col(c));
    return static_cast<std::int64_t>(d);
}

std::int64_t TimeOf(const ColumnSpec& c, double v) {
    if (!std::isfinite(v)) Mismatch(c, "(not a number)");
    double frac = std::fabs(v - std::trunc(v));
    std::int64_t ms = static_cast<std::int64_t>(std::llround(frac * MsPerDay));
    if (ms >= MsPerDay) ms = MsPerDay - 1;
    return ms;
}

}  // namespace

std::int64_t DayFromCivil(int y, int m, int d) {
    // Days from 1970-01-01 (proleptic Gregorian), shifted to 1899-12-30.
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468 + 25569;
}

bool ValidDate(int y, int m, int d) {
    if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return d <= kDays[m - 1] + (m == 2 && leap ? 1 : 0);
}

std::string NormalizeGuid(const std::string& text) {
    // Built in one string: every GUID of a bulk load passes here.
    std::string_view t = text;
    if (t.size() == 38 && t.front() == '{' && t.back() == '}') t = t.substr(1, 36);
    if (t.size() != 36) return {};
    std::string g(38, '{');
    g[37] = '}';
    for (std::size_t i = 0; i < 36; ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? t[i] != '-' : !std::isxdigit(static_cast<unsigned char>(t[i]))) return {};
        g[i + 1] = static_cast<char>(std::toupper(static_cast<unsigned char>(t[i])));
    }
    return g;
}

Value ConvertClientValue(const ColumnSpec& c, const ClientValue& v, ConvertFor purpose) {
    using K = ClientValue::Kind;
    if ((c.Type == 'Y' || c.Type == 'Z') && purpose == ConvertFor::Write)
        throw EngineError("Column '" + c.Name + "' holds the time of the last post and cannot be written");
    if (v.kind == K::Null) return Value::Null();
    // No stored value holds a NUL character; C-string readers of the record
    // buffers and the key collation would silently cut or skip the rest.
    if (v.kind == K::Text && v.s.find('\0') != std::string::npos) Mismatch(c, "(text with a NUL character)");
    const std::string shown = std::string("of type ") + KindName(v.kind);
    switch (c.Type) {
    case 'B':
        switch (v.kind) {
        case K::Bool:
        case K::Int: return Value::Int(v.i != 0);
        case K::Real: return Value::Int(v.r != 0);
        case K::Text: {
            std::string t = Trim(v.s);
            for (char& ch : t) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            if (t == "true" || t == "1") return Value::Int(1);
            if (t == "false" || t == "0") return Value::Int(0);
            Mismatch(c, "'" + v.s + "'");
        }
        default: Mismatch(c, shown);
        }
    case 'C':
    case 'U':
    case 'M': {
        std::string t;
        switch (v.kind) {
        case K::Text: t = v.s; break;
        case K::Int: t = std::to_string(v.i); break;
        case K::Real: t = FormatReal(v.r); break;
        default: Mismatch(c, shown);
        }
        if (!ValidUtf8(t)) Mismatch(c, "(text that is not valid UTF-8)");
        if (purpose != ConvertFor::Key && c.Type != 'M' && t.size() > static_cast<std::size_t>(c.Size))
            throw EngineError("Text of " + std::to_string(t.size()) + " bytes is too long for " + Col(c) + " (at most " +
                              std::to_string(c.Size) + " bytes)");
        return Value::Text(std::move(t));
    }
    case 'G': {
        if (v.kind != K::Text) Mismatch(c, shown);
        const std::string trimmed = Trim(v.s);
        if (trimmed.empty()) return Value::Null();
        const std::string g = NormalizeGuid(trimmed);
        if (g.empty()) {
            if (purpose == ConvertFor::Key) return Value::Text(v.s);
            Mismatch(c, "'" + v.s + "' (not a GUID)");
        }
        return Value::Text(g);
    }
    case 'D':
    case 'Z':
        switch (v.kind) {
        case K::Date:
        case K::Real: return Value::Int(DayOf(c, v.r));
        case K::Int: return Value::Int(DayOf(c, static_cast<double>(v.i)));
        case K::Text: {
            std::int64_t day;
            if (!ParseDate(Trim(v.s), day)) Mismatch(c, "'" + v.s + "'");
            return Value::Int(day);
        }
        default: Mismatch(c, shown);
        }
    case 'T':
    case 'Y':
        switch (v.kind) {
        case K::Date:
        case K::Real: return Value::Int(TimeOf(c, v.r));
        case K::Int: return Value::Int(0);
        case K::Text: {
            std::int64_t ms;
            if (!ParseTime(Trim(v.s), ms)) Mismatch(c, "'" + v.s + "'");
            return Value::Int(ms);
        }
        default: Mismatch(c, shown);
        }
    case 'E':
    case 'R':
        switch (v.kind) {
        case K::Int: return Value::Real(static_cast<double>(v.i));
        case K::Date:
        case K::Real:
            if (!std::isfinite(v.r)) Mismatch(c, "(not a finite number)");
            return Value::Real(v.r);
        case K::Text: {
            double d;
            if (!ParseReal(v.s, d)) Mismatch(c, "'" + v.s + "'");
            return Value::Real(d);
        }
        default: Mismatch(c, shown);
        }
    case 'I':
    case 'L':
    case 'V':
    case 'W': {
        std::int64_t n = 0;
        switch (v.kind) {
        case K::Int: n = v.i; break;
        case K::Real:
        case K::Date:
            if (!RoundToInt(v.r, n)) Mismatch(c, "(not a finite number)");
            break;
        case K::Text:
            if (!ParseInt(v.s, n)) Mismatch(c, "'" + v.s + "'");
            break;
        default: Mismatch(c, shown);
        }
        if (purpose != ConvertFor::Key) CheckIntRange(c, n);
        return Value::Int(n);
    }
    default: throw EngineError("Column '" + c.Name + "' has an unsupported type", stUnsupportedType);
    }
}

Value CheckStoredValue(const ColumnSpec& c, const Value& v, ConvertFor purpose) {
    switch (v.kind) {
    case Value::Kind::Null: return ConvertClientValue(c, ClientValue::Null(), purpose);
    case Value::Kind::Text: return ConvertClientValue(c, ClientValue::Text(v.s), purpose);
    case Value::Kind::Real:
        if (c.Type == 'D' || c.Type == 'Z' || c.Type == 'T' || c.Type == 'Y') {
            // Stored forms are whole numbers.
            std::int64_t n;
            if (!RoundToInt(v.r, n)) Mismatch(c, "(not a finite number)");
            return CheckStoredValue(c, Value::Int(n), purpose);
        }
        return ConvertClientValue(c, ClientValue::Real(v.r), purpose);
    case Value::Kind::Int:
        switch (c.Type) {
        case 'D':
        case 'Z':
            if ((c.Type == 'Z' && purpose == ConvertFor::Write))
                return ConvertClientValue(c, ClientValue::Int(v.i), purpose);
            if (v.i < MinDay || v.i > MaxDay) throw EngineError("Date is out of range for " + Col(c));
            return v;
        case 'T':
        case 'Y':
            if (c.Type == 'Y' && purpose == ConvertFor::Write) return ConvertClientValue(c, ClientValue::Int(v.i), purpose);
            if (v.i < 0 || v.i >= MsPerDay) throw EngineError("Time is out of range for " + Col(c));
            return v;
        case 'B':
            if (v.i != 0 && v.i != 1) Mismatch(c, std::to_string(v.i));
            return v;
        default: return ConvertClientValue(c, ClientValue::Int(v.i), purpose);
        }
    }
    return v;
}

Value ParseValue(char type, std::string_view text) {
    ColumnSpec c;
    c.Name = "value";
    c.Type = type;
    c.Size = 255;
    const std::string t(text);
    if (t.empty()) return Value::Null();
    if (t.find('\0') != std::string::npos) throw EngineError("a value cannot hold a NUL character");
    switch (type) {
    case 'D':
    case 'Z': {
        std::int64_t day;
        if (!ParseDate(Trim(t), day)) throw EngineError("'" + t + "' is not a date (YYYY-MM-DD)");
        return Value::Int(day);
    }
    case 'T':
    case 'Y': {
        std::int64_t ms;
        if (!ParseTime(Trim(t), ms)) throw EngineError("'" + t + "' is not a time (HH:MM[:SS])");
        return Value::Int(ms);
    }
    case 'B': {
        std::string l = Trim(t);
        for (char& ch : l) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        if (l == "true" || l == "1") return Value::Int(1);
        if (l == "false" || l == "0") return Value::Int(0);
        throw EngineError("'" + t + "' is not a boolean (true, false, 1 or 0)");
    }
    case 'E':
    case 'R': {
        double d;
        if (!ParseReal(t, d)) throw EngineError("'" + t + "' is not a number");
        return Value::Real(d);
    }
    case 'I':
    case 'L':
    case 'V':
    case 'W': {
        std::int64_t n;
        if (!ParseInt(t, n)) throw EngineError("'" + t + "' is not an integer");
        return Value::Int(n);
    }
    case 'G': {
        const std::string g = NormalizeGuid(Trim(t));
        if (g.empty()) throw EngineError("'" + t + "' is not a GUID");
        return Value::Text(g);
    }
    default: return Value::Text(t);
    }
}

}  // namespace engine
