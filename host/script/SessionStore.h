// Sessions: values kept per visitor, found by a cookie, dropped after their
// idle timeout (20 minutes unless the page sets Session.Timeout). In memory,
// at most `capacity` are kept; beyond that the least recently used goes.
// Shared through Redis (shareThrough), they are kept there instead, for
// every server of the site.
#pragma once

#include <chrono>
#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "core/Collections.h"
#include "platform/RedisLink.h"
#include "script/Locales.h"

namespace script {

class SharedSessions;

class SessionStore {
public:
    static constexpr const char* kCookie = "FORMIX4SESSIONID";

    // At most `capacity` sessions kept, and a twentieth of them made from
    // one client address, so that one client cannot push out everyone
    // else's: past either, the least recently used session (of that
    // address) is forgotten, in constant time.
    explicit SessionStore(size_t capacity = 100000);
    ~SessionStore();

    struct Session {
        long id = 0;
        std::shared_ptr<host::ValueStore> values = std::make_shared<host::ValueStore>();
        std::chrono::minutes timeout{20};
        // The answer's code page for the session's pages (0: each page's
        // own) and their locale, as Session.CodePage and Session.LCID set them.
        UINT codePage = 0;
        LCID lcid = kDefaultLcid;
        std::chrono::steady_clock::time_point lastUse;
        std::string holder;  // shared: the request that holds it
        bool held = false;   // in memory: a request has it (requests of a session run one at a time)
        bool fresh = false;  // shared: made by this request, known to no other yet
        std::string maker;   // shared and fresh: the client address that made it
        bool abandoned = false;
    };

    void shareThrough(std::shared_ptr<platform::RedisLink> link);
    // The session of `token`, or a new one for a visitor at `address` ("":
    // not known, counted toward the whole only; with its new token in
    // *token); null with a reason when the shared store cannot give it.
    // The requests of one session run one at a time, as classic servers run
    // them: the session is the caller's until release, and another request
    // of it waits here for it (30 s at most, then null with the reason).
    std::shared_ptr<Session> find(std::string* token, const std::string& address, std::string* error);
    // The end of a request that used the session: a shared session is
    // written back and given to the next request of it.
    void release(const std::string& token, const std::shared_ptr<Session>& session);
    void abandon(const std::string& token, Session& session);

private:
    // Sessions in the order of their last use, least recent first: one list
    // of all, one per client address. They hold the tokens kept as keys.
    using UseOrder = std::list<const std::string*>;
    struct Kept {
        std::shared_ptr<Session> session;
        std::string address;
        UseOrder::iterator inAll, inAddress;
    };
    using KeptMap = std::unordered_map<std::string, Kept>;

    void forgetIdle(std::chrono::steady_clock::time_point now);
    void forget(KeptMap::iterator it);
    void touch(Kept& kept);

    static constexpr size_t kAddressesToFill = 20;

    std::unique_ptr<SharedSessions> mShared;
    size_t mCapacity, mPerAddress;
    std::mutex mMutex;
    std::condition_variable mReleased;
    KeptMap mSessions;
    UseOrder mByUse;
    std::unordered_map<std::string, UseOrder> mByAddress;
    long mNextId = 0;
    std::chrono::steady_clock::time_point mLastSweep;
};

}  // namespace script
