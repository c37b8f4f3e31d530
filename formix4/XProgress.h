// The progress of an upload, watched from another request by form ID.
#pragma once

#include <chrono>
#include <mutex>

#include "ComObject.h"
#include "Formix4.h"
#include "ProgressStore.h"

class XProgress final : public ComObject<IXProgress> {
public:
    // A drawn ID, which no form of the site has, shared or not.
    explicit XProgress(IUnknown* inOuter) : ComObject(kIdentity, inOuter), mID(ProgressStore::Instance().NewId()) {}
    static HRESULT CreateInstance(IUnknown* inOuter, REFIID riid, void** ppv) {
        return Create<XProgress>(inOuter, riid, ppv);
    }
    static constexpr ClassIdentity kIdentity{&CLSID_XProgress, &IID_IXProgress};

    HRESULT get_ID(LONG* outID) override;
    HRESULT put_ID(LONG inID) override;
    HRESULT get_Note(BSTR* outNote) override;
    HRESULT put_Note(BSTR inNote) override;
    HRESULT get_Started(VARIANT_BOOL* outTruth) override;
    HRESULT get_BytesTotal(LONG* outBytes) override;
    HRESULT get_BytesDone(LONG* outBytes) override;
    HRESULT get_PercentDone(LONG* outPercent) override;
    HRESULT get_ElapsedSeconds(LONG* outSeconds) override;
    HRESULT get_SecondsLeft(LONG* outSeconds) override;
    HRESULT get_BytesPerSecond(LONG* outBytesPS) override;

    // The values a watcher derives from one reading.
    static LONG PercentDone(const ProgressReading& inReading);
    static LONG SecondsLeft(const ProgressReading& inReading);
    static LONG BytesPerSecond(const ProgressReading& inReading);
    static std::string CleanNote(const std::string& inNote);

private:
    // Runs one QueryRecord for this object's ID and stores what `derive`
    // makes of it.
    template <class T, class Derive>
    HRESULT Read(SourcePlace inPlace, T* outValue, Derive derive);
    // The record of this object's ID. Shared through Redis, one reading
    // serves the members read within 100 ms: the store is written no more
    // often, and a watcher's poll then costs one round trip, not one per member.
    ProgressReading Reading();
    void ForgetReading();

    int32_t mID;
    std::mutex mReadingLock;
    bool mHaveReading = false;
    ProgressReading mReading;
    std::chrono::steady_clock::time_point mReadAt;
};
