// The Response object of a page run: what the page writes, in the code page
// it chose, its headers, cookies, status and caching, and the ways a page
// ends itself (End, Redirect).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

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

}  // namespace script
