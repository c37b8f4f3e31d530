// Any text a page hands Date.parse: read without a crash, and a date it
// reads, written as JScript writes it, reads back as the same moment to
// the second (for years of three and four digits: JScript reads a year of
// two as 19xx, and writes none before Christ in a form it reads).
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "script/JScriptDateText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const double ms = script::ParseJScriptDate(text);
    if (std::isnan(ms)) return 0;
    if (!std::isfinite(ms)) std::abort();
    constexpr double kYear100 = -59011459200000.0, kYear10000 = 253402300800000.0;
    if (ms < kYear100 + 2 * 86400000.0 || ms >= kYear10000 - 2 * 86400000.0) return 0;
    const double again = script::ParseJScriptDate(script::JScriptDateText(ms));
    if (std::floor(again / 1000) != std::floor(ms / 1000)) std::abort();
    return 0;
}
