// The process-wide table through which an uploading form and a watching
// XProgress meet, keyed by a 32-bit ID.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ProgressReading.h"
#include "platform/WinTypes.h"

namespace platform {
class RedisLink;
}
class SharedProgress;
struct ProgressState;

struct ProgressRecord {
    ProgressRecord(int32_t inID, uint32_t inNow) : id(inID), startTick(inNow), lastTouched(inNow) {}

    const int32_t id;
    // Counted by the uploading form without the store's lock.
    std::atomic<int32_t> bytesTotal{0};
    std::atomic<int32_t> bytesDone{0};
    std::atomic<VARIANT_BOOL> started{VARIANT_FALSE};
    VARIANT_BOOL finished = VARIANT_FALSE;
    const uint32_t startTick;
    std::atomic<uint32_t> lastTouched;
    std::string note;  // ANSI code page
};

// The counts of one record, written by the form that reads the body: a
// chunk costs two stores, no lock and no search. The record outlives its
// removal from the store while a counter holds it.
class ProgressCounter {
public:
    ProgressCounter() = default;
    ProgressCounter(std::shared_ptr<ProgressRecord> inRecord, uint32_t (*inClock)())
        : mRecord(std::move(inRecord)), mClock(inClock) {}
    void Set(int32_t inDone, int32_t inTotal) const;

private:
    std::shared_ptr<ProgressRecord> mRecord;
    uint32_t (*mClock)() = nullptr;
};

class ProgressStore {
public:
    static constexpr uint32_t kRecordLifetimeMs = 60000;
    using Clock = uint32_t (*)();

    // The process's store, on the system tick count. When the setting
    // ProgressStore names a Redis server, its records are shared there.
    static ProgressStore& Instance();
    // With a link, records are copied into Redis and read from there.
    explicit ProgressStore(Clock inClock, std::shared_ptr<platform::RedisLink> inShared = nullptr);
    ~ProgressStore();
    ProgressStore(const ProgressStore&) = delete;
    ProgressStore& operator=(const ProgressStore&) = delete;

    // A new form ID: from the shared store's blocks, else (alone, or while
    // Redis cannot be reached) from the calling thread's generator.
    int32_t NewId();
    bool Shared() const { return mShared != nullptr; }
    // Ends the shared store's writer, before the module goes.
    void StopSharing();

    // A new record with the ID, which its form then writes to directly: a
    // page that takes the ID away and makes a record of its own under it
    // never sees that form's figures or notes.
    std::shared_ptr<ProgressRecord> CreateRecord(int32_t inID);
    // Removes every record with the ID and every expired one, in one pass.
    void RemoveRecord(int32_t inID);
    ProgressReading QueryRecord(int32_t inID);
    // A counter for the first record with the ID (one that counts nothing
    // when there is none), or for a record the caller holds.
    ProgressCounter Counter(int32_t inID);
    ProgressCounter Counter(std::shared_ptr<ProgressRecord> inRecord) const;
    // The note of the first record with the ID (none when there is no such
    // record), or of a record the caller holds.
    void SetNote(int32_t inID, const std::string& inNote);
    void SetNote(ProgressRecord& inRecord, const std::string& inNote);
    void MarkFinished(ProgressRecord& inRecord);
    size_t RecordCount();
    void Empty();

private:
    // The first record with the ID (records may share an ID); caller holds the lock.
    ProgressRecord* Find(int32_t inID);
    // Removes the records idle for longer than their lifetime; caller holds the lock.
    void SweepExpired(uint32_t inNow);
    // The state of the first record of each ID, for the shared store's writer.
    void Snapshot(std::vector<ProgressState>* outStates);
    void TellShared();

    Clock mClock;
    std::mutex mLock;
    std::list<std::shared_ptr<ProgressRecord>> mRecords;  // in creation order
    std::unique_ptr<SharedProgress> mShared;
};

// A new form ID from the calling thread's generator: 1 .. 0x7FFF7FFF.
int32_t NewProgressId();
