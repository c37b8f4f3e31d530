// OLE dates (VT_DATE), as the host's objects give and take them: days since
// 1899-12-30 in local time, the time of day as the fraction.
#pragma once

namespace host {

constexpr double kOleEpochDays = 25569.0;  // 1899-12-30 to 1970-01-01
constexpr double kSecondsPerDay = 86400.0;
constexpr double kMsPerDay = 86400000.0;

}  // namespace host
