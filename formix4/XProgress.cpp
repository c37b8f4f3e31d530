#include "XProgress.h"

#include <cstring>

#include "SharedProgress.h"
#include "Utilities.h"
#include "platform/CodePage.h"

namespace {
// Single-precision constants widened to double, as the watcher's arithmetic has them.
const double kNinetyFive = static_cast<double>(95.0f);
const double kMilli = static_cast<double>(0.001f);
}  // namespace

LONG XProgress::PercentDone(const ProgressReading& inReading) {
    if (inReading.bytesDone == inReading.bytesTotal && inReading.finished) return 100;
    if (inReading.bytesTotal > 0)
        return static_cast<LONG>(static_cast<double>(inReading.bytesDone) / inReading.bytesTotal * kNinetyFive);
    return 0;
}

LONG XProgress::SecondsLeft(const ProgressReading& inReading) {
    if (inReading.bytesDone <= 0) return 0;
    const double theElapsed = inReading.elapsedMs;
    const double theRatio = static_cast<double>(inReading.bytesTotal) / inReading.bytesDone;
    return static_cast<LONG>((theElapsed * theRatio - theElapsed) * kMilli);
}

LONG XProgress::BytesPerSecond(const ProgressReading& inReading) {
    if (inReading.elapsedMs == 0) return 0;
    return static_cast<LONG>(inReading.bytesDone / (inReading.elapsedMs * kMilli));
}

namespace {
// Where a UTF-8 text cut at inLength bytes must end so that no character is
// split: before the lead byte of an incomplete last character.
size_t WholeUtf8Length(const char* inText, size_t inLength) {
    size_t theLead = inLength;
    while (theLead > 0 && (static_cast<unsigned char>(inText[theLead - 1]) & 0xC0) == 0x80) --theLead;
    if (theLead == 0) return inLength;
    const unsigned char theByte = static_cast<unsigned char>(inText[theLead - 1]);
    const size_t theNeeded = theByte >= 0xF0 ? 4 : theByte >= 0xE0 ? 3 : theByte >= 0xC0 ? 2 : 1;
    return inLength - (theLead - 1) < theNeeded ? theLead - 1 : inLength;
}
}  // namespace

std::string XProgress::CleanNote(const std::string& inNote) {
    char theCopy[260];
    BoundedCopy(theCopy, inNote.c_str(), sizeof theCopy);
    // A cut note keeps whole characters of the UTF-8 code page.
    if (inNote.size() >= sizeof theCopy && GetACP() == CP_UTF8)
        theCopy[WholeUtf8Length(theCopy, std::strlen(theCopy))] = 0;
    for (char* c = theCopy; *c; ++c)
        if (std::strchr("\t\n\r\"'\\", *c)) *c = ' ';
    return theCopy;
}

ProgressReading XProgress::Reading() {
    ProgressStore& theStore = ProgressStore::Instance();
    if (!theStore.Shared()) return theStore.QueryRecord(mID);
    const auto theNow = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> theGuard(mReadingLock);
    if (!mHaveReading || theNow - mReadAt >= SharedProgress::kWriteInterval) {
        mReading = theStore.QueryRecord(mID);
        mReadAt = theNow;
        mHaveReading = true;
    }
    return mReading;
}

void XProgress::ForgetReading() {
    std::lock_guard<std::mutex> theGuard(mReadingLock);
    mHaveReading = false;
}

template <class T, class Derive>
HRESULT XProgress::Read(SourcePlace inPlace, T* outValue, Derive derive) {
    return Frame(inPlace, [&]() -> HRESULT {
        if (!outValue) return E_POINTER;
        *outValue = derive(Reading());
        return S_OK;
    });
}

HRESULT XProgress::get_ID(LONG* outID) {
    return Frame(FMX_HERE, [&]() -> HRESULT {
        if (!outID) return E_POINTER;
        *outID = mID;
        return S_OK;
    });
}

HRESULT XProgress::put_ID(LONG inID) {
    return Frame(FMX_HERE, [&]() -> HRESULT {
        mID = inID;
        ForgetReading();
        return S_OK;
    });
}

HRESULT XProgress::get_Note(BSTR* outNote) {
    return Read(FMX_HERE, outNote, [](const ProgressReading& r) {
        const std::string theNote = CleanNote(r.note);
        return AnsiToBstr(theNote.data(), static_cast<int>(theNote.size()));
    });
}

HRESULT XProgress::put_Note(BSTR inNote) {
    return Frame(FMX_HERE, [&]() -> HRESULT {
        ProgressStore::Instance().SetNote(mID, BstrToAnsi(inNote));
        ForgetReading();
        return S_OK;
    });
}

HRESULT XProgress::get_Started(VARIANT_BOOL* outTruth) {
    return Read(FMX_HERE, outTruth, [](const ProgressReading& r) { return r.started ? VARIANT_TRUE : VARIANT_FALSE; });
}

HRESULT XProgress::get_BytesTotal(LONG* outBytes) {
    return Read(FMX_HERE, outBytes, [](const ProgressReading& r) { return r.bytesTotal; });
}

HRESULT XProgress::get_BytesDone(LONG* outBytes) {
    return Read(FMX_HERE, outBytes, [](const ProgressReading& r) { return r.bytesDone; });
}

HRESULT XProgress::get_PercentDone(LONG* outPercent) { return Read(FMX_HERE, outPercent, &PercentDone); }

HRESULT XProgress::get_ElapsedSeconds(LONG* outSeconds) {
    return Read(FMX_HERE, outSeconds, [](const ProgressReading& r) { return static_cast<LONG>(r.elapsedMs / 1000); });
}

HRESULT XProgress::get_SecondsLeft(LONG* outSeconds) { return Read(FMX_HERE, outSeconds, &SecondsLeft); }

HRESULT XProgress::get_BytesPerSecond(LONG* outBytesPS) { return Read(FMX_HERE, outBytesPS, &BytesPerSecond); }
