// The Session object: the visitor's values, found by the session's cookie
// when the page first uses them, its time-out, code page and locale, and
// the site's session objects.
#pragma once

#include <memory>

#include "core/Page.h"
#include "script/SessionStore.h"
#include "script/StaticObjects.h"

namespace script {

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
