// Code-page conversion. The system ANSI code page is read from
// HKLM\SYSTEM\CurrentControlSet\Control\Nls\CodePage, value ACP (decimal
// text); default 65001. UTF-8 and the Windows single-byte pages 1250-1258 are
// converted by tables of our own (Windows maps every byte of them, e.g. 0x81
// in 1252); other pages go through iconv.
#pragma once

#include <string>
#include <string_view>

#include "platform/WinTypes.h"

constexpr UINT CP_ACP = 0, CP_OEMCP = 1, CP_UTF8 = 65001;
constexpr DWORD MB_PRECOMPOSED = 0x1, MB_ERR_INVALID_CHARS = 0x8;
constexpr DWORD WC_NO_BEST_FIT_CHARS = 0x400;

UINT GetACP();
BOOL IsValidCodePage(UINT codePage);
// Windows semantics: a length of -1 means NUL-terminated (the NUL is
// converted too); a destination size of 0 asks for the needed size.
INT MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR source, INT sourceLength, WCHAR* dest, INT destSize);
INT WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR* source, INT sourceLength, LPSTR dest, INT destSize,
                        LPCSTR defaultChar, BOOL* usedDefaultChar);

namespace platform::codepage {
std::u16string ToUtf16(std::string_view text, UINT codePage = CP_ACP);
std::string FromUtf16(const std::u16string& text, UINT codePage = CP_ACP);
std::u16string Utf8ToUtf16(const std::string& text);
std::string Utf16ToUtf8(const std::u16string& text);
// Unicode simple case folding of one UTF-16 unit (surrogates stay).
char16_t FoldUnit(char16_t c);
// Unicode simple case folding of each UTF-16 unit outside the surrogates.
std::u16string FoldCase(const std::u16string& text);
// Compares after Unicode simple case folding; <0, 0, >0.
int CompareNoCase(const std::u16string& a, const std::u16string& b);
int CompareNoCaseUtf8(const std::string& a, const std::string& b);

// Fixes the system ANSI code page for the calling thread while it lives:
// GetACP and CP_ACP read the registry once, when it is made, instead of at
// every conversion (parsing a body converts several texts of every field).
// Scopes nest; each restores what was in force before it.
class PinnedAcp {
public:
    PinnedAcp();
    // Fixes a code page read earlier, such as the one a form was parsed in;
    // 0 fixes nothing (what is in force stays).
    explicit PinnedAcp(UINT codePage);
    ~PinnedAcp();
    PinnedAcp(const PinnedAcp&) = delete;
    PinnedAcp& operator=(const PinnedAcp&) = delete;

private:
    UINT mPrevious;
};
}  // namespace platform::codepage
