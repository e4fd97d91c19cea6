// Run-time library: dates and times.
#include "rtl/DateUtils.h"

#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <charconv>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int MaxDay = 3652059;  // day number of 31 December 9999
constexpr std::int64_t UnixEpochDay = 719163;  // day number of 1 January 1970

const char* const ShortDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const LongDayNames[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
const char* const ShortMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const LongMonthNames[] = {"January", "February", "March",     "April",   "May",      "June",
                                      "July",    "August",   "September", "October", "November", "December"};

[[noreturn]] void DateEncodeError() { throw EConvertError("Invalid argument to date encode"); }
[[noreturn]] void TimeEncodeError() { throw EConvertError("Invalid argument to time encode"); }

// Day number (1 = 1 January 0001) of a valid date.
std::int64_t DayNumber(int Y, int M, int D) {
    const std::int64_t I = Y - 1;
    std::int64_t Days = I * 365 + I / 4 - I / 100 + I / 400 + D;
    for (int K = 1; K < M; ++K) Days += DaysInAMonth(static_cast<Word>(Y), static_cast<Word>(K));
    return Days;
}

// Year, month and day of a day number (proleptic Gregorian calendar).
void CivilFromDayNumber(std::int64_t DayNo, int& Y, int& M, int& D) {
    // Days since 1 March 0000, in 400-year eras of 146097 days.
    const std::int64_t Z = DayNo - UnixEpochDay + 719468;
    const std::int64_t Era = (Z >= 0 ? Z : Z - 146096) / 146097;
    const auto Doe = static_cast<unsigned>(Z - Era * 146097);
    const unsigned Yoe = (Doe - Doe / 1460 + Doe / 36524 - Doe / 146096) / 365;
    const unsigned Doy = Doe - (365 * Yoe + Yoe / 4 - Yoe / 100);
    const unsigned Mp = (5 * Doy + 2) / 153;
    D = static_cast<int>(Doy - (153 * Mp + 2) / 5 + 1);
    M = static_cast<int>(Mp < 10 ? Mp + 3 : Mp - 9);
    Y = static_cast<int>(static_cast<std::int64_t>(Yoe) + Era * 400 + (M <= 2 ? 1 : 0));
}

// Splits Value into a day number and milliseconds since midnight, rounding to
// the nearest millisecond. False for a value too large to split.
bool Split(double Value, std::int64_t& DayNo, int& MSecs) {
    if (!std::isfinite(Value) || std::fabs(Value) > 1.0e9) return false;
    const auto Total = static_cast<std::int64_t>(std::llround(Value * MSecsPerDay));
    DayNo = Total / MSecsPerDay + DateDelta;  // truncation toward zero: the whole part is the day
    const std::int64_t T = Total < 0 ? -Total : Total;
    MSecs = static_cast<int>(T % MSecsPerDay);
    return true;
}

// Day (relative to 30 December 1899) joined with a time fraction.
double Combine(double Days, double Time) { return Days < 0 ? Days - Time : Days + Time; }

struct TParts {
    int Year = 0, Month = 0, Day = 0, Hour = 0, Min = 0, Sec = 0, MSec = 0, DayOfWeek = 0;
};

TParts Decode(TDateTime Value) {
    TParts P;
    std::int64_t DayNo;
    int MSecs;
    if (!Split(Value, DayNo, MSecs)) return P;
    P.Hour = MSecs / 3600000;
    P.Min = MSecs / 60000 % 60;
    P.Sec = MSecs / 1000 % 60;
    P.MSec = MSecs % 1000;
    if (DayNo >= 1 && DayNo <= MaxDay) {
        CivilFromDayNumber(DayNo, P.Year, P.Month, P.Day);
        P.DayOfWeek = static_cast<int>(DayNo % 7) + 1;
    }
    return P;
}

// Appends Value in decimal, zero-padded to at least Digits digits (dates are
// formatted for every exported record: no printf machinery here).
void AppendPadded(std::string& Out, int Value, int Digits) {
    char Buf[16];
    char* End = Buf + sizeof Buf;
    char* P = End;
    const bool Negative = Value < 0;
    unsigned U = Negative ? 0u - static_cast<unsigned>(Value) : static_cast<unsigned>(Value);
    do {
        *--P = static_cast<char>('0' + U % 10);
        U /= 10;
    } while (U != 0);
    const int Len = static_cast<int>(End - P) + (Negative ? 1 : 0);  // the sign counts, as with %0*d
    if (Negative) Out += '-';
    if (Len < Digits) Out.append(static_cast<std::size_t>(Digits - Len), '0');
    Out.append(P, End);
}

char Lower(char C) { return (C >= 'A' && C <= 'Z') ? static_cast<char>(C - 'A' + 'a') : C; }

bool StartsWithNoCase(std::string_view S, std::size_t Pos, std::string_view Word) {
    if (Pos + Word.size() > S.size()) return false;
    for (std::size_t I = 0; I < Word.size(); ++I)
        if (Lower(S[Pos + I]) != Lower(Word[I])) return false;
    return true;
}

// Whether the format (outside quotes) holds a 12-hour marker.
bool HasAmPm(std::string_view Fmt) {
    for (std::size_t I = 0; I < Fmt.size(); ++I) {
        const char C = Fmt[I];
        if (C == '"' || C == '\'') {
            const auto End = Fmt.find(C, I + 1);
            if (End == std::string_view::npos) return false;
            I = End;
        } else if (StartsWithNoCase(Fmt, I, "am/pm") || StartsWithNoCase(Fmt, I, "a/p") ||
                   StartsWithNoCase(Fmt, I, "ampm")) {
            return true;
        }
    }
    return false;
}

// Reads a date-time format token by token: Next gives the character at the
// position and its token (in lower case; an 'm' after an 'h' stands for
// minutes: 'n'); Run counts the run of a letter there and moves past it.
struct TFormatReader {
    std::string_view Fmt;
    std::size_t I = 0;
    char LastToken = '\0';

    bool More() const { return I < Fmt.size(); }
    char Next(char& C) {
        C = Fmt[I];
        char Token = Lower(C);
        if (Token >= 'a' && Token <= 'z') {
            if (Token == 'm' && LastToken == 'h') Token = 'n';
            LastToken = Token;
        }
        return Token;
    }
    int Run(char Letter) {
        std::size_t N = 0;
        while (I + N < Fmt.size() && Lower(Fmt[I + N]) == Letter) ++N;
        I += N;
        return static_cast<int>(N);
    }
};

void AppendFormat(std::string& Out, std::string_view Fmt, const TParts& P, double Value,
                  const TFormatSettings& S, int Depth) {
    if (Depth > 2) return;  // a format naming itself through c, t or ddddd
    const bool TwelveHour = HasAmPm(Fmt);
    TFormatReader R{Fmt};
    std::size_t& I = R.I;
    while (R.More()) {
        char C;
        switch (R.Next(C)) {
        case '"':
        case '\'': {
            const auto End = Fmt.find(C, I + 1);
            if (End == std::string_view::npos) {
                Out += Fmt.substr(I + 1);
                I = Fmt.size();
            } else {
                Out += Fmt.substr(I + 1, End - I - 1);
                I = End + 1;
            }
            break;
        }
        case 'c':
            ++I;
            AppendFormat(Out, S.ShortDateFormat, P, Value, S, Depth + 1);
            if (P.Hour || P.Min || P.Sec || P.MSec) {
                Out += ' ';
                AppendFormat(Out, S.LongTimeFormat, P, Value, S, Depth + 1);
            }
            break;
        case 'd': {
            const int N = R.Run('d');
            if (N == 1) AppendPadded(Out, P.Day, 1);
            else if (N == 2) AppendPadded(Out, P.Day, 2);
            else if (N == 3) Out += P.DayOfWeek ? ShortDayNames[P.DayOfWeek - 1] : "";
            else if (N == 4) Out += P.DayOfWeek ? LongDayNames[P.DayOfWeek - 1] : "";
            else if (N == 5) AppendFormat(Out, S.ShortDateFormat, P, Value, S, Depth + 1);
            else AppendFormat(Out, S.LongDateFormat, P, Value, S, Depth + 1);
            break;
        }
        case 'm': {
            const int N = R.Run('m');
            if (N == 1) AppendPadded(Out, P.Month, 1);
            else if (N == 2) AppendPadded(Out, P.Month, 2);
            else if (N == 3) Out += P.Month ? ShortMonthNames[P.Month - 1] : "";
            else Out += P.Month ? LongMonthNames[P.Month - 1] : "";
            break;
        }
        case 'y': {
            const int N = R.Run('y');
            if (N <= 2) AppendPadded(Out, P.Year % 100, 2);
            else AppendPadded(Out, P.Year, 4);
            break;
        }
        case 'h': {
            const int N = R.Run('h');
            int H = P.Hour;
            if (TwelveHour) {
                H %= 12;
                if (H == 0) H = 12;
            }
            AppendPadded(Out, H, N == 1 ? 1 : 2);
            break;
        }
        case 'n': {
            const int N = R.Run(Lower(C));  // an 'm' run standing for minutes counts m's
            AppendPadded(Out, P.Min, N == 1 ? 1 : 2);
            break;
        }
        case 's': {
            const int N = R.Run('s');
            AppendPadded(Out, P.Sec, N == 1 ? 1 : 2);
            break;
        }
        case 'z': {
            const int N = R.Run('z');
            AppendPadded(Out, P.MSec, N == 1 ? 1 : 3);
            break;
        }
        case 't': {
            const int N = R.Run('t');
            AppendFormat(Out, N == 1 ? S.ShortTimeFormat : S.LongTimeFormat, P, Value, S, Depth + 1);
            break;
        }
        case 'a': {
            const bool Pm = P.Hour >= 12;
            if (StartsWithNoCase(Fmt, I, "am/pm")) {
                const bool Upper = Fmt[I] == 'A';
                Out += Pm ? (Upper ? "PM" : "pm") : (Upper ? "AM" : "am");
                I += 5;
            } else if (StartsWithNoCase(Fmt, I, "a/p")) {
                const bool Upper = Fmt[I] == 'A';
                Out += Pm ? (Upper ? 'P' : 'p') : (Upper ? 'A' : 'a');
                I += 3;
            } else if (StartsWithNoCase(Fmt, I, "ampm")) {
                Out += Pm ? S.TimePMString : S.TimeAMString;
                I += 4;
            } else {
                Out += C;
                ++I;
            }
            break;
        }
        case '/':
            Out += S.DateSeparator;
            ++I;
            break;
        case ':':
            Out += S.TimeSeparator;
            ++I;
            break;
        default:
            Out += C;
            ++I;
        }
    }
}

// Formats of numbers only: d, dd, m, mm, yy, yyyy, h, hh, n, nn, s, ss, z,
// zzz, the separators / and : and characters that are neither letters nor
// quotes, written as AppendFormat writes them. Short date and time formats
// are of this kind and every exported date and time is written through one:
// such a format is read once into steps, which then write straight into a
// small buffer. Other formats (names, quotes, c, t, a 12-hour marker ...) are
// left to AppendFormat.
struct TNumberStep {
    char Part;  // 'd', 'm', 'y' (four digits), 'Y' (two), 'h', 'n', 's', 'z'; 0: the character Literal
    int Digits;
    char Literal;
};

// The steps of Fmt; false when it is not a format of numbers only.
bool ReadNumberSteps(std::string_view Fmt, const TFormatSettings& S, std::vector<TNumberStep>& Steps) {
    TFormatReader R{Fmt};
    while (R.More()) {
        char C;
        const char Token = R.Next(C);
        switch (Token) {
        case 'd':
        case 'm': {
            const int N = R.Run(Token);
            if (N > 2) return false;
            Steps.push_back({Token, N, 0});
            break;
        }
        case 'y': Steps.push_back(R.Run('y') <= 2 ? TNumberStep{'Y', 2, 0} : TNumberStep{'y', 4, 0}); break;
        case 'h': Steps.push_back({'h', R.Run('h') == 1 ? 1 : 2, 0}); break;
        case 'n': Steps.push_back({'n', R.Run(Lower(C)) == 1 ? 1 : 2, 0}); break;  // an 'm' run counts m's
        case 's': Steps.push_back({'s', R.Run('s') == 1 ? 1 : 2, 0}); break;
        case 'z': Steps.push_back({'z', R.Run('z') == 1 ? 1 : 3, 0}); break;
        case '"':
        case '\'': return false;
        default:
            if (Token >= 'a' && Token <= 'z') return false;
            Steps.push_back({0, 0, C == '/' ? S.DateSeparator : C == ':' ? S.TimeSeparator : C});
            ++R.I;
        }
    }
    return true;
}

// The steps of Fmt under S (nullptr when Fmt is not of numbers only), from a
// small cache of the formats last used on this thread.
const std::vector<TNumberStep>* NumberSteps(std::string_view Fmt, const TFormatSettings& S) {
    struct TEntry {
        bool Used = false;
        bool NumbersOnly = false;
        char DateSeparator = 0, TimeSeparator = 0;
        std::string Format;
        std::vector<TNumberStep> Steps;
    };
    thread_local TEntry Cache[4];
    thread_local unsigned Next = 0;
    for (const TEntry& E : Cache)
        if (E.Used && E.DateSeparator == S.DateSeparator && E.TimeSeparator == S.TimeSeparator && E.Format == Fmt)
            return E.NumbersOnly ? &E.Steps : nullptr;
    TEntry& E = Cache[Next++ % 4];
    E.Used = true;
    E.DateSeparator = S.DateSeparator;
    E.TimeSeparator = S.TimeSeparator;
    E.Format.assign(Fmt);
    E.Steps.clear();
    E.NumbersOnly = ReadNumberSteps(Fmt, S, E.Steps);
    return E.NumbersOnly ? &E.Steps : nullptr;
}

// Writes the steps into Out (room for Cap bytes); false when it is too small.
bool WriteNumberSteps(const std::vector<TNumberStep>& Steps, const TParts& P, char* Out, std::size_t Cap,
                      std::size_t& Len) {
    std::size_t N = 0;
    for (const TNumberStep& Step : Steps) {
        int Value;
        switch (Step.Part) {
        case 0:
            if (N == Cap) return false;
            Out[N++] = Step.Literal;
            continue;
        case 'd': Value = P.Day; break;
        case 'm': Value = P.Month; break;
        case 'y': Value = P.Year; break;
        case 'Y': Value = P.Year % 100; break;
        case 'h': Value = P.Hour; break;
        case 'n': Value = P.Min; break;
        case 's': Value = P.Sec; break;
        default: Value = P.MSec; break;
        }
        // AppendPadded for a value >= 0; two digits at a time.
        static constexpr char kPairs[] = "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
                                         "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
                                         "8081828384858687888990919293949596979899";
        char Buf[12];
        char* End = Buf + sizeof Buf;
        char* D = End;
        auto U = static_cast<unsigned>(Value);
        while (U >= 100) {
            D -= 2;
            std::memcpy(D, kPairs + 2 * (U % 100), 2);
            U /= 100;
        }
        if (U >= 10) {
            D -= 2;
            std::memcpy(D, kPairs + 2 * U, 2);
        } else {
            *--D = static_cast<char>('0' + U);
        }
        const auto K = static_cast<std::size_t>(End - D);
        const auto Width = std::max(K, static_cast<std::size_t>(Step.Digits));
        if (N + Width > Cap) return false;
        std::memset(Out + N, '0', Width - K);
        std::memcpy(Out + N + Width - K, D, K);
        N += Width;
    }
    Len = N;
    return true;
}

// ---------------------------------------------------------------------------
// Reading dates and times
// ---------------------------------------------------------------------------

class TScanner {
public:
    TScanner(std::string_view S) : FS(S) {}
    bool AtEnd() const { return FPos >= FS.size(); }
    char Peek() const { return AtEnd() ? '\0' : FS[FPos]; }
    void SkipBlanks() {
        while (!AtEnd() && (FS[FPos] == ' ' || FS[FPos] == '\t')) ++FPos;
    }
    // Up to MaxDigits decimal digits; false when there are none.
    bool Number(int& Value, int& Digits, int MaxDigits = 9) {
        Value = 0;
        Digits = 0;
        while (!AtEnd() && FS[FPos] >= '0' && FS[FPos] <= '9') {
            if (Digits == MaxDigits) return false;
            Value = Value * 10 + (FS[FPos] - '0');
            ++Digits;
            ++FPos;
        }
        return Digits > 0;
    }
    bool Char(char C) {
        if (Peek() != C || AtEnd()) return false;
        ++FPos;
        return true;
    }
    bool Word(std::string_view W) {
        if (W.empty() || !StartsWithNoCase(FS, FPos, W)) return false;
        FPos += W.size();
        return true;
    }
    std::size_t Pos() const { return FPos; }
    void SetPos(std::size_t P) { FPos = P; }

private:
    std::string_view FS;
    std::size_t FPos = 0;
};

int CurrentYear() {
    Word Y, M, D;
    DecodeDate(Date(), Y, M, D);
    return Y;
}

bool IsDateSeparator(char C, const TFormatSettings& S) {
    if (C == S.DateSeparator) return true;
    // The literal separators of the short date format are accepted too.
    for (char F : S.ShortDateFormat) {
        const char L = Lower(F);
        if (F == C && !(L >= 'a' && L <= 'z') && !(F >= '0' && F <= '9') && F != ' ' && F != '\'' && F != '"')
            return true;
    }
    return false;
}

bool ScanDate(TScanner& Sc, double& Value, const TFormatSettings& S) {
    // Order of day, month and year in the short date format.
    std::string Order;
    for (char F : S.ShortDateFormat) {
        const char L = Lower(F);
        if ((L == 'd' || L == 'm' || L == 'y') && Order.find(L) == std::string::npos) Order += L;
    }
    if (Order.size() != 3) Order = "ymd";
    Sc.SkipBlanks();
    int N[3], Digits[3], Count = 0;
    while (Count < 3) {
        if (!Sc.Number(N[Count], Digits[Count])) return false;
        ++Count;
        if (Count == 3 || !IsDateSeparator(Sc.Peek(), S)) break;
        const std::size_t Save = Sc.Pos();
        Sc.SetPos(Save + 1);
        if (Sc.Peek() < '0' || Sc.Peek() > '9') {  // a trailing separator ends the date
            Sc.SetPos(Save + 1);
            break;
        }
    }
    if (Count < 2) return false;
    int Y = 0, M = 0, D = 0, YDigits = 4;
    if (Count == 3) {
        for (int K = 0; K < 3; ++K) {
            if (Order[static_cast<std::size_t>(K)] == 'y') { Y = N[K]; YDigits = Digits[K]; }
            else if (Order[static_cast<std::size_t>(K)] == 'm') M = N[K];
            else D = N[K];
        }
    } else {
        std::string Two = Order;
        Two.erase(Two.find('y'), 1);
        for (int K = 0; K < 2; ++K) {
            if (Two[static_cast<std::size_t>(K)] == 'm') M = N[K];
            else D = N[K];
        }
        Y = CurrentYear();
    }
    if (YDigits <= 2) {
        const int Now = CurrentYear();
        const int CenturyBase = Now - S.TwoDigitYearCenturyWindow;
        Y += CenturyBase / 100 * 100;
        if (S.TwoDigitYearCenturyWindow > 0 && Y < CenturyBase) Y += 100;
    }
    if (Y < 1 || Y > 9999 || M < 1 || M > 12 || D < 1 || D > 31) return false;
    return TryEncodeDate(static_cast<Word>(Y), static_cast<Word>(M), static_cast<Word>(D), Value);
}

bool ScanTime(TScanner& Sc, double& Value, const TFormatSettings& S) {
    auto Sep = [&] { return Sc.Char(S.TimeSeparator) || Sc.Char(':'); };
    Sc.SkipBlanks();
    int H, M = 0, Sec = 0, MSec = 0, Digits;
    if (!Sc.Number(H, Digits, 2)) return false;
    if (!Sep()) return false;
    if (!Sc.Number(M, Digits, 2)) return false;
    if (Sep()) {
        if (!Sc.Number(Sec, Digits, 2)) return false;
        if (Sc.Char('.') || Sc.Char(S.DecimalSeparator)) {
            if (!Sc.Number(MSec, Digits, 3)) return false;
            if (Digits == 1) MSec *= 100;
            else if (Digits == 2) MSec *= 10;
        }
    }
    const std::size_t BeforeMarker = Sc.Pos();
    Sc.SkipBlanks();
    int Half = -1;
    if (Sc.Word(S.TimeAMString) || Sc.Word("AM")) Half = 0;
    else if (Sc.Word(S.TimePMString) || Sc.Word("PM")) Half = 1;
    else Sc.SetPos(BeforeMarker);
    if (Half >= 0) {
        if (H < 1 || H > 12) return false;
        if (H == 12) H = 0;
        H += 12 * Half;
    }
    if (H > 23 || M > 59 || Sec > 59) return false;
    return TryEncodeTime(static_cast<Word>(H), static_cast<Word>(M), static_cast<Word>(Sec),
                         static_cast<Word>(MSec), Value);
}

bool AtEndAfterBlanks(TScanner& Sc) {
    Sc.SkipBlanks();
    return Sc.AtEnd();
}

std::string Quoted(std::string_view S) { return "'" + std::string(S) + "'"; }

}  // namespace

bool IsLeapYear(Word Year) { return Year % 4 == 0 && (Year % 100 != 0 || Year % 400 == 0); }

Word DaysInAMonth(Word Year, Word Month) {
    static const Word Days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (Month < 1 || Month > 12) return 0;
    return static_cast<Word>(Days[Month - 1] + ((Month == 2 && IsLeapYear(Year)) ? 1 : 0));
}

bool TryEncodeDate(Word Year, Word Month, Word Day, TDateTime& Date) {
    if (Year < 1 || Year > 9999 || Month < 1 || Month > 12 || Day < 1 || Day > DaysInAMonth(Year, Month))
        return false;
    Date = static_cast<double>(DayNumber(Year, Month, Day) - DateDelta);
    return true;
}

TDateTime EncodeDate(Word Year, Word Month, Word Day) {
    TDateTime R;
    if (!TryEncodeDate(Year, Month, Day, R)) DateEncodeError();
    return R;
}

bool TryEncodeTime(Word Hour, Word Min, Word Sec, Word MSec, TDateTime& Time) {
    if (Hour >= HoursPerDay || Min >= 60 || Sec >= 60 || MSec >= 1000) return false;
    Time = (Hour * 3600000.0 + Min * 60000.0 + Sec * 1000.0 + MSec) / MSecsPerDay;
    return true;
}

TDateTime EncodeTime(Word Hour, Word Min, Word Sec, Word MSec) {
    TDateTime R;
    if (!TryEncodeTime(Hour, Min, Sec, MSec, R)) TimeEncodeError();
    return R;
}

bool TryEncodeDateTime(Word Year, Word Month, Word Day, Word Hour, Word Min, Word Sec, Word MSec,
                       TDateTime& Value) {
    TDateTime D, T;
    if (!TryEncodeDate(Year, Month, Day, D) || !TryEncodeTime(Hour, Min, Sec, MSec, T)) return false;
    Value = Combine(D, T);
    return true;
}

TDateTime EncodeDateTime(Word Year, Word Month, Word Day, Word Hour, Word Min, Word Sec, Word MSec) {
    return Combine(EncodeDate(Year, Month, Day), EncodeTime(Hour, Min, Sec, MSec));
}

void DecodeDate(TDateTime Date, Word& Year, Word& Month, Word& Day) {
    const TParts P = Decode(Date);
    Year = static_cast<Word>(P.Year);
    Month = static_cast<Word>(P.Month);
    Day = static_cast<Word>(P.Day);
}

void DecodeTime(TDateTime Time, Word& Hour, Word& Min, Word& Sec, Word& MSec) {
    const TParts P = Decode(Time);
    Hour = static_cast<Word>(P.Hour);
    Min = static_cast<Word>(P.Min);
    Sec = static_cast<Word>(P.Sec);
    MSec = static_cast<Word>(P.MSec);
}

void DecodeDateTime(TDateTime Value, Word& Year, Word& Month, Word& Day, Word& Hour, Word& Min, Word& Sec,
                    Word& MSec) {
    DecodeDate(Value, Year, Month, Day);
    DecodeTime(Value, Hour, Min, Sec, MSec);
}

int DayOfWeek(TDateTime Date) { return Decode(Date).DayOfWeek; }

TDateTime DateOf(TDateTime Value) { return std::trunc(Value); }

TDateTime TimeOf(TDateTime Value) { return std::fabs(Value - std::trunc(Value)); }

namespace {

void LocalNow(struct tm& Tm, int& MSec) {
    struct timespec Ts{};
    clock_gettime(CLOCK_REALTIME, &Ts);
    const time_t Secs = Ts.tv_sec;
    localtime_r(&Secs, &Tm);
    MSec = static_cast<int>(Ts.tv_nsec / 1000000);
}

}  // namespace

TDateTime Date() {
    struct tm Tm{};
    int MSec;
    LocalNow(Tm, MSec);
    return EncodeDate(static_cast<Word>(Tm.tm_year + 1900), static_cast<Word>(Tm.tm_mon + 1),
                      static_cast<Word>(Tm.tm_mday));
}

TDateTime Time() {
    struct tm Tm{};
    int MSec;
    LocalNow(Tm, MSec);
    // A leap second reads as the last second of the minute.
    return EncodeTime(static_cast<Word>(Tm.tm_hour), static_cast<Word>(Tm.tm_min),
                      static_cast<Word>(std::min(Tm.tm_sec, 59)), static_cast<Word>(MSec));
}

TDateTime Now() {
    struct tm Tm{};
    int MSec;
    LocalNow(Tm, MSec);
    return EncodeDateTime(static_cast<Word>(Tm.tm_year + 1900), static_cast<Word>(Tm.tm_mon + 1),
                          static_cast<Word>(Tm.tm_mday), static_cast<Word>(Tm.tm_hour), static_cast<Word>(Tm.tm_min),
                          static_cast<Word>(std::min(Tm.tm_sec, 59)), static_cast<Word>(MSec));
}

TTimeStamp DateTimeToTimeStamp(TDateTime Value) {
    std::int64_t DayNo;
    int MSecs;
    if (!Split(Value, DayNo, MSecs) || DayNo < 1 || DayNo > MaxDay) {
        char Buf[64];
        const auto R = std::to_chars(Buf, Buf + sizeof Buf, Value);
        throw EConvertError("Invalid date and time value " + std::string(Buf, R.ptr));
    }
    return TTimeStamp{MSecs, static_cast<int>(DayNo)};
}

TDateTime TimeStampToDateTime(const TTimeStamp& Stamp) {
    if (Stamp.Date < 1 || Stamp.Date > MaxDay || Stamp.Time < 0 || Stamp.Time >= MSecsPerDay)
        throw EConvertError("'" + std::to_string(Stamp.Date) + "." + std::to_string(Stamp.Time) +
                            "' is not a valid timestamp");
    return Combine(static_cast<double>(Stamp.Date - DateDelta), static_cast<double>(Stamp.Time) / MSecsPerDay);
}

double TimeStampToMSecs(const TTimeStamp& Stamp) {
    return static_cast<double>(Stamp.Date) * MSecsPerDay + static_cast<double>(Stamp.Time);
}

TTimeStamp MSecsToTimeStamp(double MSecs) {
    if (!std::isfinite(MSecs) || MSecs < 0 || MSecs >= 2147483647.0 * MSecsPerDay) TimeEncodeError();
    const auto Total = static_cast<std::int64_t>(MSecs);
    return TTimeStamp{static_cast<int>(Total % MSecsPerDay), static_cast<int>(Total / MSecsPerDay)};
}

std::string FormatDateTime(std::string_view Format, TDateTime Value, const TFormatSettings& Settings) {
    const TParts Parts = Decode(Value);
    char Buffer[64];
    std::size_t Length = 0;
    if (const std::vector<TNumberStep>* Steps = NumberSteps(Format, Settings);
        Steps && WriteNumberSteps(*Steps, Parts, Buffer, sizeof Buffer, Length))
        return std::string(Buffer, Length);
    std::string Out;
    AppendFormat(Out, Format, Parts, Value, Settings, 0);
    return Out;
}

std::string FormatDateTime(std::string_view Format, TDateTime Value) {
    return FormatDateTime(Format, Value, FormatSettings);
}

std::string DateToStr(TDateTime Value, const TFormatSettings& Settings) {
    return FormatDateTime(Settings.ShortDateFormat, Value, Settings);
}
std::string TimeToStr(TDateTime Value, const TFormatSettings& Settings) {
    return FormatDateTime(Settings.LongTimeFormat, Value, Settings);
}
std::string DateTimeToStr(TDateTime Value, const TFormatSettings& Settings) {
    return FormatDateTime("c", Value, Settings);
}
std::string DateToStr(TDateTime Value) { return DateToStr(Value, FormatSettings); }
std::string TimeToStr(TDateTime Value) { return TimeToStr(Value, FormatSettings); }
std::string DateTimeToStr(TDateTime Value) { return DateTimeToStr(Value, FormatSettings); }

bool TryStrToDate(std::string_view S, TDateTime& Value, const TFormatSettings& Settings) {
    TScanner Sc(S);
    double D;
    if (!ScanDate(Sc, D, Settings) || !AtEndAfterBlanks(Sc)) return false;
    Value = D;
    return true;
}

bool TryStrToTime(std::string_view S, TDateTime& Value, const TFormatSettings& Settings) {
    TScanner Sc(S);
    double T;
    if (!ScanTime(Sc, T, Settings) || !AtEndAfterBlanks(Sc)) return false;
    Value = T;
    return true;
}

bool TryStrToDateTime(std::string_view S, TDateTime& Value, const TFormatSettings& Settings) {
    TScanner Sc(S);
    double D, T = 0.0;
    if (ScanDate(Sc, D, Settings)) {
        if (AtEndAfterBlanks(Sc) || (ScanTime(Sc, T, Settings) && AtEndAfterBlanks(Sc))) {
            Value = Combine(D, T);
            return true;
        }
    }
    return TryStrToTime(S, Value, Settings);
}

bool TryStrToDate(std::string_view S, TDateTime& Value) { return TryStrToDate(S, Value, FormatSettings); }
bool TryStrToTime(std::string_view S, TDateTime& Value) { return TryStrToTime(S, Value, FormatSettings); }
bool TryStrToDateTime(std::string_view S, TDateTime& Value) { return TryStrToDateTime(S, Value, FormatSettings); }

TDateTime StrToDate(std::string_view S, const TFormatSettings& Settings) {
    TDateTime V;
    if (!TryStrToDate(S, V, Settings)) throw EConvertError(Quoted(S) + " is not a valid date");
    return V;
}

TDateTime StrToTime(std::string_view S, const TFormatSettings& Settings) {
    TDateTime V;
    if (!TryStrToTime(S, V, Settings)) throw EConvertError(Quoted(S) + " is not a valid time");
    return V;
}

TDateTime StrToDateTime(std::string_view S, const TFormatSettings& Settings) {
    TDateTime V;
    if (!TryStrToDateTime(S, V, Settings)) throw EConvertError(Quoted(S) + " is not a valid date and time");
    return V;
}

TDateTime StrToDate(std::string_view S) { return StrToDate(S, FormatSettings); }
TDateTime StrToTime(std::string_view S) { return StrToTime(S, FormatSettings); }
TDateTime StrToDateTime(std::string_view S) { return StrToDateTime(S, FormatSettings); }
