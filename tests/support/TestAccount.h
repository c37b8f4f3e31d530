// A local account with a password for the duration of a test: made with
// useradd and chpasswd (the tests run as root), removed with userdel.
#pragma once

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace testing_support {

class TestAccount {
public:
    TestAccount() : mName("fmx" + std::to_string(getpid())) {
        if (geteuid() != 0) return;
        std::system(("userdel " + mName + " >/dev/null 2>&1").c_str());
        const std::string make =
            "useradd -M -N -s /usr/sbin/nologin " + mName + " && echo '" + mName + ":" + mPassword + "' | chpasswd";
        if (std::system(make.c_str()) != 0) return;
        if (const passwd* entry = getpwnam(mName.c_str())) {
            mUid = entry->pw_uid;
            mGid = entry->pw_gid;
            mMade = true;
        }
    }
    ~TestAccount() {
        if (mMade) std::system(("userdel " + mName + " >/dev/null 2>&1").c_str());
    }
    TestAccount(const TestAccount&) = delete;
    TestAccount& operator=(const TestAccount&) = delete;

    bool made() const { return mMade; }
    const std::string& name() const { return mName; }
    const std::string& password() const { return mPassword; }
    uid_t uid() const { return mUid; }
    gid_t gid() const { return mGid; }

private:
    std::string mName;
    std::string mPassword = "Pw-4-upload!";
    uid_t mUid = 0;
    gid_t mGid = 0;
    bool mMade = false;
};

}  // namespace testing_support
