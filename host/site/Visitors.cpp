#include "site/Visitors.h"

#include <sys/random.h>

#include <cstdint>
#include <stdexcept>

namespace {
void RandomBytes(void* buffer, size_t size) {
    auto* bytes = static_cast<uint8_t*>(buffer);
    while (size > 0) {
        const ssize_t n = getrandom(bytes, size, 0);
        if (n <= 0) throw std::runtime_error("no random bytes");
        bytes += n;
        size -= static_cast<size_t>(n);
    }
}
}  // namespace

std::string Visitors::NewToken() {
    uint8_t bytes[16];
    RandomBytes(bytes, sizeof bytes);
    static const char kHex[] = "0123456789abcdef";
    std::string token;
    for (uint8_t b : bytes) {
        token += kHex[b >> 4];
        token += kHex[b & 15];
    }
    return token;
}

bool Visitors::IsToken(const std::string& token) {
    return token.size() == 32 && token.find_first_not_of("0123456789abcdef") == std::string::npos;
}

long Visitors::handOut(const std::string& visitor) {
    std::lock_guard<std::mutex> lock(mMutex);
    const Clock::time_point now = Clock::now();
    forgetOld(now);
    long id = 0;
    do {
        uint16_t halves[2];
        RandomBytes(halves, sizeof halves);
        id = (static_cast<long>(halves[0] & 0x7FFF) << 16) | (halves[1] & 0x7FFF);
    } while (id == 0 || mOwners.count(id));
    mOwners.emplace(id, visitor);
    mHandedOut.emplace_back(now, id);
    return id;
}

bool Visitors::owns(const std::string& visitor, long id) {
    std::lock_guard<std::mutex> lock(mMutex);
    forgetOld(Clock::now());
    auto it = mOwners.find(id);
    return it != mOwners.end() && !visitor.empty() && it->second == visitor;
}

void Visitors::forgetOld(Clock::time_point now) {
    while (!mHandedOut.empty() && (now - mHandedOut.front().first > mLifetime || mHandedOut.size() > mCapacity)) {
        mOwners.erase(mHandedOut.front().second);
        mHandedOut.pop_front();
    }
}
