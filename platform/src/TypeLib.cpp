// Type libraries built from a component's declarative table, and the generic
// dispatch (ITypeInfo::GetIDsOfNames / ITypeInfo::Invoke) over them.
#include <dlfcn.h>
#include <strings.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <iterator>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/CodePage.h"
#include "platform/ComPtr.h"
#include "platform/Registry.h"
#include "platform/RegistryValues.h"
#include "platform/System.h"
#include "platform/TypeLibrary.h"

namespace platform::typelib {
namespace {

using codepage::Utf16ToUtf8;
using codepage::Utf8ToUtf16;

constexpr HREFTYPE kVtableView = 1;  // GetRefTypeOfImplType(-1) of a dual interface

BSTR MakeBstr(const char* text) {
    if (!text) return nullptr;
    const std::u16string wide = Utf8ToUtf16(text);
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

// A name as member names compare: ASCII letters in any case.
std::string FoldedName(std::string name) {
    for (char& c : name)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return name;
}

bool IsRetval(const ParamInfo& p) { return (p.flags & PARAMFLAG_FRETVAL) != 0; }

std::string GuidText(REFGUID guid) {
    OLECHAR wide[40];
    StringFromGUID2(guid, wide, 40);
    return Utf16ToUtf8(wide);
}

class TypeLib;

// A VARDESC handed out together with the value it points at.
struct VarDescBlock {
    VARDESC desc;
    VARIANT value;
};

// One type of the library. Its reference count is the library's: a type
// keeps its library alive, as in COM type libraries.
class TypeInfo final : public ITypeInfo {
public:
    enum class Kind { Dispatch, Vtable, Coclass, Enum };

    TypeInfo(TypeLib* lib, UINT index, Kind kind, const InterfaceInfo* iface, const CoclassInfo* coclass,
             const EnumInfo* enumeration)
        : mLib(lib), mIndex(index), mKind(kind), mInterface(iface), mCoclass(coclass), mEnum(enumeration) {
        // Member names by their ASCII letters in lower case, the first
        // declaration of a name kept: a late-bound caller asks for a name at
        // every call, which a scan of the members compared one by one.
        for (int i = 0; mInterface && i < mInterface->memberCount; ++i)
            if (mInterface->members[i].name) mByName.emplace(FoldedName(mInterface->members[i].name), &mInterface->members[i]);
        // Members by id, in declaration order within an id (a property's get
        // and put share it): every call finds its member here.
        for (int i = 0; mInterface && i < mInterface->memberCount; ++i)
            mById.push_back({mInterface->members[i].id, &mInterface->members[i]});
        std::stable_sort(mById.begin(), mById.end(),
                         [](const IdEntry& a, const IdEntry& b) { return a.id < b.id; });
    }

    void setVtableView(TypeInfo* view) { mVtableView = view; }

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_ITypeInfo) {
            *ppv = static_cast<ITypeInfo*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT GetTypeAttr(TYPEATTR** out) override {
        if (!out) return E_INVALIDARG;
        auto* attr = new (std::nothrow) TYPEATTR{};
        if (!attr) return E_OUTOFMEMORY;
        attr->lcid = 0;
        attr->memidConstructor = MEMBERID_NIL;
        attr->memidDestructor = MEMBERID_NIL;
        attr->cbAlignment = 8;
        attr->wMajorVerNum = library().majorVersion;
        attr->wMinorVerNum = library().minorVersion;
        switch (mKind) {
        case Kind::Dispatch:
        case Kind::Vtable:
            attr->guid = *mInterface->iid;
            attr->typekind = mKind == Kind::Dispatch ? TKIND_DISPATCH : TKIND_INTERFACE;
            attr->cFuncs = static_cast<WORD>(mInterface->memberCount);
            attr->cImplTypes = 1;
            attr->cbSizeVft = static_cast<WORD>((7 + mInterface->memberCount) * sizeof(void*));
            attr->cbSizeInstance = sizeof(void*);
            attr->wTypeFlags = TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE;
            break;
        case Kind::Coclass:
            attr->guid = *mCoclass->clsid;
            attr->typekind = TKIND_COCLASS;
            attr->cImplTypes = 1;
            attr->wTypeFlags = TYPEFLAG_FCANCREATE;
            break;
        case Kind::Enum:
            attr->guid = GUID_NULL;
            attr->typekind = TKIND_ENUM;
            attr->cVars = static_cast<WORD>(mEnum->valueCount);
            attr->cbSizeInstance = 4;
            attr->cbAlignment = 4;
            break;
        }
        *out = attr;
        return S_OK;
    }

    HRESULT GetTypeComp(ITypeComp** out) override {
        if (out) *out = nullptr;
        return E_NOTIMPL;
    }

    HRESULT GetFuncDesc(UINT index, FUNCDESC** out) override {
        if (!out) return E_INVALIDARG;
        if (!mInterface || index >= static_cast<UINT>(mInterface->memberCount)) return TYPE_E_ELEMENTNOTFOUND;
        *out = buildFuncDesc(mInterface->members[index], index);
        return *out ? S_OK : E_OUTOFMEMORY;
    }

    HRESULT GetVarDesc(UINT index, VARDESC** out) override {
        if (!out) return E_INVALIDARG;
        if (!mEnum || index >= static_cast<UINT>(mEnum->valueCount)) return TYPE_E_ELEMENTNOTFOUND;
        auto* block = new (std::nothrow) VarDescBlock{};
        if (!block) return E_OUTOFMEMORY;
        block->value.vt = VT_I4;
        block->value.lVal = mEnum->values[index].value;
        block->desc.memid = static_cast<MEMBERID>(index);
        block->desc.lpvarValue = &block->value;
        block->desc.elemdescVar.tdesc.vt = VT_I4;
        block->desc.varkind = VAR_CONST;
        *out = &block->desc;
        return S_OK;
    }

    HRESULT GetNames(MEMBERID memid, BSTR* names, UINT maxNames, UINT* count) override {
        if (!names || !count) return E_INVALIDARG;
        *count = 0;
        if (mEnum) {
            if (memid < 0 || memid >= mEnum->valueCount || maxNames == 0) return TYPE_E_ELEMENTNOTFOUND;
            names[(*count)++] = MakeBstr(mEnum->values[memid].name);
            return S_OK;
        }
        const MemberInfo* member = findById(memid, 0);
        if (!member) return TYPE_E_ELEMENTNOTFOUND;
        if (maxNames == 0) return S_OK;
        names[(*count)++] = MakeBstr(member->name);
        for (int i = 0; i < member->paramCount && *count < maxNames; ++i) {
            const ParamInfo& p = member->params[i];
            if (!p.name || (mKind == Kind::Dispatch && IsRetval(p))) continue;
            names[(*count)++] = MakeBstr(p.name);
        }
        return S_OK;
    }

    HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* out) override {
        if (!out) return E_INVALIDARG;
        if (mKind == Kind::Dispatch && index == static_cast<UINT>(-1)) {
            *out = kVtableView;
            return S_OK;
        }
        if ((mKind == Kind::Coclass || mKind == Kind::Dispatch || mKind == Kind::Vtable) && index == 0) {
            *out = 0;
            return S_OK;
        }
        return TYPE_E_ELEMENTNOTFOUND;
    }

    HRESULT GetImplTypeFlags(UINT index, INT* flags) override {
        if (!flags) return E_INVALIDARG;
        if (index != 0 || mKind == Kind::Enum) return TYPE_E_ELEMENTNOTFOUND;
        *flags = mKind == Kind::Coclass ? IMPLTYPEFLAG_FDEFAULT : 0;
        return S_OK;
    }

    HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) override;
    HRESULT Invoke(PVOID instance, MEMBERID memid, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* exception, UINT* argError) override;

    HRESULT GetDocumentation(MEMBERID memid, BSTR* name, BSTR* doc, DWORD* helpContext, BSTR* helpFile) override {
        const char* itemName = nullptr;
        const char* itemDoc = nullptr;
        if (memid == MEMBERID_NIL) {
            itemName = mInterface ? mInterface->name : mCoclass ? mCoclass->name : mEnum->name;
            itemDoc = mInterface ? mInterface->help : mCoclass ? mCoclass->help : nullptr;
        } else if (mEnum) {
            if (memid < 0 || memid >= mEnum->valueCount) return TYPE_E_ELEMENTNOTFOUND;
            itemName = mEnum->values[memid].name;
        } else {
            const MemberInfo* member = findById(memid, 0);
            if (!member) return TYPE_E_ELEMENTNOTFOUND;
            itemName = member->name;
            itemDoc = member->help;
        }
        if (name) *name = MakeBstr(itemName);
        if (doc) *doc = MakeBstr(itemDoc);
        if (helpContext) *helpContext = 0;
        if (helpFile) *helpFile = nullptr;
        return S_OK;
    }

    HRESULT GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*, WORD*) override { return TYPE_E_ELEMENTNOTFOUND; }

    HRESULT GetRefTypeInfo(HREFTYPE href, ITypeInfo** out) override {
        if (!out) return E_INVALIDARG;
        *out = nullptr;
        if (href == kVtableView && mVtableView) {
            *out = mVtableView;
        } else if (href == 0 && mKind == Kind::Coclass) {
            *out = libraryDispatchOf(mCoclass->defaultInterface);
        } else if (href == 0 && (mKind == Kind::Dispatch || mKind == Kind::Vtable)) {
            return TYPE_E_ELEMENTNOTFOUND;  // IDispatch lives in the standard library
        }
        if (!*out) return TYPE_E_ELEMENTNOTFOUND;
        (*out)->AddRef();
        return S_OK;
    }

    HRESULT AddressOfMember(MEMBERID, INVOKEKIND, PVOID* ppv) override {
        if (ppv) *ppv = nullptr;
        return TYPE_E_ELEMENTNOTFOUND;
    }

    HRESULT CreateInstance(IUnknown* outer, REFIID riid, PVOID* ppv) override {
        if (!ppv) return E_INVALIDARG;
        *ppv = nullptr;
        if (mKind != Kind::Coclass) return TYPE_E_ELEMENTNOTFOUND;
        return CoCreateInstance(*mCoclass->clsid, outer, CLSCTX_INPROC_SERVER, riid, ppv);
    }

    HRESULT GetMops(MEMBERID, BSTR* mops) override {
        if (mops) *mops = nullptr;
        return S_OK;
    }

    HRESULT GetContainingTypeLib(ITypeLib** lib, UINT* index) override;

    void ReleaseTypeAttr(TYPEATTR* attr) override { delete attr; }

    void ReleaseFuncDesc(FUNCDESC* desc) override {
        if (!desc) return;
        for (SHORT i = 0; i < desc->cParams; ++i) {
            PARAMDESCEX* ex = desc->lprgelemdescParam[i].paramdesc.pparamdescex;
            if (ex) VariantClear(&ex->varDefaultValue);
        }
        delete[] reinterpret_cast<uint8_t*>(desc);
    }

    void ReleaseVarDesc(VARDESC* desc) override { delete reinterpret_cast<VarDescBlock*>(desc); }

    const LibraryInfo& library() const;
    ITypeInfo* libraryDispatchOf(const InterfaceInfo* iface) const;

private:
    // Finds a member by id; a kind of 0 matches any kind.
    const MemberInfo* findById(MEMBERID memid, int kind) const {
        auto entry = std::lower_bound(mById.begin(), mById.end(), memid,
                                      [](const IdEntry& e, MEMBERID id) { return e.id < id; });
        for (; entry != mById.end() && entry->id == memid; ++entry)
            if (kind == 0 || (entry->member->kind & kind)) return entry->member;
        return nullptr;
    }

    // One allocation holds the FUNCDESC, its parameter descriptions and
    // their default values.
    FUNCDESC* buildFuncDesc(const MemberInfo& m, UINT slot) const {
        std::vector<const ParamInfo*> params;
        const ParamInfo* retval = nullptr;
        for (int i = 0; i < m.paramCount; ++i) {
            if (mKind == Kind::Dispatch && IsRetval(m.params[i])) retval = &m.params[i];
            else params.push_back(&m.params[i]);
        }
        const size_t size = sizeof(FUNCDESC) + params.size() * (sizeof(ELEMDESC) + sizeof(PARAMDESCEX));
        auto* block = new (std::nothrow) uint8_t[size]();
        if (!block) return nullptr;
        auto* desc = reinterpret_cast<FUNCDESC*>(block);
        auto* elems = reinterpret_cast<ELEMDESC*>(block + sizeof(FUNCDESC));
        auto* defaults = reinterpret_cast<PARAMDESCEX*>(block + sizeof(FUNCDESC) + params.size() * sizeof(ELEMDESC));
        desc->memid = m.id;
        desc->lprgelemdescParam = params.empty() ? nullptr : elems;
        desc->funckind = mKind == Kind::Dispatch ? FUNC_DISPATCH : FUNC_PUREVIRTUAL;
        desc->invkind = m.kind;
        desc->callconv = CC_STDCALL;
        desc->cParams = static_cast<SHORT>(params.size());
        desc->oVft = static_cast<SHORT>((7 + slot) * sizeof(void*));
        desc->wFuncFlags = m.flags;
        desc->elemdescFunc.tdesc.vt = mKind == Kind::Dispatch ? (retval ? retval->type : VARTYPE{VT_VOID}) : VARTYPE{VT_HRESULT};
        for (size_t i = 0; i < params.size(); ++i) {
            const ParamInfo& p = *params[i];
            elems[i].tdesc.vt = p.type;
            elems[i].paramdesc.wParamFlags = p.flags;
            if (p.flags & PARAMFLAG_FOPT) ++desc->cParamsOpt;
            if ((p.flags & PARAMFLAG_FHASDEFAULT) && p.defaultText) {
                defaults[i].cBytes = sizeof(PARAMDESCEX);
                defaults[i].varDefaultValue.vt = VT_BSTR;
                defaults[i].varDefaultValue.bstrVal = SysAllocString(p.defaultText);
                elems[i].paramdesc.pparamdescex = &defaults[i];
            }
        }
        return desc;
    }

    HRESULT collectArguments(const MemberInfo& m, WORD flags, DISPPARAMS* params, VARIANT* converted,
                             UINT* argError) const;

    TypeLib* mLib;
    UINT mIndex;
    Kind mKind;
    const InterfaceInfo* mInterface;
    const CoclassInfo* mCoclass;
    const EnumInfo* mEnum;
    TypeInfo* mVtableView = nullptr;
    std::unordered_map<std::string, const MemberInfo*> mByName;
    struct IdEntry {
        MEMBERID id;
        const MemberInfo* member;
    };
    std::vector<IdEntry> mById;
};

class TypeLib final : public ITypeLib {
public:
    TypeLib(const LibraryInfo* info, std::u16string path) : mInfo(info), mPath(std::move(path)) {
        UINT index = 0;
        for (int i = 0; i < info->interfaceCount; ++i) {
            auto dispatch = std::make_unique<TypeInfo>(this, index++, TypeInfo::Kind::Dispatch,
                                                       info->interfaces[i], nullptr, nullptr);
            auto vtable = std::make_unique<TypeInfo>(this, static_cast<UINT>(-1), TypeInfo::Kind::Vtable,
                                                     info->interfaces[i], nullptr, nullptr);
            dispatch->setVtableView(vtable.get());
            mTypes.push_back(std::move(dispatch));
            mVtableViews.push_back(std::move(vtable));
        }
        for (int i = 0; i < info->coclassCount; ++i)
            mTypes.push_back(std::make_unique<TypeInfo>(this, index++, TypeInfo::Kind::Coclass, nullptr,
                                                        &info->coclasses[i], nullptr));
        for (int i = 0; i < info->enumCount; ++i)
            mTypes.push_back(std::make_unique<TypeInfo>(this, index++, TypeInfo::Kind::Enum, nullptr, nullptr,
                                                        &info->enums[i]));
    }

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_ITypeLib) {
            *ppv = static_cast<ITypeLib*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    // Libraries are cached for the life of the process, like the modules
    // that carry their tables.
    ULONG AddRef() override { return ++mRefs; }
    ULONG Release() override { return mRefs > 1 ? --mRefs : 1; }

    UINT GetTypeInfoCount() override { return static_cast<UINT>(mTypes.size()); }

    HRESULT GetTypeInfo(UINT index, ITypeInfo** out) override {
        if (!out) return E_INVALIDARG;
        if (index >= mTypes.size()) return TYPE_E_ELEMENTNOTFOUND;
        *out = mTypes[index].get();
        (*out)->AddRef();
        return S_OK;
    }

    HRESULT GetTypeInfoType(UINT index, TYPEKIND* kind) override {
        if (!kind) return E_INVALIDARG;
        if (index >= mTypes.size()) return TYPE_E_ELEMENTNOTFOUND;
        TYPEATTR* attr = nullptr;
        mTypes[index]->GetTypeAttr(&attr);
        *kind = attr->typekind;
        mTypes[index]->ReleaseTypeAttr(attr);
        return S_OK;
    }

    HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** out) override {
        if (!out) return E_INVALIDARG;
        *out = nullptr;
        for (int i = 0; i < mInfo->interfaceCount; ++i)
            if (*mInfo->interfaces[i]->iid == guid) *out = mTypes[static_cast<size_t>(i)].get();
        for (int i = 0; i < mInfo->coclassCount; ++i)
            if (*mInfo->coclasses[i].clsid == guid) *out = mTypes[static_cast<size_t>(mInfo->interfaceCount + i)].get();
        if (!*out) return TYPE_E_ELEMENTNOTFOUND;
        (*out)->AddRef();
        return S_OK;
    }

    HRESULT GetLibAttr(TLIBATTR** out) override {
        if (!out) return E_INVALIDARG;
        *out = new (std::nothrow) TLIBATTR{*mInfo->libid, 0, SYS_WIN32, mInfo->majorVersion, mInfo->minorVersion,
                                           LIBFLAG_FHASDISKIMAGE};
        return *out ? S_OK : E_OUTOFMEMORY;
    }

    HRESULT GetTypeComp(ITypeComp** out) override {
        if (out) *out = nullptr;
        return E_NOTIMPL;
    }

    HRESULT GetDocumentation(INT index, BSTR* name, BSTR* doc, DWORD* helpContext, BSTR* helpFile) override {
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

    HRESULT IsName(LPOLESTR name, ULONG, BOOL* found) override {
        if (!name || !found) return E_INVALIDARG;
        ITypeInfo* info = nullptr;
        MEMBERID id = 0;
        USHORT count = 1;
        FindName(name, 0, &info, &id, &count);
        *found = count > 0;
        if (info) info->Release();
        return S_OK;
    }

    HRESULT FindName(LPOLESTR name, ULONG, ITypeInfo** infos, MEMBERID* ids, USHORT* count) override {
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

    void ReleaseTLibAttr(TLIBATTR* attr) override { delete attr; }

    const LibraryInfo& info() const { return *mInfo; }
    ITypeInfo* dispatchOf(const InterfaceInfo* iface) const {
        for (int i = 0; i < mInfo->interfaceCount; ++i)
            if (mInfo->interfaces[i] == iface) return mTypes[static_cast<size_t>(i)].get();
        return nullptr;
    }

private:
    std::atomic<ULONG> mRefs{1};
    const LibraryInfo* mInfo;
    std::u16string mPath;
    std::vector<std::unique_ptr<TypeInfo>> mTypes;
    std::vector<std::unique_ptr<TypeInfo>> mVtableViews;
};

ULONG TypeInfo::AddRef() { return mLib->AddRef(); }
ULONG TypeInfo::Release() { return mLib->Release(); }
const LibraryInfo& TypeInfo::library() const { return mLib->info(); }
ITypeInfo* TypeInfo::libraryDispatchOf(const InterfaceInfo* iface) const { return mLib->dispatchOf(iface); }

HRESULT TypeInfo::GetContainingTypeLib(ITypeLib** lib, UINT* index) {
    if (!lib) return E_INVALIDARG;
    *lib = mLib;
    mLib->AddRef();
    if (index) *index = mIndex;
    return S_OK;
}

// Declared names are ASCII; the wanted name is converted once per lookup,
// not once per name compared.
bool SameName(const char* declared, const std::string& wanted) {
    return declared && strcasecmp(declared, wanted.c_str()) == 0;
}

HRESULT TypeInfo::GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) {
    if (!names || !ids || count == 0) return E_INVALIDARG;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    const MemberInfo* member = nullptr;
    if (mInterface && names[0]) {
        const auto found = mByName.find(FoldedName(Utf16ToUtf8(names[0])));
        if (found != mByName.end()) member = found->second;
    }
    if (!member) return DISP_E_UNKNOWNNAME;
    ids[0] = member->id;
    HRESULT hr = S_OK;
    for (UINT n = 1; n < count; ++n) {
        // Parameter ids are positions among the member's parameters; the
        // accessor that declares the name decides (get and put share ids).
        int position = -1;
        const std::string wanted = names[n] ? Utf16ToUtf8(names[n]) : std::string();
        for (int k = 0; names[n] && k < mInterface->memberCount && position < 0; ++k) {
            const MemberInfo& m = mInterface->members[k];
            if (m.id != member->id) continue;
            for (int p = 0; p < m.paramCount; ++p)
                if (!IsRetval(m.params[p]) && SameName(m.params[p].name, wanted)) position = p;
        }
        if (position < 0) hr = DISP_E_UNKNOWNNAME;
        else ids[n] = position;
    }
    return hr;
}

bool IsMissing(const VARIANT& v) { return v.vt == VT_ERROR && v.scode == DISP_E_PARAMNOTFOUND; }

// Gathers the in-parameters of `m` from `params`, converted to their
// declared types, into `converted` (one VARIANT per in-parameter).
HRESULT TypeInfo::collectArguments(const MemberInfo& m, WORD flags, DISPPARAMS* params, VARIANT* converted,
                                   UINT* argError) const {
    std::vector<const ParamInfo*> inParams;
    for (int i = 0; i < m.paramCount; ++i)
        if (!IsRetval(m.params[i])) inParams.push_back(&m.params[i]);
    const UINT named = params->cNamedArgs;
    const UINT positional = params->cArgs - named;
    if (positional > inParams.size()) return DISP_E_BADPARAMCOUNT;
    std::vector<const VARIANT*> given(inParams.size(), nullptr);
    std::vector<UINT> givenIndex(inParams.size(), 0);
    for (UINT k = 0; k < positional; ++k) {
        const UINT index = params->cArgs - 1 - k;  // arguments arrive in reverse order
        given[k] = &params->rgvarg[index];
        givenIndex[k] = index;
    }
    for (UINT k = 0; k < named; ++k) {
        DISPID id = params->rgdispidNamedArgs[k];
        if (id == DISPID_PROPERTYPUT && (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)))
            id = static_cast<DISPID>(inParams.size()) - 1;
        if (id < 0 || static_cast<size_t>(id) >= inParams.size()) {
            if (argError) *argError = k;
            return DISP_E_PARAMNOTFOUND;
        }
        given[static_cast<size_t>(id)] = &params->rgvarg[k];
        givenIndex[static_cast<size_t>(id)] = k;
    }
    for (size_t i = 0; i < inParams.size(); ++i) {
        const ParamInfo& p = *inParams[i];
        VARIANT& out = converted[i];
        if (!given[i] || IsMissing(*given[i])) {
            if (!(p.flags & PARAMFLAG_FOPT)) return given[i] ? DISP_E_PARAMNOTOPTIONAL : DISP_E_BADPARAMCOUNT;
            if ((p.flags & PARAMFLAG_FHASDEFAULT) && p.defaultText) {
                out.vt = VT_BSTR;
                out.bstrVal = SysAllocString(p.defaultText);
                if (!out.bstrVal) return E_OUTOFMEMORY;
            } else if (p.type == VT_VARIANT) {
                out.vt = VT_ERROR;
                out.scode = DISP_E_PARAMNOTFOUND;
            } else {
                out.vt = p.type;  // zero of the declared type
            }
            continue;
        }
        if (p.type == VT_VARIANT) {
            const HRESULT hr = VariantCopyInd(&out, given[i]);
            if (FAILED(hr)) return hr;
            continue;
        }
        const VARTYPE target = p.typeName ? static_cast<VARTYPE>(VT_I4) : p.type;
        const HRESULT hr = VariantChangeType(&out, given[i], 0, target);
        if (FAILED(hr)) {
            if (argError) *argError = givenIndex[i];
            return hr == DISP_E_OVERFLOW ? hr : DISP_E_TYPEMISMATCH;
        }
    }
    return S_OK;
}

HRESULT TypeInfo::Invoke(PVOID instance, MEMBERID memid, WORD flags, DISPPARAMS* params, VARIANT* result,
                         EXCEPINFO* exception, UINT* argError) {
    if (!instance || !params || (params->cArgs && !params->rgvarg) || params->cNamedArgs > params->cArgs ||
        (params->cNamedArgs && !params->rgdispidNamedArgs))
        return E_INVALIDARG;
    if (!mInterface) return DISP_E_MEMBERNOTFOUND;
    const MemberInfo* member = nullptr;
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
        member = findById(memid, INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF);
    } else {
        if (flags & DISPATCH_METHOD) member = findById(memid, INVOKE_FUNC);
        if (!member && (flags & DISPATCH_PROPERTYGET)) member = findById(memid, INVOKE_PROPERTYGET);
        if (!member && (flags & DISPATCH_METHOD)) member = findById(memid, INVOKE_PROPERTYGET);
    }
    if (!member) return DISP_E_MEMBERNOTFOUND;
    // A put must name its value as the DISPID_PROPERTYPUT argument.
    if ((flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) &&
        (params->cNamedArgs != 1 || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT))
        return params->cNamedArgs ? DISP_E_PARAMNOTFOUND : DISP_E_PARAMNOTOPTIONAL;

    // Most members take a few arguments: those are converted on the stack.
    const size_t count = static_cast<size_t>(member->paramCount);
    VARIANT few[4];
    std::vector<VARIANT> many(count > std::size(few) ? count : 0);
    VARIANT* const converted = many.empty() ? few : many.data();
    for (size_t i = 0; i < count; ++i) VariantInit(&converted[i]);
    HRESULT hr = collectArguments(*member, flags, params, converted, argError);
    VARIANT retval;
    VariantInit(&retval);
    if (SUCCEEDED(hr)) hr = member->thunk(instance, converted, &retval);
    const bool collected = hr != DISP_E_BADPARAMCOUNT && hr != DISP_E_TYPEMISMATCH && hr != DISP_E_OVERFLOW &&
                           hr != DISP_E_PARAMNOTFOUND && hr != DISP_E_PARAMNOTOPTIONAL;
    for (size_t i = 0; i < count; ++i) VariantClear(&converted[i]);
    if (SUCCEEDED(hr)) {
        if (result) {
            VariantInit(result);
            *result = retval;
        } else {
            VariantClear(&retval);
        }
        return S_OK;
    }
    // A member may give a value along with its failure (the form's Item with
    // no index gives the body); a script sees only the failure.
    VariantClear(&retval);
    if (!collected) return hr;
    // The member itself failed: report it as an exception with its error
    // information.
    if (exception) {
        std::memset(exception, 0, sizeof *exception);
        exception->scode = hr;
        ComPtr<IErrorInfo> info;
        if (GetErrorInfo(0, info.put()) == S_OK && info) {
            info->GetSource(&exception->bstrSource);
            info->GetDescription(&exception->bstrDescription);
            info->GetHelpFile(&exception->bstrHelpFile);
            info->GetHelpContext(&exception->dwHelpContext);
        } else {
            char text[512];
            if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                               static_cast<DWORD>(hr), 0, text, sizeof text, nullptr))
                exception->bstrDescription = MakeBstr(text);
        }
    }
    return DISP_E_EXCEPTION;
}

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

namespace {
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
    if (!platform::registry::ReadString(HKEY_CLASSES_ROOT, VersionKey(libid, major, minor) + "\\" + lcidText + "\\win32",
                                        "", &path))
        return TYPE_E_LIBNOTREGISTERED;
    return LoadTypeLib(platform::codepage::Utf8ToUtf16(path).c_str(), library);
}

namespace {

constexpr const char* kOleAutomationProxy = "{00020424-0000-0000-C000-000000000046}";

HRESULT FromRegistry(LONG status) { return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(status)); }

}  // namespace

HRESULT RegisterTypeLib(ITypeLib* library, LPCOLESTR fullPath, LPCOLESTR helpDir) {
    if (!library || !fullPath) return E_INVALIDARG;
    TLIBATTR* attr = nullptr;
    HRESULT hr = library->GetLibAttr(&attr);
    if (FAILED(hr)) return hr;
    const TLIBATTR libAttr = *attr;
    library->ReleaseTLibAttr(attr);
    using platform::registry::WriteString;
    using platform::codepage::Utf16ToUtf8;
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
        if (status == ERROR_SUCCESS) status = WriteString(HKEY_CLASSES_ROOT, key + "\\ProxyStubClsid", "", kOleAutomationProxy);
        if (status == ERROR_SUCCESS)
            status = WriteString(HKEY_CLASSES_ROOT, key + "\\ProxyStubClsid32", "", kOleAutomationProxy);
        if (status == ERROR_SUCCESS) status = WriteString(HKEY_CLASSES_ROOT, key + "\\TypeLib", "", GuidText(libAttr.guid));
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
        RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr);
        RegCloseKey(key);
        if (subKeys == 0) RegDeleteTreeA(HKEY_CLASSES_ROOT, libKey.c_str());
    }
    return S_OK;
}
