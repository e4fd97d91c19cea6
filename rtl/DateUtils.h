// Run-time library: dates and times.
//
// TDateTime is a double counting days since 30 December 1899 00:00; its
// fraction is the time of day. Days before 30 December 1899 are negative, and
// the fraction of a negative value still counts forward from midnight:
// -1.25 is 29 December 1899 06:00 (the whole part is the day, the absolute
// fraction the time). The valid range is 1 January 0001 (-693593.0) to
// 31 December 9999 23:59:59.999 (2958465.99999...).
//
// TTimeStamp is the integer form used by field buffers: Date counts days with
// 1 January 0001 as day 1 (so 30 December 1899 is day 693594, DateDelta) and
// Time counts milliseconds since midnight.
//
// Decoding rounds to the nearest millisecond, so a value that encodes
// 23:59:59.999 decodes to exactly that time, and one that rounds up to
// midnight decodes as the start of the next day.
//
// Text forms use FormatSettings (SysUtils.h) unless a TFormatSettings is
// passed. Errors are EConvertError with these messages:
//   "Invalid argument to date encode"    EncodeDate with a date that does not exist
//   "Invalid argument to time encode"    EncodeTime with h > 23, n > 59, s > 59 or ms > 999
//   "'<text>' is not a valid date"       StrToDate
//   "'<text>' is not a valid time"       StrToTime
//   "'<text>' is not a valid date and time"  StrToDateTime
//   "'<date>.<time>' is not a valid timestamp"  TimeStampToDateTime of a stamp whose
//                                          Date is outside 1..3652059 or Time outside a day
//   "Invalid date and time value <value>"  DateTimeToTimeStamp of a non-finite or
//                                          out-of-range value
//
// Threads: reentrant; Date/Time/Now read the system clock in local time.
#pragma once

#include "rtl/SysUtils.h"

#include <cstdint>
#include <string>
#include <string_view>

using TDateTime = double;

struct TTimeStamp {
    int Time;  // milliseconds since midnight, 0 .. 86399999
    int Date;  // day number, 1 = 1 January 0001
};

constexpr int HoursPerDay = 24;
constexpr int MinsPerDay = HoursPerDay * 60;
constexpr int SecsPerDay = MinsPerDay * 60;
constexpr int MSecsPerDay = SecsPerDay * 1000;
constexpr int DateDelta = 693594;          // day number of 30 December 1899
constexpr double MinDateTime = -693593.0;  // 1 January 0001
constexpr double MaxDateTime = 2958465.99999999;  // 31 December 9999 23:59:59.999

bool IsLeapYear(Word Year);
// Days in Month of Year (1..12); 0 for a month out of range.
Word DaysInAMonth(Word Year, Word Month);

TDateTime EncodeDate(Word Year, Word Month, Word Day);
bool TryEncodeDate(Word Year, Word Month, Word Day, TDateTime& Date);
TDateTime EncodeTime(Word Hour, Word Min, Word Sec, Word MSec);
bool TryEncodeTime(Word Hour, Word Min, Word Sec, Word MSec, TDateTime& Time);
// The date joined with the time: Date + Time for days on or after
// 30 December 1899, Date - Time before it (see above).
TDateTime EncodeDateTime(Word Year, Word Month, Word Day, Word Hour, Word Min, Word Sec, Word MSec);
bool TryEncodeDateTime(Word Year, Word Month, Word Day, Word Hour, Word Min, Word Sec, Word MSec,
                       TDateTime& Value);

// Outside the valid range DecodeDate gives 0, 0, 0.
void DecodeDate(TDateTime Date, Word& Year, Word& Month, Word& Day);
void DecodeTime(TDateTime Time, Word& Hour, Word& Min, Word& Sec, Word& MSec);
void DecodeDateTime(TDateTime Value, Word& Year, Word& Month, Word& Day, Word& Hour, Word& Min, Word& Sec,
                    Word& MSec);
// 1 = Sunday .. 7 = Saturday.
int DayOfWeek(TDateTime Date);

// Whole-day part and time-of-day part (the time part is never negative).
TDateTime DateOf(TDateTime Value);
TDateTime TimeOf(TDateTime Value);

TDateTime Date();  // today at 00:00, local time
TDateTime Time();  // the time of day now, local time
TDateTime Now();   // date and time now, local time

TTimeStamp DateTimeToTimeStamp(TDateTime Value);
TDateTime TimeStampToDateTime(const TTimeStamp& Stamp);
// Milliseconds since the start of day 0 (Date * MSecsPerDay + Time).
double TimeStampToMSecs(const TTimeStamp& Stamp);
// The reverse (day 0 included); a non-finite value, a negative one, or one
// whose day does not fit an int raises EConvertError "Invalid argument to
// time encode".
TTimeStamp MSecsToTimeStamp(double MSecs);

// Format letters (case-insensitive; text in '...' or "..." is copied):
//   c       ShortDateFormat, then LongTimeFormat unless the time is 00:00:00.000
//   d dd    day without / with leading zero   ddd dddd  short / long day name
//   ddddd   ShortDateFormat                   dddddd    LongDateFormat
//   m mm    month (minutes when right after h or hh)   mmm mmmm short / long month name
//   yy yyyy two- / four-digit year
//   h hh    hour   n nn  minute   s ss  second   z zzz  millisecond
//   t tt    ShortTimeFormat / LongTimeFormat
//   am/pm a/p ampm   12-hour clock with the marker
//   /       DateSeparator      :  TimeSeparator
// Day and month names are English.
std::string FormatDateTime(std::string_view Format, TDateTime Value);
std::string FormatDateTime(std::string_view Format, TDateTime Value, const TFormatSettings& Settings);

std::string DateToStr(TDateTime Value);      // ShortDateFormat
std::string TimeToStr(TDateTime Value);      // LongTimeFormat
std::string DateTimeToStr(TDateTime Value);  // format "c"
std::string DateToStr(TDateTime Value, const TFormatSettings& Settings);
std::string TimeToStr(TDateTime Value, const TFormatSettings& Settings);
std::string DateTimeToStr(TDateTime Value, const TFormatSettings& Settings);

// Reading follows the order of day, month and year in ShortDateFormat; the
// parts are numbers separated by DateSeparator (blanks around the text are
// allowed). A two-digit year falls into the TwoDigitYearCenturyWindow; a
// date of two parts (day and month) takes the current year.
// A time is h:n, h:n:s or h:n:s.zzz with TimeSeparator, optionally
// followed by the AM or PM marker. A date-time is a date, optionally followed
// by blanks and a time.
TDateTime StrToDate(std::string_view S);
TDateTime StrToTime(std::string_view S);
TDateTime StrToDateTime(std::string_view S);
TDateTime StrToDate(std::string_view S, const TFormatSettings& Settings);
TDateTime StrToTime(std::string_view S, const TFormatSettings& Settings);
TDateTime StrToDateTime(std::string_view S, const TFormatSettings& Settings);
bool TryStrToDate(std::string_view S, TDateTime& Value);
bool TryStrToTime(std::string_view S, TDateTime& Value);
bool TryStrToDateTime(std::string_view S, TDateTime& Value);
bool TryStrToDate(std::string_view S, TDateTime& Value, const TFormatSettings& Settings);
bool TryStrToTime(std::string_view S, TDateTime& Value, const TFormatSettings& Settings);
bool TryStrToDateTime(std::string_view S, TDateTime& Value, const TFormatSettings& Settings);
