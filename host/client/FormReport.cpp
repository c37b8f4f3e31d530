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

ItemReport ReadItem(DispatchObject& field, const ReportOptions& options) {
    ItemReport item;
    // Read first: whether the item is a file decides what else is read.
    const ReportValue fileExists = Get(field, "FileExists");
    const bool isFile = fileExists.json == "true";
    const char* const kMembers[] = {"Name", "Content", "Length", "FileExists", "SafeFileName", "FileType",
                                    "FileName", "MIMEType", "MacBinary", "RawFilePath", "RawFileName",
                                    "RawFileType", "RawLength", "ImageType", "ImageWidth", "ImageHeight"};
    for (const std::string member : kMembers) {
        if (member == "FileExists") item.add(member, fileExists);
        else if (member == "Content" && isFile && !options.fileContent) item.add(member, {"null", ""});
        else item.add(member, Get(field, member));
    }
    if (options.fileBytes || !isFile)
        for (const char* member : {"Data", "RawData", "Resource"}) item.add(member, MemberBytes(field, member));
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
        FieldReport field{name, std::stol(Get(fields, "Count").json), {"null", ""}, {}};
        bool hasFile = false;
        for (long n = 1; n <= field.count; ++n) {
            DispatchObject item = GetObject(fields, "Item", {MakeLong(n)});
            field.items.push_back(ReadItem(item, options));
            hasFile = hasFile || field.items.back().text("FileExists") == "true";
        }
        // The joined value holds every file's bytes as text: read only when
        // the content of files is wanted.
        if (options.fileContent || !hasFile) field.value = Get(fields, "Item");
        report.fields.push_back(std::move(field));
    }
    return report;
}

std::string FormReportJson(const FormReport& report) {
    std::string json = std::string("{\"Multipart\": ") + (report.multipart ? "true" : "false") +
                       ", \"Count\": " + std::to_string(report.count) + ", \"Fields\": [";
    for (size_t f = 0; f < report.fields.size(); ++f) {
        const FieldReport& field = report.fields[f];
        json += std::string(f ? ", " : "") + "{\"Name\": " + JsonString(field.name) +
                ", \"Count\": " + std::to_string(field.count) + ", \"Value\": " + field.value.json + ", \"Items\": [";
        for (size_t i = 0; i < field.items.size(); ++i) {
            json += i ? ", {" : "{";
            const auto& members = field.items[i].members;
            for (size_t m = 0; m < members.size(); ++m)
                json += (m ? ", \"" : "\"") + members[m].first + "\": " + members[m].second.json;
            json += "}";
        }
        json += "]}";
    }
    return json + "]}";
}

std::string ScriptErrorFieldsJson(const ScriptError& error) {
    char hr[16];
    std::snprintf(hr, sizeof hr, "0x%08x", static_cast<unsigned>(error.hr));
    return std::string("{\"HRESULT\": \"") + hr + "\", \"Source\": " + JsonString(error.source) +
           ", \"Description\": " + JsonString(error.description) + "}";
}

std::string ScriptErrorJson(const ScriptError& error) { return "{\"Error\": " + ScriptErrorFieldsJson(error) + "}"; }
