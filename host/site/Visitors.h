// Who may follow which upload. Each visitor of the site carries a random
// token in a cookie; the progress IDs the upload form hands out are drawn at
// random and bound to that token, so that one visitor cannot guess, watch
// or reset another's upload.
#pragma once

#include <chrono>
#include <deque>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>

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

private:
    using Clock = std::chrono::steady_clock;
    void forgetOld(Clock::time_point now);

    std::chrono::seconds mLifetime;
    size_t mCapacity;
    std::mutex mMutex;
    std::unordered_map<long, std::string> mOwners;
    std::deque<std::pair<Clock::time_point, long>> mHandedOut;  // oldest first
};
