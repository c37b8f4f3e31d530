#include "vbscript/DateValues.h"

#include <cmath>
#include <cstdio>
#include <vector>

namespace vbs {

namespace {

// Days from 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's algorithm).
long DaysFromCivil(long y, long m, long d) {
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const long yoe = y - era * 400;
    const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(long z, int* year, int* month, int* day) {
    z += 719468;
    const long era = (z >= 0 ? z : z - 146096) / 146097;
    const long doe = z - era * 146097;
    const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long mp = (5 * doy + 2) / 153;
    *day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    *year = static_cast<int>(yoe + era * 400 + (*month <= 2));
}

constexpr long kOleEpochFromUnix = 25569;  // 1970-01-01 is OLE day 25569

}  // namespace

bool MakeDate(int year, int month, int day, double* date) {
    // Months and days beyond their range roll over, as DateSerial does.
    long y = year + (month - 1) / 12, m = (month - 1) % 12;
    if (m < 0) m += 12, --y;
    if (y < 100 || y > 9999) return false;
    *date = static_cast<double>(DaysFromCivil(y, m + 1, 1) + kOleEpochFromUnix + day - 1);
    return true;
}

double MakeTime(int hour, int minute, int second) { return (hour * 3600.0 + minute * 60.0 + second) / 86400.0; }

DateParts SplitDate(double date) {
    DateParts parts;
    double days = std::trunc(date);
    double fraction = std::fabs(date - days);
    long seconds = std::lround(fraction * 86400.0);
    if (seconds >= 86400) seconds -= 86400, days += date < 0 ? -1 : 1;
    CivilFromDays(static_cast<long>(days) - kOleEpochFromUnix, &parts.year, &parts.month, &parts.day);
    parts.hour = static_cast<int>(seconds / 3600);
    parts.minute = static_cast<int>(seconds / 60 % 60);
    parts.second = static_cast<int>(seconds % 60);
    long weekday = (static_cast<long>(days) + 6) % 7;  // day 0 was a Saturday
    if (weekday < 0) weekday += 7;
    parts.weekday = static_cast<int>(weekday) + 1;
    return parts;
}

std::string DateText(double date) {
    const DateParts p = SplitDate(date);
    char text[64];
    std::string out;
    const bool hasTime = p.hour || p.minute || p.second;
    if (std::trunc(date) != 0 || !hasTime) {
        std::snprintf(text, sizeof text, "%d/%d/%d", p.month, p.day, p.year);
        out = text;
    }
    if (hasTime) {
        std::snprintf(text, sizeof text, "%s%d:%02d:%02d %s", out.empty() ? "" : " ",
                      p.hour % 12 == 0 ? 12 : p.hour % 12, p.minute, p.second, p.hour < 12 ? "AM" : "PM");
        out += text;
    }
    return out;
}

namespace {

// The text's numbers and the separators after each.
struct Pieces {
    std::vector<int> numbers;
    std::vector<char> separators;
    int meridiem = 0;  // 1 AM, 2 PM
};

bool Cut(std::string_view text, Pieces* pieces) {
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            long value = 0;
            while (i < text.size() && text[i] >= '0' && text[i] <= '9' && value < 100000)
                value = value * 10 + (text[i++] - '0');
            pieces->numbers.push_back(static_cast<int>(value));
            pieces->separators.push_back(' ');
        } else if (c == '/' || c == '-' || c == ':') {
            if (pieces->numbers.empty() || pieces->separators.back() != ' ') return false;
            pieces->separators.back() = c;
            ++i;
        } else if (c == ' ' || c == '\t') {
            ++i;
        } else if ((c == 'a' || c == 'A' || c == 'p' || c == 'P') && i + 1 < text.size() &&
                   (text[i + 1] == 'm' || text[i + 1] == 'M')) {
            if (pieces->meridiem) return false;
            pieces->meridiem = (c == 'a' || c == 'A') ? 1 : 2;
            i += 2;
        } else {
            return false;
        }
    }
    return !pieces->numbers.empty();
}

int FullYear(int year) { return year < 30 ? 2000 + year : year < 100 ? 1900 + year : year; }

}  // namespace

bool ParseDateText(std::string_view text, double* date) {
    Pieces p;
    if (!Cut(text, &p)) return false;
    size_t n = 0;
    double day = 0;
    const size_t count = p.numbers.size();
    if (count >= 2 && (p.separators[0] == '/' || p.separators[0] == '-')) {
        int year, month, dayOfMonth;
        if (count >= 3 && p.separators[1] == p.separators[0]) {
            if (p.numbers[0] > 31)
                year = p.numbers[0], month = p.numbers[1], dayOfMonth = p.numbers[2];
            else
                month = p.numbers[0], dayOfMonth = p.numbers[1], year = FullYear(p.numbers[2]);
            n = 3;
        } else {
            return false;
        }
        if (month < 1 || month > 12 || dayOfMonth < 1 || dayOfMonth > 31 || !MakeDate(year, month, dayOfMonth, &day))
            return false;
        if (SplitDate(day).day != dayOfMonth) return false;  // 2/30
    }
    double time = 0;
    if (n < count) {
        if (p.separators[n] != ':' && !(p.meridiem && n + 1 == count)) return false;
        int hour = p.numbers[n], minute = 0, second = 0;
        if (n + 1 < count) minute = p.numbers[n + 1];
        if (n + 2 < count) {
            if (p.separators[n + 1] != ':') return false;
            second = p.numbers[n + 2];
        }
        if (n + 3 < count) return false;
        if (p.meridiem) {
            if (hour < 1 || hour > 12) return false;
            hour = hour % 12 + (p.meridiem == 2 ? 12 : 0);
        }
        if (hour > 23 || minute > 59 || second > 59) return false;
        time = MakeTime(hour, minute, second);
    } else if (p.meridiem) {
        return false;
    }
    *date = day + time;
    return true;
}

}  // namespace vbs
