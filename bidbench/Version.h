// The program's version: 1.0.0, compared as "1.0" with the maker's version page.
#pragma once

namespace Version {
inline constexpr int kMajor = 1;
inline constexpr int kMinor = 0;
inline constexpr int kRevision = 0;
inline constexpr const char* kCompareText = "1.0";
}  // namespace Version
