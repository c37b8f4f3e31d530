#include "core/HttpText.h"

#include <sys/random.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/CodePage.h"

namespace {
int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
}  // namespace

std::string UrlDecode(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const int high = i + 2 < text.size() && text[i] == '%' ? HexDigitValue(text[i + 1]) : -1;
        const int low = high >= 0 ? HexDigitValue(text[i + 2]) : -1;
        if (text[i] == '+') {
            out += ' ';
        } else if (low >= 0) {
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string UrlEncodeForm(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
            c == '.' || c == '*') {
            out += static_cast<char>(c);
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string UrlEncodePath(const std::string& path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                           c == '_' || c == '.' || c == '~' || c == '/';
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string HtmlEscape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

namespace {
void AppendUnicodeEscape(std::string& out, unsigned c) {
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
    out += escaped;
}
}  // namespace

namespace {
// The UTF-8 of U+2028 or U+2029 at `at`.
bool LineSeparatorAt(const std::string& utf8, size_t at) {
    return at + 2 < utf8.size() && utf8[at] == '\xE2' && utf8[at + 1] == '\x80' &&
           (utf8[at + 2] == '\xA8' || utf8[at + 2] == '\xA9');
}
}  // namespace

std::string JsonString(const std::string& utf8) {
    std::string out = "\"";
    for (size_t i = 0; i < utf8.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (LineSeparatorAt(utf8, i)) {
            AppendUnicodeEscape(out, utf8[i + 2] == '\xA8' ? 0x2028 : 0x2029);
            i += 2;
            continue;
        }
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20)
                    AppendUnicodeEscape(out, c);
                else
                    out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

namespace {
bool PlainAscii(char16_t c) { return c >= 0x20 && c < 0x80 && c != u'"' && c != u'\\'; }

// Where the run of ASCII that JSON takes as it is (no control character,
// quote or backslash) that starts at `i` ends; eight units at a time.
size_t PlainAsciiEnd(std::u16string_view text, size_t i) {
#if defined(__SSE2__)
    const __m128i space = _mm_set1_epi16(0x20), last = _mm_set1_epi16(0x7F), quote = _mm_set1_epi16('"'),
                  backslash = _mm_set1_epi16('\\'), zero = _mm_setzero_si128();
    for (; i + 8 <= text.size(); i += 8) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
        const __m128i outside = _mm_or_si128(_mm_subs_epu16(units, last), _mm_subs_epu16(space, units));
        const __m128i escaped = _mm_or_si128(_mm_cmpeq_epi16(units, quote), _mm_cmpeq_epi16(units, backslash));
        const int plain = _mm_movemask_epi8(_mm_andnot_si128(escaped, _mm_cmpeq_epi16(outside, zero)));
        if (plain != 0xFFFF) return i + static_cast<size_t>(__builtin_ctz(~plain)) / 2;
    }
#endif
    while (i < text.size() && PlainAscii(text[i])) ++i;
    return i;
}

// Writes ASCII units as bytes.
void NarrowAscii(const char16_t* from, size_t count, char* to) {
#if defined(__SSE2__)
    for (; count >= 16; count -= 16, from += 16, to += 16) {
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
        const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 8));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm_packus_epi16(low, high));
    }
#endif
    while (count--) *to++ = static_cast<char>(*from++);
}
}  // namespace

void AppendJsonString(std::string& out, std::u16string_view text) {
    out += '"';
    for (size_t i = 0; i < text.size(); ++i) {
        // A run of plain ASCII, the most of most texts, is written at once.
        const size_t run = PlainAsciiEnd(text, i);
        if (run > i) {
            const size_t at = out.size();
            out.resize(at + (run - i));
            NarrowAscii(text.data() + i, run - i, out.data() + at);
            i = run - 1;
            continue;
        }
        const char16_t c = text[i];
        if (c >= 0x20 && c < 0x80) {
            out += '\\';  // a quote or a backslash
            out += static_cast<char>(c);
        } else if (c >= 0x80 && c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                   text[i + 1] <= 0xDFFF) {
            const uint32_t code = 0x10000 + ((static_cast<uint32_t>(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
            ++i;
        } else if (c < 0x20 || (c >= 0xD800 && c <= 0xDFFF) || c == 0x2028 || c == 0x2029) {
            AppendUnicodeEscape(out, c);
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    out += '"';
}

std::string JsonString(const std::u16string& text) {
    std::string out;
    AppendJsonString(out, text);
    return out;
}

bool ParseDigits(const std::string& text, long long* value) {
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    *value = std::stoll(text);
    return true;
}

bool ParseInt32(const std::string& text, long* value, bool allowNegative) {
    const bool negative = allowNegative && !text.empty() && text[0] == '-';
    const size_t start = negative ? 1 : 0;
    if (text.size() == start || text.size() - start > 10) return false;
    long long number = 0;
    for (size_t i = start; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        number = number * 10 + (text[i] - '0');
    }
    if (negative) number = -number;
    if (number > 0x7FFFFFFFLL || number < -0x80000000LL) return false;
    *value = static_cast<long>(number);
    return true;
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The host name of a Host header: without its port, brackets kept off an
// IPv6 address.
std::string HostName(const std::string& header) {
    if (!header.empty() && header[0] == '[') {
        const size_t close = header.find(']');
        return close == std::string::npos ? header : header.substr(1, close - 1);
    }
    return Lower(header.substr(0, header.find(':')));
}

bool WellFormedHost(const std::string& header) {
    size_t end = 0;
    if (!header.empty() && header[0] == '[') {
        end = header.find(']');
        if (end == std::string::npos || end == 1 || header.find_first_not_of("0123456789abcdefABCDEF:.", 1) != end)
            return false;
        ++end;
    } else {
        end = header.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-");
        if (end == 0) return false;
        if (end == std::string::npos) return true;
    }
    if (end == header.size()) return true;
    const std::string port = header.substr(end + 1);
    return header[end] == ':' && !port.empty() && port.size() <= 5 &&
           port.find_first_not_of("0123456789") == std::string::npos;
}

void RandomBytes(void* buffer, size_t size) {
    auto* bytes = static_cast<uint8_t*>(buffer);
    while (size > 0) {
        const ssize_t n = getrandom(bytes, size, 0);
        if (n <= 0) throw std::runtime_error("no random bytes");
        bytes += n;
        size -= static_cast<size_t>(n);
    }
}

bool RangeSatisfiable(const std::string& header, long long size) {
    const std::string text = Lower(header);
    const size_t start = text.find_first_not_of(" \t");
    if (start == std::string::npos || text.compare(start, 6, "bytes=") != 0) return true;
    const size_t comma = text.find(',');  // of several ranges, the first is answered
    std::string range = text.substr(start + 6, comma == std::string::npos ? std::string::npos : comma - start - 6);
    range.erase(0, range.find_first_not_of(" \t"));
    range.erase(range.find_last_not_of(" \t") + 1);
    const size_t dash = range.find('-');
    if (dash == std::string::npos) return false;
    long long first = 0, last = 0;
    const std::string from = range.substr(0, dash), to = range.substr(dash + 1);
    if (from.empty()) return ParseDigits(to, &last) && last > 0 && size > 0;  // the last n bytes
    if (!ParseDigits(from, &first) || first >= size) return false;
    return to.empty() || (ParseDigits(to, &last) && last >= first);
}

std::string HexText(const void* bytes, size_t size) {
    static const char kHex[] = "0123456789abcdef";
    const auto* in = static_cast<const uint8_t*>(bytes);
    std::string text(2 * size, '0');
    for (size_t i = 0; i < size; ++i) {
        text[2 * i] = kHex[in[i] >> 4];
        text[2 * i + 1] = kHex[in[i] & 15];
    }
    return text;
}

std::string RandomToken() {
    uint8_t bytes[16];
    RandomBytes(bytes, sizeof bytes);
    return HexText(bytes, sizeof bytes);
}

bool IsRandomToken(const std::string& token) {
    return token.size() == 32 && token.find_first_not_of("0123456789abcdef") == std::string::npos;
}

bool SafeHeaderText(const std::string& text) { return text.find_first_of("\r\n") == std::string::npos; }
