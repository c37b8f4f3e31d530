// formix4-inspect [--codepage N] FILE
// Parses a raw upload file the way a page would (by ProgID and late
// binding) and prints one JSON document; exit status 0, or 1 with
// {"Error": {...}} when a member fails.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Page.h"
#include "Script.h"
#include "Sha256.h"

namespace {

struct MemberFailure {
    ScriptError error;
};

void Check(DispatchObject& object) {
    if (!object.ok()) throw MemberFailure{object.error()};
}

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

std::string ItemJson(DispatchObject& field) {
    std::string json = "{";
    const char* const kMembers[] = {"Name", "Content", "Length", "FileExists", "SafeFileName", "FileType",
                                    "FileName", "MIMEType", "MacBinary", "RawFilePath", "RawFileName",
                                    "RawFileType", "RawLength", "ImageType", "ImageWidth", "ImageHeight"};
    for (const char* member : kMembers) json += std::string("\"") + member + "\": " + Get(field, member) + ", ";
    json += "\"Data\": " + BytesJson(field, "Data") + ", \"RawData\": " + BytesJson(field, "RawData") +
            ", \"Resource\": " + BytesJson(field, "Resource") + "}";
    return json;
}

std::string Inspect(const std::string& path, const std::string& codePage) {
    DispatchObject form = DispatchObject::Create("Formix4.XForm");
    Check(form);
    if (!form.put("AbsolutePath", MakeBool(true))) Check(form);
    if (!codePage.empty() && !form.put("CodePage", MakeLong(std::stol(codePage)))) Check(form);
    if (!form.call("Read", {MakeString(path)})) Check(form);
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
            json += (n > 1 ? ", " : "") + ItemJson(field);
        }
        json += "]}";
        firstField = false;
    }
    return json + "]}";
}

}  // namespace

int main(int argc, char** argv) {
    std::string codePage, path;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--codepage") == 0 && i + 1 < argc) codePage = argv[++i];
        else if (path.empty()) path = argv[i];
        else path.clear(), i = argc;
    }
    if (path.empty()) {
        std::fprintf(stderr, "usage: formix4-inspect [--codepage N] FILE\n");
        return 2;
    }
    try {
        std::printf("%s\n", Inspect(path, codePage).c_str());
        return 0;
    } catch (const MemberFailure& failure) {
        char hr[16];
        std::snprintf(hr, sizeof hr, "0x%08x", static_cast<unsigned>(failure.error.hr));
        std::printf("{\"Error\": {\"HRESULT\": \"%s\", \"Source\": %s, \"Description\": %s}}\n", hr,
                    JsonString(failure.error.source).c_str(), JsonString(failure.error.description).c_str());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "formix4-inspect: %s\n", e.what());
        return 2;
    }
}
