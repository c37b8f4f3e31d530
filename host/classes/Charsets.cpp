#include "classes/Charsets.h"

#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/CodePage.h"

namespace classes {

namespace {

struct NamedCharset {
    const char* name;
    UINT codePage;
};

// Names pages use beside the numbered forms (windows-N, cpN, ibmN, iso-8859-N).
constexpr NamedCharset kNames[] = {
    {"unicode", kUtf16Little},
    {"utf-16", kUtf16Little},
    {"utf-16le", kUtf16Little},
    {"unicodefffe", kUtf16Big},
    {"utf-16be", kUtf16Big},
    {"utf-8", CP_UTF8},
    {"utf8", CP_UTF8},
    {"us-ascii", 20127},
    {"ascii", 20127},
    {"latin1", 28591},
    {"shift_jis", 932},
    {"x-sjis", 932},
    {"csshiftjis", 932},
    {"euc-jp", 51932},
    {"iso-2022-jp", 50220},
    {"gb2312", 936},
    {"gbk", 936},
    {"gb18030", 54936},
    {"big5", 950},
    {"ks_c_5601-1987", 949},
    {"euc-kr", 51949},
    {"koi8-r", 20866},
    {"koi8-u", 21866},
    {"macintosh", 10000},
    {"johab", 1361},
};

// The number after `prefix` in `name` ("windows-1252" -> 1252), or 0.
UINT NumberAfter(const std::string& name, const std::string& prefix) {
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return 0;
    const std::string digits = name.substr(prefix.size());
    if (digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) return 0;
    return static_cast<UINT>(std::strtoul(digits.c_str(), nullptr, 10));
}

UINT CodePageOfName(const std::string& name) {
    for (const NamedCharset& known : kNames)
        if (name == known.name) return known.codePage;
    if (UINT number = NumberAfter(name, "iso-8859-")) return number <= 16 ? 28590 + number : 0;
    for (const char* prefix : {"windows-", "cp", "ibm"})
        if (UINT number = NumberAfter(name, prefix)) return number;
    return 0;
}

// The DOS pages, by the names browsers know them by.
constexpr NamedCharset kDosNames[] = {{"ibm437", 437}, {"ibm850", 850}, {"ibm852", 852}, {"cp866", 866}};

bool IsUtf16(UINT codePage) { return codePage == kUtf16Little || codePage == kUtf16Big; }

// UTF-8 as the platform decodes it: the length of the sequence at `at` and
// the code units it gives (2 for a character past U+FFFF); a byte that
// starts no valid sequence is one unit (U+FFFD).
size_t Utf8Sequence(const unsigned char* s, size_t n, size_t at, size_t* units) {
    *units = 1;
    const unsigned char c = s[at];
    if (c < 0x80) return 1;
    size_t extra = 0;
    uint32_t cp = 0, minimum = 0;
    if (c >= 0xC2 && c <= 0xDF)
        extra = 1, cp = c & 0x1F, minimum = 0x80;
    else if (c >= 0xE0 && c <= 0xEF)
        extra = 2, cp = c & 0x0F, minimum = 0x800;
    else if (c >= 0xF0 && c <= 0xF4)
        extra = 3, cp = c & 0x07, minimum = 0x10000;
    if (extra == 0 || at + extra >= n) return 1;
    for (size_t k = 1; k <= extra; ++k) {
        if ((s[at + k] & 0xC0) != 0x80) return 1;
        cp = (cp << 6) | (s[at + k] & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 1;
    *units = cp >= 0x10000 ? 2 : 1;
    return extra + 1;
}

}  // namespace

bool FindCharset(const std::u16string& name, UINT* codePage) {
    std::string lower;
    for (char16_t c : name) {
        if (c >= 0x80) return false;
        lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
    }
    const UINT found = CodePageOfName(lower);
    if (found == 0 || (!IsUtf16(found) && !IsValidCodePage(found))) return false;
    *codePage = found;
    return true;
}

std::string CharsetName(UINT codePage) {
    if (!IsValidCodePage(codePage)) return "";
    if (codePage >= 28591 && codePage <= 28606) return "iso-8859-" + std::to_string(codePage - 28590);
    if ((codePage >= 1250 && codePage <= 1258) || codePage == 874) return "windows-" + std::to_string(codePage);
    if (codePage == 20932) return "euc-jp";
    for (const NamedCharset& known : kDosNames)
        if (known.codePage == codePage) return known.name;
    // The first of a code page's names in the table is the one it is known by.
    for (const NamedCharset& known : kNames)
        if (known.codePage == codePage) return known.name;
    return "";
}

std::string EncodeText(UINT codePage, std::u16string_view text) {
    if (!IsUtf16(codePage)) return platform::codepage::FromUtf16(std::u16string(text), codePage);
    std::string bytes(text.size() * 2, '\0');
    const bool big = codePage == kUtf16Big;
    for (size_t i = 0; i < text.size(); ++i) {
        bytes[2 * i + (big ? 1 : 0)] = static_cast<char>(text[i] & 0xFF);
        bytes[2 * i + (big ? 0 : 1)] = static_cast<char>(text[i] >> 8);
    }
    return bytes;
}

std::u16string DecodeText(UINT codePage, std::string_view bytes) {
    if (!IsUtf16(codePage)) return bytes.empty() ? std::u16string() : platform::codepage::ToUtf16(bytes, codePage);
    const bool big = codePage == kUtf16Big;
    std::u16string text(bytes.size() / 2, u'\0');
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char16_t>(big ? (b[2 * i] << 8) | b[2 * i + 1] : b[2 * i] | (b[2 * i + 1] << 8));
    if (bytes.size() % 2) text += u'\xFFFD';  // half a unit at the end
    return text;
}

std::string_view ByteOrderMark(UINT codePage) {
    switch (codePage) {
        case kUtf16Little:
            return "\xFF\xFE";
        case kUtf16Big:
            return "\xFE\xFF";
        case CP_UTF8:
            return "\xEF\xBB\xBF";
        default:
            return {};
    }
}

size_t UnitBytes(UINT codePage) { return IsUtf16(codePage) ? 2 : 1; }

size_t BytesOfUnits(UINT codePage, std::string_view bytes, size_t units) {
    if (IsUtf16(codePage)) return units >= (bytes.size() + 1) / 2 ? bytes.size() : units * 2;
    if (codePage == CP_UTF8) {
        const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
        size_t at = 0, taken = 0;
        while (at < bytes.size() && taken < units) {
            size_t count = 0;
            at += Utf8Sequence(s, bytes.size(), at, &count);
            taken += count;
        }
        return at;
    }
    // Other code pages: the units decoded, encoded again (one byte for each
    // byte that decoded to U+FFFD, as the platform decodes them).
    const std::u16string text = DecodeText(codePage, bytes);
    if (text.size() <= units) return bytes.size();
    if (units > 0 && text[units - 1] >= 0xD800 && text[units - 1] <= 0xDBFF) ++units;
    return EncodeText(codePage, std::u16string_view(text).substr(0, units)).size();
}

}  // namespace classes
