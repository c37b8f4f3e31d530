// The Server object of one request: creating objects by ProgID, encoding
// text for HTML and URLs, mapping paths, and running other pages.
#pragma once

#include <functional>
#include <string>

#include "platform/Asp.h"

// Maps virtual paths under the document root; a path that would leave the
// root is refused. Relative paths start at the folder of the page's path.
IServer* CreateServerObject(const std::string& documentRoot, const std::string& pagePath);
// What Server.Execute, Server.Transfer and Server.GetLastError ask of the
// page host, which runs pages. Without them (a request that is no script
// page's) the three members fail.
struct ServerPageHooks {
    // Runs the page at `path` (as the page wrote it) within the request, and
    // with `transfer` ends the calling page after it; a failure's text in
    // `error`.
    std::function<HRESULT(const std::string& path, bool transfer, std::string* error)> run;
    // The request's ASPError object (a new reference).
    std::function<IDispatch*()> lastError;
};
// Gives a Server object made by CreateServerObject its hooks; false for any
// other object.
bool SetServerPageHooks(IServer* server, ServerPageHooks hooks);
