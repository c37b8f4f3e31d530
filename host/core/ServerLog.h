// The server's entries in the event log (source "formix4-server"), each also
// written to standard error for whoever runs the server by hand.
#pragma once

#include <string>

#include "platform/WinTypes.h"

// `type`: EVENTLOG_ERROR_TYPE, EVENTLOG_WARNING_TYPE or EVENTLOG_INFORMATION_TYPE.
void LogServerEvent(WORD type, const std::string& text);
