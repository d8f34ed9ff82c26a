#include <gtest/gtest.h>

#include <ctime>
#include <sstream>

#include "time/DateTime.h"

using DT = DateTime;

// MIN and MAX must be usable from other files' static objects, so they are
// constant-initialised.
static_assert(DT::MIN.FullDateTime() == 86400.0, "MIN is 1 January of year 1");
static_assert(DT::MAX.FullDateTime() == 3652061.0 * 86400.0, "MAX is 31 December 9999");

TEST(DateTimeConstruction, DefaultTextAndMinAgree) {
    DT parsed("00:00:00@01/01/0001");
    EXPECT_EQ(parsed, DT());
    EXPECT_EQ(parsed, DT::MIN);
    EXPECT_EQ(parsed.toString(), "00:00:00@01/01/0001");
    EXPECT_EQ(DT::MAX, DT(DT::dec, 31, 9999));
    EXPECT_LT(DT(0.0), DT::MIN);
}

TEST(DateTimeConstruction, AllFormsMeetOnTheSameValue) {
    DT t(DT::feb, 29, 2024, 13, 14, 15);
    EXPECT_EQ(DT(60, 2024, 13, 14, 15), t);
    EXPECT_EQ(DT(60, 2024), DT(DT::feb, 29, 2024));
    EXPECT_EQ(DT(t.DayNumber(), 13, 14, 15), t);
    EXPECT_EQ(DT(static_cast<unsigned long long>(t.FullSeconds())), t);
    EXPECT_EQ(DT(std::string("13:14:15@02/29/2024")), t);
    tm record = {};
    record.tm_year = 124;
    record.tm_mon = 1;
    record.tm_mday = 29;
    record.tm_hour = 13;
    record.tm_min = 14;
    record.tm_sec = 15;
    EXPECT_EQ(DT(&record), t);
    DT withFraction;
    withFraction.Set(DT::feb, 29, 2024, 13, 14, 15, 0.25);
    EXPECT_DOUBLE_EQ(withFraction - t, 0.25);
}

TEST(DateTimeConstruction, OutOfRangeFieldsCarry) {
    EXPECT_EQ(DT("24:00:00@12/31/2000"), DT(DT::jan, 1, 2001));
    EXPECT_EQ(DT(DT::jan, 31, 2024, 0, 0, 60), DT(DT::jan, 31, 2024, 0, 1, 0));
    EXPECT_EQ(DT(DT::feb, 30, 2023), DT(DT::mar, 2, 2023));
}

TEST(DateTimeConstruction, ShortOrNullTextIsReadSafely) {
    EXPECT_EQ(DT("12:34").Hour(), 12);
    EXPECT_EQ(DT(static_cast<const char*>(nullptr)).FullSeconds(), 0u);
    EXPECT_EQ(DT(static_cast<const tm*>(nullptr)), DT());
}

TEST(DateTimeText, CheckAcceptsOnlyThePattern) {
    EXPECT_TRUE(DT::Check("24:00:00@12/31/2000"));
    EXPECT_TRUE(DT::Check("23:60:60@02/31/2038"));
    EXPECT_TRUE(DT::Check("00:00:00@01/01/0000"));
    EXPECT_FALSE(DT::Check("12:00:00@01/01/2039"));
    EXPECT_FALSE(DT::Check("12:00:00@1/01/2000"));
    EXPECT_FALSE(DT::Check("12:00:00-01/01/2000"));
    EXPECT_FALSE(DT::Check("12:00:00@01/01/20000"));
    EXPECT_FALSE(DT::Check("25:00:00@01/01/2000"));
    EXPECT_FALSE(DT::Check("1a:00:00@01/01/2000"));
    EXPECT_FALSE(DT::Check("12:61:00@01/01/2000"));
    EXPECT_FALSE(DT::Check("12:00:61@01/01/2000"));
    EXPECT_FALSE(DT::Check("12:00:00@00/01/2000"));
    EXPECT_FALSE(DT::Check("12:00:00@13/01/2000"));
    EXPECT_FALSE(DT::Check("12:00:00@01/32/2000"));
    EXPECT_FALSE(DT::Check("12:00:00@01/00/2000"));
    EXPECT_FALSE(DT::Check("12:00:00@01/01/2a00"));
    // Only the first two year digits must be digits; atoi reads the rest.
    EXPECT_TRUE(DT::Check("12:00:00@01/01/20x0"));
    EXPECT_EQ(DT("12:00:00@01/01/20x0").Year(), 20);
}

TEST(DateTimeText, ToStringPadsEveryField) {
    EXPECT_EQ(DT(DT::mar, 7, 2001, 9, 5, 3).toString(), "09:05:03@03/07/2001");
    EXPECT_EQ(DT(DT::jan, 1, 5).toString(), "00:00:00@01/01/0005");
    EXPECT_EQ(DT(DT::jan, 1, 50).toString(), "00:00:00@01/01/0050");
    EXPECT_EQ(DT(DT::dec, 31, 9999, 23, 59, 59).toString(), "23:59:59@12/31/9999");
    EXPECT_EQ((DT(DT::mar, 7, 2001, 9, 5, 3) + 0.75).toString(), "09:05:03@03/07/2001");
    // Day 0 lies before the calendar; it reads as the day before 1 January 1.
    EXPECT_EQ(DT(0.0).toString(), "00:00:00@12/31/0000");
    std::ostringstream os;
    os << DT(DT::oct, 15, 1582, 12, 0, 0);
    EXPECT_EQ(os.str(), "12:00:00@10/15/1582");
}

TEST(DateTimeFields, DerivedFromTheSeconds) {
    DT t = DT(DT::jul, 4, 2024, 17, 8, 9) + 0.5;
    EXPECT_EQ(t.Year(), 2024);
    EXPECT_EQ(t.Month(), 7);
    EXPECT_EQ(t.Day(), 4);
    EXPECT_EQ(t.Hour(), 17);
    EXPECT_DOUBLE_EQ(t.Fraction(), 0.5);
    EXPECT_EQ(static_cast<long>(t), static_cast<long>(t.FullSeconds()));
    EXPECT_EQ(t[0], 7);
    EXPECT_EQ(t[1], 4);
    EXPECT_EQ(t[2], 124);
    EXPECT_EQ(t[3], 17);
    EXPECT_EQ(t[6], -1);
    EXPECT_EQ(DT(-5.0).FullSeconds(), 0u);
}

TEST(DateTimeFields, SettersKeepTheOtherFields) {
    DT t = DT(DT::jul, 4, 2024, 17, 8, 9) + 0.5;
    t.SetHour(3);
    t.SetMinute(59);
    t.SetSecond(1);
    EXPECT_EQ(t.toString(), "03:59:01@07/04/2024");
    EXPECT_DOUBLE_EQ(t.Fraction(), 0.5);
    t.SetFraction(0.125);
    EXPECT_DOUBLE_EQ(t - DT(DT::jul, 4, 2024, 3, 59, 1), 0.125);
}

TEST(DateTimeArithmetic, SecondsAndOperators) {
    double d = 123456789.25, e = 98765.5;
    EXPECT_EQ(DT(d) - DT(e), d - e);
    DT t(d);
    DT old = t++;
    EXPECT_EQ(old.FullDateTime(), d);
    EXPECT_EQ((t - 1).FullDateTime(), d);
    t += DT(e);
    EXPECT_EQ(t.FullDateTime(), d + e + 1);
    DT u = DT(DT::jan, 1, 2024);
    u.AddWeeks(1).AddDays(1).AddHours(1).AddMinutes(1).AddSeconds(1).AddTicks(0.5);
    EXPECT_EQ(u - DT(DT::jan, 1, 2024), 8 * 86400 + 3661.5);
}

TEST(DateTimeCalendar, ReformAndLeapYears) {
    EXPECT_EQ(DT::MakeDayNumber(DT::jan, 1, 1), 1u);
    EXPECT_EQ(DT::MakeDayNumber(DT::oct, 4, 1582), 577737u);
    EXPECT_EQ(DT::MakeDayNumber(DT::oct, 15, 1582), 577738u);
    EXPECT_EQ((DT(DT::oct, 4, 1582) + 86400).toString(), "00:00:00@10/15/1582");
    // Julian day 2451545 is 1 January 2000.
    EXPECT_EQ(DT::MakeDayNumber(DT::jan, 1, 2000), 2451545u - 1721423u);
    EXPECT_TRUE(DT::IsLeapYear(1500));
    EXPECT_FALSE(DT::IsLeapYear(1700));
    EXPECT_TRUE(DT::IsLeapYear(2000));
    EXPECT_EQ(DT::DaysInMonth(DT::oct, 1582), 21);
    EXPECT_EQ(DT::DaysInMonth(DT::feb, 1500), 29);
    EXPECT_EQ(DT::DaysInMonth(DT::feb, 1900), 28);
    EXPECT_EQ(DT::DaysInYear(1582), 355);
    EXPECT_EQ(DT::DaysInYear(2024), 366);
    EXPECT_EQ(DT::WeeksInYear(2023), 53);
    EXPECT_EQ(DT(DT::oct, 15, 1582).DayOfYear(), 278);
    EXPECT_EQ(DT(DT::dec, 31, 2024).DayOfYear(), 366);
}

TEST(DateTimeCalendar, Validity) {
    EXPECT_FALSE(DT::IsValid(DT::feb, 29, 2023));
    EXPECT_FALSE(DT::IsValid(DT::jan, 1, 0));
    EXPECT_TRUE(DT::IsValid(DT::oct, 4, 1582));
    EXPECT_FALSE(DT::IsValid(DT::oct, 10, 1582));  // skipped by the reform
    EXPECT_TRUE(DT::IsValid(DT::oct, 31, 1582));
    EXPECT_TRUE(DT::IsValid(23, 59, 59));
    EXPECT_FALSE(DT::IsValid(24, 0, 0));
    EXPECT_FALSE(DT::IsValid(DT::jan, 1, 2024, 0, 60, 0));
    // A skipped date moves to the first day after the gap.
    EXPECT_EQ(DT(DT::oct, 10, 1582), DT(DT::oct, 15, 1582));
}

// Every day from 1 January 1 to 31 December 9999: its date is the calendar
// successor of the previous day's and converts back to the same day number.
TEST(DateTimeCalendar, EveryDayNumberRoundTrips) {
    int y = 1, m = 1, d = 1;
    const unsigned long long last = DT::MAX.DayNumber();
    for (unsigned long long n = 1; n <= last; ++n) {
        DT t(n, 0, 0, 0);
        ASSERT_EQ(t.Year(), y) << n;
        ASSERT_EQ(t.Month(), m) << n;
        ASSERT_EQ(t.Day(), d) << n;
        ASSERT_EQ(DT::MakeDayNumber(m, d, y), n);
        if (y == 1582 && m == 10 && d == 4) {
            d = 15;
        } else if (d < (y == 1582 && m == 10 ? 31 : DT::DaysInMonth(m, y))) {
            ++d;
        } else {
            d = 1;
            if (++m > 12) {
                m = 1;
                ++y;
            }
        }
    }
    EXPECT_EQ(y, 10000);
}

TEST(DateTimeCalendar, Weekdays) {
    EXPECT_EQ(DT::MIN.DayOfWeek(), DT::sat);
    EXPECT_EQ(DT(DT::oct, 4, 1582).DayOfWeek(), DT::thu);
    EXPECT_EQ(DT(DT::oct, 15, 1582).DayOfWeek(), DT::fri);
    EXPECT_EQ(DT(DT::jan, 1, 2024).DayOfWeek(), DT::mon);
    EXPECT_EQ(DT(DT::jan, 6, 2024).WeekOfYear(), 1);
    EXPECT_EQ(DT(DT::jan, 7, 2024).WeekOfYear(), 2);
    // September 2024 starts on a Sunday: the Monday after is in week 2.
    EXPECT_EQ(DT(DT::sep, 1, 2024).WeekOfMonth(), 1);
    EXPECT_EQ(DT(DT::sep, 2, 2024).WeekOfMonth(), 2);
    EXPECT_EQ(DT(DT::sep, 30, 2024).WeekOfMonth(), 6);
}

TEST(DateTimeCalendar, NextWeekDay) {
    DT wed(DT::may, 15, 2024, 10, 0, 0);
    EXPECT_EQ(wed.NextWeekDay(DT::fri, 8, 0, 0), DT(DT::may, 17, 2024, 8, 0, 0));
    EXPECT_EQ(wed.NextWeekDay(DT::mon, 8, 0, 0), DT(DT::may, 20, 2024, 8, 0, 0));
    EXPECT_EQ(wed.NextWeekDay(DT::wed, 12, 0, 0), DT(DT::may, 15, 2024, 12, 0, 0));
    EXPECT_EQ(wed.NextWeekDay(DT::wed, 10, 0, 0), wed);
    EXPECT_EQ(wed.NextWeekDay(DT::wed, 9, 59, 59), DT(DT::may, 22, 2024, 9, 59, 59));
}

TEST(DateTimeCalendar, DaylightSavingRule) {
    EXPECT_EQ(DT::BeginDST(2024), DT(DT::apr, 7, 2024, 2, 0, 0));
    EXPECT_EQ(DT::EndDST(2024), DT(DT::oct, 27, 2024, 2, 0, 0));
    EXPECT_TRUE(DT(DT::apr, 7, 2024, 2, 0, 0).IsDST());
    EXPECT_FALSE(DT(DT::apr, 7, 2024, 1, 59, 59).IsDST());
    EXPECT_TRUE(DT::IsDST(DT(DT::oct, 27, 2024, 2, 0, 0)));
    EXPECT_FALSE(DT(DT::oct, 27, 2024, 2, 0, 1).IsDST());

    DT::SetBeginDST(DT::mar, DT::sun);
    DT::SetEndDST(DT::sep, DT::sun);
    EXPECT_EQ(DT::BeginDST(2024), DT(DT::mar, 3, 2024, 2, 0, 0));
    // 1 October 2023 is a Sunday; the last Sunday of September is the 24th.
    EXPECT_EQ(DT::EndDST(2023), DT(DT::sep, 24, 2023, 2, 0, 0));
    DT::SetBeginDST(DT::apr, DT::sun);
    DT::SetEndDST(DT::oct, DT::sun);
}

TEST(DateTimeCalendar, MoonPhaseAndEaster) {
    EXPECT_EQ(DT(DT::jan, 11, 2024, 18, 0, 0).MoonPhase(), DT::waning_crescent);
    EXPECT_EQ(DT::MoonPhase(DT(DT::jan, 25, 2024)), DT::waxing_gibbous);
    EXPECT_EQ(DT::MoonPhase(DT(DT::jan, 1, 2000)), DT::third_quater);
    EXPECT_EQ(DT::Easter(2024), DT(DT::mar, 31, 2024));
    EXPECT_EQ(DT::Easter(2000), DT(DT::apr, 23, 2000));
    EXPECT_EQ(DT::Easter(1818), DT(DT::mar, 22, 1818));
    EXPECT_EQ(DT(DT::jun, 1, 2019, 12, 0, 0).Easter(), DT(DT::apr, 21, 2019));
}

TEST(DateTimeCalendar, Age) {
    DT born(DT::mar, 15, 1990);
    EXPECT_EQ(DT(DT::mar, 14, 2024).Age(born), 33);
    EXPECT_EQ(DT(DT::mar, 15, 2024).Age(born), 34);
    EXPECT_EQ(DT(DT::feb, 28, 2024).Age(born), 33);
}

TEST(DateTimeCalendar, AddMonthsSpillsForwardAndFoldsBack) {
    DT t = DT(DT::jan, 31, 2023, 6, 30, 0) + 0.25;
    EXPECT_EQ(DT(t).AddMonths(1), DT(DT::mar, 3, 2023, 6, 30, 0) + 0.25);
    EXPECT_EQ(DT(DT::jan, 31, 2024).AddMonths(1), DT(DT::mar, 2, 2024));
    EXPECT_EQ(DT(DT::mar, 31, 2023).AddMonths(-1), DT(DT::feb, 25, 2023));
    EXPECT_EQ(DT(DT::nov, 15, 2023).AddMonths(3), DT(DT::feb, 15, 2024));
    EXPECT_EQ(DT(DT::feb, 15, 2024).AddMonths(-14), DT(DT::dec, 15, 2022));
    EXPECT_EQ(DT(DT::dec, 31, 2023).AddMonths(11), DT(DT::dec, 1, 2024));
    // October 1582 has dates up to the 31st, none from the 5th to the 14th.
    EXPECT_EQ(DT(DT::nov, 25, 1582).AddMonths(-1), DT(DT::oct, 25, 1582));
    EXPECT_EQ(DT(DT::sep, 10, 1582).AddMonths(1), DT(DT::oct, 15, 1582));
}

TEST(DateTimeCalendar, AddYearsKeepsMonthAndDay) {
    EXPECT_EQ(DT(DT::jan, 1, 2024, 8, 0, 0).AddYears(1), DT(DT::jan, 1, 2025, 8, 0, 0));
    EXPECT_EQ(DT(DT::mar, 1, 2024).AddYears(-1), DT(DT::mar, 1, 2023));
    EXPECT_EQ(DT(DT::feb, 29, 2024).AddYears(1), DT(DT::feb, 28, 2025));
    EXPECT_EQ(DT(DT::feb, 29, 2024).AddYears(4), DT(DT::feb, 29, 2028));
    EXPECT_EQ(DT(DT::dec, 31, 1999).AddYears(-1000), DT(DT::dec, 31, 999));
}

TEST(DateTimeCalendar, NextWorktime) {
    EXPECT_EQ(DT(DT::jan, 1, 2024, 10, 0, 0).NextWorktime(7, 17), 0.0);   // Monday
    EXPECT_EQ(DT(DT::jan, 1, 2024, 5, 0, 0).NextWorktime(7, 17), 7200.0);
    EXPECT_EQ(DT(DT::jan, 5, 2024, 18, 0, 0).NextWorktime(7, 17), 61 * 3600.0);  // Friday
    EXPECT_EQ(DT(DT::jan, 6, 2024, 20, 0, 0).NextWorktime(7, 17), 35 * 3600.0);  // Saturday
    EXPECT_EQ(DT(DT::jan, 7, 2024, 10, 0, 0).NextWorktime(7, 17), 21 * 3600.0);  // Sunday
    // Saturday counts as working time when the first bound exceeds 6.
    EXPECT_EQ(DT(DT::jan, 6, 2024, 10, 0, 0).NextWorktime(7, 17), 0.0);
}

TEST(DateTimeClock, TodayIsTheLocalTimeToTheSecond) {
    time_t before = time(nullptr);
    DT today = DT::Today();
    time_t after = time(nullptr);
    tm b, a;
    localtime_r(&before, &b);
    localtime_r(&after, &a);
    EXPECT_LE(DT(&b), today);
    EXPECT_LE(today, DT(&a));
    EXPECT_EQ(today.Fraction(), 0.0);
}
