// Type libraries built from a component's declarative table, and the
// process's libraries loaded from modules.
#include "TypeLib.h"

#include <dlfcn.h>

#include <map>
#include <mutex>
#include <new>

#include "platform/CodePage.h"

namespace platform::typelib {

TypeLib::TypeLib(const LibraryInfo* info, std::u16string path) : mInfo(info), mPath(std::move(path)) {
    UINT index = 0;
    for (int i = 0; i < info->interfaceCount; ++i) {
        auto dispatch =
            std::make_unique<TypeInfo>(this, index++, TypeInfo::Kind::Dispatch, info->interfaces[i], nullptr, nullptr);
        auto vtable = std::make_unique<TypeInfo>(this, static_cast<UINT>(-1), TypeInfo::Kind::Vtable,
                                                 info->interfaces[i], nullptr, nullptr);
        dispatch->setVtableView(vtable.get());
        mTypes.push_back(std::move(dispatch));
        mVtableViews.push_back(std::move(vtable));
    }
    for (int i = 0; i < info->coclassCount; ++i)
        mTypes.push_back(
            std::make_unique<TypeInfo>(this, index++, TypeInfo::Kind::Coclass, nullptr, &info->coclasses[i], nullptr));
    for (int i = 0; i < info->enumCount; ++i)
        mTypes.push_back(
            std::make_unique<TypeInfo>(this, index++, TypeInfo::Kind::Enum, nullptr, nullptr, &info->enums[i]));
}

HRESULT TypeLib::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ITypeLib) {
        *ppv = static_cast<ITypeLib*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

HRESULT TypeLib::GetTypeInfo(UINT index, ITypeInfo** out) {
    if (!out) return E_INVALIDARG;
    if (index >= mTypes.size()) return TYPE_E_ELEMENTNOTFOUND;
    *out = mTypes[index].get();
    (*out)->AddRef();
    return S_OK;
}

HRESULT TypeLib::GetTypeInfoType(UINT index, TYPEKIND* kind) {
    if (!kind) return E_INVALIDARG;
    if (index >= mTypes.size()) return TYPE_E_ELEMENTNOTFOUND;
    TYPEATTR* attr = nullptr;
    mTypes[index]->GetTypeAttr(&attr);
    *kind = attr->typekind;
    mTypes[index]->ReleaseTypeAttr(attr);
    return S_OK;
}

HRESULT TypeLib::GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    for (int i = 0; i < mInfo->interfaceCount; ++i)
        if (*mInfo->interfaces[i]->iid == guid) *out = mTypes[static_cast<size_t>(i)].get();
    for (int i = 0; i < mInfo->coclassCount; ++i)
        if (*mInfo->coclasses[i].clsid == guid)
            *out = mTypes[static_cast<size_t>(mInfo->interfaceCount) + static_cast<size_t>(i)].get();
    if (!*out) return TYPE_E_ELEMENTNOTFOUND;
    (*out)->AddRef();
    return S_OK;
}

HRESULT TypeLib::GetLibAttr(TLIBATTR** out) {
    if (!out) return E_INVALIDARG;
    *out = new (std::nothrow)
        TLIBATTR{*mInfo->libid, 0, SYS_WIN32, mInfo->majorVersion, mInfo->minorVersion, LIBFLAG_FHASDISKIMAGE};
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT TypeLib::GetTypeComp(ITypeComp** out) {
    if (out) *out = nullptr;
    return E_NOTIMPL;
}

HRESULT TypeLib::GetDocumentation(INT index, BSTR* name, BSTR* doc, DWORD* helpContext, BSTR* helpFile) {
    if (index == -1) {
        if (name) *name = MakeBstr(mInfo->name);
        if (doc) *doc = MakeBstr(mInfo->help);
        if (helpContext) *helpContext = 0;
        if (helpFile) *helpFile = nullptr;
        return S_OK;
    }
    if (index < 0 || static_cast<size_t>(index) >= mTypes.size()) return TYPE_E_ELEMENTNOTFOUND;
    return mTypes[static_cast<size_t>(index)]->GetDocumentation(MEMBERID_NIL, name, doc, helpContext, helpFile);
}

HRESULT TypeLib::IsName(LPOLESTR name, ULONG, BOOL* found) {
    if (!name || !found) return E_INVALIDARG;
    ITypeInfo* info = nullptr;
    MEMBERID id = 0;
    USHORT count = 1;
    FindName(name, 0, &info, &id, &count);
    *found = count > 0;
    if (info) info->Release();
    return S_OK;
}

HRESULT TypeLib::FindName(LPOLESTR name, ULONG, ITypeInfo** infos, MEMBERID* ids, USHORT* count) {
    if (!name || !infos || !ids || !count) return E_INVALIDARG;
    const USHORT wanted = *count;
    USHORT found = 0;
    for (auto& type : mTypes) {
        if (found >= wanted) break;
        MEMBERID id = MEMBERID_NIL;
        LPOLESTR names[] = {name};
        if (SUCCEEDED(type->GetIDsOfNames(names, 1, &id))) {
            infos[found] = type.get();
            type->AddRef();
            ids[found++] = id;
        }
    }
    *count = found;
    return S_OK;
}

ITypeInfo* TypeLib::dispatchOf(const InterfaceInfo* iface) const {
    for (int i = 0; i < mInfo->interfaceCount; ++i)
        if (mInfo->interfaces[i] == iface) return mTypes[static_cast<size_t>(i)].get();
    return nullptr;
}

namespace {

// ---- the process's libraries ------------------------------------------------

std::mutex gLibrariesMutex;
std::map<std::string, TypeLib*>& Libraries() {
    static auto* libraries = new std::map<std::string, TypeLib*>;
    return *libraries;
}

}  // namespace

HRESULT CreateTypeLib(const LibraryInfo* info, const char16_t* path, ITypeLib** library) {
    if (!info || !library) return E_INVALIDARG;
    auto* lib = new (std::nothrow) TypeLib(info, path ? path : u"");
    if (!lib) return E_OUTOFMEMORY;
    *library = lib;
    return S_OK;
}

}  // namespace platform::typelib

using namespace platform::typelib;

HRESULT LoadTypeLib(LPCOLESTR path, ITypeLib** library) {
    if (!path || !library) return E_INVALIDARG;
    *library = nullptr;
    const std::string file = platform::codepage::Utf16ToUtf8(path);
    std::lock_guard<std::mutex> guard(gLibrariesMutex);
    auto it = Libraries().find(file);
    if (it != Libraries().end()) {
        it->second->AddRef();
        *library = it->second;
        return S_OK;
    }
    // The module stays loaded: its table backs the library from now on.
    void* module = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) return TYPE_E_CANTLOADLIBRARY;
    auto get = reinterpret_cast<TypeLibraryExport>(dlsym(module, kTypeLibraryExport));
    const LibraryInfo* info = get ? get(1) : nullptr;
    if (!info) {
        dlclose(module);
        return TYPE_E_CANTLOADLIBRARY;
    }
    ITypeLib* created = nullptr;
    const HRESULT hr = CreateTypeLib(info, path, &created);
    if (FAILED(hr)) return hr;
    Libraries()[file] = static_cast<TypeLib*>(created);
    created->AddRef();
    *library = created;
    return S_OK;
}
