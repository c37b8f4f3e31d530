#include "XFields.h"

#include <cstring>

#include "Utilities.h"
#include "XField.h"
#include "XForm.h"
#include "platform/Enumerator.h"

HRESULT MakeField(XForm* inForm, int inGroup, int inItem, IDispatch** outField) {
    XField* theField = nullptr;
    HRESULT hr = ComObject<IXField>::CreateOwn(&theField);
    if (FAILED(hr)) return hr;
    theField->Attach(inForm, inGroup, inItem);
    hr = theField->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(outField));
    theField->Release();
    return hr;
}

HRESULT MakeFields(XForm* inForm, int inGroup, IDispatch** outFields) {
    XFields* theFields = nullptr;
    HRESULT hr = ComObject<IXFields>::CreateOwn(&theFields);
    if (FAILED(hr)) return hr;
    theFields->Attach(inForm, inGroup);
    hr = theFields->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(outFields));
    theFields->Release();
    return hr;
}

void XFields::Attach(XForm* inForm, int inGroup) {
    mForm.attach(inForm);
    mGroup = inGroup;
}

HRESULT XFields::get_Count(LONG* outCount) {
    return Frame(FMX_HERE, [&]() -> HRESULT {
        if (!outCount || !mForm) return E_POINTER;
        const FieldGroup* theGroup = mForm->Engine().GroupAt(mGroup);
        *outCount = theGroup ? theGroup->count() : 0;
        return S_OK;
    });
}

HRESULT XFields::get_Item(VARIANT inIndex, VARIANT* outVal) {
    return Frame(FMX_HERE, [&]() -> HRESULT {
        if (!outVal || !mForm) return E_POINTER;
        VariantInit(outVal);
        platform::Variant theNumber;
        if (SUCCEEDED(VariantChangeType(&theNumber, &inIndex, 0, VT_I4))) {
            IDispatch* theField = nullptr;
            const HRESULT hr = MakeField(mForm.get(), mGroup, theNumber.lVal - 1, &theField);
            if (FAILED(hr)) return hr;
            outVal->vt = VT_DISPATCH;
            outVal->pdispVal = theField;
            return S_OK;
        }
        // No number: the values of all items, joined by ", ".
        std::string theJoined;
        if (const FieldGroup* theGroup = mForm->Engine().GroupAt(mGroup)) {
            for (int i = 0; i < theGroup->count(); ++i) {
                const MultipartItem* theItem = theGroup->itemAt(i);
                if (i) theJoined += ", ";
                if (theItem->data && theItem->length > 0) {
                    const char* theText = reinterpret_cast<const char*>(theItem->data);
                    theJoined.append(theText, strnlen(theText, static_cast<size_t>(theItem->length)));
                }
            }
        }
        outVal->vt = VT_BSTR;
        outVal->bstrVal = AnsiToBstr(theJoined.data(), static_cast<int>(theJoined.size()));
        return S_OK;
    });
}

HRESULT XFields::get__NewEnum(IUnknown** outEnum) {
    return Frame(FMX_HERE, [&]() -> HRESULT {
        if (!outEnum || !mForm) return E_POINTER;
        const FieldGroup* theGroup = mForm->Engine().GroupAt(mGroup);
        std::vector<VARIANT> theItems(static_cast<size_t>(theGroup ? theGroup->count() : 0));
        for (size_t i = 0; i < theItems.size(); ++i) {
            VariantInit(&theItems[i]);
            IDispatch* theField = nullptr;
            if (FAILED(MakeField(mForm.get(), mGroup, static_cast<int>(i), &theField))) continue;  // stays VT_EMPTY
            theItems[i].vt = VT_DISPATCH;
            theItems[i].pdispVal = theField;
        }
        IEnumVARIANT* theEnumerator = nullptr;
        const HRESULT hr = CreateVariantEnumerator(std::move(theItems), &theEnumerator);
        *outEnum = theEnumerator;
        return hr;
    });
}
