// The objects a script page has besides Request and Server (which the
// server core makes for every page): Response, Application and Session.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/Collections.h"
#include "core/Page.h"
#include "script/SessionStore.h"

namespace script {

// What the Response object of a page run asks of the page host.
struct ResponseHooks {
    // Called when the page calls End or Redirect: the run stops there.
    std::function<void()> ended;
    // How the page's language writes a date (VT_DATE) as text: Response.Write
    // of a date writes what the language's own conversion gives.
    std::function<std::string(double oleDate)> writeDate;
    // Called once before a flush first sends the headers during the run,
    // while headers can still be added (the session's cookie).
    std::function<void()> beforeHeadersSent;
    // The page's session once the page has used it (null before, and for
    // a page that never does): its code page and locale are the answer's
    // when the page set none of its own.
    std::function<const SessionStore::Session*()> heldSession;
};

// The Response object of one page run, writing into `response`.
IDispatch* CreateResponseObject(Response& response, ResponseHooks hooks);
// The code page a page's <%@ CodePage=N %> directive names (0: none): the
// answer's, as if the page had set Response.CodePage before its first line.
void SetDirectiveCodePage(IDispatch* responseObject, UINT codePage);
// The code page text written to the answer is encoded in now.
UINT ResponseCodePage(IDispatch* responseObject);
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
// still holds when the object goes is released. `objects` are the site's
// application objects (null: none).
IDispatch* CreateApplicationObject(std::shared_ptr<host::ValueStore> store,
                                   std::shared_ptr<StaticObjects> objects = nullptr);

// The Session object of one page run: the visitor's session is found (or
// made, with its cookie on `response`) when the page first uses it.
IDispatch* CreateSessionObject(SessionStore& store, const PageRequest& request, Response& response);
// Finds or makes the visitor's session of a Session object now, so that a
// new session's cookie goes out with headers about to be sent; true when
// this request made the session.
bool ClaimSession(IDispatch* sessionObject);
// The site's objects of the Session object's session (finding or making
// the session); null when it has none.
std::shared_ptr<StaticObjects> SessionObjects(IDispatch* sessionObject);
// Gives the session of a Session object back to its store at the end of
// the page's run; the object then has no session.
void GiveSessionBack(IDispatch* sessionObject);
// The Session object of a session that has ended, for the site's
// Session_OnEnd: its values and objects as the session left them.
IDispatch* CreateEndedSessionObject(SessionStore& store, std::shared_ptr<SessionStore::Session> ended,
                                    const PageRequest& request, Response& response);
// The visitor's session of a Session object when the page has used it;
// null before (it is not looked up for this).
const SessionStore::Session* HeldSession(IDispatch* sessionObject);

}  // namespace script
