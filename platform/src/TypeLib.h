// A type library built from a component's table. Internal to the type
// library code.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "TypeInfo.h"

namespace platform::typelib {

class TypeLib final : public ITypeLib {
public:
    TypeLib(const LibraryInfo* info, std::u16string path);

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    // Libraries are cached for the life of the process, like the modules
    // that carry their tables.
    ULONG AddRef() override { return ++mRefs; }
    ULONG Release() override { return mRefs > 1 ? --mRefs : 1; }

    UINT GetTypeInfoCount() override { return static_cast<UINT>(mTypes.size()); }

    HRESULT GetTypeInfo(UINT index, ITypeInfo** out) override;
    HRESULT GetTypeInfoType(UINT index, TYPEKIND* kind) override;
    HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** out) override;
    HRESULT GetLibAttr(TLIBATTR** out) override;
    HRESULT GetTypeComp(ITypeComp** out) override;
    HRESULT GetDocumentation(INT index, BSTR* name, BSTR* doc, DWORD* helpContext, BSTR* helpFile) override;
    HRESULT IsName(LPOLESTR name, ULONG, BOOL* found) override;
    HRESULT FindName(LPOLESTR name, ULONG, ITypeInfo** infos, MEMBERID* ids, USHORT* count) override;

    void ReleaseTLibAttr(TLIBATTR* attr) override { delete attr; }

    const LibraryInfo& info() const { return *mInfo; }
    ITypeInfo* dispatchOf(const InterfaceInfo* iface) const;

private:
    std::atomic<ULONG> mRefs{1};
    const LibraryInfo* mInfo;
    std::u16string mPath;
    std::vector<std::unique_ptr<TypeInfo>> mTypes;
    std::vector<std::unique_ptr<TypeInfo>> mVtableViews;
};

}  // namespace platform::typelib
