// Class activation through HKEY_CLASSES_ROOT: ProgIDs, CLSIDs and in-process
// servers loaded with dlopen.
#include <dlfcn.h>

#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

#include "platform/CodePage.h"
#include "platform/ComPtr.h"
#include "platform/Registry.h"
#include "platform/RegistryValues.h"

namespace {

struct ServerModule {
    void* handle = nullptr;
    LPFNGETCLASSOBJECT getClassObject = nullptr;
    LPFNCANUNLOADNOW canUnloadNow = nullptr;
};

std::mutex gModulesMutex;
std::map<std::string, ServerModule>& Modules() {
    static auto* modules = new std::map<std::string, ServerModule>;
    return *modules;
}

std::string GuidText(REFGUID guid) {
    OLECHAR wide[40];
    StringFromGUID2(guid, wide, 40);
    return platform::codepage::Utf16ToUtf8(wide);
}

HRESULT LoadServer(const std::string& path, ServerModule* out) {
    std::lock_guard<std::mutex> guard(gModulesMutex);
    auto it = Modules().find(path);
    if (it != Modules().end()) {
        *out = it->second;
        return S_OK;
    }
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    ServerModule module;
    module.handle = handle;
    module.getClassObject = reinterpret_cast<LPFNGETCLASSOBJECT>(dlsym(handle, "DllGetClassObject"));
    module.canUnloadNow = reinterpret_cast<LPFNCANUNLOADNOW>(dlsym(handle, "DllCanUnloadNow"));
    if (!module.getClassObject) {
        dlclose(handle);
        return CO_E_ERRORINDLL;
    }
    Modules()[path] = module;
    *out = module;
    return S_OK;
}

}  // namespace

HRESULT CoInitializeEx(void*, DWORD) { return S_OK; }

void CoUninitialize() {}

void* CoTaskMemAlloc(size_t size) { return std::malloc(size); }

void CoTaskMemFree(void* p) { std::free(p); }

HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid) {
    if (!progId || !clsid) return E_INVALIDARG;
    using platform::registry::ReadString;
    std::string name = platform::codepage::Utf16ToUtf8(progId);
    // A version-independent ProgID names its current version under CurVer.
    for (int hop = 0; hop < 8; ++hop) {
        std::string current;
        if (!ReadString(HKEY_CLASSES_ROOT, name + "\\CurVer", "", &current) || current.empty() ||
            platform::codepage::CompareNoCaseUtf8(current, name) == 0)
            break;
        name = current;
    }
    std::string text;
    if (!ReadString(HKEY_CLASSES_ROOT, name + "\\CLSID", "", &text)) return CO_E_CLASSSTRING;
    return CLSIDFromString(platform::codepage::Utf8ToUtf16(text).c_str(), clsid);
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId) {
    if (!progId) return E_INVALIDARG;
    *progId = nullptr;
    std::string text;
    if (!platform::registry::ReadString(HKEY_CLASSES_ROOT, "CLSID\\" + GuidText(clsid) + "\\ProgID", "", &text))
        return REGDB_E_CLASSNOTREG;
    const std::u16string wide = platform::codepage::Utf8ToUtf16(text);
    auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc((wide.size() + 1) * sizeof(OLECHAR)));
    if (!copy) return E_OUTOFMEMORY;
    std::copy(wide.begin(), wide.end(), copy);
    copy[wide.size()] = 0;
    *progId = copy;
    return S_OK;
}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD clsContext, void*, REFIID riid, void** ppv) {
    if (!ppv) return E_INVALIDARG;
    *ppv = nullptr;
    if (!(clsContext & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
    std::string path;
    if (!platform::registry::ReadString(HKEY_CLASSES_ROOT, "CLSID\\" + GuidText(clsid) + "\\InprocServer32", "",
                                        &path) ||
        path.empty())
        return REGDB_E_CLASSNOTREG;
    ServerModule module;
    const HRESULT hr = LoadServer(path, &module);
    if (FAILED(hr)) return hr;
    return module.getClassObject(clsid, riid, ppv);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsContext, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    platform::ComPtr<IClassFactory> factory;
    HRESULT hr = CoGetClassObject(clsid, clsContext, nullptr, IID_IClassFactory, factory.putVoid());
    if (FAILED(hr)) return hr;
    return factory->CreateInstance(outer, riid, ppv);
}

void CoFreeUnusedLibraries() {
    std::lock_guard<std::mutex> guard(gModulesMutex);
    for (auto it = Modules().begin(); it != Modules().end();) {
        if (it->second.canUnloadNow && it->second.canUnloadNow() == S_OK) {
            dlclose(it->second.handle);
            it = Modules().erase(it);
        } else {
            ++it;
        }
    }
}
