// The page a balancer asks whether this server takes uploads.
#pragma once

#include "core/Page.h"
#include "core/WebServer.h"

// GET /health, for a balancer: 200 when this server takes uploads; 503 while
// it drains before it stops, or when the pages' account cannot write the
// uploads folder.
void Health(const WebServer& server, const PageRequest& request, Response& response);
