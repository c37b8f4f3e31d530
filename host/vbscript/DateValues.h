// Dates as VBScript keeps them: OLE dates (days since 30 December 1899,
// the time of day as the fraction), written and read as the en-US locale
// writes them ("1/2/2003 10:30:00 PM").
#pragma once

#include <string>
#include <string_view>

namespace vbs {

struct DateParts {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0;
    int weekday = 7;  // 1 = Sunday
};

// False when the date is outside the years 100 to 9999.
bool MakeDate(int year, int month, int day, double* date);
double MakeTime(int hour, int minute, int second);
DateParts SplitDate(double date);
// The date alone when it has no time, the time alone on 30 December 1899.
std::string DateText(double date);
// "1/2/2003", "2003-01-02", "1/2/2003 10:30 PM", "22:30:15"; false when
// the text is no date.
bool ParseDateText(std::string_view text, double* date);

}  // namespace vbs
