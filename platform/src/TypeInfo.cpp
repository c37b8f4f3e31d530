// The description side of a type: attributes, function and variable
// descriptions, names and documentation, referenced types.
#include "TypeInfo.h"

#include <algorithm>
#include <new>

#include "TypeLib.h"
#include "platform/CodePage.h"

namespace platform::typelib {

using codepage::Utf8ToUtf16;

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

TypeInfo::TypeInfo(TypeLib* lib, UINT index, Kind kind, const InterfaceInfo* iface, const CoclassInfo* coclass,
                   const EnumInfo* enumeration)
    : mLib(lib), mIndex(index), mKind(kind), mInterface(iface), mCoclass(coclass), mEnum(enumeration) {
    // Member names by their ASCII letters in lower case, the first
    // declaration of a name kept: a late-bound caller asks for a name at
    // every call, which a scan of the members compared one by one.
    for (int i = 0; mInterface && i < mInterface->memberCount; ++i)
        if (mInterface->members[i].name)
            mByName.emplace(FoldedName(mInterface->members[i].name), &mInterface->members[i]);
    // Members by id, in declaration order within an id (a property's get
    // and put share it): every call finds its member here.
    for (int i = 0; mInterface && i < mInterface->memberCount; ++i)
        mById.push_back({mInterface->members[i].id, &mInterface->members[i]});
    std::stable_sort(mById.begin(), mById.end(), [](const IdEntry& a, const IdEntry& b) { return a.id < b.id; });
}

HRESULT TypeInfo::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ITypeInfo) {
        *ppv = static_cast<ITypeInfo*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

HRESULT TypeInfo::GetTypeAttr(TYPEATTR** out) {
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

HRESULT TypeInfo::GetTypeComp(ITypeComp** out) {
    if (out) *out = nullptr;
    return E_NOTIMPL;
}

HRESULT TypeInfo::GetFuncDesc(UINT index, FUNCDESC** out) {
    if (!out) return E_INVALIDARG;
    if (!mInterface || index >= static_cast<UINT>(mInterface->memberCount)) return TYPE_E_ELEMENTNOTFOUND;
    *out = buildFuncDesc(mInterface->members[index], index);
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT TypeInfo::GetVarDesc(UINT index, VARDESC** out) {
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

HRESULT TypeInfo::GetNames(MEMBERID memid, BSTR* names, UINT maxNames, UINT* count) {
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

HRESULT TypeInfo::GetRefTypeOfImplType(UINT index, HREFTYPE* out) {
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

HRESULT TypeInfo::GetImplTypeFlags(UINT index, INT* flags) {
    if (!flags) return E_INVALIDARG;
    if (index != 0 || mKind == Kind::Enum) return TYPE_E_ELEMENTNOTFOUND;
    *flags = mKind == Kind::Coclass ? IMPLTYPEFLAG_FDEFAULT : 0;
    return S_OK;
}

HRESULT TypeInfo::GetDocumentation(MEMBERID memid, BSTR* name, BSTR* doc, DWORD* helpContext, BSTR* helpFile) {
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

HRESULT TypeInfo::GetRefTypeInfo(HREFTYPE href, ITypeInfo** out) {
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

HRESULT TypeInfo::AddressOfMember(MEMBERID, INVOKEKIND, PVOID* ppv) {
    if (ppv) *ppv = nullptr;
    return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT TypeInfo::CreateInstance(IUnknown* outer, REFIID riid, PVOID* ppv) {
    if (!ppv) return E_INVALIDARG;
    *ppv = nullptr;
    if (mKind != Kind::Coclass) return TYPE_E_ELEMENTNOTFOUND;
    return CoCreateInstance(*mCoclass->clsid, outer, CLSCTX_INPROC_SERVER, riid, ppv);
}

HRESULT TypeInfo::GetMops(MEMBERID, BSTR* mops) {
    if (mops) *mops = nullptr;
    return S_OK;
}

void TypeInfo::ReleaseFuncDesc(FUNCDESC* desc) {
    if (!desc) return;
    for (SHORT i = 0; i < desc->cParams; ++i) {
        PARAMDESCEX* ex = desc->lprgelemdescParam[i].paramdesc.pparamdescex;
        if (ex) VariantClear(&ex->varDefaultValue);
    }
    delete[] reinterpret_cast<uint8_t*>(desc);
}

// Finds a member by id; a kind of 0 matches any kind.
const MemberInfo* TypeInfo::findById(MEMBERID memid, int kind) const {
    auto entry =
        std::lower_bound(mById.begin(), mById.end(), memid, [](const IdEntry& e, MEMBERID id) { return e.id < id; });
    for (; entry != mById.end() && entry->id == memid; ++entry)
        if (kind == 0 || (entry->member->kind & kind)) return entry->member;
    return nullptr;
}

// One allocation holds the FUNCDESC, its parameter descriptions and
// their default values.
FUNCDESC* TypeInfo::buildFuncDesc(const MemberInfo& m, UINT slot) const {
    std::vector<const ParamInfo*> params;
    const ParamInfo* retval = nullptr;
    for (int i = 0; i < m.paramCount; ++i) {
        if (mKind == Kind::Dispatch && IsRetval(m.params[i]))
            retval = &m.params[i];
        else
            params.push_back(&m.params[i]);
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
    desc->elemdescFunc.tdesc.vt =
        mKind == Kind::Dispatch ? (retval ? retval->type : VARTYPE{VT_VOID}) : VARTYPE{VT_HRESULT};
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

}  // namespace platform::typelib
