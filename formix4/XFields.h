// The items of one field name, as a collection.
#pragma once

#include "ComObject.h"
#include "Formix4.h"
#include "XForm.h"

class XFields final : public ComObject<IXFields> {
public:
    explicit XFields(IUnknown* inOuter) : ComObject(kIdentity, inOuter) {}
    static HRESULT CreateInstance(IUnknown* inOuter, REFIID riid, void** ppv) {
        return Create<XFields>(inOuter, riid, ppv);
    }
    static constexpr ClassIdentity kIdentity{&CLSID_XFields, &IID_IXFields};

    // Binds the collection to a group of a form; the collection keeps the form alive.
    void Attach(XForm* inForm, int inGroup);

    HRESULT get__NewEnum(IUnknown** outEnum) override;
    HRESULT get_Item(VARIANT inIndex, VARIANT* outVal) override;
    HRESULT get_Count(LONG* outCount) override;

protected:
    UINT CallCodePage() override { return mForm ? mForm->Engine().ParsedCodePage() : 0; }

private:
    FormReference mForm;
    int mGroup = -1;
};

// A new field for (form, group, item) as a dispatch pointer.
HRESULT MakeField(XForm* inForm, int inGroup, int inItem, IDispatch** outField);
// A new collection for (form, group) as a dispatch pointer.
HRESULT MakeFields(XForm* inForm, int inGroup, IDispatch** outFields);
