// One part of an upload: text, bytes, file names, types and saving.
#pragma once

#include "ComObject.h"
#include "Formix4.h"

class XField final : public ComObject<IXField> {
public:
    explicit XField(IUnknown* inOuter) : ComObject(kIdentity, inOuter) {}
    static HRESULT CreateInstance(IUnknown* inOuter, REFIID riid, void** ppv) {
        return Create<XField>(inOuter, riid, ppv);
    }
    static constexpr ClassIdentity kIdentity{&CLSID_XField, &IID_IXField};

    HRESULT get_Content(BSTR* outVal) override { return NotBuiltYet(FMX_HERE, outVal); }
    HRESULT get_Name(BSTR* outCount) override { return NotBuiltYet(FMX_HERE, outCount); }
    HRESULT get_Length(LONG* outCount) override { return NotBuiltYet(FMX_HERE, outCount); }
    HRESULT get_FileExists(VARIANT_BOOL* outTruth) override { return NotBuiltYet(FMX_HERE, outTruth); }
    HRESULT get_SafeFileName(BSTR* outName) override { return NotBuiltYet(FMX_HERE, outName); }
    HRESULT get_FileType(BSTR* outType) override { return NotBuiltYet(FMX_HERE, outType); }
    HRESULT get_FileName(BSTR* outName) override { return NotBuiltYet(FMX_HERE, outName); }
    HRESULT get_MIMEType(BSTR* outType) override { return NotBuiltYet(FMX_HERE, outType); }
    HRESULT get_MacBinary(VARIANT_BOOL* outTruth) override { return NotBuiltYet(FMX_HERE, outTruth); }
    HRESULT get_Data(VARIANT* outData) override { return NotBuiltYet(FMX_HERE, outData); }
    HRESULT get_Resource(VARIANT* outData) override { return NotBuiltYet(FMX_HERE, outData); }
    HRESULT get_RawFilePath(BSTR* outPath) override { return NotBuiltYet(FMX_HERE, outPath); }
    HRESULT get_RawFileName(BSTR* outName) override { return NotBuiltYet(FMX_HERE, outName); }
    HRESULT get_RawFileType(BSTR* outName) override { return NotBuiltYet(FMX_HERE, outName); }
    HRESULT get_RawLength(LONG* outCount) override { return NotBuiltYet(FMX_HERE, outCount); }
    HRESULT get_RawData(VARIANT* outData) override { return NotBuiltYet(FMX_HERE, outData); }
    HRESULT get_ImageType(fmxImageType* outType) override { return NotBuiltYet(FMX_HERE, outType); }
    HRESULT get_ImageWidth(LONG* outWidth) override { return NotBuiltYet(FMX_HERE, outWidth); }
    HRESULT get_ImageHeight(LONG* outHeight) override { return NotBuiltYet(FMX_HERE, outHeight); }
    HRESULT Save(BSTR) override { return NotBuiltYet(FMX_HERE); }
};
