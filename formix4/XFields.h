// The items of one field name, as a collection.
#pragma once

#include "ComObject.h"
#include "Formix4.h"

class XFields final : public ComObject<IXFields> {
public:
    explicit XFields(IUnknown* inOuter) : ComObject(kIdentity, inOuter) {}
    static HRESULT CreateInstance(IUnknown* inOuter, REFIID riid, void** ppv) {
        return Create<XFields>(inOuter, riid, ppv);
    }
    static constexpr ClassIdentity kIdentity{&CLSID_XFields, &IID_IXFields};

    HRESULT get__NewEnum(IUnknown** outEnum) override { return NotBuiltYet(FMX_HERE, outEnum); }
    HRESULT get_Item(VARIANT, VARIANT* outVal) override { return NotBuiltYet(FMX_HERE, outVal); }
    HRESULT get_Count(LONG* outCount) override { return NotBuiltYet(FMX_HERE, outCount); }
};
