// Multi-byte <-> UTF-16 conversion with Windows semantics.
#include "platform/CodePage.h"

#include <iconv.h>
#include <locale.h>
#include <wctype.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "CodePageTables.h"
#include "platform/Registry.h"
#include "platform/System.h"

namespace {

constexpr char16_t kReplacement = 0xFFFD;

// ---- UTF-8 ------------------------------------------------------------------

constexpr size_t kInvalid = static_cast<size_t>(-1);

// Decodes UTF-8 into `first`, which has room for `n` units (no byte of UTF-8
// gives more than one UTF-16 unit); invalid bytes become U+FFFD, or the
// result is kInvalid when strict. Runs of ASCII go without a test per kind
// of byte: field texts are mostly ASCII and can be megabytes long. Gives the
// units written.
size_t DecodeUtf8Into(const unsigned char* s, size_t n, bool strict, char16_t* const first) {
    char16_t* d = first;
    size_t i = 0;
    while (i < n) {
#if defined(__SSE2__)
        // Sixteen ASCII bytes at a time: `d` stays at or behind `first + i`,
        // so sixteen units fit wherever sixteen bytes are left.
        for (const __m128i zero = _mm_setzero_si128(); i + 16 <= n; i += 16, d += 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
            if (_mm_movemask_epi8(bytes)) break;
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_unpacklo_epi8(bytes, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 8), _mm_unpackhi_epi8(bytes, zero));
        }
#endif
        while (i < n && s[i] < 0x80) *d++ = s[i++];
        if (i == n) break;
        const unsigned char c = s[i];
        int extra = 0;
        uint32_t cp = 0, minimum = 0;
        if (c >= 0xC2 && c <= 0xDF)
            extra = 1, cp = c & 0x1F, minimum = 0x80;
        else if (c >= 0xE0 && c <= 0xEF)
            extra = 2, cp = c & 0x0F, minimum = 0x800;
        else if (c >= 0xF0 && c <= 0xF4)
            extra = 3, cp = c & 0x07, minimum = 0x10000;
        bool valid = extra > 0 && i + static_cast<size_t>(extra) < n;
        for (int k = 1; valid && k <= extra; ++k) {
            valid = (s[i + k] & 0xC0) == 0x80;
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        if (valid && (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) valid = false;
        if (!valid) {
            // Each byte that does not start a valid sequence becomes one U+FFFD.
            if (strict) return kInvalid;
            *d++ = kReplacement;
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            *d++ = static_cast<char16_t>(0xD800 + (cp >> 10));
            *d++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            *d++ = static_cast<char16_t>(cp);
        }
        i += static_cast<size_t>(extra) + 1;
    }
    return static_cast<size_t>(d - first);
}

// The same appended to `out`, in room made once.
bool DecodeUtf8(const unsigned char* s, size_t n, bool strict, std::u16string* out) {
    const size_t start = out->size();
    out->resize(start + n);
    const size_t written = DecodeUtf8Into(s, n, strict, out->data() + start);
    out->resize(written == kInvalid ? start : start + written);
    return written != kInvalid;
}

// Decodes a single-byte code page whose upper half is `high`: one unit per byte.
void DecodeSingleByteInto(const char16_t* high, const char* s, size_t n, char16_t* d) {
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        d[i] = c < 0x80 ? c : high[c - 0x80];
    }
}

// Encodes UTF-16; unpaired surrogates become U+FFFD.
void EncodeUtf8(const char16_t* s, size_t n, std::string* out, bool* replaced) {
    // Measured first, then written in place: one block of the exact size.
    size_t length = 0;
    for (size_t i = 0; i < n; ++i) {
        const char16_t c = s[i];
        if (c < 0x80)
            length += 1;
        else if (c < 0x800)
            length += 2;
        else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF)
            length += 4, ++i;
        else
            length += 3;  // a lone surrogate becomes U+FFFD, three bytes
    }
    const size_t start = out->size();
    out->resize(start + length);
    char* const first = out->data() + start;
    char* d = first;
    for (size_t i = 0; i < n; ++i) {
        uint32_t cp = s[i];
        if (cp < 0x80) {
            *d++ = static_cast<char>(cp);
            continue;
        }
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = kReplacement;
            if (replaced) *replaced = true;
        }
        if (cp < 0x800) {
            *d++ = static_cast<char>(0xC0 | (cp >> 6));
            *d++ = static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            *d++ = static_cast<char>(0xE0 | (cp >> 12));
            *d++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            *d++ = static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            *d++ = static_cast<char>(0xF0 | (cp >> 18));
            *d++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            *d++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            *d++ = static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
}

// ---- single-byte pages ------------------------------------------------------------

const std::unordered_map<char16_t, unsigned char>& ReverseTable(UINT codePage, const char16_t* high) {
    static std::mutex mutex;
    static std::unordered_map<UINT, std::unordered_map<char16_t, unsigned char>> tables;
    std::lock_guard<std::mutex> guard(mutex);
    auto& table = tables[codePage];
    if (table.empty())
        for (int b = 0; b < 128; ++b) table.emplace(high[b], static_cast<unsigned char>(0x80 + b));
    return table;
}

// ---- iconv pages --------------------------------------------------------------------

const char* IconvName(UINT codePage) {
    switch (codePage) {
        case 437:
            return "CP437";
        case 850:
            return "CP850";
        case 852:
            return "CP852";
        case 866:
            return "CP866";
        case 874:
            return "CP874";
        case 932:
            return "CP932";
        case 936:
            return "CP936";
        case 949:
            return "CP949";
        case 950:
            return "CP950";
        case 1361:
            return "JOHAB";
        case 10000:
            return "MACINTOSH";
        case 20127:
            return "ASCII";
        case 20866:
            return "KOI8-R";
        case 21866:
            return "KOI8-U";
        case 20932:
            return "EUC-JP";
        case 51932:
            return "EUC-JP";
        case 51949:
            return "EUC-KR";
        case 54936:
            return "GB18030";
        case 50220:
            return "ISO-2022-JP";
        default:
            if (codePage >= 28591 && codePage <= 28606) {
                static thread_local char name[16];
                std::snprintf(name, sizeof name, "ISO-8859-%u", codePage - 28590);
                return name;
            }
            return nullptr;
    }
}

// Converts with iconv; an invalid sequence fails when strict, else becomes
// the replacement (one unit of output per skipped byte).
bool IconvConvert(const char* from, const char* to, const char* in, size_t length, bool strict,
                  const std::string& replacement, std::string* out, bool* replaced) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    char* src = const_cast<char*>(in);
    size_t left = length;
    std::vector<char> buffer(4096);
    bool ok = true;
    while (left > 0) {
        char* dst = buffer.data();
        size_t room = buffer.size();
        const size_t r = iconv(cd, &src, &left, &dst, &room);
        out->append(buffer.data(), buffer.size() - room);
        if (r != static_cast<size_t>(-1)) continue;
        if (errno == E2BIG) continue;
        if (strict) {
            ok = false;
            break;
        }
        // EILSEQ or EINVAL: skip one input unit and write the replacement.
        const size_t unit = std::strncmp(from, "UTF-16", 6) == 0 ? 2 : 1;
        const size_t skip = left < unit ? left : unit;
        src += skip;
        left -= skip;
        out->append(replacement);
        if (replaced) *replaced = true;
    }
    iconv_close(cd);
    return ok;
}

UINT Resolve(UINT codePage) {
    if (codePage == CP_ACP) return GetACP();
    if (codePage == CP_OEMCP) return 437;
    return codePage;
}

bool IsKnown(UINT codePage) {
    return codePage == CP_UTF8 || platform::codepage::SingleByteHighTable(codePage) || IconvName(codePage);
}

// Decodes text of a code page; false with the last error set on failure.
bool Decode(UINT codePage, DWORD flags, const char* s, size_t n, std::u16string* out) {
    const bool strict = (flags & MB_ERR_INVALID_CHARS) != 0;
    if (codePage == CP_UTF8) {
        if (!DecodeUtf8(reinterpret_cast<const unsigned char*>(s), n, strict, out)) {
            SetLastError(ERROR_NO_UNICODE_TRANSLATION);
            return false;
        }
        return true;
    }
    if (const char16_t* high = platform::codepage::SingleByteHighTable(codePage)) {
        const size_t start = out->size();
        out->resize(start + n);
        DecodeSingleByteInto(high, s, n, out->data() + start);
        return true;
    }
    std::string bytes;
    const std::string replacement("\xFD\xFF", 2);
    if (!IconvConvert(IconvName(codePage), "UTF-16LE", s, n, strict, replacement, &bytes, nullptr)) {
        SetLastError(strict ? ERROR_NO_UNICODE_TRANSLATION : ERROR_INVALID_PARAMETER);
        return false;
    }
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        out->push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                             (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    return true;
}

bool Encode(UINT codePage, const char16_t* s, size_t n, const char* defaultChar, std::string* out, bool* usedDefault) {
    if (codePage == CP_UTF8) {
        EncodeUtf8(s, n, out, nullptr);
        return true;
    }
    const std::string fallback = defaultChar ? defaultChar : "?";
    if (const char16_t* high = platform::codepage::SingleByteHighTable(codePage)) {
        const auto& reverse = ReverseTable(codePage, high);
        for (size_t i = 0; i < n; ++i) {
            if (s[i] < 0x80) {
                out->push_back(static_cast<char>(s[i]));
                continue;
            }
            auto it = reverse.find(s[i]);
            if (it != reverse.end()) {
                out->push_back(static_cast<char>(it->second));
            } else {
                out->append(fallback);
                *usedDefault = true;
            }
        }
        return true;
    }
    const std::string wide(reinterpret_cast<const char*>(s), n * 2);
    if (!IconvConvert("UTF-16LE", IconvName(codePage), wide.data(), wide.size(), false, fallback, out, usedDefault)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return true;
}

locale_t FoldingLocale() {
    static locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    return locale;
}

}  // namespace

namespace {
thread_local UINT tPinnedAcp = 0;  // 0: none pinned, read the registry

UINT ReadAcp() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return CP_UTF8;
    char text[16] = {};
    DWORD size = sizeof text - 1;
    DWORD type = 0;
    const LONG status = RegQueryValueExA(key, "ACP", nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ) return CP_UTF8;
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    return end != text && value > 1 && IsKnown(static_cast<UINT>(value)) ? static_cast<UINT>(value) : CP_UTF8;
}
}  // namespace

UINT GetACP() { return tPinnedAcp ? tPinnedAcp : ReadAcp(); }

namespace platform::codepage {
PinnedAcp::PinnedAcp() : mPrevious(tPinnedAcp) { tPinnedAcp = ReadAcp(); }
PinnedAcp::PinnedAcp(UINT codePage) : mPrevious(tPinnedAcp) {
    if (codePage) tPinnedAcp = codePage;
}
PinnedAcp::~PinnedAcp() { tPinnedAcp = mPrevious; }
}  // namespace platform::codepage

BOOL IsValidCodePage(UINT codePage) { return IsKnown(codePage) ? TRUE : FALSE; }

INT MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR source, INT sourceLength, WCHAR* dest, INT destSize) {
    codePage = Resolve(codePage);
    if (!source || sourceLength == 0 || destSize < 0 || (destSize > 0 && !dest) || !IsKnown(codePage) ||
        (flags & ~(MB_PRECOMPOSED | MB_ERR_INVALID_CHARS | 0x2 | 0x4))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const size_t n = sourceLength < 0 ? std::strlen(source) + 1 : static_cast<size_t>(sourceLength);
    // UTF-8 and the single-byte pages make at most one character of a byte:
    // with room for that many they are decoded in place, not through a text
    // of their own (a page's field of 200 MB would be copied once more).
    if (destSize >= 0 && static_cast<size_t>(destSize) >= n) {
        if (codePage == CP_UTF8) {
            const size_t written = DecodeUtf8Into(reinterpret_cast<const unsigned char*>(source), n,
                                                  (flags & MB_ERR_INVALID_CHARS) != 0, dest);
            if (written == kInvalid) SetLastError(ERROR_NO_UNICODE_TRANSLATION);
            return written == kInvalid ? 0 : static_cast<INT>(written);
        }
        if (const char16_t* high = platform::codepage::SingleByteHighTable(codePage)) {
            DecodeSingleByteInto(high, source, n, dest);
            return static_cast<INT>(n);
        }
    }
    std::u16string result;
    if (!Decode(codePage, flags, source, n, &result)) return 0;
    if (destSize == 0) return static_cast<INT>(result.size());
    if (result.size() > static_cast<size_t>(destSize)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(dest, result.data(), result.size() * sizeof(WCHAR));
    return static_cast<INT>(result.size());
}

INT WideCharToMultiByte(UINT codePage, DWORD, const WCHAR* source, INT sourceLength, LPSTR dest, INT destSize,
                        LPCSTR defaultChar, BOOL* usedDefaultChar) {
    codePage = Resolve(codePage);
    if (!source || sourceLength == 0 || destSize < 0 || (destSize > 0 && !dest) || !IsKnown(codePage) ||
        (codePage == CP_UTF8 && (defaultChar || usedDefaultChar))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t n = 0;
    if (sourceLength < 0) {
        while (source[n]) ++n;
        ++n;
    } else {
        n = static_cast<size_t>(sourceLength);
    }
    std::string result;
    bool usedDefault = false;
    if (!Encode(codePage, source, n, defaultChar, &result, &usedDefault)) return 0;
    if (usedDefaultChar) *usedDefaultChar = usedDefault ? TRUE : FALSE;
    if (destSize == 0) return static_cast<INT>(result.size());
    if (result.size() > static_cast<size_t>(destSize)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(dest, result.data(), result.size());
    return static_cast<INT>(result.size());
}

namespace platform::codepage {

std::u16string ToUtf16(std::string_view text, UINT codePage) {
    std::u16string out;
    if (!Decode(Resolve(codePage), 0, text.data(), text.size(), &out)) out.clear();
    return out;
}

std::string FromUtf16(const std::u16string& text, UINT codePage) {
    std::string out;
    bool usedDefault = false;
    if (!Encode(Resolve(codePage), text.data(), text.size(), nullptr, &out, &usedDefault)) out.clear();
    return out;
}

std::u16string Utf8ToUtf16(const std::string& text) {
    std::u16string out;
    DecodeUtf8(reinterpret_cast<const unsigned char*>(text.data()), text.size(), false, &out);
    return out;
}

std::string Utf16ToUtf8(const std::u16string& text) {
    std::string out;
    EncodeUtf8(text.data(), text.size(), &out, nullptr);
    return out;
}

char16_t FoldUnit(char16_t c) {
    if (c < 0x80) return c >= 'A' && c <= 'Z' ? static_cast<char16_t>(c + 32) : c;
    // Dotted capital I and dotless small i have no simple folding.
    if ((c >= 0xD800 && c <= 0xDFFF) || c == 0x130 || c == 0x131) return c;
    const locale_t locale = FoldingLocale();
    return locale ? static_cast<char16_t>(towlower_l(towupper_l(c, locale), locale)) : c;
}

std::u16string FoldCase(const std::u16string& text) {
    std::u16string out = text;
    for (char16_t& c : out) c = FoldUnit(c);
    return out;
}

int CompareNoCase(const std::u16string& a, const std::u16string& b) { return FoldCase(a).compare(FoldCase(b)); }

int CompareNoCaseUtf8(const std::string& a, const std::string& b) {
    return CompareNoCase(Utf8ToUtf16(a), Utf8ToUtf16(b));
}

}  // namespace platform::codepage
