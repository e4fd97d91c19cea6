// TDateTime encode/decode, time stamps, text forms of dates and times.
#include "rtl/Rtl.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

template <class E, class F>
void ExpectRaise(F&& Body, const std::string& Msg) {
    try {
        Body();
        ADD_FAILURE() << "no exception, expected: " << Msg;
    } catch (const E& Ex) {
        EXPECT_EQ(Ex.Message(), Msg);
    } catch (const std::exception& Ex) {
        ADD_FAILURE() << "wrong exception class: " << Ex.what();
    }
}

struct TYmd {
    Word Y, M, D;
};

TYmd Ymd(TDateTime V) {
    TYmd R{};
    DecodeDate(V, R.Y, R.M, R.D);
    return R;
}

std::string Hms(TDateTime V) {
    Word H, N, S, Ms;
    DecodeTime(V, H, N, S, Ms);
    return Format("%.2d:%.2d:%.2d.%.3d", {H, N, S, Ms});
}

class DateUtilsTest : public ::testing::Test {
protected:
    void SetUp() override { Saved = FormatSettings; FormatSettings = TFormatSettings::Invariant(); }
    void TearDown() override { FormatSettings = Saved; }
    TFormatSettings Saved;
};

TEST_F(DateUtilsTest, EdgesOfTheDayNumbering) {
    EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
    EXPECT_EQ(EncodeDate(1, 1, 1), -693593.0);
    EXPECT_EQ(EncodeDate(9999, 12, 31), 2958465.0);
    EXPECT_EQ(EncodeDate(1970, 1, 1), 25569.0);
    EXPECT_EQ(DateTimeToTimeStamp(EncodeDate(1, 1, 1)).Date, 1);
    EXPECT_EQ(DateTimeToTimeStamp(0.0).Date, DateDelta);
    EXPECT_EQ(DateTimeToTimeStamp(0.0).Date, 693594);
    EXPECT_EQ(DateTimeToTimeStamp(EncodeDate(9999, 12, 31)).Date, 3652059);
    for (auto [V, Y, M, D] : {std::tuple{-693593.0, 1, 1, 1}, std::tuple{0.0, 1899, 12, 30},
                              std::tuple{2958465.0, 9999, 12, 31}, std::tuple{-1.0, 1899, 12, 29}}) {
        const TYmd R = Ymd(V);
        EXPECT_EQ(R.Y, Y);
        EXPECT_EQ(R.M, M);
        EXPECT_EQ(R.D, D);
    }
    // Outside the range there is no date.
    const TYmd Out = Ymd(-693594.0);
    EXPECT_EQ(Out.Y + Out.M + Out.D, 0);
}

TEST_F(DateUtilsTest, EveryDateRoundTrips) {
    // All days of the first and last years, and every 97th day in between,
    // decode to what was encoded and follow one another without gaps.
    auto Check = [](double From, double To, double Step) {
        for (double V = From; V <= To; V += Step) {
            const TYmd R = Ymd(V);
            ASSERT_GT(R.Y, 0) << V;
            ASSERT_EQ(EncodeDate(R.Y, R.M, R.D), V) << R.Y << "-" << R.M << "-" << R.D;
        }
    };
    Check(-693593.0, -693593.0 + 800, 1);
    Check(-693593.0, 2958465.0, 97);
    Check(2958465.0 - 800, 2958465.0, 1);
    EXPECT_EQ(EncodeDate(2024, 3, 1) - EncodeDate(2024, 2, 28), 2.0);  // leap year
    EXPECT_EQ(EncodeDate(1900, 3, 1) - EncodeDate(1900, 2, 28), 1.0);  // century, no leap day
    EXPECT_EQ(EncodeDate(2000, 3, 1) - EncodeDate(2000, 2, 28), 2.0);
    EXPECT_EQ(DayOfWeek(EncodeDate(2024, 1, 1)), 2);  // a Monday
    EXPECT_EQ(DayOfWeek(EncodeDate(1899, 12, 30)), 7);  // a Saturday
}

TEST_F(DateUtilsTest, TimesRoundTripToTheMillisecond) {
    const TDateTime Last = EncodeTime(23, 59, 59, 999);
    EXPECT_EQ(Hms(Last), "23:59:59.999");
    EXPECT_EQ(DateTimeToTimeStamp(Last).Time, 86399999);
    EXPECT_EQ(DateTimeToTimeStamp(Last).Date, DateDelta);
    EXPECT_EQ(EncodeTime(12, 0, 0, 0), 0.5);
    // Every millisecond of a sample of the day decodes to itself.
    for (int Ms = 0; Ms < MSecsPerDay; Ms += 999983) {
        const TDateTime T = EncodeTime(static_cast<Word>(Ms / 3600000), static_cast<Word>(Ms / 60000 % 60),
                                       static_cast<Word>(Ms / 1000 % 60), static_cast<Word>(Ms % 1000));
        EXPECT_EQ(DateTimeToTimeStamp(T).Time, Ms);
    }
    // On the last day as well, where a double carries fewer fraction bits.
    const TDateTime End = EncodeDateTime(9999, 12, 31, 23, 59, 59, 999);
    EXPECT_EQ(Hms(End), "23:59:59.999");
    EXPECT_EQ(Ymd(End).Y, 9999);
    // A value just short of midnight rounds to the next day, never to 24:00.
    const TTimeStamp Next = DateTimeToTimeStamp(0.9999999999);
    EXPECT_EQ(Next.Date, DateDelta + 1);
    EXPECT_EQ(Next.Time, 0);
}

TEST_F(DateUtilsTest, DatesBefore1899AreNegativeWithAForwardTime) {
    const TDateTime V = EncodeDateTime(1899, 12, 29, 6, 0, 0, 0);
    EXPECT_EQ(V, -1.25);
    const TYmd R = Ymd(V);
    EXPECT_EQ(R.Y, 1899);
    EXPECT_EQ(R.M, 12);
    EXPECT_EQ(R.D, 29);
    EXPECT_EQ(Hms(V), "06:00:00.000");
    const TTimeStamp S = DateTimeToTimeStamp(V);
    EXPECT_EQ(S.Date, DateDelta - 1);
    EXPECT_EQ(S.Time, 6 * 3600000);
    EXPECT_EQ(TimeStampToDateTime(S), -1.25);
    const TDateTime First = EncodeDateTime(1, 1, 1, 23, 59, 59, 999);
    EXPECT_EQ(Hms(First), "23:59:59.999");
    EXPECT_EQ(DateTimeToTimeStamp(First).Date, 1);
    EXPECT_EQ(TimeOf(V), 0.25);
    EXPECT_EQ(DateOf(V), -1.0);
}

TEST_F(DateUtilsTest, EncodeErrors) {
    for (auto [H, N, S, Ms] : {std::tuple{24, 0, 0, 0}, std::tuple{0, 60, 0, 0}, std::tuple{0, 0, 60, 0},
                               std::tuple{0, 0, 0, 1000}})
        ExpectRaise<EConvertError>([&] { EncodeTime(static_cast<Word>(H), static_cast<Word>(N), static_cast<Word>(S),
                                                    static_cast<Word>(Ms)); },
                                   "Invalid argument to time encode");
    for (auto [Y, M, D] : {std::tuple{2023, 2, 29}, std::tuple{1900, 2, 29}, std::tuple{0, 1, 1},
                           std::tuple{10000, 1, 1}, std::tuple{2024, 13, 1}, std::tuple{2024, 4, 31},
                           std::tuple{2024, 1, 0}})
        ExpectRaise<EConvertError>([&] { EncodeDate(static_cast<Word>(Y), static_cast<Word>(M), static_cast<Word>(D)); },
                                   "Invalid argument to date encode");
    TDateTime Untouched = 7.0;
    EXPECT_FALSE(TryEncodeDate(2023, 2, 29, Untouched));
    EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0, Untouched));
    EXPECT_EQ(Untouched, 7.0);
    EXPECT_TRUE(TryEncodeDate(2000, 2, 29, Untouched));
}

TEST_F(DateUtilsTest, TimeStamps) {
    const TTimeStamp S = DateTimeToTimeStamp(EncodeDateTime(2024, 5, 17, 13, 45, 59, 999));
    const double MSecs = TimeStampToMSecs(S);
    EXPECT_EQ(MSecs, static_cast<double>(S.Date) * 86400000.0 + S.Time);
    const TTimeStamp Back = MSecsToTimeStamp(MSecs);
    EXPECT_EQ(Back.Date, S.Date);
    EXPECT_EQ(Back.Time, S.Time);
    EXPECT_EQ(Hms(TimeStampToDateTime(Back)), "13:45:59.999");
    // Day 0 is a stamp but not a date.
    const TTimeStamp Zero = MSecsToTimeStamp(0.0);
    EXPECT_EQ(Zero.Date, 0);
    ExpectRaise<EConvertError>([&] { TimeStampToDateTime(Zero); }, "'0.0' is not a valid timestamp");
    ExpectRaise<EConvertError>([] { TimeStampToDateTime(TTimeStamp{86400000, 5}); },
                               "'5.86400000' is not a valid timestamp");
    ExpectRaise<EConvertError>([] { MSecsToTimeStamp(-1.0); }, "Invalid argument to time encode");
    ExpectRaise<EConvertError>([] { DateTimeToTimeStamp(-693594.0); }, "Invalid date and time value -693594");
    ExpectRaise<EConvertError>([] { DateTimeToTimeStamp(std::nan("")); }, "Invalid date and time value nan");
}

TEST_F(DateUtilsTest, FormatDateTimeLetters) {
    const TDateTime V = EncodeDateTime(2024, 3, 5, 14, 7, 9, 45);
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", V), "2024-03-05 14:07:09.045");
    EXPECT_EQ(FormatDateTime("d/m/yy h:n:s z", V), "5-3-24 14:7:9 45");  // '/' is the date separator
    EXPECT_EQ(FormatDateTime("hh:mm", V), "14:07");  // m after h means minutes
    EXPECT_EQ(FormatDateTime("h:nn am/pm|h a/p|hh ampm", V), "2:07 pm|2 p|02 PM");
    EXPECT_EQ(FormatDateTime("dddd, mmmm d (ddd mmm)", V), "Tuesday, March 5 (Tue Mar)");
    EXPECT_EQ(FormatDateTime("'yyyy' \"dd\" yyyy", V), "yyyy dd 2024");
    EXPECT_EQ(FormatDateTime("c", V), "2024-03-05 14:07:09");
    EXPECT_EQ(FormatDateTime("c", EncodeDate(2024, 3, 5)), "2024-03-05");
    EXPECT_EQ(FormatDateTime("hh:nn", EncodeTime(0, 5, 0, 0)), "00:05");
    // A result longer than the short buffer of number formats.
    EXPECT_EQ(FormatDateTime(std::string(40, '.') + "yyyy/mm" + std::string(30, ' ') + "dd", V),
              std::string(40, '.') + "2024-03" + std::string(30, ' ') + "05");
    FormatSettings.ShortDateFormat = "dd/mm/yyyy";
    FormatSettings.DateSeparator = '.';
    EXPECT_EQ(DateToStr(V), "05.03.2024");
    EXPECT_EQ(TimeToStr(V), "14:07:09");
    EXPECT_EQ(DateTimeToStr(V), "05.03.2024 14:07:09");
    // A format that names itself does not recurse for ever.
    FormatSettings.ShortDateFormat = "c";
    EXPECT_NO_THROW(DateToStr(V));
}

TEST_F(DateUtilsTest, ReadingDatesAndTimes) {
    EXPECT_EQ(StrToDate("2024-03-05"), EncodeDate(2024, 3, 5));
    EXPECT_EQ(StrToDate(" 1-1-1 "), EncodeDate(2001, 1, 1));  // two-digit year in the window
    EXPECT_EQ(StrToDate("0001-01-01"), EncodeDate(1, 1, 1));
    EXPECT_EQ(StrToTime("13:45"), EncodeTime(13, 45, 0, 0));
    EXPECT_EQ(StrToTime("13:45:59.999"), EncodeTime(13, 45, 59, 999));
    EXPECT_EQ(StrToTime("1:05 PM"), EncodeTime(13, 5, 0, 0));
    EXPECT_EQ(StrToTime("12:00 am"), 0.0);
    EXPECT_EQ(StrToDateTime("2024-03-05 13:45:10"), EncodeDateTime(2024, 3, 5, 13, 45, 10, 0));
    EXPECT_EQ(StrToDateTime("1899-12-29 06:00"), -1.25);
    EXPECT_EQ(StrToDateTime("06:00"), 0.25);
    EXPECT_EQ(StrToDateTime("2024-03-05"), EncodeDate(2024, 3, 5));
    // Every date written reads back.
    for (double V = -693593.0; V <= 2958465.0; V += 9973.0) EXPECT_EQ(StrToDate(DateToStr(V)), V) << DateToStr(V);
    ExpectRaise<EConvertError>([] { StrToDate("2024-02-30"); }, "'2024-02-30' is not a valid date");
    ExpectRaise<EConvertError>([] { StrToDate("2024-03-05x"); }, "'2024-03-05x' is not a valid date");
    ExpectRaise<EConvertError>([] { StrToDate(""); }, "'' is not a valid date");
    ExpectRaise<EConvertError>([] { StrToTime("25:00"); }, "'25:00' is not a valid time");
    ExpectRaise<EConvertError>([] { StrToTime("13:60"); }, "'13:60' is not a valid time");
    ExpectRaise<EConvertError>([] { StrToTime("13 PM:00"); }, "'13 PM:00' is not a valid time");
    ExpectRaise<EConvertError>([] { StrToDateTime("2024-03-05 x"); }, "'2024-03-05 x' is not a valid date and time");
    // Another order and separator, as the locale gives them.
    FormatSettings.ShortDateFormat = "dd/mm/yyyy";
    FormatSettings.DateSeparator = '.';
    EXPECT_EQ(StrToDate("31.12.1999"), EncodeDate(1999, 12, 31));
    EXPECT_EQ(StrToDate("31/12/1999"), EncodeDate(1999, 12, 31));
    Word Y, M, D;
    DecodeDate(Date(), Y, M, D);
    EXPECT_EQ(StrToDate("24.12."), EncodeDate(Y, 12, 24));  // day and month: the current year
    ExpectRaise<EConvertError>([] { StrToDate("12.31.1999"); }, "'12.31.1999' is not a valid date");
}

TEST_F(DateUtilsTest, ClockFunctionsAgree) {
    const TDateTime Before = Now();
    const TDateTime D = Date(), T = Time();
    const TDateTime After = Now();
    if (std::floor(Before) != std::floor(After)) GTEST_SKIP() << "ran across midnight";
    EXPECT_EQ(D, std::floor(Before));
    EXPECT_GE(D + T, Before - 1.0 / MSecsPerDay);
    EXPECT_LE(D + T, After + 1.0 / MSecsPerDay);
    EXPECT_LE(Before, After);
}

}  // namespace
