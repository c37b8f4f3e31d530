// The objects a script page has besides Request and Server (which the
// server core makes for every page): Response, Application and Session.
#pragma once

#include <chrono>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/Collections.h"
#include "core/Page.h"
#include "platform/RedisLink.h"

namespace script {

// The Response object of one page run, writing into `response`. `ended`
// is called when the page calls End or Redirect: the run stops there.
IDispatch* CreateResponseObject(Response& response, std::function<void()> ended);
// Adds the cookies the page set to the response's headers; called once the
// page has run (and before a flush sends the headers).
void FinishResponseObject(IDispatch* responseObject);
// Writes bytes to a page's answer as Response.BinaryWrite does, for host
// objects that make large answers (the upload report): they go to the
// answer as they are, not through the page language's strings. False when
// `responseObject` is no Response object.
bool WriteToResponse(IDispatch* responseObject, std::string bytes);
// The same for bytes a host object keeps (`owner`, kept until the answer is
// sent): they are sent from where they are, not copied.
bool WriteToResponse(IDispatch* responseObject, const std::vector<std::string_view>& views,
                     std::shared_ptr<const void> owner);

// The Application object: `store` is shared by every page; a lock the page
// still holds when the object goes is released.
IDispatch* CreateApplicationObject(std::shared_ptr<host::ValueStore> store);

class SharedSessions;

// Sessions: values kept per visitor, found by a cookie, dropped after their
// idle timeout (20 minutes unless the page sets Session.Timeout). In memory,
// at most `capacity` are kept; beyond that the least recently used goes.
// Shared through Redis (shareThrough), they are kept there instead, for
// every server of the site.
class SessionStore {
public:
    static constexpr const char* kCookie = "FORMIX4SESSIONID";

    // At most `capacity` sessions kept, and `perAddress` made from one
    // client address: past either, the least recently used session (of
    // that address) is forgotten, in constant time.
    explicit SessionStore(size_t capacity = 100000, size_t perAddress = 5000);
    ~SessionStore();

    struct Session {
        long id = 0;
        std::shared_ptr<host::ValueStore> values = std::make_shared<host::ValueStore>();
        std::chrono::minutes timeout{20};
        std::chrono::steady_clock::time_point lastUse;
        std::string holder;  // shared: the request that holds it
        bool fresh = false;  // shared: made by this request, known to no other yet
        bool abandoned = false;
    };

    void shareThrough(std::shared_ptr<platform::RedisLink> link);
    // The session of `token`, or a new one for a visitor at `address` (with
    // its new token in *token); null with a reason when the shared store
    // cannot give it.
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

    std::unique_ptr<SharedSessions> mShared;
    size_t mCapacity, mPerAddress;
    std::mutex mMutex;
    KeptMap mSessions;
    UseOrder mByUse;
    std::unordered_map<std::string, UseOrder> mByAddress;
    long mNextId = 0;
    std::chrono::steady_clock::time_point mLastSweep;
};

// The Session object of one page run: the visitor's session is found (or
// made, with its cookie on `response`) when the page first uses it.
IDispatch* CreateSessionObject(SessionStore& store, const PageRequest& request, Response& response);

}  // namespace script
