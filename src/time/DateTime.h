#pragma once
// Simulation time: one double of seconds since the start of day number 0,
// read through a calendar whose day 1 is 1 January of year 1. Days are
// counted in the Julian calendar up to 4 October 1582 and in the Gregorian
// calendar from 15 October 1582 on; the ten dates in between do not exist.
#include <cstddef>
#include <ctime>
#include <iosfwd>
#include <string>

// Durations (delays, differences of two times) are plain seconds.
typedef double Seconds_T;

class DateTime {
public:
    enum month { jan = 1, feb, mar, apr, may, jun, jul, aug, sep, oct, nov, dec };
    enum week_day { mon = 1, tue, wed, thu, fri, sat, sun };
    enum moon_phase {
        new_moon = 0, waxing_crescent, first_quater, waxing_gibbous,
        full_moon, waning_gibbous, third_quater, waning_crescent
    };

    static constexpr int ReformYear = 1582;
    static constexpr month ReformMonth = oct;
    // The last Julian day, 4 October 1582; the next day is 15 October 1582.
    static constexpr unsigned long long ReformDayNumber = 577737;

    // 1 January of year 1, 00:00:00 and 31 December 9999, 00:00:00. Both are
    // constant-initialised, so static objects of other files may use them.
    static const DateTime MIN;
    static const DateTime MAX;

    // The daylight-saving rule, shared by all values: it begins on the first
    // BeginDSTDay of BeginDSTMonth and ends on the last EndDSTDay of
    // EndDSTMonth, at 02:00:00 each.
    static inline month BeginDSTMonth = apr;
    static inline week_day BeginDSTDay = sun;
    static inline month EndDSTMonth = oct;
    static inline week_day EndDSTDay = sun;

    // --- construction -----------------------------------------------------
    constexpr DateTime() : m_ticks(86400.0) {}
    DateTime(month m, int day, int year, int hour, int minute, int second);
    DateTime(month m, int day, int year);
    // Day of the year `dayOfYear` (1 = 1 January) of `year`.
    DateTime(int dayOfYear, int year, int hour, int minute, int second);
    DateTime(int dayOfYear, int year);
    DateTime(unsigned long long dayNumber, int hour, int minute, int second);
    // A count of seconds.
    DateTime(unsigned long long seconds);
    constexpr DateTime(double seconds) : m_ticks(seconds) {}
    // From a calendar record; a null pointer gives DateTime().
    DateTime(const tm* t);
    // From the text "hh:mm:ss@mm/dd/yyyy". The text is not checked (run
    // Check first); a shorter text reads as if padded with NULs.
    DateTime(const char* text);
    DateTime(const std::string& text);

    void Set(month m, int day, int year, int hour, int minute, int second);
    void Set(month m, int day, int year, int hour, int minute, int second, double fraction);
    void SetDate(const DateTime& other) { m_ticks = other.m_ticks; }

    // --- text form ----------------------------------------------------------
    // True when `text` is an acceptable "hh:mm:ss@mm/dd/yyyy".
    static bool Check(const std::string& text);
    std::string toString() const;
    friend std::ostream& operator<<(std::ostream& os, const DateTime& t);

    // --- fields ---------------------------------------------------------------
    // Whole seconds; 0 for negative values, saturated for huge ones.
    unsigned long long FullSeconds() const;
    operator long() const { return static_cast<long>(FullSeconds()); }
    constexpr double FullDateTime() const { return m_ticks; }
    operator double() const { return m_ticks; }
    unsigned long long DayNumber() const { return FullSeconds() / 86400; }
    int Hour() const { return static_cast<int>((FullSeconds() / 3600) % 24); }
    int Minute() const { return static_cast<int>((FullSeconds() / 60) % 60); }
    int Second() const { return static_cast<int>(FullSeconds() % 60); }
    double Fraction() const;
    int Year() const;
    int Month() const;
    int Day() const;
    // 0: month, 1: day, 2: year - 1900, 3: hour, 4: minute, 5: second; else -1.
    char operator[](int i) const;

    void SetHour(int h) { m_ticks += (h - Hour()) * 3600.0; }
    void SetMinute(int m) { m_ticks += (m - Minute()) * 60.0; }
    void SetSecond(int s) { m_ticks += static_cast<double>(s - Second()); }
    void SetFraction(double f) { m_ticks = m_ticks - Fraction() + f; }

    // --- arithmetic (int and double operands are seconds) --------------------
    DateTime operator+(int s) const { return DateTime(m_ticks + s); }
    DateTime operator+(double s) const { return DateTime(m_ticks + s); }
    DateTime operator-(int s) const { return DateTime(m_ticks - s); }
    DateTime operator-(double s) const { return DateTime(m_ticks - s); }
    double operator-(const DateTime& other) const { return m_ticks - other.m_ticks; }
    DateTime& operator+=(int s) { m_ticks += s; return *this; }
    DateTime& operator+=(double s) { m_ticks += s; return *this; }
    DateTime& operator+=(const DateTime& t) { m_ticks += t.m_ticks; return *this; }
    DateTime& operator-=(int s) { m_ticks -= s; return *this; }
    DateTime& operator-=(double s) { m_ticks -= s; return *this; }
    DateTime& operator-=(const DateTime& t) { m_ticks -= t.m_ticks; return *this; }
    DateTime& operator++() { m_ticks += 1.0; return *this; }
    DateTime& operator--() { m_ticks -= 1.0; return *this; }
    DateTime operator++(int) { DateTime old(*this); m_ticks += 1.0; return old; }
    DateTime operator--(int) { DateTime old(*this); m_ticks -= 1.0; return old; }

    DateTime& AddTicks(double s) { m_ticks += s; return *this; }
    DateTime& AddSeconds(double n) { m_ticks += n; return *this; }
    DateTime& AddMinutes(double n) { m_ticks += 60.0 * n; return *this; }
    DateTime& AddHours(double n) { m_ticks += 3600.0 * n; return *this; }
    DateTime& AddDays(double n) { m_ticks += 86400.0 * n; return *this; }
    DateTime& AddWeeks(double n) { m_ticks += 7.0 * 86400.0 * n; return *this; }
    DateTime& AddMonths(int n);
    DateTime& AddYears(int n);

    bool operator==(const DateTime& t) const { return m_ticks == t.m_ticks; }
    bool operator!=(const DateTime& t) const { return !(*this == t); }
    bool operator<(const DateTime& t) const { return m_ticks < t.m_ticks; }
    bool operator<=(const DateTime& t) const { return m_ticks <= t.m_ticks; }
    bool operator>(const DateTime& t) const { return m_ticks > t.m_ticks; }
    bool operator>=(const DateTime& t) const { return m_ticks >= t.m_ticks; }

    // Current local wall-clock time to the second.
    static DateTime Today();

    // --- calendar ---------------------------------------------------------------
    static constexpr unsigned long long MakeDayNumber(int m, int day, int year);
    static constexpr bool IsLeapYear(int year);
    bool IsLeapYear() const { return IsLeapYear(Year()); }
    // Number of dates of the month (October 1582: 21); 0 for a month outside 1-12.
    static constexpr int DaysInMonth(int m, int year);
    int DaysInMonth() const;
    static constexpr int DaysInYear(int year);
    int DaysInYear() const { return DaysInYear(Year()); }
    static bool IsValid(month m, int day, int year);
    static bool IsValid(int hour, int minute, int second);
    static bool IsValid(month m, int day, int year, int hour, int minute, int second);
    bool IsValid() const;
    int DayOfYear() const;
    week_day DayOfWeek() const;
    int WeekOfYear() const { return DayOfYear() / 7 + 1; }
    static int WeeksInYear(int year) { return DaysInYear(year) / 7 + 1; }
    int WeeksInYear() const { return WeeksInYear(Year()); }
    int WeekOfMonth() const;
    // The next time of day hour:minute:second that falls on weekday `wd`.
    DateTime NextWeekDay(week_day wd, int hour, int minute, int second) const;
    static DateTime BeginDST(int year);
    static DateTime EndDST(int year);
    DateTime BeginDST() const { return BeginDST(Year()); }
    DateTime EndDST() const { return EndDST(Year()); }
    static bool IsDST(const DateTime& t);
    bool IsDST() const { return IsDST(*this); }
    static void SetBeginDST(month m, week_day wd) { BeginDSTMonth = m; BeginDSTDay = wd; }
    static void SetEndDST(month m, week_day wd) { EndDSTMonth = m; EndDSTDay = wd; }
    static moon_phase MoonPhase(const DateTime& t);
    moon_phase MoonPhase() const { return MoonPhase(*this); }
    // Easter Sunday (Gregorian reckoning) at 00:00:00.
    static DateTime Easter(int year);
    DateTime Easter() const { return Easter(Year()); }
    // Whole years from `other` to this value.
    int Age(const DateTime& other) const;
    // Seconds until the next working start (07:00 on a weekday), 0 while working.
    double NextWorktime(int a, int b) const;

private:
    struct Civil { int year; int month; int day; };
    static Civil civilFromDayNumber(unsigned long long dayNumber);
    Civil civil() const { return civilFromDayNumber(DayNumber()); }
    // Highest date of the month: the length, except 31 for October 1582.
    static int lastDateOfMonth(int m, int year);
    // Writes the text form into `buf` and returns its length.
    std::size_t format(char* buf, std::size_t size) const;

    double m_ticks;
};

inline constexpr DateTime DateTime::MIN{86400.0};

constexpr bool DateTime::IsLeapYear(int year) {
    if (year % 4 != 0) return false;
    if (year <= 1581) return true;
    return year % 100 != 0 || year % 400 == 0;
}

constexpr int DateTime::DaysInMonth(int m, int year) {
    constexpr int lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m < 1 || m > 12) return 0;
    if (m == 2 && IsLeapYear(year)) return 29;
    if (m == ReformMonth && year == ReformYear) return 21;
    return lengths[m - 1];
}

constexpr int DateTime::DaysInYear(int year) {
    if (year == ReformYear) return 355;
    return IsLeapYear(year) ? 366 : 365;
}

// The date is counted in a calendar that still numbers 5-14 October 1582,
// and the ten skipped days are taken out at the end. A month outside 1-12 is
// folded into the year; days beyond the month carry on linearly. Dates in
// the gap 5-14 October 1582 give 15 October 1582; dates before day 0 give 0.
constexpr unsigned long long DateTime::MakeDayNumber(int m, int day, int year) {
    constexpr int before[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    long long y = year;
    long long mi = static_cast<long long>(m) - 1;
    y += mi >= 0 ? mi / 12 : -((11 - mi) / 12);
    mi -= (y - year) * 12;
    long long p = y - 1;
    // Floor division keeps year 0 (a leap year here) 366 days long.
    long long n = 365 * p + (p >= 0 ? p / 4 : -((3 - p) / 4));
    if (p > 1582) n += -p / 100 + p / 400 + 12;
    n += before[mi];
    // The leap day of the year just reached; in the count used here
    // 1582 keeps all 31 dates of October.
    if (mi >= 2 && y % 4 == 0 && (y <= 1581 || y % 100 != 0 || y % 400 == 0)) ++n;
    n += day;
    if (n > static_cast<long long>(ReformDayNumber)) {
        n -= 10;
        if (n < static_cast<long long>(ReformDayNumber) + 1)
            n = static_cast<long long>(ReformDayNumber) + 1;
    }
    return n < 0 ? 0 : static_cast<unsigned long long>(n);
}

inline constexpr DateTime DateTime::MAX{
    static_cast<double>(DateTime::MakeDayNumber(DateTime::dec, 31, 9999)) * 86400.0};
