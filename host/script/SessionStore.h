// Sessions: values kept per visitor, found by a cookie, dropped after their
// idle timeout (20 minutes unless the page sets Session.Timeout). In memory,
// at most `capacity` are kept; beyond that the least recently used goes.
// Shared through Redis (shareThrough), they are kept there instead, for
// every server of the site. A session kept in memory has an end that the
// page host hears of (the site's Session_OnEnd), and the objects the site
// declares for each session.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/Collections.h"
#include "platform/RedisLink.h"
#include "script/StaticObjects.h"
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
        bool endsOnRelease = false;              // in memory: forgotten while held, so it ends when given back
        std::shared_ptr<StaticObjects> objects;  // in memory: the site's objects of the session
    };
    using EndHook = std::function<void(const std::shared_ptr<Session>&)>;

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
    // Ends the session when the request that holds it gives it back.
    void abandon(const std::string& token, Session& session);

    // Sessions made from now on are given these objects (the site's
    // <object runat="server" scope="Session"> tags).
    void declareObjects(std::vector<ObjectTag> objects);
    // Called with each session kept in memory that ends: abandoned (once
    // its request gave it back), idle past its timeout, or pushed out by
    // newer ones. It is called on the thread that found the end, outside
    // the store's lock. Shared sessions expire in Redis unheard.
    void onEnd(EndHook hook);
    // Ends the sessions idle past their timeout now (otherwise found at
    // most once a minute as sessions are looked up).
    void sweep();

private:
    // Sessions in the order of their last use, least recent first: one list
    // of all, one per client address. They hold the tokens kept as keys.
    using UseOrder = std::list<const std::string*>;
    struct Kept {
        std::shared_ptr<Session> session;
        std::string address;
        UseOrder::iterator placeByUse, placeByAddress;  // its entries in mByUse and in its address's list
    };
    using KeptMap = std::unordered_map<std::string, Kept>;

    std::shared_ptr<Session> findKept(std::string* token, const std::string& address, std::string* error);
    void forgetIdle(std::chrono::steady_clock::time_point now);
    // Forgets a session; it has ended unless its request still holds it.
    void forget(KeptMap::iterator it);
    void touch(Kept& kept);
    // Tells the hook of the sessions that ended; the caller holds no lock.
    void announceEnded();

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
    std::vector<ObjectTag> mDeclaredObjects;
    EndHook mOnEnd;
    std::vector<std::shared_ptr<Session>> mEnded;  // ended, not yet announced
};

}  // namespace script
