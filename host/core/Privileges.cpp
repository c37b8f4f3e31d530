#include "core/Privileges.h"

#include <grp.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

bool RunAsUser(const std::string& user, bool required, std::string* error) {
    if (geteuid() != 0 && !required) return true;
    std::vector<char> buffer(16384);
    passwd entry{}, *account = nullptr;
    if (getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &account) != 0 || !account) {
        *error = "no account named " + user + " (the install step creates it)";
        return false;
    }
    if (geteuid() != 0) {
        if (account->pw_uid == geteuid()) return true;
        *error = "only a server started as root can run as " + user;
        return false;
    }
    if (account->pw_uid == 0) {
        *error = "the account " + user + " is root";
        return false;
    }
    // glibc applies these to every thread of the process, the workers that
    // are already running included.
    if (setgroups(0, nullptr) != 0 || setresgid(account->pw_gid, account->pw_gid, account->pw_gid) != 0 ||
        setresuid(account->pw_uid, account->pw_uid, account->pw_uid) != 0) {
        *error = "cannot become " + user + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void ForbidNewPrivileges() { prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0); }
