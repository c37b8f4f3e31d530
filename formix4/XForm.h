// The upload form: the object a page creates to read and parse its request.
#pragma once

#include "ComObject.h"
#include "Formix4.h"

class XForm final : public ComObject<IXForm> {
public:
    explicit XForm(IUnknown* inOuter) : ComObject(kIdentity, inOuter) {}
    static HRESULT CreateInstance(IUnknown* inOuter, REFIID riid, void** ppv) {
        return Create<XForm>(inOuter, riid, ppv);
    }
    static constexpr ClassIdentity kIdentity{&CLSID_XForm, &IID_IXForm};

    // Intake, parsing and the collection arrive with their own issues.
    HRESULT get__NewEnum(IUnknown** outEnum) override { return NotBuiltYet(FMX_HERE, outEnum); }
    HRESULT get_Item(VARIANT, VARIANT* outVal) override { return NotBuiltYet(FMX_HERE, outVal); }
    HRESULT get_Count(LONG* outCount) override { return NotBuiltYet(FMX_HERE, outCount); }
    HRESULT get_ID(LONG* outID) override { return NotBuiltYet(FMX_HERE, outID); }
    HRESULT put_ID(LONG) override { return NotBuiltYet(FMX_HERE); }
    HRESULT get_AbsolutePath(VARIANT_BOOL* theTruth) override { return NotBuiltYet(FMX_HERE, theTruth); }
    HRESULT put_AbsolutePath(VARIANT_BOOL) override { return NotBuiltYet(FMX_HERE); }
    HRESULT get_Overwrite(VARIANT_BOOL* theTruth) override { return NotBuiltYet(FMX_HERE, theTruth); }
    HRESULT put_Overwrite(VARIANT_BOOL) override { return NotBuiltYet(FMX_HERE); }
    HRESULT get_MaxUploadSize(LONG* theBytes) override { return NotBuiltYet(FMX_HERE, theBytes); }
    HRESULT put_MaxUploadSize(LONG) override { return NotBuiltYet(FMX_HERE); }
    HRESULT get_User(BSTR* outName) override { return NotBuiltYet(FMX_HERE, outName); }
    HRESULT get_Domain(BSTR* outName) override { return NotBuiltYet(FMX_HERE, outName); }
    HRESULT get_CodePage(LONG* outCodePage) override { return NotBuiltYet(FMX_HERE, outCodePage); }
    HRESULT put_CodePage(LONG) override { return NotBuiltYet(FMX_HERE); }
    HRESULT get_Streams(VARIANT_BOOL* outStreams) override { return NotBuiltYet(FMX_HERE, outStreams); }
    HRESULT put_Streams(VARIANT_BOOL) override { return NotBuiltYet(FMX_HERE); }
    HRESULT get_Multipart(VARIANT_BOOL* outMP) override { return NotBuiltYet(FMX_HERE, outMP); }
    HRESULT SetUser(BSTR inName, BSTR inPassword, BSTR inDomain) override;
    HRESULT Read(BSTR) override { return NotBuiltYet(FMX_HERE); }
    HRESULT Save(BSTR) override { return NotBuiltYet(FMX_HERE); }
};
