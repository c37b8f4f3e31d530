#include "platform/Security.h"

#include <grp.h>
#include <pwd.h>
#include <security/pam_appl.h>
#include <strings.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "KernelObject.h"
#include "platform/System.h"

namespace {

// The ids a thread acts with.
struct Identity {
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;
};

// The process's own ids, read once before any thread changes its own.
const Identity& ProcessIdentity() {
    static const Identity identity = [] {
        Identity own{geteuid(), getegid(), {}};
        const int count = getgroups(0, nullptr);
        if (count > 0) {
            own.groups.resize(static_cast<size_t>(count));
            own.groups.resize(static_cast<size_t>(getgroups(count, own.groups.data())));
        }
        return own;
    }();
    return identity;
}

// The token the calling thread acts with; null when it acts as the process.
thread_local KernelObject* tImpersonation = nullptr;

HANDLE const kCurrentThread = reinterpret_cast<HANDLE>(-2);
HANDLE const kCurrentProcess = reinterpret_cast<HANDLE>(-1);

// The system calls themselves act on the calling thread only.
bool SetThreadIds(const Identity& identity) {
    return syscall(SYS_setgroups, identity.groups.size(), identity.groups.data()) == 0 &&
           syscall(SYS_setresgid, -1, identity.gid, -1) == 0 && syscall(SYS_setresuid, -1, identity.uid, -1) == 0;
}

// Back to the process's ids: the user first, which restores the right to
// change the groups.
bool SetProcessIds() {
    const Identity& own = ProcessIdentity();
    return syscall(SYS_setresuid, -1, own.uid, -1) == 0 &&
           syscall(SYS_setgroups, own.groups.size(), own.groups.data()) == 0 &&
           syscall(SYS_setresgid, -1, own.gid, -1) == 0;
}

KernelObject* NewToken(const Identity& identity, const std::string& account) {
    auto* token = new (std::nothrow) KernelObject(KernelObject::Kind::Token);
    if (!token) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    token->uid = identity.uid;
    token->gid = identity.gid;
    token->groups = identity.groups;
    token->account = account;
    return token;
}

Identity IdentityOf(const KernelObject& token) { return {token.uid, token.gid, token.groups}; }

KernelObject* CopyToken(const KernelObject& token) { return NewToken(IdentityOf(token), token.account); }

std::string AccountName(uid_t uid) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found) return {};
    return entry.pw_name;
}

std::string MachineDomain() {
    std::string name = LocalMachineName();
    const size_t dot = name.find('.');
    if (dot != std::string::npos) name.resize(dot);
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
}

bool IsLocalDomain(const char* domain) {
    return !domain || !*domain || std::strcmp(domain, ".") == 0 || strcasecmp(domain, MachineDomain().c_str()) == 0 ||
           strcasecmp(domain, LocalMachineName().c_str()) == 0;
}

// PAM's conversation: the password for every prompt that hides its answer.
int AnswerWithPassword(int count, const pam_message** messages, pam_response** responses, void* password) {
    auto* answers = static_cast<pam_response*>(std::calloc(static_cast<size_t>(count), sizeof(pam_response)));
    if (!answers) return PAM_BUF_ERR;
    for (int i = 0; i < count; ++i)
        if (messages[i]->msg_style == PAM_PROMPT_ECHO_OFF || messages[i]->msg_style == PAM_PROMPT_ECHO_ON)
            answers[i].resp = strdup(static_cast<const char*>(password));
    *responses = answers;
    return PAM_SUCCESS;
}

DWORD ErrorOfPam(int result) {
    switch (result) {
        case PAM_SUCCESS:
            return 0;
        case PAM_NEW_AUTHTOK_REQD:
            return ERROR_PASSWORD_EXPIRED;
        case PAM_ACCT_EXPIRED:
            return ERROR_ACCOUNT_DISABLED;
        case PAM_PERM_DENIED:
            return ERROR_ACCOUNT_RESTRICTION;
        case PAM_MAXTRIES:
            return ERROR_ACCOUNT_LOCKED_OUT;
        case PAM_BUF_ERR:
            return ERROR_NOT_ENOUGH_MEMORY;
        default:
            return ERROR_LOGON_FAILURE;
    }
}

// Checks the password and the account with the "formix" PAM service.
DWORD Authenticate(const char* user, const char* password) {
    pam_conv conversation{AnswerWithPassword, const_cast<char*>(password)};
    pam_handle_t* pam = nullptr;
    int result = pam_start("formix", user, &conversation, &pam);
    if (result == PAM_SUCCESS) result = pam_authenticate(pam, PAM_SILENT | PAM_DISALLOW_NULL_AUTHTOK);
    if (result == PAM_SUCCESS) result = pam_acct_mgmt(pam, PAM_SILENT | PAM_DISALLOW_NULL_AUTHTOK);
    if (pam) pam_end(pam, result);
    return ErrorOfPam(result);
}

bool Fail(DWORD error) {
    SetLastError(error);
    return false;
}

}  // namespace

HANDLE GetCurrentThread() { return kCurrentThread; }
HANDLE GetCurrentProcess() { return kCurrentProcess; }

BOOL LogonUserA(LPCSTR user, LPCSTR domain, LPCSTR password, DWORD, DWORD, HANDLE* token) {
    if (!token || !user || !*user) return Fail(ERROR_INVALID_PARAMETER);
    *token = nullptr;
    ProcessIdentity();
    if (!IsLocalDomain(domain)) return Fail(ERROR_NO_SUCH_DOMAIN);
    if (const DWORD error = Authenticate(user, password ? password : "")) return Fail(error);
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwnam_r(user, &entry, buffer.data(), buffer.size(), &found) != 0 || !found) return Fail(ERROR_LOGON_FAILURE);
    Identity identity{entry.pw_uid, entry.pw_gid, std::vector<gid_t>(64)};
    int count = static_cast<int>(identity.groups.size());
    if (getgrouplist(entry.pw_name, entry.pw_gid, identity.groups.data(), &count) < 0) {
        identity.groups.resize(static_cast<size_t>(count));
        getgrouplist(entry.pw_name, entry.pw_gid, identity.groups.data(), &count);
    }
    identity.groups.resize(static_cast<size_t>(count));
    KernelObject* object = NewToken(identity, entry.pw_name);
    if (!object) return FALSE;
    *token = object;
    SetLastError(0);
    return TRUE;
}

BOOL ImpersonateLoggedOnUser(HANDLE token) {
    KernelObject* object = ObjectOf(token, KernelObject::Kind::Token);
    if (!object) return Fail(ERROR_INVALID_HANDLE);
    KernelObject* copy = CopyToken(*object);
    if (!copy) return FALSE;
    if (!RevertToSelf() || !SetThreadIds(IdentityOf(*copy))) {
        // Nothing half-changed: whatever was set goes back.
        SetProcessIds();
        delete copy;
        return Fail(ERROR_PRIVILEGE_NOT_HELD);
    }
    tImpersonation = copy;
    SetLastError(0);
    return TRUE;
}

BOOL RevertToSelf() {
    if (!tImpersonation) return TRUE;
    if (!SetProcessIds()) return Fail(ERROR_PRIVILEGE_NOT_HELD);
    delete tImpersonation;
    tImpersonation = nullptr;
    return TRUE;
}

BOOL OpenThreadToken(HANDLE thread, DWORD, BOOL, HANDLE* token) {
    if (!token || thread != kCurrentThread) return Fail(ERROR_INVALID_PARAMETER);
    *token = nullptr;
    if (!tImpersonation) return Fail(ERROR_NO_TOKEN);
    KernelObject* copy = CopyToken(*tImpersonation);
    if (!copy) return FALSE;
    *token = copy;
    return TRUE;
}

BOOL OpenProcessToken(HANDLE process, DWORD, HANDLE* token) {
    if (!token || process != kCurrentProcess) return Fail(ERROR_INVALID_PARAMETER);
    const Identity& own = ProcessIdentity();
    KernelObject* copy = NewToken(own, AccountName(own.uid));
    if (!copy) return FALSE;
    *token = copy;
    return TRUE;
}

BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, void* info, DWORD length,
                         DWORD* returnLength) {
    KernelObject* object = ObjectOf(token, KernelObject::Kind::Token);
    if (!object) return Fail(ERROR_INVALID_HANDLE);
    if (infoClass != TokenUser) return Fail(ERROR_INVALID_PARAMETER);
    struct Layout {
        TOKEN_USER user;
        SID sid;
    };
    if (returnLength) *returnLength = sizeof(Layout);
    if (!info || length < sizeof(Layout)) return Fail(ERROR_INSUFFICIENT_BUFFER);
    auto* layout = static_cast<Layout*>(info);
    layout->sid = SID{1, 2, {{0, 0, 0, 0, 0, 22}}, {1, static_cast<DWORD>(object->uid)}};
    layout->user.User.Sid = &layout->sid;
    layout->user.User.Attributes = 0;
    return TRUE;
}

BOOL LookupAccountSidA(LPCSTR, PSID sid, LPSTR name, DWORD* nameSize, LPSTR domain, DWORD* domainSize,
                       SID_NAME_USE* use) {
    const auto* unixSid = static_cast<const SID*>(sid);
    static const SID_IDENTIFIER_AUTHORITY kUnix = {{0, 0, 0, 0, 0, 22}};
    if (!unixSid || !nameSize || !domainSize) return Fail(ERROR_INVALID_PARAMETER);
    if (unixSid->Revision != 1 || unixSid->SubAuthorityCount != 2 || unixSid->SubAuthority[0] != 1 ||
        std::memcmp(&unixSid->IdentifierAuthority, &kUnix, sizeof kUnix) != 0)
        return Fail(ERROR_NONE_MAPPED);
    const std::string account = AccountName(static_cast<uid_t>(unixSid->SubAuthority[1]));
    if (account.empty()) return Fail(ERROR_NONE_MAPPED);
    const std::string machine = MachineDomain();
    const bool fits = name && domain && account.size() < *nameSize && machine.size() < *domainSize;
    if (!fits) {
        *nameSize = static_cast<DWORD>(account.size() + 1);
        *domainSize = static_cast<DWORD>(machine.size() + 1);
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(name, account.c_str(), account.size() + 1);
    std::memcpy(domain, machine.c_str(), machine.size() + 1);
    *nameSize = static_cast<DWORD>(account.size());
    *domainSize = static_cast<DWORD>(machine.size());
    if (use) *use = SidTypeUser;
    return TRUE;
}
