// The Application event log: entries go to syslog (ident = the source,
// priority from the event type) and, when the value "File" under
// HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application names a file,
// are appended there as one line each:
//   <UTC time ISO 8601>\t<type name>\t<source>\t<category>\t<event id>\t<text>
#pragma once

#include "platform/WinTypes.h"

constexpr WORD EVENTLOG_SUCCESS = 0x0, EVENTLOG_ERROR_TYPE = 0x1, EVENTLOG_WARNING_TYPE = 0x2,
               EVENTLOG_INFORMATION_TYPE = 0x4, EVENTLOG_AUDIT_SUCCESS = 0x8, EVENTLOG_AUDIT_FAILURE = 0x10;

inline constexpr const char* kEventLogApplicationKey = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application";

HANDLE RegisterEventSourceA(LPCSTR server, LPCSTR source);
BOOL DeregisterEventSource(HANDLE log);
// The entry's text is the insertion strings joined by spaces (the message
// files of this platform hold only "%1"-style messages).
BOOL ReportEventA(HANDLE log, WORD type, WORD category, DWORD eventId, void* userSid, WORD numStrings, DWORD dataSize,
                  LPCSTR* strings, void* rawData);
