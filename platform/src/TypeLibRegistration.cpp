// Type libraries in the registry: loading a registered library, and
// registering and unregistering one with its dual interfaces.
#include <cstdio>
#include <string>

#include "platform/CodePage.h"
#include "platform/ComPtr.h"
#include "platform/Registry.h"
#include "platform/RegistryValues.h"
#include "platform/TypeLibrary.h"

namespace {

using platform::codepage::Utf16ToUtf8;

std::string GuidText(REFGUID guid) {
    OLECHAR wide[40];
    StringFromGUID2(guid, wide, 40);
    return Utf16ToUtf8(wide);
}

std::string VersionKey(REFGUID libid, WORD major, WORD minor) {
    char version[16];
    std::snprintf(version, sizeof version, "%x.%x", major, minor);
    return "TypeLib\\" + GuidText(libid) + "\\" + version;
}

}  // namespace

HRESULT LoadRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, ITypeLib** library) {
    if (!library) return E_INVALIDARG;
    *library = nullptr;
    char lcidText[16];
    std::snprintf(lcidText, sizeof lcidText, "%x", lcid);
    std::string path;
    if (!platform::registry::ReadString(HKEY_CLASSES_ROOT,
                                        VersionKey(libid, major, minor) + "\\" + lcidText + "\\win32", "", &path))
        return TYPE_E_LIBNOTREGISTERED;
    return LoadTypeLib(platform::codepage::Utf8ToUtf16(path).c_str(), library);
}

namespace {

constexpr const char* kOleAutomationProxy = "{00020424-0000-0000-C000-000000000046}";

HRESULT FromRegistry(LONG status) {
    return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(status));
}

}  // namespace

HRESULT RegisterTypeLib(ITypeLib* library, LPCOLESTR fullPath, LPCOLESTR helpDir) {
    if (!library || !fullPath) return E_INVALIDARG;
    TLIBATTR* attr = nullptr;
    HRESULT hr = library->GetLibAttr(&attr);
    if (FAILED(hr)) return hr;
    const TLIBATTR libAttr = *attr;
    library->ReleaseTLibAttr(attr);
    using platform::codepage::Utf16ToUtf8;
    using platform::registry::WriteString;
    platform::Bstr doc;
    library->GetDocumentation(-1, nullptr, doc.put(), nullptr, nullptr);
    const std::string versionKey = VersionKey(libAttr.guid, libAttr.wMajorVerNum, libAttr.wMinorVerNum);
    char lcidText[16];
    std::snprintf(lcidText, sizeof lcidText, "%x", libAttr.lcid);
    LONG status = WriteString(HKEY_CLASSES_ROOT, versionKey, "", Utf16ToUtf8(doc.str()));
    if (status == ERROR_SUCCESS) status = WriteString(HKEY_CLASSES_ROOT, versionKey + "\\FLAGS", "", "0");
    if (status == ERROR_SUCCESS && helpDir)
        status = WriteString(HKEY_CLASSES_ROOT, versionKey + "\\HELPDIR", "", Utf16ToUtf8(helpDir));
    if (status == ERROR_SUCCESS)
        status = WriteString(HKEY_CLASSES_ROOT, versionKey + "\\" + lcidText + "\\win32", "", Utf16ToUtf8(fullPath));
    if (status != ERROR_SUCCESS) return FromRegistry(status);
    // Dual interfaces are marshaled by the standard automation proxy.
    char version[16];
    std::snprintf(version, sizeof version, "%x.%x", libAttr.wMajorVerNum, libAttr.wMinorVerNum);
    for (UINT i = 0; i < library->GetTypeInfoCount(); ++i) {
        TYPEKIND kind;
        library->GetTypeInfoType(i, &kind);
        if (kind != TKIND_DISPATCH) continue;
        platform::ComPtr<ITypeInfo> info;
        library->GetTypeInfo(i, info.put());
        platform::Bstr name;
        info->GetDocumentation(MEMBERID_NIL, name.put(), nullptr, nullptr, nullptr);
        TYPEATTR* typeAttr = nullptr;
        info->GetTypeAttr(&typeAttr);
        const std::string key = "Interface\\" + GuidText(typeAttr->guid);
        info->ReleaseTypeAttr(typeAttr);
        status = WriteString(HKEY_CLASSES_ROOT, key, "", Utf16ToUtf8(name.str()));
        if (status == ERROR_SUCCESS)
            status = WriteString(HKEY_CLASSES_ROOT, key + "\\ProxyStubClsid", "", kOleAutomationProxy);
        if (status == ERROR_SUCCESS)
            status = WriteString(HKEY_CLASSES_ROOT, key + "\\ProxyStubClsid32", "", kOleAutomationProxy);
        if (status == ERROR_SUCCESS)
            status = WriteString(HKEY_CLASSES_ROOT, key + "\\TypeLib", "", GuidText(libAttr.guid));
        if (status == ERROR_SUCCESS) status = WriteString(HKEY_CLASSES_ROOT, key + "\\TypeLib", "Version", version);
        if (status != ERROR_SUCCESS) return FromRegistry(status);
    }
    return S_OK;
}

HRESULT UnRegisterTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, SYSKIND) {
    platform::ComPtr<ITypeLib> library;
    HRESULT hr = LoadRegTypeLib(libid, major, minor, lcid, library.put());
    if (FAILED(hr)) return hr;
    for (UINT i = 0; i < library->GetTypeInfoCount(); ++i) {
        TYPEKIND kind;
        library->GetTypeInfoType(i, &kind);
        if (kind != TKIND_DISPATCH) continue;
        platform::ComPtr<ITypeInfo> info;
        library->GetTypeInfo(i, info.put());
        TYPEATTR* typeAttr = nullptr;
        info->GetTypeAttr(&typeAttr);
        RegDeleteTreeA(HKEY_CLASSES_ROOT, ("Interface\\" + GuidText(typeAttr->guid)).c_str());
        info->ReleaseTypeAttr(typeAttr);
    }
    RegDeleteTreeA(HKEY_CLASSES_ROOT, VersionKey(libid, major, minor).c_str());
    // The library's key goes when no other version is left under it.
    const std::string libKey = "TypeLib\\" + GuidText(libid);
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, libKey.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
        DWORD subKeys = 0;
        RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr);
        RegCloseKey(key);
        if (subKeys == 0) RegDeleteTreeA(HKEY_CLASSES_ROOT, libKey.c_str());
    }
    return S_OK;
}
