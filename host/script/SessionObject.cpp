#include "script/SessionObject.h"

#include <new>

#include "script/Locales.h"
#include "script/StoreMembers.h"

namespace script {

namespace {

using host::ArgLong;
using host::kCall;
using host::kGet;
using host::kPut;
using host::Member;
using host::MemberArgs;
using host::ReturnLong;
using host::ReturnObject;

class SessionObject final : public StoreMembers<SessionObject> {
public:
    SessionObject(SessionStore& sessions, const PageRequest& request, Response& response)
        : mSessions(sessions), mRequest(request), mResponse(response) {}
    // The page's end: the session is given back.
    ~SessionObject() override { giveBack(); }

    // The page's run is over: the session goes back to the store now, so
    // that the session's next request (and, when the page abandoned it, its
    // end) need not wait until the answer is sent.
    void giveBack() {
        if (mSession && !mEnded) mSessions.release(mToken, mSession);
        mSession = nullptr;
        mError = "The page's run has ended: its session is no longer its.";
    }

    const std::vector<Member<SessionObject>>& members() const {
        static const std::vector<Member<SessionObject>> kMembers =
            StoreTable({{u"SessionID", 20, kGet, 0, 0, &SessionObject::sessionId},
                        {u"Timeout", 21, kGet | kPut, 0, 0, &SessionObject::timeout},
                        {u"Abandon", 22, kCall, 0, 0, &SessionObject::abandon},
                        {u"CodePage", 23, kGet | kPut, 0, 0, &SessionObject::codePage},
                        {u"LCID", 24, kGet | kPut, 0, 0, &SessionObject::lcid},
                        {u"StaticObjects", 25, kGet, 0, 0, &SessionObject::staticObjects}});
        return kMembers;
    }

    // Finds or makes the session now; true when this request made it.
    bool claim() {
        session();
        return mMade;
    }
    // The session's objects; null when it has none (or no session).
    std::shared_ptr<StaticObjects> objects() { return session() ? mSession->objects : nullptr; }
    // For a session that has ended: the page host reads and writes it one
    // last time, and gives nothing back to the store.
    void endedSession(std::shared_ptr<SessionStore::Session> ended) {
        mSession = std::move(ended);
        mEnded = true;
    }
    const SessionStore::Session* held() const { return mSession.get(); }

private:
    friend class StoreMembers<SessionObject>;
    // The visitor's session, found or made at the first use.
    SessionStore::Session* session() {
        if (!mSession && mError.empty()) {
            std::string token = mRequest.cookie(SessionStore::kCookie);
            const std::string given = token;
            mSession = mSessions.find(&token, mRequest.clientAddress(), &mError);
            if (!mSession) return nullptr;
            mToken = token;
            mMade = token != given;
            if (mMade && !mResponse.headersSent)
                mResponse.headers.emplace_back("Set-Cookie", std::string(SessionStore::kCookie) + "=" + token +
                                                                 "; Path=/; HttpOnly; SameSite=Lax");
        }
        return mSession.get();
    }
    host::ValueStore* store() override { return session() ? session()->values.get() : nullptr; }
    HRESULT unavailable() override { return Fail(E_FAIL, mError); }

    HRESULT sessionId(WORD, const MemberArgs&, VARIANT* result) {
        if (!session()) return unavailable();
        result->vt = VT_I4;
        result->lVal = static_cast<LONG>(session()->id);
        return S_OK;
    }
    HRESULT timeout(WORD use, const MemberArgs& args, VARIANT* result) {
        if (!session()) return unavailable();
        if (use != kPut) {
            result->vt = VT_I4;
            result->lVal = static_cast<LONG>(session()->timeout.count());
            return S_OK;
        }
        LONG minutes = 0;
        if (!ArgLong(args.back(), &minutes) || minutes < 1 || minutes > 24 * 60)
            return Fail(E_INVALIDARG, "Timeout is a number of minutes from 1 to 1440.");
        session()->timeout = std::chrono::minutes(minutes);
        return S_OK;
    }
    // The session's pages answer in its code page unless a page sets its
    // own (this one's Response follows it too); 0 gives that back to the pages.
    HRESULT codePage(WORD use, const MemberArgs& args, VARIANT* result) {
        if (!session()) return unavailable();
        if (use != kPut) return ReturnLong(result, static_cast<LONG>(session()->codePage));
        LONG wanted = 0;
        const bool none = ArgLong(args.back(), &wanted) && wanted == 0;
        if (const std::string refusal = none ? "" : CodePageRefusal(args.back(), &wanted); !refusal.empty())
            return Fail(E_INVALIDARG, refusal);
        session()->codePage = static_cast<UINT>(wanted);
        return S_OK;
    }
    HRESULT lcid(WORD use, const MemberArgs& args, VARIANT* result) {
        if (!session()) return unavailable();
        if (use != kPut) return ReturnLong(result, static_cast<LONG>(session()->lcid));
        LONG wanted = 0;
        if (const std::string refusal = LcidRefusal(args.back(), &wanted); !refusal.empty())
            return Fail(E_INVALIDARG, refusal);
        session()->lcid = static_cast<LCID>(wanted);
        return S_OK;
    }
    HRESULT abandon(WORD, const MemberArgs&, VARIANT*) {
        if (!session()) return unavailable();
        if (!mEnded) mSessions.abandon(mToken, *mSession);
        return S_OK;
    }
    HRESULT staticObjects(WORD, const MemberArgs&, VARIANT* result) {
        if (!session()) return unavailable();
        return ReturnObject(result,
                            CreateStaticObjectsCollection(mSession->objects ? mSession->objects : NoStaticObjects()));
    }

    SessionStore& mSessions;
    const PageRequest& mRequest;
    Response& mResponse;
    std::shared_ptr<SessionStore::Session> mSession;
    std::string mToken, mError;
    bool mMade = false;   // the session was made by this request
    bool mEnded = false;  // the session has ended (Session_OnEnd)
};

}  // namespace

IDispatch* CreateSessionObject(SessionStore& store, const PageRequest& request, Response& response) {
    return new (std::nothrow) SessionObject(store, request, response);
}

bool ClaimSession(IDispatch* sessionObject) {
    auto* session = dynamic_cast<SessionObject*>(sessionObject);
    return session && session->claim();
}

std::shared_ptr<StaticObjects> SessionObjects(IDispatch* sessionObject) {
    auto* session = dynamic_cast<SessionObject*>(sessionObject);
    return session ? session->objects() : nullptr;
}

IDispatch* CreateEndedSessionObject(SessionStore& store, std::shared_ptr<SessionStore::Session> ended,
                                    const PageRequest& request, Response& response) {
    auto* session = new (std::nothrow) SessionObject(store, request, response);
    if (session) session->endedSession(std::move(ended));
    return session;
}

void GiveSessionBack(IDispatch* sessionObject) {
    if (auto* session = dynamic_cast<SessionObject*>(sessionObject)) session->giveBack();
}

const SessionStore::Session* HeldSession(IDispatch* sessionObject) {
    auto* session = dynamic_cast<SessionObject*>(sessionObject);
    return session ? session->held() : nullptr;
}

}  // namespace script
