// A plain second reading of the form-body rules, written for clarity and not
// speed: C string searches, decoding after cutting, a map of folded names.
// The differential test and the parser fuzz targets compare the component's
// parse against it on the same bytes.
#pragma once

#include <strings.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "ClientFileNames.h"
#include "Multipart.h"
#include "platform/CodePage.h"

namespace reference {

struct Item {
    std::string fileName;     // the raw filename= value
    std::string contentType;  // the raw Content-Type value
    std::string bytes;        // the content, as the item must show it
    long offset = -1;         // multipart: where the content starts in the body
};

struct Group {
    std::string name;
    std::vector<Item> items;
};

struct Parse {
    std::vector<Group> groups;
    bool multipart = false;
    bool fault = false;
};

class Parser {
public:
    Parse Run(const uint8_t* body, size_t size) {
        mBody = reinterpret_cast<const char*>(body);
        mSize = size;
        try {
            if (size > 0) Multipart();
            mResult.multipart = !mResult.groups.empty();
            if (mResult.groups.empty()) UrlEncoded();
        } catch (const Fault&) {
            mResult.fault = true;
        }
        return mResult;
    }

private:
    struct Fault {};

    // The first match wholly before `limit` (an offset into the body).
    long Find(long from, long limit, const std::string& needle) const {
        for (long at = from; at + static_cast<long>(needle.size()) <= limit; ++at)
            if (std::memcmp(mBody + at, needle.data(), needle.size()) == 0) return at;
        return -1;
    }

    std::string Value(long at, long headersEnd, const std::string& key) const {
        const long found = Find(at, headersEnd, key);
        if (found < 0) return "";
        long start = found + static_cast<long>(key.size());
        const long last = static_cast<long>(mSize) - 1;
        if (start <= last && mBody[start] == '"') ++start;
        const long first = start;
        std::string value;
        const auto ends = [&](long at) { return at > last || mBody[at] == '\r' || mBody[at] == '"'; };
        while (value.size() < 259 && !ends(start)) value += mBody[start++];
        // A cut in UTF-8 leaves out the whole character it would split.
        const auto continuation = [&](size_t n) {
            return (static_cast<unsigned char>(mBody[first + static_cast<long>(n)]) & 0xC0) == 0x80;
        };
        if (value.size() == 259 && !ends(start) && GetACP() == CP_UTF8)
            while (!value.empty() && continuation(value.size())) value.pop_back();
        return value.c_str();  // a C string: a zero byte ends it
    }

    void Multipart() {
        const long last = static_cast<long>(mSize) - 1;
        const long dashes = Find(0, last, "--");
        if (dashes < 0) return;
        const long lineEnd = Find(dashes, last, "\r\n");
        if (lineEnd < 0 || lineEnd - dashes > 255) return;
        const std::string boundary(mBody + dashes, static_cast<size_t>(lineEnd - dashes));
        long at = dashes;
        while (at >= 0) at = Part(at, boundary);
    }

    long Part(long at, const std::string& boundary) {
        const long last = static_cast<long>(mSize) - 1;
        if (last - at + 1 < static_cast<long>(boundary.size()) + 2 ||
            std::memcmp(mBody + at, boundary.data(), boundary.size()) != 0 || mBody[at + boundary.size()] != '\r' ||
            mBody[at + boundary.size() + 1] != '\n')
            return -1;
        std::string name, fileName, contentType;
        long header = at + static_cast<long>(boundary.size()) + 2;
        const long headersEnd = Find(header, last, "\r\n\r\n");
        for (;;) {
            const long lineEnd = Find(header, last, "\r\n");
            if (lineEnd < 0) throw Fault();
            if (lineEnd == header) break;
            const auto starts = [&](const char* prefix) {
                const long n = static_cast<long>(std::strlen(prefix));
                return lineEnd - header >= n && strncasecmp(mBody + header, prefix, static_cast<size_t>(n)) == 0;
            };
            if (starts("Content-Disposition:")) {
                if (headersEnd >= 0) {
                    name = Value(header, headersEnd, "name=");
                    fileName = Value(header, headersEnd, "filename=");
                }
            } else if (starts("Content-Type:")) {
                if (headersEnd >= 0) contentType = Value(header, headersEnd, ": ");
            }
            header = lineEnd + 2;
        }
        const long content = header + 2;
        // The boundary is looked for as a C string: up to a zero byte in it.
        const long next = Find(content, last, boundary.c_str());
        if (next < 0) return -1;
        const long length = std::max(0L, next - content - 2);
        Add(name, Item{fileName, contentType, std::string(mBody + content, static_cast<size_t>(length)), content});
        return next;
    }

    static std::string Decoded(const std::string& text) {
        const auto hex = [](char c) {
            if (c >= '0' && c <= '9') return c - '0';
            if (c >= 'a' && c <= 'f') return c - 'a' + 10;
            if (c >= 'A' && c <= 'F') return c - 'A' + 10;
            return -1;
        };
        std::string out;
        const std::string padded = text + std::string(2, '\0');
        for (size_t i = 0; i < text.size();) {
            if (padded[i] == '+') {
                out += ' ';
                ++i;
            } else if (padded[i] == '%') {
                const int high = hex(padded[i + 1]);
                const int low = high < 0 ? -1 : hex(padded[i + 2]);
                if (high < 0)
                    ++i;
                else if (low < 0)
                    i += 2;
                else {
                    out += static_cast<char>(high * 16 + low);
                    i += 3;
                }
            } else {
                out += padded[i++];
            }
        }
        return out;
    }

    void UrlEncoded() {
        // The copy's C strings: a zero byte ends every search.
        const std::string copy = std::string(mBody, mSize) + "&";
        const std::string text(copy.c_str());
        size_t at = 0;
        while (at < text.size()) {
            const size_t equals = text.find('=', at);
            if (equals == std::string::npos) break;
            const size_t ampersand = text.find('&', equals + 1);
            if (ampersand == std::string::npos) throw Fault();
            std::string name = Decoded(text.substr(at, equals - at));
            std::string value = Decoded(text.substr(equals + 1, ampersand - equals - 1));
            Add(name.c_str(), Item{"", "", value.c_str(), -1});
            at = ampersand + 1;
        }
    }

    // The bytes at `at` that make one UTF-8 character: 0 when they start none.
    static size_t CharacterLength(const std::string& name, size_t at) {
        for (size_t length = 1; length <= 4 && at + length <= name.size(); ++length) {
            const std::string bytes = name.substr(at, length);
            const std::u16string wide = platform::codepage::ToUtf16(bytes);
            if (!wide.empty() && platform::codepage::FromUtf16(wide) == bytes) return length;
        }
        return 0;
    }

    // A name's key: its characters folded, and each byte that starts no
    // character as the lone surrogate 0xDC00 + byte.
    static std::u16string Key(const std::string& name) {
        std::u16string key;
        for (size_t at = 0; at < name.size();) {
            const size_t length = CharacterLength(name, at);
            if (length == 0) {
                key.push_back(static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(name[at++])));
                continue;
            }
            key += platform::codepage::FoldCase(platform::codepage::ToUtf16(name.substr(at, length)));
            at += length;
        }
        return key;
    }

    void Add(std::string name, Item item) {
        name = name.substr(0, std::min(name.size(), std::strlen(name.c_str())));
        if (name.size() > 259) name.resize(259);
        const std::u16string key = Key(name);
        auto found = mIndex.find(key);
        if (found == mIndex.end()) {
            found = mIndex.emplace(key, mResult.groups.size()).first;
            mResult.groups.push_back(Group{name, {}});
        }
        mResult.groups[found->second].items.push_back(std::move(item));
    }

    const char* mBody = nullptr;
    size_t mSize = 0;
    Parse mResult;
    std::map<std::u16string, size_t> mIndex;
};

// The first difference between the engine's parse of `body` and the
// reference's, or "" when there is none.
inline std::string Difference(::Multipart& engine, const uint8_t* body, size_t size) {
    const Parse expected = Parser().Run(body, size);
    const bool fault =
        engine.Report().ComposeText().find("GetMultipartItems raised an exception.") != std::string::npos;
    if (fault != expected.fault) return "fault " + std::to_string(fault);
    if (engine.GroupCount() != static_cast<int>(expected.groups.size()))
        return "groups " + std::to_string(engine.GroupCount()) + " against " + std::to_string(expected.groups.size());
    if (!expected.fault && engine.IsMultipart() != expected.multipart) return "multipart";
    for (int g = 0; g < engine.GroupCount(); ++g) {
        const FieldGroup* group = engine.GroupAt(g);
        const Group& want = expected.groups[static_cast<size_t>(g)];
        const std::string where = "group " + std::to_string(g);
        if (group->name() != want.name) return where + " name";
        if (group->count() != static_cast<int>(want.items.size())) return where + " count";
        for (int i = 0; i < group->count(); ++i) {
            const MultipartItem* item = group->itemAt(i);
            const Item& wantItem = want.items[static_cast<size_t>(i)];
            const std::string at = where + " item " + std::to_string(i);
            if (std::string(reinterpret_cast<const char*>(item->data), static_cast<size_t>(item->length)) !=
                wantItem.bytes)
                return at + " bytes";
            if (wantItem.offset >= 0 && item->data != body + wantItem.offset) return at + " offset";
            const ClientFileNames names =
                wantItem.fileName.empty() ? ClientFileNames{} : BuildClientFileNames(wantItem.fileName.c_str(), 0, 0);
            if (item->rawPath.view() != names.rawPath || item->safeName.view() != names.safeName ||
                item->urlSafeName.view() != names.urlSafeName)
                return at + " file names";
            if (item->contentType.view() != platform::codepage::ToUtf16(wantItem.contentType)) return at + " type";
        }
    }
    return "";
}

}  // namespace reference
