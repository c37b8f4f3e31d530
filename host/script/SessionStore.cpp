#include "script/SessionStore.h"

#include <algorithm>

#include "core/HttpText.h"
#include "script/SharedSessions.h"

namespace script {

namespace {

// How long a request waits for its session while another request has it,
// as long as the shared store waits.
constexpr auto kLongestWait = std::chrono::seconds(30);

}  // namespace

SessionStore::SessionStore(size_t capacity)
    : mCapacity(std::max<size_t>(1, capacity)), mPerAddress(std::max<size_t>(1, capacity / kAddressesToFill)) {}

SessionStore::~SessionStore() = default;

void SessionStore::shareThrough(std::shared_ptr<platform::RedisLink> link) {
    mShared = std::make_unique<SharedSessions>(std::move(link), mPerAddress);
}

std::shared_ptr<SessionStore::Session> SessionStore::find(std::string* token, const std::string& address,
                                                          std::string* error) {
    if (mShared) {
        auto session = std::make_shared<Session>();
        return mShared->take(token, address, session.get(), error) ? session : nullptr;
    }
    auto session = findKept(token, address, error);
    announceEnded();
    return session;
}

std::shared_ptr<SessionStore::Session> SessionStore::findKept(std::string* token, const std::string& address,
                                                              std::string* error) {
    std::unique_lock<std::mutex> guard(mMutex);
    const auto deadline = std::chrono::steady_clock::now() + kLongestWait;
    auto now = std::chrono::steady_clock::now();
    while (IsRandomToken(*token)) {
        auto it = mSessions.find(*token);
        if (it == mSessions.end() || now - it->second.session->lastUse > it->second.session->timeout) break;
        Session& session = *it->second.session;
        if (!session.held) {
            session.held = true;
            session.lastUse = now;
            touch(it->second);
            return it->second.session;
        }
        if (mReleased.wait_until(guard, deadline) == std::cv_status::timeout) {
            *error = "The session is held by another request of it for longer than " +
                     std::to_string(std::chrono::seconds(kLongestWait).count()) + " s.";
            return nullptr;
        }
        now = std::chrono::steady_clock::now();
    }
    if (now - mLastSweep > std::chrono::minutes(1)) forgetIdle(now);
    // A request whose client cannot be told (a proxy on this machine that
    // names none) counts toward the whole only.
    const auto ofAddress = address.empty() ? mByAddress.end() : mByAddress.find(address);
    if (ofAddress != mByAddress.end() && ofAddress->second.size() >= mPerAddress)
        forget(mSessions.find(*ofAddress->second.front()));
    else if (mSessions.size() >= mCapacity)
        forget(mSessions.find(*mByUse.front()));
    auto session = std::make_shared<Session>();
    session->id = ++mNextId;
    session->lastUse = now;
    session->held = true;
    if (!mDeclaredObjects.empty()) session->objects = std::make_shared<StaticObjects>(mDeclaredObjects);
    *token = RandomToken();
    const auto it = mSessions.emplace(*token, Kept{session, address, {}, {}}).first;
    UseOrder& mine = mByAddress[address];
    it->second.placeByUse = mByUse.insert(mByUse.end(), &it->first);
    it->second.placeByAddress = mine.insert(mine.end(), &it->first);
    return session;
}

void SessionStore::release(const std::string& token, const std::shared_ptr<Session>& session) {
    if (mShared) return mShared->give(token, *session, session->abandoned);
    {
        std::lock_guard<std::mutex> guard(mMutex);
        session->held = false;
        if (session->endsOnRelease) mEnded.push_back(session);
    }
    mReleased.notify_all();
    announceEnded();
}

void SessionStore::abandon(const std::string& token, Session& session) {
    session.abandoned = true;
    if (mShared) return;  // removed when the request gives it back
    std::lock_guard<std::mutex> guard(mMutex);
    const auto it = mSessions.find(token);
    if (it != mSessions.end()) forget(it);
}

void SessionStore::declareObjects(std::vector<ObjectTag> objects) {
    std::lock_guard<std::mutex> guard(mMutex);
    mDeclaredObjects = std::move(objects);
}

void SessionStore::onEnd(EndHook hook) {
    std::lock_guard<std::mutex> guard(mMutex);
    mOnEnd = std::move(hook);
}

void SessionStore::sweep() {
    {
        std::lock_guard<std::mutex> guard(mMutex);
        forgetIdle(std::chrono::steady_clock::now());
    }
    announceEnded();
}

void SessionStore::announceEnded() {
    std::vector<std::shared_ptr<Session>> ended;
    EndHook hook;
    {
        std::lock_guard<std::mutex> guard(mMutex);
        ended.swap(mEnded);
        hook = mOnEnd;
    }
    for (const auto& session : ended)
        if (hook) hook(session);
}

void SessionStore::touch(Kept& kept) {
    mByUse.splice(mByUse.end(), mByUse, kept.placeByUse);
    UseOrder& ofAddress = mByAddress[kept.address];
    ofAddress.splice(ofAddress.end(), ofAddress, kept.placeByAddress);
}

void SessionStore::forget(KeptMap::iterator it) {
    mByUse.erase(it->second.placeByUse);
    const auto ofAddress = mByAddress.find(it->second.address);
    ofAddress->second.erase(it->second.placeByAddress);
    if (ofAddress->second.empty()) mByAddress.erase(ofAddress);
    const std::shared_ptr<Session>& session = it->second.session;
    if (session->held)
        session->endsOnRelease = true;
    else
        mEnded.push_back(session);
    mSessions.erase(it);
}

// Sessions of their own timeouts expire anywhere in the use order: found by
// a sweep of all, at most once a minute.
void SessionStore::forgetIdle(std::chrono::steady_clock::time_point now) {
    mLastSweep = now;
    for (auto it = mSessions.begin(); it != mSessions.end();) {
        const auto next = std::next(it);
        if (now - it->second.session->lastUse > it->second.session->timeout) forget(it);
        it = next;
    }
}

}  // namespace script
