#include "BookmarkFile.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "HtmlEntities.inc"

namespace BookmarkFile {
namespace {

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

void AppendUtf8(std::string& out, uint32_t code) {
    if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// "&" + the longest name + ";" ("&CounterClockwiseContourIntegral;").
constexpr size_t kLongestReference = 33;

// The text of a named reference; the names are those of HTML, letter case
// as written, except that the six names older files wrote in any case
// (&AMP; &Lt; ...) are also found in lower case. Null for unknown names.
const char* NamedText(const std::string& name) {
    const auto find = [](const std::string& wanted) -> const char* {
        const auto* end = std::end(kNamedReferences);
        const auto* at = std::lower_bound(std::begin(kNamedReferences), end, wanted,
                                          [](const NamedReference& entry, const std::string& key) {
                                              return std::strcmp(entry.name, key.c_str()) < 0;
                                          });
        return at != end && wanted == at->name ? at->text : nullptr;
    };
    if (const char* text = find(name)) return text;
    const std::string lower = Lower(name);
    for (const char* old : {"amp", "lt", "gt", "quot", "apos", "nbsp"})
        if (lower == old) return find(lower);
    return nullptr;
}

// A tag: its lower-case name ("/dl" for an end tag) and its attribute text.
struct Tag {
    std::string name;
    std::string attributes;
    size_t end = 0;  // just past the '>'
};

// Reads the tag starting at text[at] == '<'; false when none starts there.
bool ReadTag(const std::string& text, size_t at, Tag* tag) {
    size_t i = at + 1;
    const size_t nameStart = i;
    if (i < text.size() && text[i] == '/') ++i;
    while (i < text.size() && std::isalnum(static_cast<unsigned char>(text[i]))) ++i;
    if (i == nameStart || (i == nameStart + 1 && text[nameStart] == '/')) return false;
    tag->name = Lower(text.substr(nameStart, i - nameStart));
    char quote = 0;
    const size_t attributesStart = i;
    for (; i < text.size(); ++i) {
        if (quote) {
            if (text[i] == quote) quote = 0;
        } else if (text[i] == '"' || text[i] == '\'') {
            quote = text[i];
        } else if (text[i] == '>') {
            break;
        }
    }
    tag->attributes = text.substr(attributesStart, i - attributesStart);
    tag->end = i < text.size() ? i + 1 : text.size();
    return true;
}

// The value of one attribute of a tag's attribute text; "" when absent.
std::string Attribute(const std::string& attributes, const std::string& wanted) {
    size_t i = 0;
    while (i < attributes.size()) {
        while (i < attributes.size() && !std::isalpha(static_cast<unsigned char>(attributes[i]))) ++i;
        const size_t nameStart = i;
        while (i < attributes.size() && (std::isalnum(static_cast<unsigned char>(attributes[i])) ||
                                         attributes[i] == '_' || attributes[i] == '-'))
            ++i;
        const std::string name = Lower(attributes.substr(nameStart, i - nameStart));
        while (i < attributes.size() && std::isspace(static_cast<unsigned char>(attributes[i]))) ++i;
        if (i >= attributes.size() || attributes[i] != '=') continue;
        ++i;
        while (i < attributes.size() && std::isspace(static_cast<unsigned char>(attributes[i]))) ++i;
        std::string value;
        if (i < attributes.size() && (attributes[i] == '"' || attributes[i] == '\'')) {
            const char quote = attributes[i++];
            const size_t close = attributes.find(quote, i);
            const size_t end = close == std::string::npos ? attributes.size() : close;
            value = attributes.substr(i, end - i);
            i = end + 1;
        } else {
            const size_t start = i;
            while (i < attributes.size() && !std::isspace(static_cast<unsigned char>(attributes[i]))) ++i;
            value = attributes.substr(start, i - start);
        }
        if (name == wanted) return DecodeEntities(value);
    }
    return "";
}

// The text up to the end tag `endName`, without inner tags, entities
// decoded and blanks collapsed; `*next` is set past the end tag.
std::string ElementText(const std::string& text, size_t from, const std::string& endName, size_t* next) {
    std::string raw;
    size_t i = from;
    while (i < text.size()) {
        Tag tag;
        if (text[i] == '<' && ReadTag(text, i, &tag)) {
            // A list tag ends an element left open; the caller reads it next.
            if (tag.name == "dt" || tag.name == "dl" || tag.name == "/dl" || tag.name == "dd") break;
            i = tag.end;
            if (tag.name == endName) break;
            continue;
        }
        raw += text[i++];
    }
    *next = i;
    std::string collapsed;
    for (char c : DecodeEntities(raw)) {
        const bool blank = c == ' ' || c == '\t' || c == '\r' || c == '\n';
        if (blank) {
            if (!collapsed.empty() && collapsed.back() != ' ') collapsed += ' ';
        } else {
            collapsed += c;
        }
    }
    while (!collapsed.empty() && collapsed.back() == ' ') collapsed.pop_back();
    return collapsed;
}

}  // namespace

std::string DecodeEntities(const std::string& text) {
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] != '&') {
            out += text[i++];
            continue;
        }
        const size_t semicolon = text.find(';', i);
        if (semicolon == std::string::npos || semicolon - i > kLongestReference) {
            out += text[i++];
            continue;
        }
        const std::string name = text.substr(i + 1, semicolon - i - 1);
        bool decoded = false;
        if (const char* named = NamedText(name)) {
            out += named;
            decoded = true;
        } else if (name.size() >= 2 && name[0] == '#') {
            const bool hex = name[1] == 'x' || name[1] == 'X';
            const std::string digits = name.substr(hex ? 2 : 1);
            const bool valid = !digits.empty() && digits.find_first_not_of(hex ? "0123456789abcdefABCDEF"
                                                                               : "0123456789") == std::string::npos;
            if (valid) AppendUtf8(out, static_cast<uint32_t>(std::strtoul(digits.c_str(), nullptr, hex ? 16 : 10)));
            decoded = valid;
        }
        if (!decoded) {
            out += text[i++];
            continue;
        }
        i = semicolon + 1;
    }
    return out;
}

Contents Parse(const std::string& html) {
    Contents contents;
    // One entry per open <DL>: whether it opened a folder of its own.
    std::vector<bool> lists;
    FolderPath current;
    std::string pendingFolder;
    bool folderPending = false;
    size_t i = 0;
    while (i < html.size()) {
        const size_t open = html.find('<', i);
        if (open == std::string::npos) break;
        Tag tag;
        if (!ReadTag(html, open, &tag)) {
            i = open + 1;
            continue;
        }
        i = tag.end;
        if (tag.name == "h3") {
            pendingFolder = ElementText(html, i, "/h3", &i);
            folderPending = true;
        } else if (tag.name == "dl") {
            const bool opensFolder = folderPending && current.size() < kMaxDepth;
            if (opensFolder) {
                current.push_back(pendingFolder);
                contents.folders.push_back(current);
            }
            lists.push_back(opensFolder);
            folderPending = false;
        } else if (tag.name == "/dl") {
            if (!lists.empty()) {
                if (lists.back()) current.pop_back();
                lists.pop_back();
            }
            folderPending = false;
        } else if (tag.name == "a") {
            Bookmark bookmark{current, "", Attribute(tag.attributes, "href")};
            bookmark.title = ElementText(html, i, "/a", &i);
            if (!bookmark.url.empty()) contents.bookmarks.push_back(std::move(bookmark));
            folderPending = false;
        }
    }
    return contents;
}

}  // namespace BookmarkFile
