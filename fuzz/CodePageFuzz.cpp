// Conversions from any bytes in several code pages never fail without a
// reason, and valid UTF-8 converts back to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "platform/System.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static const UINT kPages[] = {CP_UTF8, 1252, 1255, 932, 936, 20127};
    const UINT page = kPages[data[0] % (sizeof kPages / sizeof kPages[0])];
    const char* text = reinterpret_cast<const char*>(data + 1);
    const int length = static_cast<int>(size - 1);
    if (length == 0) return 0;
    const int needed = MultiByteToWideChar(page, 0, text, length, nullptr, 0);
    if (needed <= 0) std::abort();  // lenient conversion always produces something
    std::vector<WCHAR> wide(static_cast<size_t>(needed));
    if (MultiByteToWideChar(page, 0, text, length, wide.data(), needed) != needed) std::abort();
    const int strict = MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, text, length, wide.data(), needed);
    if (strict == 0 && GetLastError() != ERROR_NO_UNICODE_TRANSLATION) std::abort();
    if (page == CP_UTF8 && strict > 0) {
        const std::string back = platform::codepage::FromUtf16(std::u16string(wide.data(), strict), CP_UTF8);
        if (back != std::string(text, length)) std::abort();
    }
    const int bytes = WideCharToMultiByte(page, 0, wide.data(), needed, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) std::abort();
    return 0;
}
