// The per-request objects the host hands to the component: the object
// context with its "Request" and "Server" properties.
#pragma once

#include <string>

#include "core/BodyReader.h"
#include "platform/Asp.h"

// Reads the request body through `body` (null: the request has none):
// TotalBytes is the Content-Length, BinaryRead returns up to the asked
// number of bytes and fails once the body reader has stopped.
IRequest* CreateRequestObject(BodyReader* body, long long contentLength);
// Maps virtual paths under the document root; a path that would leave the
// root is refused. Relative paths start at the folder of the page's path.
IServer* CreateServerObject(const std::string& documentRoot, const std::string& pagePath);
IObjectContext* CreateObjectContext(IRequest* request, IServer* server);

// The file system path of a virtual path, or false when it would leave the root.
bool MapVirtualPath(const std::string& documentRoot, const std::string& pagePath, const std::string& virtualPath,
                    std::string* physical);
