#include "ProgressStore.h"

#include <atomic>
#include <random>
#include <unordered_set>

#include "SharedProgress.h"
#include "Utilities.h"
#include "resources/Strings.h"
#include "platform/EventLog.h"
#include "platform/System.h"

namespace {
// The per-thread generator: state' = state * 214013 + 2531011, each draw
// (state' >> 16) & 0x7FFF. Every thread starts from a seed of its own (a
// random start for the process, stepped per thread): with one common seed
// the first upload on every worker thread would get the same ID, and two
// uploads would share one progress record.
uint32_t NextThreadSeed() {
    static const uint32_t kProcessStart = std::random_device{}();
    static std::atomic<uint32_t> sThreads{0};
    return kProcessStart + 0x9E3779B9u * ++sThreads;
}

thread_local uint32_t tGeneratorState = NextThreadSeed();

int32_t Draw() {
    tGeneratorState = tGeneratorState * 214013u + 2531011u;
    return static_cast<int32_t>((tGeneratorState >> 16) & 0x7FFF);
}
}  // namespace

int32_t NewProgressId() {
    int32_t theID;
    do {
        const int32_t r1 = Draw();
        const int32_t r2 = Draw();
        theID = (r1 << 16) | r2;
    } while (theID <= 0);
    return theID;
}

namespace {
// The Redis server named by the setting ProgressStore; none when the value
// is absent or empty, or names no Redis server (which is logged).
std::shared_ptr<platform::RedisLink> SharedLinkFromSettings() {
    std::string theText;
    if (!ReadTextSetting("ProgressStore", &theText) || theText.empty()) return nullptr;
    platform::RedisAddress theAddress;
    std::string theError;
    if (!platform::RedisAddress::Parse(theText, &theAddress, &theError)) {
        LogEvent(("ProgressStore: " + theError + ". Upload progress stays in this process.").c_str(),
                 EVENTLOG_ERROR_TYPE);
        return nullptr;
    }
    return platform::RedisLink::Shared(theAddress, strings::kEventSource);
}
}  // namespace

ProgressStore& ProgressStore::Instance() {
    // Lives until the process ends; the setting is read once, at first use.
    static ProgressStore* theStore = new ProgressStore(&GetTickCount, SharedLinkFromSettings());
    return *theStore;
}

ProgressStore::ProgressStore(Clock inClock, std::shared_ptr<platform::RedisLink> inShared) : mClock(inClock) {
    if (inShared)
        mShared = std::make_unique<SharedProgress>(
            std::move(inShared), [this](std::vector<ProgressState>* outStates) { Snapshot(outStates); }, inClock);
}

ProgressStore::~ProgressStore() { StopSharing(); }

void ProgressStore::StopSharing() {
    if (mShared) mShared->Stop();
}

int32_t ProgressStore::NewId() {
    const int32_t theID = mShared ? mShared->NewId() : 0;
    return theID != 0 ? theID : NewProgressId();
}

void ProgressStore::TellShared() {
    if (mShared) mShared->Changed();
}

void ProgressStore::Snapshot(std::vector<ProgressState>* outStates) {
    std::unordered_set<int32_t> theSeen;
    std::lock_guard<std::mutex> theGuard(mLock);
    for (const auto& theRecord : mRecords) {
        if (!theSeen.insert(theRecord->id).second) continue;
        ProgressState theState;
        theState.id = theRecord->id;
        theState.bytesDone = theRecord->bytesDone.load(std::memory_order_relaxed);
        theState.bytesTotal = theRecord->bytesTotal.load(std::memory_order_relaxed);
        theState.started = theRecord->started.load(std::memory_order_relaxed) != 0;
        theState.finished = theRecord->finished != 0;
        theState.startTick = theRecord->startTick;
        theState.note = theRecord->note;
        outStates->push_back(std::move(theState));
    }
}

ProgressRecord* ProgressStore::Find(int32_t inID) {
    for (const auto& theRecord : mRecords)
        if (theRecord->id == inID) return theRecord.get();
    return nullptr;
}

namespace {
// How long ago a record was touched, across the tick counter's wrap. A
// record touched a moment "after" now (by a thread that read the clock
// later) is young, not 49 days old.
uint32_t IdleMs(uint32_t inNow, uint32_t inTouched) {
    const uint32_t theAge = inNow - inTouched;
    return theAge > 0xFFFF0000u ? 0 : theAge;
}
}  // namespace

void ProgressStore::SweepExpired(uint32_t inNow) {
    for (auto it = mRecords.begin(); it != mRecords.end();) {
        if (IdleMs(inNow, (*it)->lastTouched) > kRecordLifetimeMs)
            it = mRecords.erase(it);
        else
            ++it;
    }
}

std::shared_ptr<ProgressRecord> ProgressStore::CreateRecord(int32_t inID) {
    const uint32_t theNow = mClock();
    std::lock_guard<std::mutex> theGuard(mLock);
    // Swept here too, so that the store holds the uploads of the last
    // minute even when pages never set an ID (and never remove a record).
    SweepExpired(theNow);
    mRecords.push_back(std::make_shared<ProgressRecord>(inID, theNow));
    TellShared();
    return mRecords.back();
}

void ProgressStore::RemoveRecord(int32_t inID) {
    std::lock_guard<std::mutex> theGuard(mLock);
    SweepExpired(mClock());
    for (auto it = mRecords.begin(); it != mRecords.end();) {
        if ((*it)->id == inID)
            it = mRecords.erase(it);
        else
            ++it;
    }
    TellShared();
}

ProgressReading ProgressStore::QueryRecord(int32_t inID) {
    // Shared, the record may be another process's.
    if (mShared) return mShared->Read(inID);
    ProgressReading theReading;
    const uint32_t theNow = mClock();
    std::lock_guard<std::mutex> theGuard(mLock);
    ProgressRecord* theRecord = Find(inID);
    if (!theRecord) return theReading;
    theReading.bytesDone = theRecord->bytesDone;
    theReading.bytesTotal = theRecord->bytesTotal;
    theReading.started = theRecord->started.load() != 0;
    theReading.finished = theRecord->finished != 0;
    theReading.note = theRecord->note;
    theRecord->lastTouched = theNow;
    theReading.elapsedMs = theNow - theRecord->startTick;
    return theReading;
}

ProgressCounter ProgressStore::Counter(int32_t inID) {
    std::lock_guard<std::mutex> theGuard(mLock);
    for (const auto& theRecord : mRecords)
        if (theRecord->id == inID) return ProgressCounter(theRecord, mClock);
    return ProgressCounter();
}

ProgressCounter ProgressStore::Counter(std::shared_ptr<ProgressRecord> inRecord) const {
    return ProgressCounter(std::move(inRecord), mClock);
}

void ProgressCounter::Set(int32_t inDone, int32_t inTotal) const {
    if (!mRecord) return;
    mRecord->bytesTotal.store(inTotal, std::memory_order_relaxed);
    mRecord->bytesDone.store(inDone, std::memory_order_relaxed);
    mRecord->started.store(VARIANT_TRUE, std::memory_order_relaxed);
    mRecord->lastTouched.store(mClock(), std::memory_order_relaxed);
}

void ProgressStore::SetNote(int32_t inID, const std::string& inNote) {
    std::lock_guard<std::mutex> theGuard(mLock);
    if (ProgressRecord* theRecord = Find(inID)) {
        theRecord->note.clear();  // when the copy cannot be made the note stays empty
        theRecord->note = inNote;
    }
    TellShared();
}

void ProgressStore::SetNote(ProgressRecord& inRecord, const std::string& inNote) {
    std::lock_guard<std::mutex> theGuard(mLock);
    inRecord.note.clear();  // when the copy cannot be made the note stays empty
    inRecord.note = inNote;
    TellShared();
}

void ProgressStore::MarkFinished(ProgressRecord& inRecord) {
    std::lock_guard<std::mutex> theGuard(mLock);
    inRecord.finished = VARIANT_TRUE;
    TellShared();
}

size_t ProgressStore::RecordCount() {
    std::lock_guard<std::mutex> theGuard(mLock);
    return mRecords.size();
}

void ProgressStore::Empty() {
    std::lock_guard<std::mutex> theGuard(mLock);
    mRecords.clear();
}
