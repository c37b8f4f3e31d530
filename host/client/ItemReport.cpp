// The members of a report's item, and the plain text of report values.
#include "client/ItemReport.h"

#include <cstring>

#include "core/Page.h"
#include "platform/CodePage.h"

void ItemReport::startMember(const char* name) {
    mJson += mMembers.empty() ? "\"" : ", \"";
    mJson += name;
    mJson += "\": ";
    mMembers.push_back({name, mJson.size(), 0});
}

void ItemReport::add(const char* name, std::string_view json) {
    addWritten(name, [json](std::string& itemJson) { itemJson += json; });
}

void ItemReport::addText(const char* name, std::u16string_view text) {
    // Room for the text and the members after it at once: a block grown by
    // doubling would be copied several times per item.
    mJson.reserve(mJson.size() + text.size() + kMembersBytes);
    startMember(name);
    AppendJsonString(mJson, text);
    mMembers.back().length = mJson.size() - mMembers.back().start;
}

const ItemReport::Member* ItemReport::find(const char* name) const {
    for (const Member& member : mMembers)
        if (member.name == name || std::strcmp(member.name, name) == 0) return &member;
    return nullptr;
}

void ItemReport::set(const char* name, std::string_view json) {
    const Member* found = find(name);
    if (!found) return;
    const size_t start = found->start, oldLength = found->length;
    mJson.replace(start, oldLength, json);
    for (Member& member : mMembers) {
        if (member.start > start) member.start = member.start - oldLength + json.size();
    }
    const_cast<Member*>(found)->length = json.size();
}

std::string_view ItemReport::value(const char* name) const {
    const Member* found = find(name);
    return found ? std::string_view(mJson).substr(found->start, found->length) : std::string_view();
}

namespace {

// The characters of the JSON string that starts at `json` (its opening
// quote), as AppendJsonString and JsonString write them: the escapes back
// to UTF-16, then UTF-8 (a lone surrogate as U+FFFD).
std::string JsonStringText(std::string_view json) {
    std::u16string units;
    for (size_t i = 1; i < json.size() && json[i] != '"';) {
        if (json[i] != '\\') {
            size_t run = i;
            while (run < json.size() && json[run] != '\\' && json[run] != '"') ++run;
            units += platform::codepage::Utf8ToUtf16(std::string(json.substr(i, run - i)));
            i = run;
        } else if (i + 1 < json.size() && json[i + 1] == 'u') {
            units += static_cast<char16_t>(std::stoul(std::string(json.substr(i + 2, 4)), nullptr, 16));
            i += 6;
        } else if (i + 1 < json.size()) {
            const char escaped = json[i + 1];
            units += escaped == 'n'   ? u'\n'
                     : escaped == 'r' ? u'\r'
                     : escaped == 't' ? u'\t'
                                      : static_cast<char16_t>(escaped);
            i += 2;
        } else {
            break;
        }
    }
    return platform::codepage::Utf16ToUtf8(units);
}

// The JSON value that follows `"key": ` in an object the report wrote.
std::string_view ObjectMember(std::string_view json, std::string_view key) {
    std::string marker = "\"";
    marker.append(key).append("\": ");
    const size_t at = json.find(marker);
    return at == std::string_view::npos ? std::string_view() : json.substr(at + marker.size());
}

}  // namespace

std::string ReportText(std::string_view json) {
    if (json == "null") return "";
    if (!json.empty() && json[0] == '"') return JsonStringText(json);
    if (json.empty() || json[0] != '{') return std::string(json);
    const std::string_view digest = ObjectMember(json, "SHA256");
    if (!digest.empty()) {
        const std::string_view length = ObjectMember(json, "Length");
        return std::string(length.substr(0, length.find(','))) + " bytes, SHA-256 " + JsonStringText(digest);
    }
    const std::string_view description = ObjectMember(json, "Description");
    return description.empty() ? std::string(json) : JsonStringText(description);
}
