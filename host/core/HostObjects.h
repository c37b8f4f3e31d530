// The per-request objects the host hands to the component: the object
// context with its "Request" and "Server" properties.
#pragma once

#include <functional>
#include <string>

#include "core/BodyReader.h"
#include "core/Page.h"
#include "platform/Asp.h"

// The Request object of `request` (which it refers to, and which outlives
// it). Reads the body through `body` (null: the request has none):
// TotalBytes is the Content-Length, BinaryRead returns up to the asked
// number of bytes and fails once the body reader has stopped; Form reads a
// URL-encoded body whole. A page reads the body one way only.
IRequest* CreateRequestObject(const PageRequest& request, BodyReader* body);
// Gives a Request object made by CreateRequestObject the code page its
// query string and form are decoded from, asked when the page first reads
// either (null: UTF-8, as browsers send from UTF-8 pages); false for any
// other object.
bool SetRequestCodePage(IRequest* request, std::function<UINT()> codePage);
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
IObjectContext* CreateObjectContext(IRequest* request, IServer* server);
// Puts another of a page's objects (Response, Application, Session) into a
// context made by CreateObjectContext, under `name`; false for any other
// context.
bool AddContextObject(IObjectContext* context, const std::u16string& name, IDispatch* object);

// The file system path of a virtual path, or false when it would leave the
// root; its names are found without regard to letter case (FindWithoutCase).
bool MapVirtualPath(const std::string& documentRoot, const std::string& pagePath, const std::string& virtualPath,
                    std::string* physical);
