#include "script/LocalTime.h"

#include <cmath>
#include <cstdio>
#include <ctime>

#include "core/OleDates.h"

namespace script {

namespace {

using host::kMsPerDay;
using host::kOleEpochDays;

constexpr const char* kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Days since 1970-01-01 of a civil date, and back (Gregorian, any year).
long long DaysFromCivil(long long y, int m, int d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yearOfEra = y - era * 400;
    const long long dayOfYear = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

void CivilFromDays(long long z, long long* year, int* month, int* day) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long dayOfEra = z - era * 146097;
    const long long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long mp = (5 * dayOfYear + 2) / 153;
    *day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    *year = yearOfEra + era * 400 + (*month <= 2);
}

}  // namespace

double LocalOffsetMs(double utcMs) {
    if (!std::isfinite(utcMs)) return 0;
    const time_t seconds = static_cast<time_t>(std::floor(utcMs / 1000));
    std::tm local{};
    if (!localtime_r(&seconds, &local)) return 0;
    return local.tm_gmtoff * 1000.0;
}

double UtcFromLocalMs(double localMs) {
    const double guess = localMs - LocalOffsetMs(localMs);
    return localMs - LocalOffsetMs(guess);
}

double OleDateFromMs(double utcMs) { return (utcMs + LocalOffsetMs(utcMs)) / kMsPerDay + kOleEpochDays; }

double MsFromOleDate(double date) { return std::round(UtcFromLocalMs((date - kOleEpochDays) * kMsPerDay)); }

CalendarParts PartsOf(double ms) {
    CalendarParts parts{};
    const double days = std::floor(ms / kMsPerDay);
    long long sinceMidnight = static_cast<long long>(ms - days * kMsPerDay);
    CivilFromDays(static_cast<long long>(days), &parts.year, &parts.month, &parts.day);
    parts.weekday = static_cast<int>(((static_cast<long long>(days) % 7) + 11) % 7);  // 1970-01-01 was a Thursday
    parts.millisecond = static_cast<int>(sinceMidnight % 1000);
    sinceMidnight /= 1000;
    parts.second = static_cast<int>(sinceMidnight % 60);
    parts.minute = static_cast<int>(sinceMidnight / 60 % 60);
    parts.hour = static_cast<int>(sinceMidnight / 3600);
    return parts;
}

double MsOf(long long year, int month, int day, int hour, int minute, double second) {
    year += (month - 1) / 12 - ((month - 1) % 12 < 0 ? 1 : 0);
    month = ((month - 1) % 12 + 12) % 12 + 1;
    return static_cast<double>(DaysFromCivil(year, month, 1) + day - 1) * kMsPerDay +
           ((hour * 60.0 + minute) * 60.0 + second) * 1000.0;
}

std::string HttpDate(double utcMs) {
    const CalendarParts p = PartsOf(utcMs);
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04lld %02d:%02d:%02d GMT", kDayNames[p.weekday], p.day,
                  kMonthNames[p.month - 1], p.year, p.hour, p.minute, p.second);
    return text;
}

}  // namespace script
