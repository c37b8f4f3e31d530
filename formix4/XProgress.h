// The progress of an upload, watched from another request by form ID.
#pragma once

#include "ComObject.h"
#include "Formix4.h"

class XProgress final : public ComObject<IXProgress> {
public:
    explicit XProgress(IUnknown* inOuter) : ComObject(kIdentity, inOuter) {}
    static HRESULT CreateInstance(IUnknown* inOuter, REFIID riid, void** ppv) {
        return Create<XProgress>(inOuter, riid, ppv);
    }
    static constexpr ClassIdentity kIdentity{&CLSID_XProgress, &IID_IXProgress};

    HRESULT get_ID(LONG* outID) override { return NotBuiltYet(FMX_HERE, outID); }
    HRESULT put_ID(LONG) override { return NotBuiltYet(FMX_HERE); }
    HRESULT get_Note(BSTR* outNote) override { return NotBuiltYet(FMX_HERE, outNote); }
    HRESULT put_Note(BSTR) override { return NotBuiltYet(FMX_HERE); }
    HRESULT get_Started(VARIANT_BOOL* outTruth) override { return NotBuiltYet(FMX_HERE, outTruth); }
    HRESULT get_BytesTotal(LONG* outBytes) override { return NotBuiltYet(FMX_HERE, outBytes); }
    HRESULT get_BytesDone(LONG* outBytes) override { return NotBuiltYet(FMX_HERE, outBytes); }
    HRESULT get_PercentDone(LONG* outPercent) override { return NotBuiltYet(FMX_HERE, outPercent); }
    HRESULT get_ElapsedSeconds(LONG* outSeconds) override { return NotBuiltYet(FMX_HERE, outSeconds); }
    HRESULT get_SecondsLeft(LONG* outSeconds) override { return NotBuiltYet(FMX_HERE, outSeconds); }
    HRESULT get_BytesPerSecond(LONG* outBytesPS) override { return NotBuiltYet(FMX_HERE, outBytesPS); }
};
