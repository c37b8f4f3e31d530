// The texts of dates in JScript's forms, written and read, in the
// server's local time zone.
#pragma once

#include <string>

namespace script {

enum class DateText { Full, DateOnly, TimeOnly, Utc, Locale, LocaleDate, LocaleTime };

// The text of the moment `utcMs` as the Date method of `kind` gives it:
// toString, toDateString, toTimeString, toUTCString, toLocaleString,
// toLocaleDateString, toLocaleTimeString ("NaN" for no date).
std::string FormatJScriptDate(double utcMs, DateText kind);
// String(date): what Response.Write writes for a date.
std::string JScriptDateText(double utcMs);

// The UTC ms of a text in one of the forms JScript reads: "Jan 5, 1996
// 08:47:00", "7/20/96" (month/day/year), "Thu, 15 Jul 2021 10:30:05 GMT",
// "November 1, 1997 10:15 PM", names cut to two letters, comments in
// parentheses; local time unless a zone is named. NaN when it is none.
double ParseJScriptDate(const std::string& text);

}  // namespace script
