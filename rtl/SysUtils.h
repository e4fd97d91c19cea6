// Run-time library: exceptions, text formatting and conversions, UTF-8/UTF-16
// text, file-name helpers.
//
// The exception classes mirror those of the classic run-time library that the
// rest of the system raises and catches by class. Every exception carries a
// complete, user-readable message (Message()). EAbort is the silent exception:
// the application's error box never shows it.
//
// Text: the program's strings are UTF-8 in std::string; WideString is UTF-16.
// Format and the conversions read the process-wide FormatSettings (decimal
// separator, date and time formats); every one of them has an overload taking
// an explicit TFormatSettings for thread-independent use.
//
// Ownership: every function returns values; nothing returned refers to
// storage of the library.
//
// Threads: every function here is reentrant. The global FormatSettings is read
// without a lock: set it once at start-up (or in a test) before other threads
// use the conversions. It is initialised during static initialisation, so do
// not call the locale-dependent functions from static initialisers of other
// files; pass an explicit TFormatSettings there.
#pragma once

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : FMessage(std::move(message)) {}
    ~Exception() override = default;
    const std::string& Message() const noexcept { return FMessage; }
    void SetMessage(std::string message) { FMessage = std::move(message); }
    const char* what() const noexcept override { return FMessage.c_str(); }

private:
    std::string FMessage;
};

// Silent: raised to end an operation without an error box.
class EAbort : public Exception {
public:
    EAbort() : Exception("Operation aborted") {}
    explicit EAbort(std::string message) : Exception(std::move(message)) {}
};

class EConvertError : public Exception { using Exception::Exception; };
class EInvalidCast : public Exception {
public:
    EInvalidCast() : Exception("Invalid class typecast") {}
    explicit EInvalidCast(std::string message) : Exception(std::move(message)) {}
};
class EAssertionFailed : public Exception { using Exception::Exception; };

// File and stream errors.
class EInOutError : public Exception {
public:
    EInOutError(std::string message, int errorCode = 0) : Exception(std::move(message)), ErrorCode(errorCode) {}
    int ErrorCode;
};
class EStreamError : public Exception { using Exception::Exception; };
class EFileStreamError : public EStreamError { using EStreamError::EStreamError; };
class EFOpenError : public EFileStreamError { using EFileStreamError::EFileStreamError; };
class EFCreateError : public EFileStreamError { using EFileStreamError::EFileStreamError; };
class EReadError : public EStreamError { using EStreamError::EStreamError; };
class EWriteError : public EStreamError { using EStreamError::EStreamError; };

// COM/OLE errors: EOleSysError carries the failed HRESULT; EOleException
// additionally the message and source that the server reported.
class EOleError : public Exception { using Exception::Exception; };
class EOleSysError : public EOleError {
public:
    EOleSysError(std::string message, std::int32_t errorCode) : EOleError(std::move(message)), ErrorCode(errorCode) {}
    std::int32_t ErrorCode;
};
class EOleException : public EOleSysError {
public:
    EOleException(std::string message, std::int32_t errorCode, std::string source = {})
        : EOleSysError(std::move(message), errorCode), Source(std::move(source)) {}
    std::string Source;
};

// Arithmetic errors that are not conversions of text (for example a value
// that does not fit the destination form).
class EIntError : public Exception { using Exception::Exception; };
class ERangeError : public EIntError { using EIntError::EIntError; };
class EMathError : public Exception { using Exception::Exception; };
class EOverflow : public EMathError { using EMathError::EMathError; };

using Word = std::uint16_t;
using WideString = std::u16string;

// ---------------------------------------------------------------------------
// Format settings
// ---------------------------------------------------------------------------

// Locale-dependent notation of numbers, dates and times. Date and time
// formats use the letters of FormatDateTime (DateUtils.h).
struct TFormatSettings {
    char DecimalSeparator = '.';
    char ThousandSeparator = ',';
    char DateSeparator = '-';
    char TimeSeparator = ':';
    std::string ShortDateFormat = "yyyy-mm-dd";
    std::string LongDateFormat = "dddd, d mmmm yyyy";
    std::string ShortTimeFormat = "hh:nn";
    std::string LongTimeFormat = "hh:nn:ss";
    std::string TimeAMString = "AM";
    std::string TimePMString = "PM";
    // Two-digit years read by StrToDate fall into the 100 years that end
    // this many years after the current one; 0 takes the current century.
    int TwoDigitYearCenturyWindow = 50;

    // The settings of the C/POSIX locale (the defaults above).
    static TFormatSettings Invariant();
    // The settings of the locale named by the environment (LC_ALL,
    // LC_NUMERIC / LC_TIME, LANG); the C/POSIX locale, or one that is not
    // installed, gives Invariant().
    static TFormatSettings Create();
};

// Process-wide settings, read once from the locale at start-up. Tests and the
// application may assign to it (before other threads use it).
extern TFormatSettings FormatSettings;

// ---------------------------------------------------------------------------
// Format
// ---------------------------------------------------------------------------

// One argument of Format, like an element of an "array of const". It copies
// what it is given, so a TVarRec never refers to the caller's storage.
class TVarRec {
public:
    enum TKind { vtInteger, vtInt64, vtUInt64, vtExtended, vtString, vtChar, vtPointer };

    TVarRec(int v) : FKind(vtInteger), FInt(v) {}
    TVarRec(long v) : FKind(vtInt64), FInt(v) {}
    TVarRec(long long v) : FKind(vtInt64), FInt(v) {}
    TVarRec(unsigned v) : FKind(vtInt64), FInt(v) {}
    TVarRec(unsigned long v) : FKind(vtUInt64), FUInt(v) {}
    TVarRec(unsigned long long v) : FKind(vtUInt64), FUInt(v) {}
    TVarRec(double v) : FKind(vtExtended), FFloat(v) {}
    TVarRec(long double v) : FKind(vtExtended), FFloat(static_cast<double>(v)) {}
    TVarRec(char v) : FKind(vtChar), FString(1, v) {}
    TVarRec(const char* v) : FKind(vtString), FString(v ? v : "") {}
    TVarRec(std::string v) : FKind(vtString), FString(std::move(v)) {}
    TVarRec(std::string_view v) : FKind(vtString), FString(v) {}
    TVarRec(const std::u16string& v);  // converted to UTF-8
    TVarRec(const void* v) : FKind(vtPointer), FPointer(v) {}

    TKind Kind() const noexcept { return FKind; }
    bool IsInteger() const noexcept { return FKind == vtInteger || FKind == vtInt64 || FKind == vtUInt64; }
    std::int64_t AsInt64() const noexcept { return FKind == vtUInt64 ? static_cast<std::int64_t>(FUInt) : FInt; }
    std::uint64_t AsUInt64() const noexcept { return FKind == vtUInt64 ? FUInt : static_cast<std::uint64_t>(FInt); }
    double AsFloat() const noexcept { return FFloat; }
    const std::string& AsString() const noexcept { return FString; }
    const void* AsPointer() const noexcept { return FPointer; }

private:
    TKind FKind;
    std::int64_t FInt = 0;
    std::uint64_t FUInt = 0;
    double FFloat = 0.0;
    std::string FString;
    const void* FPointer = nullptr;
};

// Formats Args into Fmt. A directive is
//   % [index :] [-] [width] [. precision] type
// where index, width and precision may be '*' (taken from the next integer
// argument) and type is one of
//   d  signed decimal; precision = minimum number of digits (zero-padded)
//   u  unsigned decimal (a negative 32-bit integer counts as its 32-bit
//      two's complement, a 64-bit one as its 64-bit one)
//   x  upper-case hexadecimal; precision = minimum number of digits
//   e  scientific, precision = significant digits (default 15), "1.5E+003"
//   f  fixed, precision = decimals (default 2)
//   g  general, the shorter of fixed and scientific, precision = significant
//      digits (default 15), no trailing zeros
//   n  like f with thousand separators
//   p  pointer, 16 upper-case hexadecimal digits
//   s  text (a one-character argument counts as text); precision = maximum
//      length in bytes, cut so that no UTF-8 sequence is split
//   %% a percent sign
// Width pads with blanks, on the left, or on the right after '-'; widths and
// precisions count bytes. Floating-point directives write the settings'
// decimal separator. Surplus arguments are ignored.
// Errors (EConvertError): an argument of the wrong kind, or an unknown or
// unfinished directive: "Format '<fmt>' invalid or incompatible with
// argument"; too few arguments: "No argument for format '<fmt>'".
std::string Format(std::string_view Fmt, std::initializer_list<TVarRec> Args);
std::string Format(std::string_view Fmt, std::span<const TVarRec> Args);
std::string Format(std::string_view Fmt, std::initializer_list<TVarRec> Args, const TFormatSettings& Settings);
std::string Format(std::string_view Fmt, std::span<const TVarRec> Args, const TFormatSettings& Settings);

// ---------------------------------------------------------------------------
// Integer and floating-point conversions
// ---------------------------------------------------------------------------

std::string IntToStr(int Value);
std::string IntToStr(std::int64_t Value);
// Upper-case hexadecimal with at least Digits digits; a negative value gives
// its two's complement of its own width (32 or 64 bits).
std::string IntToHex(int Value, int Digits);
std::string IntToHex(std::int64_t Value, int Digits);

// Text to integer: optional leading blanks, an optional sign, then decimal
// digits, or hexadecimal digits after '$' or "0x". Nothing may follow.
// StrToInt/StrToInt64 raise EConvertError "'<text>' is not a valid integer
// value" for anything else, also for a value out of range.
int StrToInt(std::string_view S);
std::int64_t StrToInt64(std::string_view S);
int StrToIntDef(std::string_view S, int Default);
std::int64_t StrToInt64Def(std::string_view S, std::int64_t Default);
bool TryStrToInt(std::string_view S, int& Value);
bool TryStrToInt64(std::string_view S, std::int64_t& Value);

// General decimal form with up to 15 significant digits and the settings'
// decimal separator: "0.1", "-2.5", "1E20", "1.5E-7"; "INF", "-INF", "NAN".
std::string FloatToStr(double Value);
std::string FloatToStr(double Value, const TFormatSettings& Settings);
// Text to double in the settings' notation: optional blanks around it, an
// optional sign, digits with at most one decimal separator, an optional
// exponent (E or e, optional sign, digits). StrToFloat raises EConvertError
// "'<text>' is not a valid floating point value" otherwise, also when the
// value is out of the range of a double.
double StrToFloat(std::string_view S);
double StrToFloat(std::string_view S, const TFormatSettings& Settings);
bool TryStrToFloat(std::string_view S, double& Value);
bool TryStrToFloat(std::string_view S, double& Value, const TFormatSettings& Settings);
double StrToFloatDef(std::string_view S, double Default);

// ---------------------------------------------------------------------------
// Strings
// ---------------------------------------------------------------------------

// ASCII case conversion and comparison: only 'a'..'z' and 'A'..'Z' change.
std::string UpperCase(std::string_view S);
std::string LowerCase(std::string_view S);
// <0, 0, >0 comparing byte-wise after ASCII upper-casing.
int CompareText(std::string_view S1, std::string_view S2);
int CompareStr(std::string_view S1, std::string_view S2);
bool SameText(std::string_view S1, std::string_view S2);

// Trim removes leading and trailing characters up to and including the blank
// (control characters and blanks); TrimLeft/TrimRight one side only.
std::string Trim(std::string_view S);
std::string TrimLeft(std::string_view S);
std::string TrimRight(std::string_view S);

enum TReplaceFlag { rfReplaceAll = 1, rfIgnoreCase = 2 };
using TReplaceFlags = int;
// Replaces the first (or, with rfReplaceAll, every) occurrence of OldPattern;
// an empty OldPattern replaces nothing.
std::string StringReplace(std::string_view S, std::string_view OldPattern, std::string_view NewPattern,
                          TReplaceFlags Flags);

// S between single quotes, inner quotes doubled: O'Brien -> 'O''Brien'.
std::string QuotedStr(std::string_view S);
std::string AnsiQuotedStr(std::string_view S, char Quote);
// The reverse of AnsiQuotedStr for a text that starts with Quote: the text up
// to the closing quote with doubled quotes made single; Pos is advanced past
// the closing quote (or to the end when there is none).
std::string AnsiExtractQuotedStr(std::string_view S, std::size_t& Pos, char Quote);

// True when S is a Pascal-style identifier: a letter or '_' then letters,
// digits or '_' (ASCII only).
bool IsValidIdent(std::string_view S);

// The text of an errno value, e.g. "No such file or directory".
std::string SysErrorMessage(int ErrorCode);

// Raises EAbort (silent).
[[noreturn]] void Abort();
// Raises EAssertionFailed with Message when Condition is false.
void Assert(bool Condition, std::string_view Message = "Assertion failed");

// ---------------------------------------------------------------------------
// File names and files (POSIX paths, '/' separates folders)
// ---------------------------------------------------------------------------

std::string ExtractFileName(std::string_view FileName);  // after the last '/'
std::string ExtractFilePath(std::string_view FileName);  // up to and with the last '/'
std::string ExtractFileDir(std::string_view FileName);   // without the trailing '/'
std::string ExtractFileExt(std::string_view FileName);   // from the last '.' of the name, with it
std::string ChangeFileExt(std::string_view FileName, std::string_view Extension);
std::string IncludeTrailingPathDelimiter(std::string_view Path);
std::string ExcludeTrailingPathDelimiter(std::string_view Path);
bool FileExists(const std::string& FileName);       // a file that is not a folder
bool DirectoryExists(const std::string& Directory);
bool DeleteFile(const std::string& FileName);

namespace rtl {

// ---------------------------------------------------------------------------
// UTF-8 / UTF-16
// ---------------------------------------------------------------------------

// UTF-8 to UTF-16. Valid text round-trips exactly (astral characters become
// surrogate pairs). Each maximal invalid part of a sequence (a stray
// continuation byte, a truncated or overlong sequence, an encoded surrogate,
// a value above U+10FFFF) becomes one U+FFFD.
WideString Utf8ToWide(std::string_view Text);
// Utf8ToWide into Out (replacing its contents, keeping its capacity).
void Utf8ToWideInto(std::string_view Text, WideString& Out);
// True when Text is well-formed UTF-8 (what Utf8ToWide and WideToUtf8 then
// carry through unchanged).
bool IsWellFormedUtf8(std::string_view Text);
// Utf8ToWideInto for well-formed text only: false (Out unspecified) when
// Text holds an invalid sequence, for callers with their own substitution.
bool TryUtf8ToWideInto(std::string_view Text, WideString& Out);
// UTF-16 to UTF-8. A lone surrogate becomes U+FFFD.
std::string WideToUtf8(std::u16string_view Text);
// WideToUtf8 into Out (replacing its contents, keeping its capacity).
void WideToUtf8Into(std::u16string_view Text, std::string& Out);
// The longest leading part of Text of at most MaxBytes bytes that ends on a
// sequence boundary: the cut ends before the first sequence that would not
// fit. Each maximal invalid part counts as one sequence (as in Utf8ToWide).
std::string Utf8Cut(std::string_view Text, std::size_t MaxBytes);
// Length in bytes of that leading part.
std::size_t Utf8CutLength(std::string_view Text, std::size_t MaxBytes);
// Number of characters (sequences, each maximal invalid part counting as one).
std::size_t Utf8Length(std::string_view Text);

// The message of the input/output error for an errno value, as the classic
// run time words it: "File not found", "Path not found", "Too many open
// files", "File access denied", "Disk full", otherwise SysErrorMessage.
std::string InOutErrorMessage(int ErrorCode);
// Raises EInOutError with InOutErrorMessage(ErrorCode) and the code.
[[noreturn]] void RaiseInOutError(int ErrorCode);

}  // namespace rtl

using rtl::Utf8Cut;
using rtl::Utf8ToWide;
using rtl::WideToUtf8;
