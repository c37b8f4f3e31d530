// Accounts, access tokens and per-thread impersonation. A logon checks the
// name and password with PAM (service "formix") and yields a token holding
// the account's uid, gid, groups and name. Impersonation changes the
// calling thread's effective ids only (raw system calls: glibc's wrappers
// would change every thread); RevertToSelf returns the thread to the
// process's own ids. SIDs are Unix-user SIDs, S-1-22-1-<uid>; the domain of
// every account is the machine name in upper case.
#pragma once

#include "platform/WinTypes.h"

constexpr DWORD LOGON32_LOGON_INTERACTIVE = 2;
constexpr DWORD LOGON32_LOGON_NETWORK = 3;
constexpr DWORD LOGON32_LOGON_BATCH = 4;
constexpr DWORD LOGON32_PROVIDER_DEFAULT = 0;

constexpr DWORD TOKEN_QUERY = 0x0008;
constexpr DWORD READ_CONTROL = 0x00020000;

enum TOKEN_INFORMATION_CLASS { TokenUser = 1 };
enum SID_NAME_USE { SidTypeUser = 1 };

struct SID_IDENTIFIER_AUTHORITY {
    BYTE Value[6];
};
struct SID {
    BYTE Revision;
    BYTE SubAuthorityCount;
    SID_IDENTIFIER_AUTHORITY IdentifierAuthority;
    DWORD SubAuthority[2];
};
using PSID = void*;
struct SID_AND_ATTRIBUTES {
    PSID Sid;
    DWORD Attributes;
};
struct TOKEN_USER {
    SID_AND_ATTRIBUTES User;
};

// The pseudo-handles of the calling thread and process.
HANDLE GetCurrentThread();
HANDLE GetCurrentProcess();

// Checks name and password (domain "." , empty or this machine's name) and
// gives a token. Errors: ERROR_LOGON_FAILURE for a wrong name or password,
// ERROR_NO_SUCH_DOMAIN for another domain.
BOOL LogonUserA(LPCSTR user, LPCSTR domain, LPCSTR password, DWORD logonType, DWORD provider, HANDLE* token);
// Makes the calling thread act as the token's account. Without the
// capability to change ids: ERROR_PRIVILEGE_NOT_HELD, the thread unchanged.
BOOL ImpersonateLoggedOnUser(HANDLE token);
// Returns the calling thread to the process's own ids.
BOOL RevertToSelf();
// The calling thread's impersonation token; ERROR_NO_TOKEN when the thread
// is not impersonating.
BOOL OpenThreadToken(HANDLE thread, DWORD access, BOOL openAsSelf, HANDLE* token);
BOOL OpenProcessToken(HANDLE process, DWORD access, HANDLE* token);
BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, void* info, DWORD length,
                         DWORD* returnLength);
// Name and domain of a SID; sizes in characters without the terminator on
// success, with it (and ERROR_INSUFFICIENT_BUFFER) when a buffer is short.
BOOL LookupAccountSidA(LPCSTR systemName, PSID sid, LPSTR name, DWORD* nameSize, LPSTR domain, DWORD* domainSize,
                       SID_NAME_USE* use);
