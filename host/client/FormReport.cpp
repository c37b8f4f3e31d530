// Builds the report of a form through late binding.
#include "client/FormReport.h"

#include <cstdio>
#include <vector>

#include "core/Page.h"
#include "client/Sha256.h"
#include "platform/CodePage.h"

namespace {

ReportValue Get(DispatchObject& object, const std::string& name, std::vector<VARIANT> args = {}) {
    platform::Variant value;
    if (!object.get(name, &value, std::move(args))) throw MemberFailure{object.error()};
    if (value.vt == VT_BOOL) return value.boolVal ? ReportValue{"true", "true"} : ReportValue{"false", "false"};
    if (value.vt == VT_BSTR) {
        const std::u16string text(value.bstrVal ? value.bstrVal : u"", SysStringLen(value.bstrVal));
        return {JsonString(text), platform::codepage::Utf16ToUtf8(text)};
    }
    const std::string text = VariantText(value);
    return {text, text};
}

DispatchObject GetObject(DispatchObject& object, const std::string& name, std::vector<VARIANT> args) {
    DispatchObject result = object.getObject(name, std::move(args));
    if (!result.ok()) throw MemberFailure{result.error()};
    return result;
}

std::vector<std::string> Names(DispatchObject& form) {
    platform::Variant value;
    if (!form.get("_NewEnum", &value)) throw MemberFailure{form.error()};
    platform::ComPtr<IEnumVARIANT> names;
    if (value.vt != VT_UNKNOWN || !value.punkVal ||
        FAILED(value.punkVal->QueryInterface(IID_IEnumVARIANT, names.putVoid())))
        throw MemberFailure{{E_NOINTERFACE, "", "_NewEnum gave no enumerator"}};
    std::vector<std::string> result;
    for (;;) {
        platform::Variant name;
        ULONG fetched = 0;
        if (names->Next(1, &name, &fetched) != S_OK || fetched != 1) break;
        result.push_back(VariantText(name));
    }
    return result;
}

// A text member's value, cut to `maxLength` characters (0: whole) without
// splitting a surrogate pair; the characters left out in `cut`.
ReportValue TextValue(std::u16string_view text, size_t maxLength, size_t* cut) {
    *cut = 0;
    if (maxLength && text.size() > maxLength) {
        size_t keep = maxLength;
        if (text[keep - 1] >= 0xD800 && text[keep - 1] <= 0xDBFF) --keep;
        *cut = text.size() - keep;
        text = text.substr(0, keep);
    }
    ReportValue value;
    AppendJsonString(value.json, text);
    value.text = platform::codepage::Utf16ToUtf8(std::u16string(text));
    return value;
}

// Reads a member that gives text (Content, a field's joined Item).
std::u16string ReadText(DispatchObject& object, const std::string& name, std::vector<VARIANT> args = {}) {
    platform::Variant value;
    if (!object.get(name, &value, std::move(args))) throw MemberFailure{object.error()};
    if (value.vt != VT_BSTR) return platform::codepage::Utf8ToUtf16(VariantText(value));
    return std::u16string(value.bstrVal ? value.bstrVal : u"", SysStringLen(value.bstrVal));
}

// What reading an item tells of its field's joined value: when the item's
// Content is all its bytes as text (no MacBinary header, no NUL, which ends
// an item's part of the joined value), a field of that one item has it as
// its joined value, which then need not be read (and copied) again.
struct ItemText {
    bool isFile = false;
    bool contentIsJoined = false;
    ReportValue content;
    size_t contentCut = 0;
};

ItemReport ReadItem(DispatchObject& field, const ReportOptions& options, ItemText* facts) {
    ItemReport item;
    item.members.reserve(24);  // the standard members and what the caller adds
    // Read first: whether the item is a file decides what else is read.
    const ReportValue fileExists = Get(field, "FileExists");
    facts->isFile = fileExists.json == "true";
    bool contentHasNul = true;
    const char* const kMembers[] = {"Name", "Content", "Length", "FileExists", "SafeFileName", "FileType",
                                    "FileName", "MIMEType", "MacBinary", "RawFilePath", "RawFileName",
                                    "RawFileType", "RawLength", "ImageType", "ImageWidth", "ImageHeight"};
    for (const std::string member : kMembers) {
        if (member == "FileExists") {
            item.add(member, fileExists);
        } else if (member == "Content" && facts->isFile && !options.fileContent) {
            item.add(member, {"null", ""});
        } else if (member == "Content") {
            const std::u16string text = ReadText(field, member);
            contentHasNul = text.find(u'\0') != std::u16string::npos;
            facts->content = TextValue(text, options.maxTextLength, &facts->contentCut);
            item.add(member, facts->content);
            if (facts->contentCut) item.add("ContentCut", {std::to_string(facts->contentCut), std::to_string(facts->contentCut)});
        } else {
            item.add(member, Get(field, member));
        }
    }
    facts->contentIsJoined = !contentHasNul && item.text("MacBinary") == "false";
    if (options.fileBytes || !facts->isFile) AddItemBytes(field, item);
    if (options.extras) options.extras(field, item);
    return item;
}

}  // namespace

void ItemReport::set(const std::string& name, ReportValue value) {
    for (auto& member : members)
        if (member.first == name) member.second = std::move(value);
}

ReportValue BytesValue(const uint8_t* data, size_t length) { return DigestValue(length, Sha256Hex(data, length)); }

ReportValue DigestValue(uint64_t length, const std::string& digest) {
    return {"{\"Length\": " + std::to_string(length) + ", \"SHA256\": \"" + digest + "\"}",
            std::to_string(length) + " bytes, SHA-256 " + digest};
}

ReportValue MemberBytes(DispatchObject& field, const std::string& name) {
    platform::Variant value;
    if (!field.get(name, &value)) throw MemberFailure{field.error()};
    if (value.vt != (VT_ARRAY | VT_UI1) || !value.parray) throw MemberFailure{{E_UNEXPECTED, "", name + " gave no bytes"}};
    return BytesValue(static_cast<const uint8_t*>(value.parray->pvData), value.parray->rgsabound[0].cElements);
}

void AddItemBytes(DispatchObject& field, ItemReport& item) {
    const ReportValue data = MemberBytes(field, "Data");
    item.add("Data", data);
    if (item.text("MacBinary") == "true") {
        item.add("RawData", MemberBytes(field, "RawData"));
        item.add("Resource", MemberBytes(field, "Resource"));
    } else {
        item.add("RawData", data);
        item.add("Resource", BytesValue(nullptr, 0));
    }
}

std::string ItemReport::text(const std::string& name) const {
    for (const auto& [member, value] : members)
        if (member == name) return value.text;
    return "";
}

FormReport ReadFormReport(DispatchObject& form, const ReportOptions& options) {
    FormReport report;
    report.multipart = Get(form, "Multipart").json == "true";
    report.count = std::stol(Get(form, "Count").json);
    for (const std::string& name : Names(form)) {
        DispatchObject fields = GetObject(form, "Item", {MakeString(name)});
        FieldReport field{name, std::stol(Get(fields, "Count").json), {"null", ""}, 0, {}};
        bool hasFile = false;
        ItemText facts;
        for (long n = 1; n <= field.count; ++n) {
            DispatchObject item = GetObject(fields, "Item", {MakeLong(n)});
            field.items.push_back(ReadItem(item, options, &facts));
            hasFile = hasFile || facts.isFile;
        }
        // The joined value holds every file's bytes as text: read only when
        // the content of files is wanted.
        if (field.count == 1 && facts.contentIsJoined && (options.fileContent || !hasFile)) {
            field.value = std::move(facts.content);
            field.valueCut = facts.contentCut;
        } else if (options.fileContent || !hasFile) {
            field.value = TextValue(ReadText(fields, "Item"), options.maxTextLength, &field.valueCut);
        }
        report.fields.push_back(std::move(field));
    }
    return report;
}

namespace {
// An upper bound of the document's length, so that it is made in one block:
// a report of 10,000 fields is tens of megabytes, and each doubling of a
// growing text would copy it and fault in new memory.
size_t JsonLengthBound(const FormReport& report) {
    size_t length = 128;
    for (const FieldReport& field : report.fields) {
        length += 6 * field.name.size() + field.value.json.size() + 128;
        for (const ItemReport& item : field.items)
            for (const auto& [name, value] : item.members) length += name.size() + value.json.size() + 6;
    }
    return length;
}
}  // namespace

std::string FormReportJson(const FormReport& report) {
    // Appended piece by piece: a value is never copied into a temporary text.
    std::string json;
    json.reserve(JsonLengthBound(report));
    json += std::string("{\"Multipart\": ") + (report.multipart ? "true" : "false") +
            ", \"Count\": " + std::to_string(report.count) + ", \"Fields\": [";
    for (size_t f = 0; f < report.fields.size(); ++f) {
        const FieldReport& field = report.fields[f];
        json += f ? ", {\"Name\": " : "{\"Name\": ";
        json += JsonString(field.name);
        json += ", \"Count\": " + std::to_string(field.count) + ", \"Value\": ";
        json += field.value.json;
        if (field.valueCut) json += ", \"ValueCut\": " + std::to_string(field.valueCut);
        json += ", \"Items\": [";
        for (size_t i = 0; i < field.items.size(); ++i) {
            json += i ? ", {" : "{";
            const auto& members = field.items[i].members;
            for (size_t m = 0; m < members.size(); ++m) {
                json += m ? ", \"" : "\"";
                json += members[m].first;
                json += "\": ";
                json += members[m].second.json;
            }
            json += "}";
        }
        json += "]}";
    }
    json += "]}";
    return json;
}

std::string ScriptErrorFieldsJson(const ScriptError& error) {
    char hr[16];
    std::snprintf(hr, sizeof hr, "0x%08x", static_cast<unsigned>(error.hr));
    return std::string("{\"HRESULT\": \"") + hr + "\", \"Source\": " + JsonString(error.source) +
           ", \"Description\": " + JsonString(error.description) + "}";
}

std::string ScriptErrorJson(const ScriptError& error) { return "{\"Error\": " + ScriptErrorFieldsJson(error) + "}"; }
