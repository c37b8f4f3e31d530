// The pages formix4-server serves: upload intake, raw upload files and the
// progress of an upload, each answering JSON.
#pragma once

#include "WebServer.h"

void AddFormixPages(WebServer& server);
