// Time as pages see it: the server's local time, OLE dates (VT_DATE: days
// since 1899-12-30 in local time) and the calendar parts of a moment.
#pragma once

#include <string>

namespace script {

// The local zone's offset from UTC at the UTC moment `utcMs`, in ms.
double LocalOffsetMs(double utcMs);
// The UTC moment of local time `localMs` (ms since 1970 as if local were UTC).
double UtcFromLocalMs(double localMs);

// VT_DATE and back. An OLE date holds microseconds, a script date whole
// milliseconds: the way back rounds to the millisecond, so that a date
// kept in Session or Application comes back exactly as it went.
double OleDateFromMs(double utcMs);
double MsFromOleDate(double date);

// The calendar parts of ms since 1970 (proleptic Gregorian, any year).
struct CalendarParts {
    long long year;
    int month;    // 1-12
    int day;      // 1-31
    int weekday;  // 0 Sunday
    int hour, minute, second, millisecond;
};
CalendarParts PartsOf(double ms);
// Ms since 1970 of a calendar date and time; month 1-12, any values carried.
double MsOf(long long year, int month, int day, int hour, int minute, double second);

// The date an HTTP header or a cookie names: "Thu, 15 Jul 2021 10:30:05 GMT".
std::string HttpDate(double utcMs);

}  // namespace script
