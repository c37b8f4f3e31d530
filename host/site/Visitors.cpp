#include "site/Visitors.h"

#include "core/HttpText.h"

std::string Visitors::NewToken() { return RandomToken(); }

bool Visitors::IsToken(const std::string& token) { return IsRandomToken(token); }

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
