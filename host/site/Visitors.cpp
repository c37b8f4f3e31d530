#include "site/Visitors.h"

#include <algorithm>

#include "core/HttpText.h"
#include "platform/RegistryValues.h"

std::string Visitors::NewToken() { return RandomToken(); }

bool Visitors::IsToken(const std::string& token) { return IsRandomToken(token); }

namespace {
const char* const kSharedKeyPrefix = "formix4:visitor:";
// Where the component keeps its settings; ProgressStore names its Redis server.
const char* const kComponentSettingsKey = "SOFTWARE\\Venhale\\Formix\\4.0";
}  // namespace

std::shared_ptr<platform::RedisLink> Visitors::LinkFromSettings() {
    std::string text;
    platform::RedisAddress address;
    std::string error;  // a setting that names no Redis server is the component's to report
    if (!platform::registry::ReadString(HKEY_LOCAL_MACHINE, kComponentSettingsKey, "ProgressStore", &text) ||
        text.empty() || !platform::RedisAddress::Parse(text, &address, &error))
        return nullptr;
    return platform::RedisLink::Shared(address, "Formix");
}

long Visitors::handOut(const std::string& visitor) {
    if (mShared) {
        republishAfterOutage();
        if (const long id = handOutShared(visitor)) {
            remember(id, visitor);
            return id;
        }
    }
    return handOutHere(visitor);
}

void Visitors::remember(long id, const std::string& visitor) {
    std::lock_guard<std::mutex> lock(mMutex);
    const Clock::time_point now = Clock::now();
    forgetOld(now);
    mOwners.emplace(id, visitor);
    mHandedOut.emplace_back(now, id);
}

void Visitors::republishAfterOutage() {
    const uint64_t recoveries = mShared->Recoveries();
    if (recoveries == mRecoveriesSeen.exchange(recoveries)) return;
    std::vector<platform::RedisCommand> commands;
    {
        std::lock_guard<std::mutex> lock(mMutex);
        const Clock::time_point now = Clock::now();
        forgetOld(now);
        for (const auto& [handedOutAt, id] : mHandedOut) {
            const auto left = std::chrono::duration_cast<std::chrono::seconds>(mLifetime - (now - handedOutAt));
            commands.push_back({"SET", kSharedKeyPrefix + std::to_string(id), mOwners[id], "NX", "EX",
                                std::to_string(std::max<long long>(1, left.count()))});
        }
    }
    std::vector<platform::RedisReply> replies;
    for (size_t at = 0; at < commands.size(); at += 1000) {
        const std::vector<platform::RedisCommand> part(commands.begin() + at,
                                                       commands.begin() + std::min(commands.size(), at + 1000));
        if (!mShared->Run(part, &replies)) return;  // the next recovery brings them again
    }
}

long Visitors::handOutShared(const std::string& visitor) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        uint16_t halves[2];
        RandomBytes(halves, sizeof halves);
        const long id = 0x40000000L | (static_cast<long>(halves[0] & 0x3FFF) << 16) | (halves[1] & 0x7FFF);
        platform::RedisReply reply;
        if (!mShared->Run({"SET", kSharedKeyPrefix + std::to_string(id), visitor, "NX", "EX",
                           std::to_string(mLifetime.count())},
                          &reply))
            return 0;
        if (reply.kind == platform::RedisReply::Kind::Status) return id;  // OK: the ID was free
        if (reply.kind == platform::RedisReply::Kind::Error) return 0;
    }
    return 0;
}

long Visitors::handOutHere(const std::string& visitor) {
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
    if (visitor.empty()) return false;
    if (mShared) republishAfterOutage();
    platform::RedisReply reply;
    if (mShared && mShared->Run({"GET", kSharedKeyPrefix + std::to_string(id)}, &reply) &&
        reply.kind == platform::RedisReply::Kind::Text)
        return reply.text == visitor;
    // Not in Redis (it lost its keys, or cannot be reached): this process's own hand-outs.
    std::lock_guard<std::mutex> lock(mMutex);
    forgetOld(Clock::now());
    auto it = mOwners.find(id);
    return it != mOwners.end() && it->second == visitor;
}

void Visitors::forgetOld(Clock::time_point now) {
    while (!mHandedOut.empty() && (now - mHandedOut.front().first > mLifetime || mHandedOut.size() > mCapacity)) {
        mOwners.erase(mHandedOut.front().second);
        mHandedOut.pop_front();
    }
}
