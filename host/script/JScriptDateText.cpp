#include "script/JScriptDateText.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>

#include "script/LocalTime.h"

namespace script {

namespace {

constexpr const char* kDayNames[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
constexpr const char* kMonthNames[] = {"January", "February", "March",     "April",   "May",      "June",
                                       "July",    "August",   "September", "October", "November", "December"};
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string Short(const char* name) { return std::string(name, 3); }

std::string YearText(long long year) { return year > 0 ? std::to_string(year) : std::to_string(1 - year) + " B.C."; }

// "UTC", "UTC+0200", "UTC-0500": the zone as JScript names it.
std::string ZoneText(double offsetMs) {
    const long minutes = std::lround(offsetMs / 60000);
    if (minutes == 0) return "UTC";
    char text[48];  // room for any long, though a zone is at most a day
    std::snprintf(text, sizeof text, "UTC%c%02ld%02ld", minutes < 0 ? '-' : '+', std::labs(minutes) / 60,
                  std::labs(minutes) % 60);
    return text;
}

std::string Clock(const CalendarParts& p) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", p.hour, p.minute, p.second);
    return text;
}

std::string TwelveHourClock(const CalendarParts& p) {
    char text[24];
    std::snprintf(text, sizeof text, "%d:%02d:%02d %s", p.hour % 12 == 0 ? 12 : p.hour % 12, p.minute, p.second,
                  p.hour < 12 ? "AM" : "PM");
    return text;
}

}  // namespace

std::string FormatJScriptDate(double utcMs, DateText kind) {
    if (!std::isfinite(utcMs)) return "NaN";
    const double offset = kind == DateText::Utc ? 0 : LocalOffsetMs(utcMs);
    const CalendarParts p = PartsOf(utcMs + offset);
    const std::string day = Short(kDayNames[p.weekday]);
    const std::string month = Short(kMonthNames[p.month - 1]);
    const std::string longDate = std::string(kDayNames[p.weekday]) + ", " + kMonthNames[p.month - 1] + " " +
                                 std::to_string(p.day) + ", " + YearText(p.year);
    switch (kind) {
        case DateText::Full:
            return day + " " + month + " " + std::to_string(p.day) + " " + Clock(p) + " " + ZoneText(offset) + " " +
                   YearText(p.year);
        case DateText::DateOnly:
            return day + " " + month + " " + std::to_string(p.day) + " " + YearText(p.year);
        case DateText::TimeOnly:
            return Clock(p) + " " + ZoneText(offset);
        case DateText::Utc:
            return day + ", " + std::to_string(p.day) + " " + month + " " + YearText(p.year) + " " + Clock(p) + " UTC";
        case DateText::Locale:
            return longDate + " " + TwelveHourClock(p);
        case DateText::LocaleDate:
            return longDate;
        case DateText::LocaleTime:
            return TwelveHourClock(p);
    }
    return "NaN";
}

namespace {

// ---- reading JScript's forms ------------------------------------------------

// What a date text has said so far; a part said twice makes it no date.
struct ParsedDate {
    std::optional<long long> year;
    std::optional<int> month, day;
    std::optional<int> hour, minute;
    std::optional<double> second;
    std::optional<bool> pm;
    std::optional<double> offsetMinutes;
    bool bad = false;

    template <class T>
    void set(std::optional<T>& part, T value) {
        if (part) bad = true;
        part = value;
    }
};

bool StartsWithNoCase(std::string_view whole, std::string_view prefix) {
    if (prefix.size() > whole.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(whole[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

// A word: a month, a day's name (ignored), AM/PM, a zone. Names may be cut
// to two letters; a cut that fits several is the last of them ("Ju" is July).
bool ReadWord(std::string_view word, ParsedDate* date) {
    if (word.size() < 2) return false;
    static const std::pair<const char*, int> kZones[] = {{"UTC", 0},    {"GMT", 0},    {"UT", 0},     {"Z", 0},
                                                         {"EST", -300}, {"EDT", -240}, {"CST", -360}, {"CDT", -300},
                                                         {"MST", -420}, {"MDT", -360}, {"PST", -480}, {"PDT", -420}};
    for (const auto& [zone, minutes] : kZones)
        if (word.size() == std::strlen(zone) && StartsWithNoCase(word, zone)) {
            date->set(date->offsetMinutes, static_cast<double>(minutes));
            return true;
        }
    if (StartsWithNoCase("am", word) || StartsWithNoCase("a.m.", word)) return date->set(date->pm, false), true;
    if (StartsWithNoCase("pm", word) || StartsWithNoCase("p.m.", word)) return date->set(date->pm, true), true;
    int month = 0;
    for (int m = 1; m <= 12; ++m)
        if (StartsWithNoCase(kMonthNames[m - 1], word)) month = m;
    if (month) return date->set(date->month, month), true;
    for (const char* day : kDayNames)
        if (StartsWithNoCase(day, word)) return true;
    return false;
}

// "+0200", "-5", "+05:30" after a zone name.
size_t ReadOffset(std::string_view text, size_t at, ParsedDate* date) {
    const int sign = text[at] == '-' ? -1 : 1;
    size_t end = at + 1;
    while (end < text.size() && (std::isdigit(static_cast<unsigned char>(text[end])) || text[end] == ':')) ++end;
    std::string digits;
    for (size_t i = at + 1; i < end; ++i)
        if (text[i] != ':') digits += text[i];
    if (digits.empty() || digits.size() > 4) return date->bad = true, end;
    const int value = std::stoi(digits);
    const int minutes = digits.size() <= 2 ? value * 60 : value / 100 * 60 + value % 100;
    date->offsetMinutes = date->offsetMinutes.value_or(0) + sign * minutes;
    return end;
}

// A year of two digits is 19xx (JScript reads none below 70 so).
long long FullYear(long long year, size_t digits) { return digits <= 2 ? 1900 + year : year; }

// "7/20/96" or "7-20-1996": month/day/year.
void ReadShortDate(std::string_view token, ParsedDate* date) {
    long long parts[3];
    size_t digits = 0;
    int count = 0;
    size_t i = 0;
    while (count < 3 && i < token.size()) {
        size_t start = i;
        long long value = 0;
        while (i < token.size() && std::isdigit(static_cast<unsigned char>(token[i])) && i - start < 9)
            value = value * 10 + (token[i++] - '0');
        if (i == start) break;
        digits = i - start;
        parts[count++] = value;
        if (i < token.size() && (token[i] == '/' || token[i] == '-'))
            ++i;
        else
            break;
    }
    if (count != 3 || i != token.size()) return void(date->bad = true);
    date->set(date->month, static_cast<int>(parts[0]));
    date->set(date->day, static_cast<int>(parts[1]));
    date->set(date->year, FullYear(parts[2], digits));
}

// "10:", "10:11", "10:11:12", "10:11:12.5".
void ReadClock(std::string_view token, ParsedDate* date) {
    int fields[2] = {0, 0};
    double second = 0;
    int count = 0;
    size_t i = 0;
    while (i < token.size() && count < 3) {
        size_t start = i;
        double value = 0;
        while (i < token.size() &&
               (std::isdigit(static_cast<unsigned char>(token[i])) || (count == 2 && token[i] == '.')) &&
               i - start < 12)
            ++i;
        if (i > start) {
            const std::string field(token.substr(start, i - start));
            char* end = nullptr;
            value = std::strtod(field.c_str(), &end);
            if (end != field.c_str() + field.size()) return void(date->bad = true);  // "1.2.3", "."
        }
        if (count < 2)
            fields[count] = static_cast<int>(value);
        else
            second = value;
        ++count;
        if (i < token.size() && token[i] == ':')
            ++i;
        else
            break;
    }
    if (i != token.size()) return void(date->bad = true);
    date->set(date->hour, fields[0]);
    date->set(date->minute, fields[1]);
    date->set(date->second, second);
}

// A lone number: a year when it cannot be a day (over 31) or when the day
// is known; else the day.
void ReadNumber(std::string_view token, ParsedDate* date) {
    if (token.size() > 9 || token.find_first_not_of("0123456789") != std::string_view::npos)
        return void(date->bad = true);
    const long long value = std::stoll(std::string(token));
    if (value > 31 || date->day)
        date->set(date->year, FullYear(value, token.size()));
    else
        date->set(date->day, static_cast<int>(value));
}

double Resolve(const ParsedDate& date) {
    if (date.bad || !date.year || !date.month || !date.day) return kNaN;
    if (*date.month < 1 || *date.month > 12 || *date.day < 1 || *date.day > 31) return kNaN;
    int hour = date.hour.value_or(0);
    if (date.pm) {
        if (hour > 12) return kNaN;  // "23:15 PM" is no time
        hour = hour % 12 + (*date.pm ? 12 : 0);
    }
    if (hour > 24 || date.minute.value_or(0) > 59 || date.second.value_or(0) >= 60) return kNaN;
    const double ms = MsOf(*date.year, *date.month, *date.day, hour, date.minute.value_or(0), date.second.value_or(0));
    return date.offsetMinutes ? ms - *date.offsetMinutes * 60000 : UtcFromLocalMs(ms);
}

bool IsDelimiter(char c) { return c == ' ' || c == ',' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

double ParseJScriptDate(const std::string& text) {
    ParsedDate date;
    size_t i = 0;
    while (i < text.size() && !date.bad) {
        const char c = text[i];
        if (IsDelimiter(c)) {
            ++i;
        } else if (c == '(') {  // a comment, nested as deep as it goes
            int depth = 0;
            for (; i < text.size(); ++i) {
                if (text[i] == '(')
                    ++depth;
                else if (text[i] == ')' && --depth == 0)
                    break;
            }
            ++i;
        } else if ((c == '+' || c == '-') && date.offsetMinutes) {
            i = ReadOffset(text, i, &date);
        } else if (std::isalpha(static_cast<unsigned char>(c))) {
            size_t end = i;
            while (end < text.size() && (std::isalpha(static_cast<unsigned char>(text[end])) || text[end] == '.'))
                ++end;
            if (!ReadWord(std::string_view(text).substr(i, end - i), &date)) return kNaN;
            i = end;
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            size_t end = i;
            while (end < text.size() && !IsDelimiter(text[end]) && text[end] != '(' &&
                   !std::isalpha(static_cast<unsigned char>(text[end])) && !(text[end] == '+'))
                ++end;
            const std::string_view token = std::string_view(text).substr(i, end - i);
            if (token.find(':') != std::string_view::npos)
                ReadClock(token, &date);
            else if (token.find_first_of("/-") != std::string_view::npos)
                ReadShortDate(token, &date);
            else
                ReadNumber(token, &date);
            i = end;
        } else {
            return kNaN;
        }
    }
    return Resolve(date);
}

std::string JScriptDateText(double utcMs) { return FormatJScriptDate(utcMs, DateText::Full); }

}  // namespace script
