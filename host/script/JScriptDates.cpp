#include "script/JScriptDates.h"

#include <cmath>
#include <ctime>
#include <limits>

#include "script/JScriptDateText.h"
#include "script/JScriptInstall.h"
#include "script/LocalTime.h"

namespace script {

namespace {

constexpr const char* kStandardDate = DUK_HIDDEN_SYMBOL("standardDate");
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double ThisTime(duk_context* context) {
    duk_push_this(context);
    duk_get_prop_string(context, -1, "getTime");
    duk_dup(context, -2);
    duk_call_method(context, 0);
    const double time = duk_get_number_default(context, -1, kNaN);
    duk_pop_2(context);
    return time;
}

template <DateText kind>
duk_ret_t DateTextOfThis(duk_context* context) {
    duk_push_string(context, FormatJScriptDate(ThisTime(context), kind).c_str());
    return 1;
}

// getYear as JScript gives it: the full year outside 1900-1999 (the
// standard's gives the year less 1900: 121 for 2021).
duk_ret_t DateGetYear(duk_context* context) {
    const double time = ThisTime(context);
    if (!std::isfinite(time)) {
        duk_push_nan(context);
        return 1;
    }
    const long long year = PartsOf(time + LocalOffsetMs(time)).year;
    duk_push_number(context, static_cast<double>(year >= 1900 && year <= 1999 ? year - 1900 : year));
    return 1;
}

// JScript's forms first, then the standard's (ISO 8601).
double ParseAnyDate(duk_context* context, duk_idx_t text) {
    const double jscript = ParseJScriptDate(duk_safe_to_string(context, text));
    if (!std::isnan(jscript)) return jscript;
    duk_push_current_function(context);
    duk_get_prop_string(context, -1, kStandardDate);
    duk_get_prop_string(context, -1, "parse");
    duk_dup(context, text);
    duk_call(context, 1);
    const double standard = duk_get_number_default(context, -1, kNaN);
    duk_pop_3(context);
    return standard;
}

duk_ret_t DateParse(duk_context* context) {
    duk_push_number(context, ParseAnyDate(context, 0));
    return 1;
}

// Date(...) called as a function gives the text of now; new Date(text)
// reads the text as Date.parse does; other forms are the standard's.
duk_ret_t DateConstructor(duk_context* context) {
    const duk_idx_t count = duk_get_top(context);
    if (!duk_is_constructor_call(context)) {
        duk_push_string(context, JScriptDateText(static_cast<double>(std::time(nullptr)) * 1000).c_str());
        return 1;
    }
    const bool text = count == 1 && duk_is_string(context, 0);
    const double parsed = text ? ParseAnyDate(context, 0) : 0;
    duk_push_current_function(context);
    duk_get_prop_string(context, -1, kStandardDate);
    if (text) {
        duk_push_number(context, parsed);
        duk_new(context, 1);
        return 1;
    }
    for (duk_idx_t i = 0; i < count; ++i) duk_dup(context, i);
    duk_new(context, count);
    return 1;
}

}  // namespace

void InstallJScriptDates(duk_context* context) {
    const duk_idx_t global = duk_normalize_index(context, -1);
    duk_get_prop_string(context, global, "Date");
    const duk_idx_t standard = duk_normalize_index(context, -1);
    duk_get_prop_string(context, standard, "prototype");
    const duk_idx_t prototype = duk_normalize_index(context, -1);
    PutFunction(context, prototype, "toString", DateTextOfThis<DateText::Full>, 0);
    PutFunction(context, prototype, "toDateString", DateTextOfThis<DateText::DateOnly>, 0);
    PutFunction(context, prototype, "toTimeString", DateTextOfThis<DateText::TimeOnly>, 0);
    PutFunction(context, prototype, "toUTCString", DateTextOfThis<DateText::Utc>, 0);
    PutFunction(context, prototype, "toGMTString", DateTextOfThis<DateText::Utc>, 0);
    PutFunction(context, prototype, "toLocaleString", DateTextOfThis<DateText::Locale>, 0);
    PutFunction(context, prototype, "toLocaleDateString", DateTextOfThis<DateText::LocaleDate>, 0);
    PutFunction(context, prototype, "toLocaleTimeString", DateTextOfThis<DateText::LocaleTime>, 0);
    PutFunction(context, prototype, "getYear", DateGetYear, 0);
    duk_pop(context);  // the prototype

    ReplaceConstructor(context, global, "Date", DateConstructor, kStandardDate);
    const duk_idx_t constructor = duk_normalize_index(context, -1);
    duk_push_c_function(context, DateParse, 1);
    duk_dup(context, standard);
    duk_put_prop_string(context, -2, kStandardDate);
    duk_put_prop_string(context, constructor, "parse");
    for (const char* name : {"UTC", "now"}) {
        duk_get_prop_string(context, standard, name);
        duk_put_prop_string(context, constructor, name);
    }
    duk_pop_2(context);  // the constructors
}

}  // namespace script
