// Upload progress shared through Redis by the server processes behind a
// balancer: a watcher's poll may reach any of them, whichever one receives
// the upload.
//
// The uploading form keeps counting into its record in this process, without
// a lock; a writer thread copies the records that changed into Redis, each at
// most every 100 ms and at once when its note changes or it finishes, so
// that a chunk never becomes a network round trip and a slow Redis never
// slows an upload. Watchers read Redis.
//
// Key layout: one hash per record, "formix4:progress:<ID>", with the fields
// done, total, started (0/1), finished (0/1), note (ANSI code page) and start
// (milliseconds since 1970 on the writing machine's clock). Each write sets
// the key's time to live to 60 s: the in-process store's idle expiry.
// "formix4:progress:blocks" counts the blocks of form IDs handed out,
// from a random block when Redis has no counter.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "ProgressReading.h"
#include "platform/RedisLink.h"

// A record's state as the writer copies it.
struct ProgressState {
    int32_t id = 0;
    int32_t bytesDone = 0;
    int32_t bytesTotal = 0;
    bool started = false;
    bool finished = false;
    uint32_t startTick = 0;
    std::string note;
};

class SharedProgress {
public:
    static constexpr std::chrono::milliseconds kWriteInterval{100};
    static constexpr int kKeyLifetimeMs = 60000;
    // IDs come in blocks of this many, one Redis command per block.
    static constexpr uint32_t kIdBlock = 1024;

    // Fills in the states of the records of this process (the first record
    // of each ID).
    using Snapshot = std::function<void(std::vector<ProgressState>*)>;
    using Clock = uint32_t (*)();

    SharedProgress(std::shared_ptr<platform::RedisLink> inLink, Snapshot inSnapshot, Clock inClock);
    ~SharedProgress();  // stops the writer
    SharedProgress(const SharedProgress&) = delete;
    SharedProgress& operator=(const SharedProgress&) = delete;

    static std::string KeyFor(int32_t inID);

    // Tells the writer that records came, went or changed other than in
    // their counts (a note, the end): it writes them at once.
    void Changed();
    // The record from Redis; "Connecting..." when there is none or Redis
    // cannot be reached.
    ProgressReading Read(int32_t inID);
    // A form ID no other process of the site draws (kSiteProgressIdBit clear:
    // the site's own hand-outs have it set); 0 when Redis cannot be reached.
    int32_t NewId();
    void Stop();

private:
    struct Written {
        ProgressState state;
        int64_t startWallMs = 0;
        std::chrono::steady_clock::time_point at;
    };

    void WriterLoop();
    // Writes what changed; false when Redis could not be reached.
    bool WriteChanges();
    void AppendWrite(const ProgressState& inState, int64_t inStartWallMs,
                     std::vector<platform::RedisCommand>* outCommands) const;

    std::shared_ptr<platform::RedisLink> mLink;
    Snapshot mSnapshot;
    Clock mClock;

    std::mutex mWakeLock;
    std::condition_variable mWake;
    bool mPending = false;
    bool mStopping = false;

    // The writer's own: what Redis holds of each record, as last written.
    std::unordered_map<int32_t, Written> mWritten;
    uint64_t mRecoveriesSeen = 0;

    std::mutex mIdLock;
    uint32_t mIdNext = 0;  // the next index into the block's counter range
    uint32_t mIdLeft = 0;

    std::thread mWriter;
};
