// Who may follow which upload. Each visitor of the site carries a random
// token in a cookie; the progress IDs the upload form hands out are drawn at
// random and bound to that token, so that one visitor cannot guess, watch
// or reset another's upload.
//
// Several server processes behind a balancer share their hand-outs through
// the Redis server that shares their upload progress: the page that hands
// out an ID and the upload and progress requests that follow may each reach
// another process. There an ID is the key "formix4:visitor:<ID>" holding the
// visitor's token for the IDs' lifetime, set only when absent, so no two
// processes hand out the same ID. Each process also keeps its own
// hand-outs: while Redis cannot be reached they are checked here, and when
// it is back (perhaps restarted empty) they are written to it again.
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>

#include "platform/RedisLink.h"

class Visitors {
public:
    static constexpr const char* kCookie = "fmxvisitor";

    // A new visitor token: 32 random hexadecimal digits.
    static std::string NewToken();
    // Whether `token` has the form NewToken gives.
    static bool IsToken(const std::string& token);
    // A random progress ID of the form the component draws (1..0x7FFF7FFF,
    // bit 15 clear), handed to `visitor`.
    long handOut(const std::string& visitor);
    bool owns(const std::string& visitor, long id);

    // Bounds of what is kept: IDs are forgotten after `lifetime`, and the
    // oldest go first beyond `capacity`.
    Visitors(std::chrono::seconds lifetime = std::chrono::hours(6), size_t capacity = 200000)
        : mLifetime(lifetime), mCapacity(capacity) {}

    // Hand-outs shared through Redis from now on.
    void shareThrough(std::shared_ptr<platform::RedisLink> link) { mShared = std::move(link); }
    // The Redis server the component's setting ProgressStore names, if any.
    static std::shared_ptr<platform::RedisLink> LinkFromSettings();

private:
    using Clock = std::chrono::steady_clock;
    void forgetOld(Clock::time_point now);
    // An ID handed out through Redis (bit 30 set: the component's own IDs
    // there have it clear); 0 when Redis cannot be reached.
    long handOutShared(const std::string& visitor);
    long handOutHere(const std::string& visitor);
    void remember(long id, const std::string& visitor);
    void republishAfterOutage();

    std::shared_ptr<platform::RedisLink> mShared;
    std::atomic<uint64_t> mRecoveriesSeen{0};

    std::chrono::seconds mLifetime;
    size_t mCapacity;
    std::mutex mMutex;
    std::unordered_map<long, std::string> mOwners;
    std::deque<std::pair<Clock::time_point, long>> mHandedOut;  // oldest first
};
