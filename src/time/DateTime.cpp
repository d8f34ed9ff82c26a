#include "time/DateTime.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string_view>

namespace {

constexpr int kDaysBeforeMonth[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};

// Days up to and including 31 December 1582 in the count that still numbers
// the ten skipped dates of October 1582.
constexpr long long kJulianDaysThrough1582 = 365LL * 1582 + 1582 / 4;

long long floorDiv(long long a, long long b) {
    long long q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

// Weekday of a day number: day 1 (1 January of year 1) is a Saturday.
DateTime::week_day weekDayOf(unsigned long long dayNumber) {
    int r = static_cast<int>((dayNumber % 7 + 5) % 7);
    return r == 0 ? DateTime::sun : static_cast<DateTime::week_day>(r);
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// atoi of the `len` characters of `text` from `pos`.
int fieldValue(const char* text, std::size_t pos, std::size_t len) {
    char field[5] = {0, 0, 0, 0, 0};
    std::memcpy(field, text + pos, len);
    return std::atoi(field);
}

// Writes `value` with at least `width` digits (leading zeros) at `out`;
// returns the number of characters written.
std::size_t putNumber(char* out, long long value, std::size_t width) {
    char digits[24];
    std::size_t n = 0;
    bool negative = value < 0;
    unsigned long long v = negative ? 0ULL - static_cast<unsigned long long>(value)
                                    : static_cast<unsigned long long>(value);
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    std::size_t k = 0;
    if (negative) out[k++] = '-';
    for (std::size_t i = n; i < width; ++i) out[k++] = '0';
    while (n > 0) out[k++] = digits[--n];
    return k;
}

} // namespace

// --- construction ------------------------------------------------------------

DateTime::DateTime(month m, int day, int year, int hour, int minute, int second) {
    Set(m, day, year, hour, minute, second);
}

DateTime::DateTime(month m, int day, int year) {
    Set(m, day, year, 0, 0, 0);
}

DateTime::DateTime(int dayOfYear, int year, int hour, int minute, int second) {
    Set(dec, 31, year - 1, hour, minute, second);
    m_ticks += dayOfYear * 86400.0;
}

DateTime::DateTime(int dayOfYear, int year) : DateTime(dayOfYear, year, 0, 0, 0) {}

DateTime::DateTime(unsigned long long dayNumber, int hour, int minute, int second)
    : m_ticks(static_cast<double>(dayNumber) * 86400.0 + hour * 3600.0 + minute * 60.0 +
              second) {}

DateTime::DateTime(unsigned long long seconds) : m_ticks(static_cast<double>(seconds)) {}

DateTime::DateTime(const tm* t) : m_ticks(86400.0) {
    if (t != nullptr)
        Set(static_cast<month>(t->tm_mon + 1), t->tm_mday, t->tm_year + 1900, t->tm_hour,
            t->tm_min, t->tm_sec);
}

DateTime::DateTime(const char* text) : m_ticks(86400.0) {
    // Copy at most the 19 characters of the pattern so a short text is
    // never read past its end.
    char buf[20] = {};
    if (text != nullptr) {
        for (std::size_t i = 0; i < 19 && text[i] != '\0'; ++i) buf[i] = text[i];
    }
    Set(static_cast<month>(fieldValue(buf, 9, 2)), fieldValue(buf, 12, 2),
        fieldValue(buf, 15, 4), fieldValue(buf, 0, 2), fieldValue(buf, 3, 2),
        fieldValue(buf, 6, 2));
}

DateTime::DateTime(const std::string& text) : DateTime(text.c_str()) {}

void DateTime::Set(month m, int day, int year, int hour, int minute, int second) {
    m_ticks = static_cast<double>(MakeDayNumber(m, day, year)) * 86400.0 + hour * 3600.0 +
              minute * 60.0 + second;
}

void DateTime::Set(month m, int day, int year, int hour, int minute, int second,
                   double fraction) {
    Set(m, day, year, hour, minute, second);
    m_ticks += fraction;
}

// --- text form -------------------------------------------------------------------

bool DateTime::Check(const std::string& text) {
    if (text.size() != 19) return false;
    const char* s = text.data();
    if (s[2] != ':' || s[5] != ':' || s[8] != '@' || s[11] != '/' || s[14] != '/')
        return false;
    auto twoDigits = [s](std::size_t pos, int lo, int hi) {
        if (!isDigit(s[pos]) || !isDigit(s[pos + 1])) return false;
        int v = fieldValue(s, pos, 2);
        return v >= lo && v <= hi;
    };
    if (!twoDigits(0, 0, 24)) return false;   // hour; 24 carries into the next day
    if (!twoDigits(3, 0, 60)) return false;   // minute
    if (!twoDigits(6, 0, 60)) return false;   // second
    if (!twoDigits(9, 1, 12)) return false;   // month
    if (!twoDigits(12, 1, 31)) return false;  // day, not checked against the month
    if (!isDigit(s[15]) || !isDigit(s[16])) return false;
    int year = fieldValue(s, 15, 4);
    return year >= 0 && year <= 2038;
}

std::size_t DateTime::format(char* buf, std::size_t size) const {
    // 2+1+2+1+2+1+2+1+2+1 characters plus a year of at most 11.
    char tmp[32];
    Civil c = civil();
    std::size_t k = 0;
    k += putNumber(tmp + k, Hour(), 2);
    tmp[k++] = ':';
    k += putNumber(tmp + k, Minute(), 2);
    tmp[k++] = ':';
    k += putNumber(tmp + k, Second(), 2);
    tmp[k++] = '@';
    k += putNumber(tmp + k, c.month, 2);
    tmp[k++] = '/';
    k += putNumber(tmp + k, c.day, 2);
    tmp[k++] = '/';
    k += putNumber(tmp + k, c.year, 4);
    if (k > size) k = size;
    std::memcpy(buf, tmp, k);
    return k;
}

std::string DateTime::toString() const {
    char buf[32];
    std::size_t n = format(buf, sizeof buf);
    return std::string(buf, n);
}

std::ostream& operator<<(std::ostream& os, const DateTime& t) {
    char buf[32];
    std::size_t n = t.format(buf, sizeof buf);
    return os << std::string_view(buf, n);
}

// --- fields --------------------------------------------------------------------------

unsigned long long DateTime::FullSeconds() const {
    // Negative values (and NaN) are not meant; they read as 0 instead of
    // taking an undefined conversion.
    if (!(m_ticks > 0.0)) return 0;
    if (m_ticks >= 18446744073709551616.0) return ULLONG_MAX;
    return static_cast<unsigned long long>(m_ticks);
}

double DateTime::Fraction() const {
    double whole;
    return std::modf(m_ticks, &whole);
}

// Inverse of MakeDayNumber in constant time: the ten skipped days are put
// back, then the year is found by whole 4-year (Julian) or 400/100/4-year
// (Gregorian) cycles, then the month from the cumulative month lengths.
DateTime::Civil DateTime::civilFromDayNumber(unsigned long long dayNumber) {
    long long n = static_cast<long long>(dayNumber > ReformDayNumber ? dayNumber + 10
                                                                     : dayNumber);
    long long year;
    long long dayOfYear;  // 1-based
    if (n <= kJulianDaysThrough1582) {
        long long n0 = n - 1;
        long long q = floorDiv(n0, 1461);
        long long r = n0 - q * 1461;
        long long yoff = r / 365;
        if (yoff > 3) yoff = 3;
        year = 4 * q + yoff + 1;
        dayOfYear = r - 365 * yoff + 1;
    } else {
        // From 1583 on the count runs 12 days ahead of the plain Gregorian one.
        long long n0 = n - 12 - 1;
        long long q400 = n0 / 146097;
        long long r = n0 % 146097;
        long long c = r / 36524;
        if (c > 3) c = 3;
        r -= c * 36524;
        long long q4 = r / 1461;
        r %= 1461;
        long long yy = r / 365;
        if (yy > 3) yy = 3;
        r -= yy * 365;
        year = 400 * q400 + 100 * c + 4 * q4 + yy + 1;
        dayOfYear = r + 1;
    }
    bool leap = year % 4 == 0 && (year <= 1581 || year % 100 != 0 || year % 400 == 0);
    auto monthStart = [leap](int k) {  // days before month k (0-based)
        return kDaysBeforeMonth[k] + (leap && k >= 2 ? 1 : 0);
    };
    int k = static_cast<int>((dayOfYear - 1) / 31);
    while (k < 11 && dayOfYear > monthStart(k + 1)) ++k;
    Civil result;
    result.year = static_cast<int>(year);
    result.month = k + 1;
    result.day = static_cast<int>(dayOfYear - monthStart(k));
    return result;
}

int DateTime::Year() const { return civil().year; }
int DateTime::Month() const { return civil().month; }
int DateTime::Day() const { return civil().day; }

char DateTime::operator[](int i) const {
    switch (i) {
    case 0: return static_cast<char>(Month());
    case 1: return static_cast<char>(Day());
    case 2: return static_cast<char>(Year() - 1900);
    case 3: return static_cast<char>(Hour());
    case 4: return static_cast<char>(Minute());
    case 5: return static_cast<char>(Second());
    default: return -1;
    }
}

// --- arithmetic by calendar units --------------------------------------------------

DateTime& DateTime::AddMonths(int n) {
    Civil c = civil();
    double timeOfDay = m_ticks - static_cast<double>(DayNumber()) * 86400.0;
    long long index = static_cast<long long>(c.month) - 1 + n;
    long long yearShift = floorDiv(index, 12);
    int m = static_cast<int>(index - yearShift * 12) + 1;
    int y = static_cast<int>(c.year + yearShift);
    int d = c.day;
    int g = lastDateOfMonth(m, y);
    if (d > g) {
        if (n >= 0) {
            d -= g;
            if (++m > 12) {
                m = 1;
                ++y;
            }
        } else {
            d = g - (d - g);
        }
    }
    m_ticks = static_cast<double>(MakeDayNumber(m, d, y)) * 86400.0 + timeOfDay;
    return *this;
}

DateTime& DateTime::AddYears(int n) {
    if (n == 0) return *this;
    // The same month and day n years on; 29 February becomes 28 February in
    // a year without it.
    Civil c = civil();
    double timeOfDay = m_ticks - static_cast<double>(DayNumber()) * 86400.0;
    int y = c.year + n;
    int d = c.day;
    if (c.month == feb && d == 29 && !IsLeapYear(y)) d = 28;
    m_ticks = static_cast<double>(MakeDayNumber(c.month, d, y)) * 86400.0 + timeOfDay;
    return *this;
}

DateTime DateTime::Today() {
    time_t now = time(nullptr);
    tm local;
    if (localtime_r(&now, &local) == nullptr) return DateTime();
    return DateTime(&local);
}

// --- calendar -------------------------------------------------------------------------

int DateTime::lastDateOfMonth(int m, int year) {
    if (m == ReformMonth && year == ReformYear) return 31;
    return DaysInMonth(m, year);
}

int DateTime::DaysInMonth() const {
    Civil c = civil();
    return DaysInMonth(c.month, c.year);
}

bool DateTime::IsValid(month m, int day, int year) {
    if (year <= 0 || m < jan || m > dec) return false;
    if (day < 1 || day > lastDateOfMonth(m, year)) return false;
    // 5-14 October 1582 were skipped by the calendar reform.
    return !(year == ReformYear && m == ReformMonth && day >= 5 && day <= 14);
}

bool DateTime::IsValid(int hour, int minute, int second) {
    return hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 &&
           second <= 59;
}

bool DateTime::IsValid(month m, int day, int year, int hour, int minute, int second) {
    return IsValid(m, day, year) && IsValid(hour, minute, second);
}

bool DateTime::IsValid() const {
    Civil c = civil();
    return IsValid(static_cast<month>(c.month), c.day, c.year, Hour(), Minute(), Second());
}

int DateTime::DayOfYear() const {
    Civil c = civil();
    return static_cast<int>(DayNumber() - MakeDayNumber(jan, 1, c.year)) + 1;
}

DateTime::week_day DateTime::DayOfWeek() const { return weekDayOf(DayNumber()); }

int DateTime::WeekOfMonth() const {
    Civil c = civil();
    int first = weekDayOf(MakeDayNumber(c.month, 1, c.year));
    return (c.day + first - 1 - DayOfWeek()) / 7 + 1;
}

DateTime DateTime::NextWeekDay(week_day wd, int hour, int minute, int second) const {
    DateTime result(*this);
    result.SetHour(hour);
    result.SetMinute(minute);
    result.SetSecond(second);
    // A weekday outside mon-sun can never be reached; only the time is set.
    if (wd < mon || wd > sun) return result;
    double wanted = hour * 3600.0 + minute * 60.0 + second;
    double current = m_ticks - static_cast<double>(DayNumber()) * 86400.0;
    if (DayOfWeek() == wd && wanted < std::floor(current)) result.AddDays(1);
    int ahead = (wd - result.DayOfWeek() + 7) % 7;
    result.AddDays(ahead);
    return result;
}

DateTime DateTime::BeginDST(int year) {
    unsigned long long day = MakeDayNumber(BeginDSTMonth, 1, year);
    if (BeginDSTDay >= mon && BeginDSTDay <= sun)
        day += static_cast<unsigned long long>((BeginDSTDay - weekDayOf(day) + 7) % 7);
    return DateTime(day, 2, 0, 0);
}

DateTime DateTime::EndDST(int year) {
    // The last day of the month, so that a 30-day month is not overrun.
    unsigned long long day =
        MakeDayNumber(EndDSTMonth, lastDateOfMonth(EndDSTMonth, year), year);
    if (EndDSTDay >= mon && EndDSTDay <= sun)
        day -= static_cast<unsigned long long>((weekDayOf(day) - EndDSTDay + 7) % 7);
    return DateTime(day, 2, 0, 0);
}

bool DateTime::IsDST(const DateTime& t) {
    int year = t.Year();
    return BeginDST(year) <= t && t <= EndDST(year);
}

DateTime::moon_phase DateTime::MoonPhase(const DateTime& t) {
    unsigned long long n = t.DayNumber();
    return static_cast<moon_phase>(((n * 9693) / 35780 - 4) & 7);
}

DateTime DateTime::Easter(int year) {
    int G = year % 19;
    int K = year / 100;
    int H = (K - K / 4 - (K - (K - 17) / 25) / 3 + 19 * G + 15) % 30;
    int I = H - (H / 28) * (1 - (H / 28) * (29 / (H + 1)) * ((21 - G) / 11));
    int J = (year + year / 4 + I + 2 - K + K / 4) % 7;
    int L = I - J;
    int m = 3 + (L + 40) / 44;
    int d = L + 28 - 31 * (m / 4);
    return DateTime(static_cast<month>(m), d, year);
}

int DateTime::Age(const DateTime& other) const {
    Civil mine = civil();
    Civil theirs = other.civil();
    int age = mine.year - theirs.year;
    bool birthdayReached =
        theirs.month < mine.month || (theirs.month == mine.month && mine.day >= theirs.day);
    return birthdayReached ? age : age - 1;
}

double DateTime::NextWorktime(int a, int b) const {
    int hour = Hour();
    if (DayOfWeek() < a && a <= hour && hour <= b) return 0.0;
    unsigned long long day = DayNumber();
    if (hour > 6) ++day;
    week_day wd = weekDayOf(day);
    if (wd == sat) day += 2;
    else if (wd == sun) day += 1;
    return static_cast<double>(day) * 86400.0 + 7 * 3600.0 - m_ticks;
}
