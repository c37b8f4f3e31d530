// The locales a page may name by LCID (Session.LCID, Response.LCID), with
// what a page language needs to write numbers, money and dates the way
// each locale reads them. The default is 1033 (English, United States),
// the locale classic servers run pages in unless told otherwise.
#pragma once

#include <string>

#include "platform/OleAuto.h"

namespace script {

enum class DateOrder { MonthDayYear, DayMonthYear, YearMonthDay };

struct Locale {
    LCID id;
    const char* tag;               // as browsers name it: "en-US"
    const char* decimalSeparator;  // UTF-8, as the other texts
    const char* groupSeparator;    // between groups of three digits
    DateOrder shortDateOrder;
    const char* dateSeparator;
    const char* currencySymbol;
};

constexpr LCID kDefaultLcid = 1033;

// The locale of `lcid`; null for one this server does not know.
const Locale* FindLocale(LONG lcid);

// What a page gives CodePage (Response, Session) or LCID: "" when the
// server takes it (with the number in *value), else why not.
std::string CodePageRefusal(const VARIANT* given, LONG* value);
std::string LcidRefusal(const VARIANT* given, LONG* value);

}  // namespace script
