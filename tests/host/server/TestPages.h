// The pages the tests drive the component through: upload intake, every
// field's members, raw upload files, impersonation, and the progress of any
// form ID. Served by formix4-test-server only.
#pragma once

#include "core/WebServer.h"

void AddTestPages(WebServer& server);
