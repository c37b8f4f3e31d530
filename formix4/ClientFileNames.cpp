#include "ClientFileNames.h"

#include <cstring>

#include "platform/CodePage.h"

namespace {

int HexDigit(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Decoder 1: succeeds when there is a '%' and every '%' has two hex digits.
bool DecodePercent(const unsigned char* s, std::u16string* out) {
    if (!std::strchr(reinterpret_cast<const char*>(s), '%')) return false;
    for (size_t i = 0; s[i] && out->size() < kMaxNameUnits; ++i) {
        if (s[i] != '%') {
            out->push_back(s[i]);
            continue;
        }
        const int high = HexDigit(s[i + 1]);
        const int low = high < 0 ? -1 : HexDigit(s[i + 2]);
        if (low < 0) return false;
        // The decoded text is a terminated string: "%00" ends it, so that no
        // name can hide a part after a NUL ("evil.asp%00.jpg" is evil.asp).
        if (high == 0 && low == 0) break;
        out->push_back(static_cast<char16_t>(high * 16 + low));
        i += 2;
    }
    return true;
}

// Decoder 2: succeeds when at least one "&#digits;" reference (1 to 65535)
// was decoded.
bool DecodeReferences(const unsigned char* s, std::u16string* out) {
    bool decoded = false;
    for (size_t i = 0; s[i] && out->size() < kMaxNameUnits;) {
        if (s[i] == '&' && s[i + 1] == '#') {
            size_t j = i + 2;
            uint32_t value = 0;
            while (s[j] >= '0' && s[j] <= '9' && value <= 65535) value = value * 10 + (s[j++] - '0');
            if (j > i + 2 && s[j] == ';' && value >= 1 && value <= 65535) {
                out->push_back(static_cast<char16_t>(value));
                decoded = true;
                i = j + 1;
                continue;
            }
        }
        out->push_back(s[i++]);  // a '&' that starts no reference stays
    }
    return decoded;
}

// Decoder 3: the code page, strict, over the whole string with its NUL.
bool DecodeCodePage(const char* s, int inCodePage, std::u16string* out) {
    WCHAR buffer[kMaxNameUnits + 1];
    const int written = MultiByteToWideChar(static_cast<UINT>(inCodePage), MB_PRECOMPOSED | MB_ERR_INVALID_CHARS, s, -1,
                                            buffer, static_cast<int>(kMaxNameUnits + 1));
    if (written <= 0) return false;
    out->assign(buffer, static_cast<size_t>(written) - 1);  // without the NUL
    return true;
}

char16_t MacintoshSafe(char16_t c) {
    if (c >= 0x01 && c <= 0x1F) return static_cast<char16_t>(c + 0xF000);
    switch (c) {
        case '"':
            return 0xF020;
        case '*':
            return 0xF021;
        case '/':
            return 0xF022;
        case '<':
            return 0xF023;
        case '>':
            return 0xF024;
        case '?':
            return 0xF025;
        case '\\':
            return 0xF026;
        case '|':
            return 0xF027;
        case 0x00F0:
            return 0xF02A;
        default:
            return c;
    }
}

std::u16string_view LastComponent(std::u16string_view inPath) {
    const size_t slash = inPath.find_last_of(u'\\');
    return slash == std::u16string_view::npos ? inPath : inPath.substr(slash + 1);
}

}  // namespace

std::u16string DecodeClientPath(const char* inRawName, int inCodePage) {
    const auto* s = reinterpret_cast<const unsigned char*>(inRawName ? inRawName : "");
    std::u16string out;
    if (DecodePercent(s, &out)) return out;
    out.clear();
    if (DecodeReferences(s, &out)) return out;
    out.clear();
    if (DecodeCodePage(reinterpret_cast<const char*>(s), inCodePage, &out)) return out;
    out.clear();
    for (size_t i = 0; s[i] && out.size() < kMaxNameUnits; ++i) out.push_back(s[i]);
    return out;
}

std::u16string SafeFileName(const std::u16string& inPath) {
    std::u16string out;
    const bool windowsPath = (!inPath.empty() && inPath[0] == u'\\') || inPath.find(u':') != std::u16string::npos;
    if (!windowsPath) {
        // A bare name: map what Windows names cannot hold, losing nothing.
        for (size_t i = 0; i < inPath.size() && out.size() < kMaxNameUnits; ++i)
            out.push_back(MacintoshSafe(inPath[i]));
        if (!out.empty() && out.back() == u' ')
            out.back() = 0xF028;
        else if (!out.empty() && out.back() == u'.')
            out.back() = 0xF029;
        return out;
    }
    for (char16_t c : LastComponent(inPath)) {
        if (out.size() >= kMaxNameUnits) break;
        if (c < 0x20 || std::u16string_view(u"\"*/:<>?\\|").find(c) != std::u16string_view::npos) continue;
        out.push_back(c);
    }
    while (!out.empty() && (out.back() == u' ' || out.back() == u'.')) out.pop_back();
    return out;
}

std::u16string UrlSafeFileName(const std::u16string& inPath) {
    std::u16string out;
    for (char16_t c : LastComponent(inPath)) {
        if (out.size() >= kMaxNameUnits) break;
        if ((c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'-' || c == u'.')
            out.push_back(c);
        else if (c >= u'A' && c <= u'Z')
            out.push_back(static_cast<char16_t>(c + 32));
        else
            out.push_back(u'_');
    }
    return out;
}

ClientFileNames BuildClientFileNames(const char* inRawName, int /*inDetectCodePage*/, int inCodePage) {
    ClientFileNames names;
    names.rawPath = DecodeClientPath(inRawName, inCodePage);
    names.safeName = SafeFileName(names.rawPath);
    names.urlSafeName = UrlSafeFileName(names.rawPath);
    return names;
}

std::u16string_view RawFileName(std::u16string_view inRawPath) { return LastComponent(inRawPath); }

std::u16string_view RawFileType(std::u16string_view inRawPath) {
    const size_t dot = inRawPath.find_last_of(u'.');
    if (dot == std::u16string_view::npos) return {};
    if (inRawPath.find(u'\\', dot) != std::u16string_view::npos) return {};
    return inRawPath.substr(dot + 1);
}
