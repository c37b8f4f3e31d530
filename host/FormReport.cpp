// Builds the report of a form through late binding.
#include "FormReport.h"

#include <cstdio>
#include <vector>

#include "Page.h"
#include "Sha256.h"

namespace {

std::string Get(DispatchObject& object, const std::string& name, std::vector<VARIANT> args = {}) {
    platform::Variant value;
    if (!object.get(name, &value, std::move(args))) throw MemberFailure{object.error()};
    if (value.vt == VT_BOOL) return value.boolVal ? "true" : "false";
    if (value.vt == VT_BSTR)
        return JsonString(std::u16string(value.bstrVal ? value.bstrVal : u"", SysStringLen(value.bstrVal)));
    return VariantText(value);
}

DispatchObject GetObject(DispatchObject& object, const std::string& name, std::vector<VARIANT> args) {
    platform::Variant value;
    if (!object.get(name, &value, std::move(args))) throw MemberFailure{object.error()};
    if (value.vt != VT_DISPATCH || !value.pdispVal) throw MemberFailure{{E_UNEXPECTED, "", name + " gave no object"}};
    value.pdispVal->AddRef();
    return DispatchObject(value.pdispVal);
}

std::string BytesJson(DispatchObject& field, const std::string& name) {
    platform::Variant value;
    if (!field.get(name, &value)) throw MemberFailure{field.error()};
    if (value.vt != (VT_ARRAY | VT_UI1) || !value.parray) throw MemberFailure{{E_UNEXPECTED, "", name + " gave no bytes"}};
    const size_t length = value.parray->rgsabound[0].cElements;
    return "{\"Length\": " + std::to_string(length) + ", \"SHA256\": \"" +
           Sha256Hex(static_cast<const uint8_t*>(value.parray->pvData), length) + "\"}";
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

std::string ItemJson(DispatchObject& field, const ItemExtras& extras) {
    std::string json = "{";
    const char* const kMembers[] = {"Name", "Content", "Length", "FileExists", "SafeFileName", "FileType",
                                    "FileName", "MIMEType", "MacBinary", "RawFilePath", "RawFileName",
                                    "RawFileType", "RawLength", "ImageType", "ImageWidth", "ImageHeight"};
    for (const char* member : kMembers) json += std::string("\"") + member + "\": " + Get(field, member) + ", ";
    json += "\"Data\": " + BytesJson(field, "Data") + ", \"RawData\": " + BytesJson(field, "RawData") +
            ", \"Resource\": " + BytesJson(field, "Resource");
    if (extras) json += extras(field);
    return json + "}";
}

}  // namespace

std::string FormReportJson(DispatchObject& form, const ItemExtras& extras) {
    std::string json = "{\"Multipart\": " + Get(form, "Multipart") + ", \"Count\": " + Get(form, "Count") +
                       ", \"Fields\": [";
    bool firstField = true;
    for (const std::string& name : Names(form)) {
        DispatchObject fields = GetObject(form, "Item", {MakeString(name)});
        const long count = std::stol(Get(fields, "Count"));
        json += std::string(firstField ? "" : ", ") + "{\"Name\": " + JsonString(name) +
                ", \"Count\": " + std::to_string(count) + ", \"Value\": " + Get(fields, "Item") + ", \"Items\": [";
        for (long n = 1; n <= count; ++n) {
            DispatchObject field = GetObject(fields, "Item", {MakeLong(n)});
            json += (n > 1 ? ", " : "") + ItemJson(field, extras);
        }
        json += "]}";
        firstField = false;
    }
    return json + "]}";
}

std::string ScriptErrorJson(const ScriptError& error) {
    char hr[16];
    std::snprintf(hr, sizeof hr, "0x%08x", static_cast<unsigned>(error.hr));
    return std::string("{\"Error\": {\"HRESULT\": \"") + hr + "\", \"Source\": " + JsonString(error.source) +
           ", \"Description\": " + JsonString(error.description) + "}}";
}
