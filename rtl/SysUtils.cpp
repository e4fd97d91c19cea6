// Run-time library: Format, conversions, UTF-8/UTF-16, file-name helpers.
#include "rtl/SysUtils.h"

#include <langinfo.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <system_error>

namespace {

// Widths and precisions of Format above this are refused: a user-typed mask
// must not make the program allocate gigabytes.
constexpr int MaxFormatWidth = 1 << 20;

bool IsBlank(char C) { return static_cast<unsigned char>(C) <= ' '; }
char AsciiUpper(char C) { return (C >= 'a' && C <= 'z') ? static_cast<char>(C - 'a' + 'A') : C; }
char AsciiLower(char C) { return (C >= 'A' && C <= 'Z') ? static_cast<char>(C - 'A' + 'a') : C; }

std::string Quoted(std::string_view S) { return "'" + std::string(S) + "'"; }

// ---------------------------------------------------------------------------
// Floating-point text
// ---------------------------------------------------------------------------

// Significant digits and decimal exponent of Value rounded to Precision
// (1 to 17) significant digits: Value = d1.d2d3... * 10^Exponent. Trailing
// zeros of the digits are removed. Numbers are formatted for every exported
// value: everything stays in fixed buffers.
struct TDecimal {
    bool Negative = false;
    char Digits[24] = {};  // Count of them; none for zero
    int Count = 0;
    int Exponent = 0;
};

// TryShortest false: the shortest form is known to have too many digits.
TDecimal ToDecimal(double Value, int Precision, bool TryShortest = true) {
    TDecimal D;
    D.Negative = std::signbit(Value);
    if (Value == 0.0) return D;
    char Buf[64];
    std::to_chars_result R{Buf, std::errc()};
    auto Parse = [&] {
        D.Count = 0;
        const char* P = Buf;
        for (; P < R.ptr && *P != 'e'; ++P)
            if (*P != '.') D.Digits[D.Count++] = *P;
        const char* E = P + 1;
        if (E < R.ptr && *E == '+') ++E;
        std::from_chars(E, R.ptr, D.Exponent);
    };
    // The shortest form that reads back as Value is much cheaper to find. When
    // it has at most Precision (<= 15) significant digits it is also Value
    // rounded to Precision digits: a normal double lies within 1.2e-16 of it
    // (relative), well inside half a unit of the 15th digit (5e-16). Subnormal
    // doubles are coarser and take the rounding path.
    const double Magnitude = std::fabs(Value);
    bool Shortest = TryShortest && Precision <= 15 && Magnitude >= std::numeric_limits<double>::min();
    if (Shortest) {
        R = std::to_chars(Buf, Buf + sizeof Buf, Magnitude, std::chars_format::scientific);
        Parse();
        Shortest = D.Count <= Precision;
    }
    if (!Shortest) {
        R = std::to_chars(Buf, Buf + sizeof Buf, Magnitude, std::chars_format::scientific, Precision - 1);
        Parse();
    }
    while (D.Count > 0 && D.Digits[D.Count - 1] == '0') --D.Count;
    return D;
}

std::string NonFinite(double Value) {
    if (std::isnan(Value)) return "NAN";
    return Value < 0 ? "-INF" : "INF";
}

// The general form: fixed when -5 < exponent < Precision, else scientific
// with a short exponent ("1.5E-7", "1E20").
std::string FormatGeneral(double Value, int Precision, char DecimalSeparator) {
    if (!std::isfinite(Value)) return NonFinite(Value);
    if (Precision == 15 && std::fabs(Value) < 1099511627776.0) {
        // Amounts of money, with at most two decimals, first: when the number
        // of cents reads back as Value it is Value's shortest form (decimals
        // of two places lie 0.01 apart, far more than doubles below 2^40), and
        // with at most 15 digits it is the general form too (see ToDecimal).
        const double Cents = std::nearbyint(Value * 100.0);
        if (Cents / 100.0 == Value) {
            char Buf[32];
            char* P = Buf;
            const auto C = static_cast<std::int64_t>(Cents);
            if (C < 0) *P++ = '-';
            const std::uint64_t U = C < 0 ? 0 - static_cast<std::uint64_t>(C) : static_cast<std::uint64_t>(C);
            P = std::to_chars(P, Buf + sizeof Buf, U / 100).ptr;
            if (const unsigned F = static_cast<unsigned>(U % 100); F != 0) {
                *P++ = DecimalSeparator;
                *P++ = static_cast<char>('0' + F / 10);
                if (F % 10 != 0) *P++ = static_cast<char>('0' + F % 10);
            }
            return std::string(Buf, P);
        }
    }
    bool TryShortest = true;
    if (Precision <= 15 && std::fabs(Value) >= std::numeric_limits<double>::min() && std::fabs(Value) < 1e15) {
        // Most numbers come out fixed, with their shortest digits (see
        // ToDecimal): then the shortest fixed form is the result itself.
        char Buf[64];
        const char* const End = std::to_chars(Buf, Buf + sizeof Buf, Value, std::chars_format::fixed).ptr;
        const char* const P = Buf + (Buf[0] == '-' ? 1 : 0);
        const char* const Dot = std::find(P, End, '.');
        int Exponent, Significant;
        if (Dot - P == 1 && *P == '0') {  // 0.000ddd
            const char* First = std::find_if(Dot + 1, End, [](char C) { return C != '0'; });
            Exponent = -static_cast<int>(First - Dot);
            Significant = static_cast<int>(End - First);
        } else {
            Exponent = static_cast<int>(Dot - P) - 1;
            const char* Last = Dot;  // the integer part's trailing zeros count only before a fraction
            if (Dot == End)
                while (Last > P + 1 && Last[-1] == '0') --Last;
            Significant = static_cast<int>(Last - P) + static_cast<int>(End - Dot) - (Dot == End ? 0 : 1);
        }
        if (Significant <= Precision && Exponent >= -5 && Exponent < Precision) {
            std::string Out(Buf, static_cast<std::size_t>(End - Buf));
            if (Dot != End) Out[static_cast<std::size_t>(Dot - Buf)] = DecimalSeparator;
            return Out;
        }
        TryShortest = Significant <= Precision;
    }
    const TDecimal D = ToDecimal(Value, Precision, TryShortest);
    if (D.Count == 0) return "0";
    char Out[64];
    int N = 0;
    if (D.Negative) Out[N++] = '-';
    auto Digits = [&](int From, int To) {
        for (int K = From; K < To; ++K) Out[N++] = D.Digits[K];
    };
    if (D.Exponent >= Precision || D.Exponent < -5) {
        Out[N++] = D.Digits[0];
        if (D.Count > 1) {
            Out[N++] = DecimalSeparator;
            Digits(1, D.Count);
        }
        Out[N++] = 'E';
        N = static_cast<int>(std::to_chars(Out + N, Out + sizeof Out, D.Exponent).ptr - Out);
    } else if (D.Exponent < 0) {
        Out[N++] = '0';
        Out[N++] = DecimalSeparator;
        for (int K = 0; K < -D.Exponent - 1; ++K) Out[N++] = '0';
        Digits(0, D.Count);
    } else if (D.Count <= D.Exponent + 1) {
        Digits(0, D.Count);
        for (int K = D.Count; K < D.Exponent + 1; ++K) Out[N++] = '0';
    } else {
        Digits(0, D.Exponent + 1);
        Out[N++] = DecimalSeparator;
        Digits(D.Exponent + 1, D.Count);
    }
    return std::string(Out, static_cast<std::size_t>(N));
}

// Scientific with Precision significant digits and an exponent of at least
// three digits with its sign: "1.50000000000000E+000".
std::string FormatScientific(double Value, int Precision, char DecimalSeparator) {
    if (!std::isfinite(Value)) return NonFinite(Value);
    char Buf[128];
    auto R = std::to_chars(Buf, Buf + sizeof Buf, Value, std::chars_format::scientific, Precision - 1);
    std::string_view Text(Buf, static_cast<std::size_t>(R.ptr - Buf));
    const auto EPos = Text.find('e');
    std::string Out;
    for (char C : Text.substr(0, EPos)) Out += (C == '.') ? DecimalSeparator : C;
    std::string_view ExpText = Text.substr(EPos + 1);
    char Sign = '+';
    if (!ExpText.empty() && (ExpText[0] == '+' || ExpText[0] == '-')) {
        Sign = ExpText[0];
        ExpText.remove_prefix(1);
    }
    Out += 'E';
    Out += Sign;
    if (ExpText.size() < 3) Out.append(3 - ExpText.size(), '0');
    Out += ExpText;
    return Out;
}

// The digits of |Value| with Decimals decimals ("123.45"), rounded half away
// from zero like the classic run time (to_chars alone would round an exact
// tie such as 2.5 to even). The expansion is taken 40 digits further, which
// holds every double closely enough that a digit at Decimals + 1 of 5 or
// more really means "at least half".
std::string RoundedFixedDigits(double Magnitude, int Decimals) {
    std::string Buf(512, '\0');
    auto R = std::to_chars(Buf.data(), Buf.data() + Buf.size(), Magnitude, std::chars_format::fixed, Decimals + 40);
    Buf.resize(static_cast<std::size_t>(R.ptr - Buf.data()));
    const auto Dot = Buf.find('.');
    const std::size_t Keep = Dot + 1 + static_cast<std::size_t>(Decimals);
    const bool Up = Buf[Keep] >= '5';
    Buf.resize(Decimals == 0 ? Dot : Keep);
    if (Up) {
        std::size_t I = Buf.size();
        while (I-- > 0) {
            if (Buf[I] == '.') continue;
            if (Buf[I] == '9') {
                Buf[I] = '0';
                continue;
            }
            ++Buf[I];
            break;
        }
        if (I == static_cast<std::size_t>(-1)) Buf.insert(0, 1, '1');
    }
    return Buf;
}

// Fixed with Decimals decimals; a value that rounds to zero has no sign.
// With a thousand separator the whole part is grouped by three.
std::string FormatFixed(double Value, int Decimals, char DecimalSeparator, char ThousandSeparator) {
    if (!std::isfinite(Value)) return NonFinite(Value);
    const std::string Body = RoundedFixedDigits(std::fabs(Value), Decimals);
    const bool Negative = std::signbit(Value) && Body.find_first_not_of("0.") != std::string::npos;
    const auto Dot = Body.find('.');
    std::string_view Whole = std::string_view(Body).substr(0, Dot);
    std::string Out = Negative ? "-" : "";
    if (ThousandSeparator != '\0') {
        for (std::size_t I = 0; I < Whole.size(); ++I) {
            if (I > 0 && (Whole.size() - I) % 3 == 0) Out += ThousandSeparator;
            Out += Whole[I];
        }
    } else {
        Out += Whole;
    }
    if (Dot != std::string::npos) {
        Out += DecimalSeparator;
        Out += Body.substr(Dot + 1);
    }
    return Out;
}

std::string UnsignedToText(std::uint64_t Value, int Base) {
    char Buf[32];
    auto R = std::to_chars(Buf, Buf + sizeof Buf, Value, Base);
    std::string Out(Buf, R.ptr);
    for (char& C : Out) C = AsciiUpper(C);
    return Out;
}

// ---------------------------------------------------------------------------
// Format
// ---------------------------------------------------------------------------

class TFormatter {
public:
    TFormatter(std::string_view Fmt, std::span<const TVarRec> Args, const TFormatSettings& Settings)
        : FFmt(Fmt), FArgs(Args), FSettings(Settings) {}

    std::string Run() {
        std::string Out;
        Out.reserve(FFmt.size() + 16);
        while (FPos < FFmt.size()) {
            const auto Next = FFmt.find('%', FPos);
            if (Next == std::string_view::npos) {
                Out += FFmt.substr(FPos);
                break;
            }
            Out += FFmt.substr(FPos, Next - FPos);
            FPos = Next + 1;
            Directive(Out);
        }
        return Out;
    }

private:
    [[noreturn]] void Invalid() const {
        throw EConvertError("Format '" + std::string(FFmt) + "' invalid or incompatible with argument");
    }

    const TVarRec& NextArg() {
        if (FArgIndex >= FArgs.size()) throw EConvertError("No argument for format '" + std::string(FFmt) + "'");
        return FArgs[FArgIndex++];
    }

    char Peek() const { return FPos < FFmt.size() ? FFmt[FPos] : '\0'; }

    // Digits or '*'; false when neither stands here.
    bool Number(long long& Value) {
        if (Peek() == '*') {
            ++FPos;
            const TVarRec& A = NextArg();
            if (!A.IsInteger()) Invalid();
            Value = A.AsInt64();
            return true;
        }
        if (Peek() < '0' || Peek() > '9') return false;
        Value = 0;
        while (Peek() >= '0' && Peek() <= '9') {
            Value = Value * 10 + (Peek() - '0');
            if (Value > MaxFormatWidth) Invalid();
            ++FPos;
        }
        return true;
    }

    void Directive(std::string& Out) {
        if (Peek() == '%') {
            ++FPos;
            Out += '%';
            return;
        }
        bool Left = false;
        long long Width = -1, Precision = -1, N = 0;
        bool HaveN = Number(N);
        if (HaveN && Peek() == ':') {
            ++FPos;
            if (N < 0) Invalid();
            FArgIndex = static_cast<std::size_t>(N);
            HaveN = false;
        }
        if (!HaveN) {
            if (Peek() == '-') {
                Left = true;
                ++FPos;
            }
            HaveN = Number(N);
        }
        if (HaveN) Width = N;
        if (Peek() == '.') {
            ++FPos;
            Precision = 0;
            if (Number(N)) Precision = N;
        }
        if (Width < 0 && Width != -1) {
            Left = true;
            Width = -Width;
        }
        if (Width > MaxFormatWidth || Precision > MaxFormatWidth) Invalid();
        if (FPos >= FFmt.size()) Invalid();
        const char Type = AsciiLower(FFmt[FPos++]);
        std::string Text = Convert(Type, Precision);
        if (Width > static_cast<long long>(Text.size())) {
            const std::size_t Pad = static_cast<std::size_t>(Width) - Text.size();
            if (Left)
                Text.append(Pad, ' ');
            else
                Text.insert(0, Pad, ' ');
        }
        Out += Text;
    }

    std::string Convert(char Type, long long Precision) {
        switch (Type) {
        case 'd': {
            const TVarRec& A = NextArg();
            if (!A.IsInteger()) Invalid();
            bool Negative = false;
            std::uint64_t Magnitude;
            if (A.Kind() == TVarRec::vtUInt64) {
                Magnitude = A.AsUInt64();
            } else {
                const std::int64_t V = A.AsInt64();
                Negative = V < 0;
                Magnitude = Negative ? 0 - static_cast<std::uint64_t>(V) : static_cast<std::uint64_t>(V);
            }
            std::string Digits = UnsignedToText(Magnitude, 10);
            if (Precision > static_cast<long long>(Digits.size()))
                Digits.insert(0, static_cast<std::size_t>(Precision) - Digits.size(), '0');
            return Negative ? "-" + Digits : Digits;
        }
        case 'u':
        case 'x': {
            const TVarRec& A = NextArg();
            if (!A.IsInteger()) Invalid();
            std::uint64_t V = A.AsUInt64();
            if (A.Kind() == TVarRec::vtInteger) V = static_cast<std::uint32_t>(A.AsInt64());
            std::string Digits = UnsignedToText(V, Type == 'u' ? 10 : 16);
            if (Precision > static_cast<long long>(Digits.size()))
                Digits.insert(0, static_cast<std::size_t>(Precision) - Digits.size(), '0');
            return Digits;
        }
        case 'e':
        case 'f':
        case 'g':
        case 'n': {
            const TVarRec& A = NextArg();
            if (A.Kind() != TVarRec::vtExtended) Invalid();
            const double V = A.AsFloat();
            if (Type == 'e') {
                const int P = Precision < 0 ? 15 : static_cast<int>(std::clamp(Precision, 1LL, 17LL));
                return FormatScientific(V, P, FSettings.DecimalSeparator);
            }
            if (Type == 'g') {
                const int P = Precision < 0 ? 15 : static_cast<int>(std::clamp(Precision, 1LL, 17LL));
                return FormatGeneral(V, P, FSettings.DecimalSeparator);
            }
            const int P = Precision < 0 ? 2 : static_cast<int>(std::min(Precision, 18LL));
            return FormatFixed(V, P, FSettings.DecimalSeparator, Type == 'n' ? FSettings.ThousandSeparator : '\0');
        }
        case 'p': {
            const TVarRec& A = NextArg();
            if (A.Kind() != TVarRec::vtPointer) Invalid();
            std::string Digits = UnsignedToText(reinterpret_cast<std::uintptr_t>(A.AsPointer()), 16);
            Digits.insert(0, 2 * sizeof(void*) - Digits.size(), '0');
            return Digits;
        }
        case 's': {
            const TVarRec& A = NextArg();
            if (A.Kind() != TVarRec::vtString && A.Kind() != TVarRec::vtChar) Invalid();
            if (Precision >= 0) return rtl::Utf8Cut(A.AsString(), static_cast<std::size_t>(Precision));
            return A.AsString();
        }
        default:
            Invalid();
        }
    }

    std::string_view FFmt;
    std::span<const TVarRec> FArgs;
    const TFormatSettings& FSettings;
    std::size_t FPos = 0;
    std::size_t FArgIndex = 0;
};

// ---------------------------------------------------------------------------
// Locale
// ---------------------------------------------------------------------------

std::string CategoryLocaleName(const char* Category) {
    for (const char* Var : {"LC_ALL", Category, "LANG"}) {
        const char* V = std::getenv(Var);
        if (V && *V) return V;
    }
    return "C";
}

bool IsCLocale(const std::string& Name) {
    return Name == "C" || Name == "POSIX" || Name.rfind("C.", 0) == 0;
}

// Converts a strftime date or time format into FormatDateTime letters;
// false when it holds a conversion this library does not render.
bool ConvertStrftime(std::string_view In, std::string& Out, char& Separator, bool& TwelveHour) {
    Out.clear();
    Separator = '\0';
    for (std::size_t I = 0; I < In.size(); ++I) {
        char C = In[I];
        if (C != '%') {
            if (Separator == '\0' && C != ' ') Separator = C;
            if (C == '\'' || C == '"' || std::strchr("dmyhnsztacDMYHNSZTAC", C)) return false;
            Out += C;
            continue;
        }
        if (++I >= In.size()) return false;
        C = In[I];
        if (C == '0' || C == '-' || C == '_' || C == 'E' || C == 'O') {  // flags and modifiers
            if (++I >= In.size()) return false;
            C = In[I];
        }
        switch (C) {
        case 'd': Out += "dd"; break;
        case 'e': Out += "d"; break;
        case 'm': Out += "mm"; break;
        case 'Y': Out += "yyyy"; break;
        case 'y': Out += "yy"; break;
        case 'b': case 'h': Out += "mmm"; break;
        case 'B': Out += "mmmm"; break;
        case 'a': Out += "ddd"; break;
        case 'A': Out += "dddd"; break;
        case 'H': Out += "hh"; break;
        case 'I': Out += "hh"; TwelveHour = true; break;
        case 'M': Out += "nn"; break;
        case 'S': Out += "ss"; break;
        case 'p': Out += "ampm"; TwelveHour = true; break;
        case 'T': Out += "hh:nn:ss"; if (Separator == '\0') Separator = ':'; break;
        case 'R': Out += "hh:nn"; if (Separator == '\0') Separator = ':'; break;
        case 'F': Out += "yyyy-mm-dd"; if (Separator == '\0') Separator = '-'; break;
        case 'D': Out += "mm/dd/yy"; if (Separator == '\0') Separator = '/'; break;
        case '%': return false;
        default: return false;
        }
    }
    return !Out.empty();
}

}  // namespace

// ---------------------------------------------------------------------------
// TFormatSettings
// ---------------------------------------------------------------------------

TFormatSettings TFormatSettings::Invariant() { return TFormatSettings{}; }

TFormatSettings TFormatSettings::Create() {
    TFormatSettings S;
    const std::string NumericName = CategoryLocaleName("LC_NUMERIC");
    const std::string TimeName = CategoryLocaleName("LC_TIME");
    if (IsCLocale(NumericName) && IsCLocale(TimeName)) return S;
    locale_t Loc = newlocale(LC_ALL_MASK, "", static_cast<locale_t>(nullptr));
    if (Loc == static_cast<locale_t>(nullptr)) return S;
    if (!IsCLocale(NumericName)) {
        const char* Radix = nl_langinfo_l(RADIXCHAR, Loc);
        const char* Thousands = nl_langinfo_l(THOUSEP, Loc);
        // Only single-byte separators can be used by the conversions.
        if (Radix && std::strlen(Radix) == 1) S.DecimalSeparator = Radix[0];
        if (Thousands && std::strlen(Thousands) == 1) S.ThousandSeparator = Thousands[0];
        if (S.ThousandSeparator == S.DecimalSeparator) S.ThousandSeparator = S.DecimalSeparator == ',' ? '.' : ',';
    }
    if (!IsCLocale(TimeName)) {
        std::string Fmt;
        char Sep = '\0';
        bool Twelve = false;
        if (ConvertStrftime(nl_langinfo_l(D_FMT, Loc), Fmt, Sep, Twelve) && Sep != '\0') {
            S.ShortDateFormat = Fmt;
            S.DateSeparator = Sep;
        }
        Twelve = false;
        if (ConvertStrftime(nl_langinfo_l(T_FMT, Loc), Fmt, Sep, Twelve) && Sep != '\0') {
            S.LongTimeFormat = Fmt;
            S.TimeSeparator = Sep;
            S.ShortTimeFormat = Twelve ? "h:nn ampm" : "hh:nn";
        }
        const char* Am = nl_langinfo_l(AM_STR, Loc);
        const char* Pm = nl_langinfo_l(PM_STR, Loc);
        if (Am && *Am && Pm && *Pm) {
            S.TimeAMString = Am;
            S.TimePMString = Pm;
        }
    }
    freelocale(Loc);
    return S;
}

TFormatSettings FormatSettings = TFormatSettings::Create();

// ---------------------------------------------------------------------------
// Format
// ---------------------------------------------------------------------------

TVarRec::TVarRec(const std::u16string& v) : FKind(vtString), FString(rtl::WideToUtf8(v)) {}

std::string Format(std::string_view Fmt, std::span<const TVarRec> Args, const TFormatSettings& Settings) {
    return TFormatter(Fmt, Args, Settings).Run();
}

std::string Format(std::string_view Fmt, std::initializer_list<TVarRec> Args, const TFormatSettings& Settings) {
    return Format(Fmt, std::span<const TVarRec>(Args.begin(), Args.size()), Settings);
}

std::string Format(std::string_view Fmt, std::initializer_list<TVarRec> Args) {
    return Format(Fmt, std::span<const TVarRec>(Args.begin(), Args.size()), FormatSettings);
}

std::string Format(std::string_view Fmt, std::span<const TVarRec> Args) { return Format(Fmt, Args, FormatSettings); }

// ---------------------------------------------------------------------------
// Integers
// ---------------------------------------------------------------------------

std::string IntToStr(int Value) { return std::to_string(Value); }
std::string IntToStr(std::int64_t Value) { return std::to_string(Value); }

std::string IntToHex(int Value, int Digits) {
    std::string S = UnsignedToText(static_cast<std::uint32_t>(Value), 16);
    if (Digits > static_cast<int>(S.size())) S.insert(0, static_cast<std::size_t>(Digits) - S.size(), '0');
    return S;
}

std::string IntToHex(std::int64_t Value, int Digits) {
    std::string S = UnsignedToText(static_cast<std::uint64_t>(Value), 16);
    if (Digits > static_cast<int>(S.size())) S.insert(0, static_cast<std::size_t>(Digits) - S.size(), '0');
    return S;
}

namespace {

// Bits is 32 or 64: hexadecimal text may give the whole unsigned range of
// that width, read as two's complement.
bool ParseInteger(std::string_view S, int Bits, std::int64_t& Value) {
    std::size_t I = 0;
    while (I < S.size() && (S[I] == ' ' || S[I] == '\t')) ++I;
    bool Negative = false;
    if (I < S.size() && (S[I] == '+' || S[I] == '-')) {
        Negative = S[I] == '-';
        ++I;
    }
    int Base = 10;
    if (I < S.size() && S[I] == '$') {
        Base = 16;
        ++I;
    } else if (I + 1 < S.size() && S[I] == '0' && (S[I + 1] == 'x' || S[I + 1] == 'X')) {
        Base = 16;
        I += 2;
    }
    std::string_view Digits = S.substr(I);
    if (Digits.empty()) return false;
    for (char C : Digits) {
        const bool Ok = Base == 10 ? (C >= '0' && C <= '9') : std::isxdigit(static_cast<unsigned char>(C)) != 0;
        if (!Ok) return false;
    }
    std::uint64_t U = 0;
    auto R = std::from_chars(Digits.data(), Digits.data() + Digits.size(), U, Base);
    if (R.ec != std::errc() || R.ptr != Digits.data() + Digits.size()) return false;
    if (Base == 16) {
        std::int64_t V;
        if (Bits == 32) {
            if (U > 0xFFFFFFFFull) return false;
            V = static_cast<std::int32_t>(static_cast<std::uint32_t>(U));
        } else {
            V = static_cast<std::int64_t>(U);
        }
        if (Negative) {
            if (V == std::numeric_limits<std::int64_t>::min()) return false;
            V = -V;
            if (Bits == 32 && V < std::numeric_limits<std::int32_t>::min()) return false;
        }
        Value = V;
        return true;
    }
    const std::uint64_t Limit = Bits == 32 ? (Negative ? 0x80000000ull : 0x7FFFFFFFull)
                                           : (Negative ? 0x8000000000000000ull : 0x7FFFFFFFFFFFFFFFull);
    if (U > Limit) return false;
    Value = Negative ? static_cast<std::int64_t>(0 - U) : static_cast<std::int64_t>(U);
    return true;
}

[[noreturn]] void InvalidInteger(std::string_view S) {
    throw EConvertError(Quoted(S) + " is not a valid integer value");
}

}  // namespace

bool TryStrToInt(std::string_view S, int& Value) {
    std::int64_t V;
    if (!ParseInteger(S, 32, V)) return false;
    Value = static_cast<int>(V);
    return true;
}

bool TryStrToInt64(std::string_view S, std::int64_t& Value) { return ParseInteger(S, 64, Value); }

int StrToInt(std::string_view S) {
    int V;
    if (!TryStrToInt(S, V)) InvalidInteger(S);
    return V;
}

std::int64_t StrToInt64(std::string_view S) {
    std::int64_t V;
    if (!TryStrToInt64(S, V)) InvalidInteger(S);
    return V;
}

int StrToIntDef(std::string_view S, int Default) {
    int V;
    return TryStrToInt(S, V) ? V : Default;
}

std::int64_t StrToInt64Def(std::string_view S, std::int64_t Default) {
    std::int64_t V;
    return TryStrToInt64(S, V) ? V : Default;
}

// ---------------------------------------------------------------------------
// Floating point
// ---------------------------------------------------------------------------

std::string FloatToStr(double Value, const TFormatSettings& Settings) {
    return FormatGeneral(Value, 15, Settings.DecimalSeparator);
}

std::string FloatToStr(double Value) { return FloatToStr(Value, FormatSettings); }

bool TryStrToFloat(std::string_view S, double& Value, const TFormatSettings& Settings) {
    std::size_t B = 0, E = S.size();
    while (B < E && IsBlank(S[B])) ++B;
    while (E > B && IsBlank(S[E - 1])) --E;
    std::string_view T = S.substr(B, E - B);
    std::string Norm;
    std::size_t I = 0;
    if (I < T.size() && (T[I] == '+' || T[I] == '-')) {
        if (T[I] == '-') Norm += '-';
        ++I;
    }
    int IntDigits = 0, LeadingFractionZeros = 0, FracDigits = 0;
    bool SeenNonZero = false;
    while (I < T.size() && T[I] >= '0' && T[I] <= '9') {
        if (T[I] != '0') SeenNonZero = true;
        if (SeenNonZero) ++IntDigits;
        Norm += T[I++];
    }
    if (I < T.size() && T[I] == Settings.DecimalSeparator) {
        Norm += '.';
        ++I;
        while (I < T.size() && T[I] >= '0' && T[I] <= '9') {
            if (T[I] != '0') SeenNonZero = true;
            if (!SeenNonZero) ++LeadingFractionZeros;
            ++FracDigits;
            Norm += T[I++];
        }
    }
    const bool HasMantissa = std::any_of(Norm.begin(), Norm.end(), [](char C) { return C >= '0' && C <= '9'; });
    if (!HasMantissa) return false;
    long long Exp = 0;
    if (I < T.size() && (T[I] == 'e' || T[I] == 'E')) {
        Norm += 'e';
        ++I;
        bool ExpNegative = false;
        if (I < T.size() && (T[I] == '+' || T[I] == '-')) {
            ExpNegative = T[I] == '-';
            Norm += T[I++];
        }
        const std::size_t Start = I;
        while (I < T.size() && T[I] >= '0' && T[I] <= '9') {
            if (Exp < 100000) Exp = Exp * 10 + (T[I] - '0');
            Norm += T[I++];
        }
        if (I == Start) return false;
        if (ExpNegative) Exp = -Exp;
    }
    if (I != T.size()) return false;
    double V = 0.0;
    auto R = std::from_chars(Norm.data(), Norm.data() + Norm.size(), V);
    if (R.ptr != Norm.data() + Norm.size()) return false;
    if (R.ec == std::errc::result_out_of_range) {
        // Underflow reads as zero; overflow is not a value.
        const long long Magnitude = (IntDigits > 0 ? IntDigits - 1 : -(LeadingFractionZeros + 1)) + Exp;
        if (!SeenNonZero || Magnitude >= 0) return false;
        V = Norm[0] == '-' ? -0.0 : 0.0;
    } else if (R.ec != std::errc()) {
        return false;
    }
    if (!std::isfinite(V)) return false;
    Value = V;
    return true;
}

bool TryStrToFloat(std::string_view S, double& Value) { return TryStrToFloat(S, Value, FormatSettings); }

double StrToFloat(std::string_view S, const TFormatSettings& Settings) {
    double V;
    if (!TryStrToFloat(S, V, Settings)) throw EConvertError(Quoted(S) + " is not a valid floating point value");
    return V;
}

double StrToFloat(std::string_view S) { return StrToFloat(S, FormatSettings); }

double StrToFloatDef(std::string_view S, double Default) {
    double V;
    return TryStrToFloat(S, V) ? V : Default;
}

// ---------------------------------------------------------------------------
// Strings
// ---------------------------------------------------------------------------

std::string UpperCase(std::string_view S) {
    std::string R(S);
    for (char& C : R) C = AsciiUpper(C);
    return R;
}

std::string LowerCase(std::string_view S) {
    std::string R(S);
    for (char& C : R) C = AsciiLower(C);
    return R;
}

int CompareText(std::string_view S1, std::string_view S2) {
    const std::size_t N = std::min(S1.size(), S2.size());
    for (std::size_t I = 0; I < N; ++I) {
        const auto A = static_cast<unsigned char>(AsciiUpper(S1[I]));
        const auto B = static_cast<unsigned char>(AsciiUpper(S2[I]));
        if (A != B) return A < B ? -1 : 1;
    }
    return S1.size() == S2.size() ? 0 : (S1.size() < S2.size() ? -1 : 1);
}

int CompareStr(std::string_view S1, std::string_view S2) {
    const int R = S1.compare(S2);
    return R < 0 ? -1 : (R > 0 ? 1 : 0);
}

bool SameText(std::string_view S1, std::string_view S2) { return S1.size() == S2.size() && CompareText(S1, S2) == 0; }

std::string TrimLeft(std::string_view S) {
    std::size_t B = 0;
    while (B < S.size() && IsBlank(S[B])) ++B;
    return std::string(S.substr(B));
}

std::string TrimRight(std::string_view S) {
    std::size_t E = S.size();
    while (E > 0 && IsBlank(S[E - 1])) --E;
    return std::string(S.substr(0, E));
}

std::string Trim(std::string_view S) {
    std::size_t B = 0, E = S.size();
    while (B < E && IsBlank(S[B])) ++B;
    while (E > B && IsBlank(S[E - 1])) --E;
    return std::string(S.substr(B, E - B));
}

std::string StringReplace(std::string_view S, std::string_view OldPattern, std::string_view NewPattern,
                          TReplaceFlags Flags) {
    if (OldPattern.empty()) return std::string(S);
    const bool IgnoreCase = (Flags & rfIgnoreCase) != 0;
    const std::string Hay = IgnoreCase ? UpperCase(S) : std::string(S);
    const std::string Needle = IgnoreCase ? UpperCase(OldPattern) : std::string(OldPattern);
    std::string Out;
    std::size_t Pos = 0;
    while (true) {
        const auto Hit = Hay.find(Needle, Pos);
        if (Hit == std::string::npos) break;
        Out += S.substr(Pos, Hit - Pos);
        Out += NewPattern;
        Pos = Hit + Needle.size();
        if (!(Flags & rfReplaceAll)) break;
    }
    Out += S.substr(Pos);
    return Out;
}

std::string AnsiQuotedStr(std::string_view S, char Quote) {
    std::string R(1, Quote);
    for (char C : S) {
        R += C;
        if (C == Quote) R += Quote;
    }
    R += Quote;
    return R;
}

std::string QuotedStr(std::string_view S) { return AnsiQuotedStr(S, '\''); }

std::string AnsiExtractQuotedStr(std::string_view S, std::size_t& Pos, char Quote) {
    std::string R;
    if (Pos >= S.size() || S[Pos] != Quote) return R;
    ++Pos;
    while (Pos < S.size()) {
        if (S[Pos] == Quote) {
            if (Pos + 1 < S.size() && S[Pos + 1] == Quote) {
                R += Quote;
                Pos += 2;
                continue;
            }
            ++Pos;
            return R;
        }
        R += S[Pos++];
    }
    return R;
}

bool IsValidIdent(std::string_view S) {
    if (S.empty()) return false;
    auto Alpha = [](char C) { return (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z') || C == '_'; };
    if (!Alpha(S[0])) return false;
    for (char C : S.substr(1))
        if (!Alpha(C) && !(C >= '0' && C <= '9')) return false;
    return true;
}

std::string SysErrorMessage(int ErrorCode) { return std::generic_category().message(ErrorCode); }

void Abort() { throw EAbort(); }

void Assert(bool Condition, std::string_view Message) {
    if (!Condition) throw EAssertionFailed(std::string(Message));
}

// ---------------------------------------------------------------------------
// File names
// ---------------------------------------------------------------------------

std::string ExtractFileName(std::string_view FileName) {
    const auto P = FileName.rfind('/');
    return std::string(P == std::string_view::npos ? FileName : FileName.substr(P + 1));
}

std::string ExtractFilePath(std::string_view FileName) {
    const auto P = FileName.rfind('/');
    return P == std::string_view::npos ? std::string() : std::string(FileName.substr(0, P + 1));
}

std::string ExtractFileDir(std::string_view FileName) {
    const auto P = FileName.rfind('/');
    if (P == std::string_view::npos) return {};
    if (P == 0) return "/";
    return std::string(FileName.substr(0, P));
}

std::string ExtractFileExt(std::string_view FileName) {
    const auto Slash = FileName.rfind('/');
    const auto Dot = FileName.rfind('.');
    if (Dot == std::string_view::npos || (Slash != std::string_view::npos && Dot < Slash)) return {};
    return std::string(FileName.substr(Dot));
}

std::string ChangeFileExt(std::string_view FileName, std::string_view Extension) {
    const auto Slash = FileName.rfind('/');
    auto Dot = FileName.rfind('.');
    if (Dot == std::string_view::npos || (Slash != std::string_view::npos && Dot < Slash)) Dot = FileName.size();
    return std::string(FileName.substr(0, Dot)) + std::string(Extension);
}

std::string IncludeTrailingPathDelimiter(std::string_view Path) {
    std::string R(Path);
    if (R.empty() || R.back() != '/') R += '/';
    return R;
}

std::string ExcludeTrailingPathDelimiter(std::string_view Path) {
    std::string R(Path);
    while (R.size() > 1 && R.back() == '/') R.pop_back();
    return R;
}

bool FileExists(const std::string& FileName) {
    struct stat St{};
    return ::stat(FileName.c_str(), &St) == 0 && !S_ISDIR(St.st_mode);
}

bool DirectoryExists(const std::string& Directory) {
    struct stat St{};
    return ::stat(Directory.c_str(), &St) == 0 && S_ISDIR(St.st_mode);
}

bool DeleteFile(const std::string& FileName) { return ::unlink(FileName.c_str()) == 0; }

// ---------------------------------------------------------------------------
// UTF-8 / UTF-16
// ---------------------------------------------------------------------------

namespace rtl {

namespace {

constexpr char32_t Replacement = 0xFFFD;

// Decodes the sequence at Pos: its code point (U+FFFD when invalid) and its
// length, which for an invalid sequence is its maximal valid prefix (at
// least one byte).
char32_t DecodeUtf8(std::string_view S, std::size_t Pos, std::size_t& Length) {
    const auto B0 = static_cast<unsigned char>(S[Pos]);
    Length = 1;
    if (B0 < 0x80) return B0;
    int Need;
    char32_t Cp;
    unsigned char Lo = 0x80, Hi = 0xBF;
    if (B0 >= 0xC2 && B0 <= 0xDF) {
        Need = 1;
        Cp = B0 & 0x1F;
    } else if (B0 >= 0xE0 && B0 <= 0xEF) {
        Need = 2;
        Cp = B0 & 0x0F;
        if (B0 == 0xE0) Lo = 0xA0;
        if (B0 == 0xED) Hi = 0x9F;
    } else if (B0 >= 0xF0 && B0 <= 0xF4) {
        Need = 3;
        Cp = B0 & 0x07;
        if (B0 == 0xF0) Lo = 0x90;
        if (B0 == 0xF4) Hi = 0x8F;
    } else {
        return Replacement;
    }
    for (int K = 1; K <= Need; ++K) {
        if (Pos + static_cast<std::size_t>(K) >= S.size()) return Replacement;
        const auto B = static_cast<unsigned char>(S[Pos + static_cast<std::size_t>(K)]);
        const unsigned char L = K == 1 ? Lo : 0x80, H = K == 1 ? Hi : 0xBF;
        if (B < L || B > H) return Replacement;
        Cp = (Cp << 6) | (B & 0x3F);
        Length = static_cast<std::size_t>(K) + 1;
    }
    return Cp;
}

void AppendUtf8(std::string& Out, char32_t Cp) {
    if (Cp < 0x80) {
        Out += static_cast<char>(Cp);
    } else if (Cp < 0x800) {
        Out += static_cast<char>(0xC0 | (Cp >> 6));
        Out += static_cast<char>(0x80 | (Cp & 0x3F));
    } else if (Cp < 0x10000) {
        Out += static_cast<char>(0xE0 | (Cp >> 12));
        Out += static_cast<char>(0x80 | ((Cp >> 6) & 0x3F));
        Out += static_cast<char>(0x80 | (Cp & 0x3F));
    } else {
        Out += static_cast<char>(0xF0 | (Cp >> 18));
        Out += static_cast<char>(0x80 | ((Cp >> 12) & 0x3F));
        Out += static_cast<char>(0x80 | ((Cp >> 6) & 0x3F));
        Out += static_cast<char>(0x80 | (Cp & 0x3F));
    }
}


// Number of leading bytes of the 8-byte word W (in memory order) whose
// Mask bits are all clear; Mask selects the high bit of each byte or unit.
int CleanLeadingBytes(std::uint64_t W, std::uint64_t Mask) {
    const std::uint64_t M = W & Mask;
    if (M == 0) return 8;
    if constexpr (std::endian::native == std::endian::little) return std::countr_zero(M) / 8;
    return std::countl_zero(M) / 8;
}

constexpr std::size_t NotWellFormed = static_cast<std::size_t>(-1);

// Decodes well-formed UTF-8 into Out (when Write), which has room for
// Text.size() units (no sequence yields more units than it has bytes).
// Returns the number of units, or NotWellFormed at the first sequence that is
// not well-formed (the caller then takes the substituting decoder above).
// Eight bytes are looked at at once: the ASCII ones before the first other
// byte are taken together, then that one sequence is decoded.
template <bool Write>
std::size_t DecodeWellFormedUtf8(std::string_view Text, char16_t* Out) {
    const auto* P = reinterpret_cast<const unsigned char*>(Text.data());
    const auto* const End = P + Text.size();
    std::size_t N = 0;
    while (P < End) {
        if (End - P >= 8) {
            std::uint64_t W;
            std::memcpy(&W, P, sizeof W);
            const int Ascii = CleanLeadingBytes(W, 0x8080808080808080ull);
            if constexpr (Write)
                for (int K = 0; K < Ascii; ++K) Out[N + static_cast<std::size_t>(K)] = P[K];
            P += Ascii;
            N += static_cast<std::size_t>(Ascii);
            if (Ascii == 8) continue;
        } else if (*P < 0x80) {
            if constexpr (Write) Out[N] = *P;
            ++P;
            ++N;
            continue;
        }
        const unsigned B0 = *P;
        if (B0 >= 0xC2 && B0 <= 0xDF) {
            if (End - P < 2 || (P[1] & 0xC0) != 0x80) return NotWellFormed;
            if constexpr (Write) Out[N] = static_cast<char16_t>(((B0 & 0x1F) << 6) | (P[1] & 0x3F));
            P += 2;
            N += 1;
        } else if (B0 >= 0xE0 && B0 <= 0xEF) {
            if (End - P < 3) return NotWellFormed;
            const unsigned B1 = P[1], Lo = B0 == 0xE0 ? 0xA0 : 0x80, Hi = B0 == 0xED ? 0x9F : 0xBF;
            if (B1 < Lo || B1 > Hi || (P[2] & 0xC0) != 0x80) return NotWellFormed;
            if constexpr (Write) Out[N] = static_cast<char16_t>(((B0 & 0x0F) << 12) | ((B1 & 0x3F) << 6) | (P[2] & 0x3F));
            P += 3;
            N += 1;
        } else if (B0 >= 0xF0 && B0 <= 0xF4) {
            if (End - P < 4) return NotWellFormed;
            const unsigned B1 = P[1], Lo = B0 == 0xF0 ? 0x90 : 0x80, Hi = B0 == 0xF4 ? 0x8F : 0xBF;
            if (B1 < Lo || B1 > Hi || (P[2] & 0xC0) != 0x80 || (P[3] & 0xC0) != 0x80) return NotWellFormed;
            if constexpr (Write) {
                const char32_t V =
                    (((B0 & 0x07u) << 18) | ((B1 & 0x3Fu) << 12) | ((P[2] & 0x3Fu) << 6) | (P[3] & 0x3Fu)) - 0x10000;
                Out[N] = static_cast<char16_t>(0xD800 + (V >> 10));
                Out[N + 1] = static_cast<char16_t>(0xDC00 + (V & 0x3FF));
            }
            P += 4;
            N += 2;
        } else {
            return NotWellFormed;
        }
    }
    return N;
}

// Encodes UTF-16 without lone surrogates into Out, which has room for three
// bytes a unit. Returns the number of bytes written, or NotWellFormed at the
// first lone surrogate (the caller then takes the substituting encoder).
// Four units are looked at at once, as in DecodeWellFormedUtf8.
std::size_t EncodeWellFormedUtf16(std::u16string_view Text, char* Out) {
    const char16_t* P = Text.data();
    const char16_t* const End = P + Text.size();
    char* O = Out;
    while (P < End) {
        if (End - P >= 4) {
            std::uint64_t W;
            std::memcpy(&W, P, sizeof W);
            const int Ascii = CleanLeadingBytes(W, 0xFF80FF80FF80FF80ull) / 2;
            for (int K = 0; K < Ascii; ++K) O[K] = static_cast<char>(P[K]);
            P += Ascii;
            O += Ascii;
            if (Ascii == 4) continue;
        } else if (*P < 0x80) {
            *O++ = static_cast<char>(*P++);
            continue;
        }
        const char32_t U = *P;
        if (U < 0x800) {
            O[0] = static_cast<char>(0xC0 | (U >> 6));
            O[1] = static_cast<char>(0x80 | (U & 0x3F));
            O += 2;
            ++P;
        } else if (U < 0xD800 || U > 0xDFFF) {
            O[0] = static_cast<char>(0xE0 | (U >> 12));
            O[1] = static_cast<char>(0x80 | ((U >> 6) & 0x3F));
            O[2] = static_cast<char>(0x80 | (U & 0x3F));
            O += 3;
            ++P;
        } else if (U <= 0xDBFF && End - P >= 2 && P[1] >= 0xDC00 && P[1] <= 0xDFFF) {
            const char32_t Cp = 0x10000 + ((U - 0xD800) << 10) + (P[1] - 0xDC00u);
            O[0] = static_cast<char>(0xF0 | (Cp >> 18));
            O[1] = static_cast<char>(0x80 | ((Cp >> 12) & 0x3F));
            O[2] = static_cast<char>(0x80 | ((Cp >> 6) & 0x3F));
            O[3] = static_cast<char>(0x80 | (Cp & 0x3F));
            O += 4;
            P += 2;
        } else {
            return NotWellFormed;
        }
    }
    return static_cast<std::size_t>(O - Out);
}

// Texts of up to this many bytes (UTF-8) or units (UTF-16) are converted
// through a buffer on the stack and copied into the result at once, without
// filling the result with zeros first.
constexpr std::size_t SmallText = 256;

}  // namespace

bool IsWellFormedUtf8(std::string_view Text) {
    // Text of ASCII and two-byte sequences (Latin scripts) is checked eight
    // bytes at a time: every lead byte 110xxxxx (above C1) is followed by a
    // continuation byte 10xxxxxx and every continuation byte follows one. A
    // word with a longer sequence, and the last few bytes, go to the decoder,
    // from the beginning of the sequence under way.
    if constexpr (std::endian::native == std::endian::little) {
        constexpr std::uint64_t High = 0x8080808080808080ull;
        const char* P = Text.data();
        const char* const End = P + Text.size();
        std::uint64_t Carry = 0;  // the word before ended in a lead byte: bit 7 of byte 0
        while (End - P >= 8) {
            std::uint64_t W;
            std::memcpy(&W, P, sizeof W);
            const std::uint64_t Hi = W & High;
            const std::uint64_t Lead = Hi & (W << 1);
            if ((Lead & (W << 2)) != 0) break;  // a lead byte of a longer sequence
            const std::uint64_t Continuation = Hi & ~(W << 1);
            const std::uint64_t NotC0C1 = ((W & 0x1E1E1E1E1E1E1E1Eull) + 0x7F7F7F7F7F7F7F7Full) & High;
            if (((Lead << 8) | Carry) != Continuation || (Lead & ~NotC0C1) != 0) return false;
            Carry = Lead >> 56;
            P += 8;
        }
        if (Carry) --P;
        return DecodeWellFormedUtf8<false>(std::string_view(P, static_cast<std::size_t>(End - P)), nullptr) !=
               NotWellFormed;
    }
    return DecodeWellFormedUtf8<false>(Text, nullptr) != NotWellFormed;
}

bool TryUtf8ToWideInto(std::string_view Text, WideString& Out) {
    if (Text.size() <= SmallText) {
        char16_t Buffer[SmallText];
        const std::size_t N = DecodeWellFormedUtf8<true>(Text, Buffer);
        if (N == NotWellFormed) return false;
        Out.assign(Buffer, N);
        return true;
    }
    Out.resize(Text.size());
    const std::size_t N = DecodeWellFormedUtf8<true>(Text, Out.data());
    if (N == NotWellFormed) return false;
    Out.resize(N);
    return true;
}

void Utf8ToWideInto(std::string_view Text, WideString& Out) {
    if (TryUtf8ToWideInto(Text, Out)) return;
    Out.clear();
    std::size_t Pos = 0;
    while (Pos < Text.size()) {
        std::size_t Len;
        const char32_t Cp = DecodeUtf8(Text, Pos, Len);
        Pos += Len;
        if (Cp >= 0x10000) {
            const char32_t V = Cp - 0x10000;
            Out += static_cast<char16_t>(0xD800 + (V >> 10));
            Out += static_cast<char16_t>(0xDC00 + (V & 0x3FF));
        } else {
            Out += static_cast<char16_t>(Cp);
        }
    }
}

WideString Utf8ToWide(std::string_view Text) {
    WideString Out;
    Utf8ToWideInto(Text, Out);
    return Out;
}

std::string WideToUtf8(std::u16string_view Text) {
    std::string Out;
    WideToUtf8Into(Text, Out);
    return Out;
}

void WideToUtf8Into(std::u16string_view Text, std::string& Out) {
    if (Text.size() <= SmallText) {
        char Buffer[3 * SmallText];
        const std::size_t N = EncodeWellFormedUtf16(Text, Buffer);
        if (N != NotWellFormed) {
            Out.assign(Buffer, N);
            return;
        }
    } else {
        Out.resize(3 * Text.size());
        const std::size_t N = EncodeWellFormedUtf16(Text, Out.data());
        if (N != NotWellFormed) {
            Out.resize(N);
            return;
        }
    }
    Out.clear();
    for (std::size_t I = 0; I < Text.size(); ++I) {
        const char16_t U = Text[I];
        char32_t Cp = U;
        if (U >= 0xD800 && U <= 0xDBFF) {
            if (I + 1 < Text.size() && Text[I + 1] >= 0xDC00 && Text[I + 1] <= 0xDFFF) {
                Cp = 0x10000 + ((static_cast<char32_t>(U) - 0xD800) << 10) + (Text[I + 1] - 0xDC00);
                ++I;
            } else {
                Cp = Replacement;
            }
        } else if (U >= 0xDC00 && U <= 0xDFFF) {
            Cp = Replacement;
        }
        AppendUtf8(Out, Cp);
    }
}

std::size_t Utf8CutLength(std::string_view Text, std::size_t MaxBytes) {
    if (Text.size() <= MaxBytes) return Text.size();
    std::size_t Pos = 0;
    while (Pos < Text.size()) {
        std::size_t Len;
        DecodeUtf8(Text, Pos, Len);
        if (Pos + Len > MaxBytes) break;
        Pos += Len;
    }
    return Pos;
}

std::string Utf8Cut(std::string_view Text, std::size_t MaxBytes) {
    return std::string(Text.substr(0, Utf8CutLength(Text, MaxBytes)));
}

std::size_t Utf8Length(std::string_view Text) {
    std::size_t N = 0, Pos = 0;
    while (Pos < Text.size()) {
        std::size_t Len;
        DecodeUtf8(Text, Pos, Len);
        Pos += Len;
        ++N;
    }
    return N;
}

std::string InOutErrorMessage(int ErrorCode) {
    switch (ErrorCode) {
    case ENOENT: return "File not found";
    case ENOTDIR: return "Path not found";
    case EMFILE:
    case ENFILE: return "Too many open files";
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return "File access denied";
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return "Disk full";
    default: return SysErrorMessage(ErrorCode);
    }
}

void RaiseInOutError(int ErrorCode) { throw EInOutError(InOutErrorMessage(ErrorCode), ErrorCode); }

}  // namespace rtl
