#include "SharedProgress.h"

#include <cstdlib>
#include <random>
#include <unordered_set>

#include "formix4/ProgressIds.h"

namespace {

const char* const kKeyPrefix = "formix4:progress:";
const char* const kBlocksKey = "formix4:progress:blocks";

// Form IDs are the block counter's values passed through a fixed bijection
// of the ID's number bits (an odd multiplier and an offset), so that
// neighbouring forms get unrelated-looking IDs.
constexpr uint32_t kIdMultiplier = 0x2F4A7C15u;
constexpr uint32_t kIdOffset = 0x1B873593u;

int32_t IdOfIndex(uint32_t inIndex) {
    return ProgressIdOfNumber((inIndex * kIdMultiplier + kIdOffset) & kProgressIdNumberMask);
}

int64_t WallMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

long long Number(const platform::RedisReply& inReply) {
    return inReply.kind == platform::RedisReply::Kind::Text ? std::strtoll(inReply.text.c_str(), nullptr, 10) : 0;
}

bool SameButCounts(const ProgressState& inOld, const ProgressState& inNew) {
    return inOld.note == inNew.note && inOld.started == inNew.started && inOld.finished == inNew.finished &&
           inOld.startTick == inNew.startTick;
}

bool Same(const ProgressState& inOld, const ProgressState& inNew) {
    return SameButCounts(inOld, inNew) && inOld.bytesDone == inNew.bytesDone && inOld.bytesTotal == inNew.bytesTotal;
}

}  // namespace

SharedProgress::SharedProgress(std::shared_ptr<platform::RedisLink> inLink, Snapshot inSnapshot, Clock inClock)
    : mLink(std::move(inLink)), mSnapshot(std::move(inSnapshot)), mClock(inClock) {
    mRecoveriesSeen = mLink->Recoveries();
    mWriter = std::thread([this] { WriterLoop(); });
}

SharedProgress::~SharedProgress() { Stop(); }

void SharedProgress::Stop() {
    {
        std::lock_guard<std::mutex> theGuard(mWakeLock);
        mStopping = true;
    }
    mWake.notify_all();
    if (mWriter.joinable()) mWriter.join();
}

std::string SharedProgress::KeyFor(int32_t inID) { return kKeyPrefix + std::to_string(inID); }

void SharedProgress::Changed() {
    {
        std::lock_guard<std::mutex> theGuard(mWakeLock);
        mPending = true;
    }
    mWake.notify_one();
}

void SharedProgress::WriterLoop() {
    bool theLastWriteFailed = false;
    for (;;) {
        {
            std::unique_lock<std::mutex> theLock(mWakeLock);
            // Counts change without telling: while Redis holds records of
            // this process, or a write did not get through, the writer
            // looks every interval.
            if (!mPending) {
                if (mWritten.empty() && !theLastWriteFailed)
                    mWake.wait(theLock, [this] { return mStopping || mPending; });
                else
                    mWake.wait_for(theLock, kWriteInterval, [this] { return mStopping || mPending; });
            }
            if (mStopping) return;
            mPending = false;
        }
        theLastWriteFailed = !WriteChanges();
    }
}

void SharedProgress::AppendWrite(const ProgressState& inState, int64_t inStartWallMs,
                                 std::vector<platform::RedisCommand>* outCommands) const {
    const std::string theKey = KeyFor(inState.id);
    outCommands->push_back({"HSET", theKey, "done", std::to_string(inState.bytesDone), "total",
                            std::to_string(inState.bytesTotal), "started", inState.started ? "1" : "0", "finished",
                            inState.finished ? "1" : "0", "note", inState.note, "start",
                            std::to_string(inStartWallMs)});
    outCommands->push_back({"PEXPIRE", theKey, std::to_string(kKeyLifetimeMs)});
}

bool SharedProgress::WriteChanges() {
    std::vector<ProgressState> theStates;
    mSnapshot(&theStates);
    // Redis may have come back empty: everything is written again.
    const uint64_t theRecoveries = mLink->Recoveries();
    if (theRecoveries != mRecoveriesSeen) {
        mRecoveriesSeen = theRecoveries;
        mWritten.clear();
    }
    const auto theNow = std::chrono::steady_clock::now();
    const uint32_t theNowTick = mClock();
    const int64_t theNowWall = WallMs();

    std::vector<platform::RedisCommand> theCommands;
    std::vector<std::pair<int32_t, Written>> theNewlyWritten;
    std::unordered_set<int32_t> theLive;
    for (const ProgressState& theState : theStates) {
        theLive.insert(theState.id);
        const auto theOld = mWritten.find(theState.id);
        const bool theKnown = theOld != mWritten.end();
        if (theKnown) {
            if (Same(theOld->second.state, theState)) continue;
            // Counts alone are written at most once per interval.
            if (SameButCounts(theOld->second.state, theState) && theNow - theOld->second.at < kWriteInterval) continue;
        }
        const int64_t theStartWallMs = theKnown && theOld->second.state.startTick == theState.startTick
                                           ? theOld->second.startWallMs
                                           : theNowWall - static_cast<uint32_t>(theNowTick - theState.startTick);
        AppendWrite(theState, theStartWallMs, &theCommands);
        theNewlyWritten.push_back({theState.id, Written{theState, theStartWallMs, theNow}});
    }
    std::vector<int32_t> theRemoved;
    for (const auto& [theID, theWritten] : mWritten) {
        if (theLive.count(theID)) continue;
        theCommands.push_back({"DEL", KeyFor(theID)});
        theRemoved.push_back(theID);
    }
    if (theCommands.empty()) return true;
    std::vector<platform::RedisReply> theReplies;
    if (!mLink->Run(theCommands, &theReplies)) return false;  // tried again at the next interval
    for (const platform::RedisReply& theReply : theReplies) {
        if (theReply.kind != platform::RedisReply::Kind::Error) continue;
        mLink->ReportRefusal(theReply.text);  // a full Redis: said, and written again at the next interval
        return false;
    }
    for (auto& [theID, theWritten] : theNewlyWritten) mWritten[theID] = std::move(theWritten);
    for (const int32_t theID : theRemoved) mWritten.erase(theID);
    return true;
}

ProgressReading SharedProgress::Read(int32_t inID) {
    ProgressReading theReading;
    platform::RedisReply theReply;
    if (!mLink->Run({"HMGET", KeyFor(inID), "done", "total", "started", "finished", "note", "start"}, &theReply))
        return theReading;
    const auto& theFields = theReply.elements;
    if (theReply.kind != platform::RedisReply::Kind::Array || theFields.size() != 6 ||
        theFields[0].kind != platform::RedisReply::Kind::Text)
        return theReading;
    theReading.bytesDone = static_cast<int32_t>(Number(theFields[0]));
    theReading.bytesTotal = static_cast<int32_t>(Number(theFields[1]));
    theReading.started = Number(theFields[2]) != 0;
    theReading.finished = Number(theFields[3]) != 0;
    theReading.note = theFields[4].text;
    // Another machine's clock may run ahead of this one's.
    const int64_t theElapsed = WallMs() - Number(theFields[5]);
    theReading.elapsedMs = theElapsed > 0 ? static_cast<uint32_t>(theElapsed) : 0;
    return theReading;
}

int32_t SharedProgress::NewId() {
    std::lock_guard<std::mutex> theGuard(mIdLock);
    for (;;) {
        if (mIdLeft == 0) {
            // A Redis without the counter is new or came back empty, while
            // processes may still hand out IDs of blocks leased before: the
            // counter starts at a random block rather than at the first, so
            // that new blocks do not meet the old ones (of 524,288 blocks, a
            // few are in use at a time).
            const uint32_t theBlocks = (kProgressIdNumberMask + 1) / kIdBlock;
            const uint32_t theSeed = std::random_device{}() % theBlocks;
            std::vector<platform::RedisReply> theReplies;
            if (!mLink->Run({{"SET", kBlocksKey, std::to_string(theSeed), "NX"}, {"INCR", kBlocksKey}}, &theReplies) ||
                theReplies.size() != 2 || theReplies[1].kind != platform::RedisReply::Kind::Integer)
                return 0;
            mIdNext = static_cast<uint32_t>(theReplies[1].integer % theBlocks) * kIdBlock;
            mIdLeft = kIdBlock;
        }
        const int32_t theID = IdOfIndex(mIdNext++);
        --mIdLeft;
        if (theID != 0) return theID;
    }
}
