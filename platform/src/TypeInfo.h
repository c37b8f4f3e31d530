// One type of a library built from a component's table: an interface (as
// dispatch or vtable view), a coclass or an enumeration. Internal to the
// type library code.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "platform/TypeLibrary.h"

namespace platform::typelib {

constexpr HREFTYPE kVtableView = 1;  // GetRefTypeOfImplType(-1) of a dual interface

BSTR MakeBstr(const char* text);

// A name as member names compare: ASCII letters in any case.
std::string FoldedName(std::string name);

inline bool IsRetval(const ParamInfo& p) { return (p.flags & PARAMFLAG_FRETVAL) != 0; }

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
             const EnumInfo* enumeration);

    void setVtableView(TypeInfo* view) { mVtableView = view; }

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetTypeAttr(TYPEATTR** out) override;
    HRESULT GetTypeComp(ITypeComp** out) override;
    HRESULT GetFuncDesc(UINT index, FUNCDESC** out) override;
    HRESULT GetVarDesc(UINT index, VARDESC** out) override;
    HRESULT GetNames(MEMBERID memid, BSTR* names, UINT maxNames, UINT* count) override;
    HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* out) override;
    HRESULT GetImplTypeFlags(UINT index, INT* flags) override;
    HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) override;
    HRESULT Invoke(PVOID instance, MEMBERID memid, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* exception, UINT* argError) override;
    HRESULT GetDocumentation(MEMBERID memid, BSTR* name, BSTR* doc, DWORD* helpContext, BSTR* helpFile) override;

    HRESULT GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*, WORD*) override { return TYPE_E_ELEMENTNOTFOUND; }

    HRESULT GetRefTypeInfo(HREFTYPE href, ITypeInfo** out) override;
    HRESULT AddressOfMember(MEMBERID, INVOKEKIND, PVOID* ppv) override;
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, PVOID* ppv) override;
    HRESULT GetMops(MEMBERID, BSTR* mops) override;
    HRESULT GetContainingTypeLib(ITypeLib** lib, UINT* index) override;

    void ReleaseTypeAttr(TYPEATTR* attr) override { delete attr; }

    void ReleaseFuncDesc(FUNCDESC* desc) override;

    void ReleaseVarDesc(VARDESC* desc) override { delete reinterpret_cast<VarDescBlock*>(desc); }

    const LibraryInfo& library() const;
    ITypeInfo* libraryDispatchOf(const InterfaceInfo* iface) const;

private:
    // Finds a member by id; a kind of 0 matches any kind.
    const MemberInfo* findById(MEMBERID memid, int kind) const;

    // One allocation holds the FUNCDESC, its parameter descriptions and
    // their default values.
    FUNCDESC* buildFuncDesc(const MemberInfo& m, UINT slot) const;

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

}  // namespace platform::typelib
