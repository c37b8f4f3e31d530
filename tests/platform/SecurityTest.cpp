// Logons through PAM and per-thread impersonation with a real account.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "TestAccount.h"
#include "TestSupport.h"
#include "platform/Files.h"
#include "platform/Security.h"
#include "platform/System.h"

using namespace testing_support;

namespace {

std::vector<gid_t> Groups() {
    std::vector<gid_t> groups(static_cast<size_t>(std::max(getgroups(0, nullptr), 0)));
    groups.resize(static_cast<size_t>(getgroups(static_cast<int>(groups.size()), groups.data())));
    return groups;
}

// The name and domain of a token's user.
std::pair<std::string, std::string> Account(HANDLE token) {
    alignas(8) BYTE user[256];
    DWORD length = 0;
    char name[64], domain[64];
    DWORD nameSize = sizeof name, domainSize = sizeof domain;
    SID_NAME_USE use;
    if (!GetTokenInformation(token, TokenUser, user, sizeof user, &length) ||
        !LookupAccountSidA(nullptr, reinterpret_cast<TOKEN_USER*>(user)->User.Sid, name, &nameSize, domain, &domainSize,
                           &use))
        return {"<error " + std::to_string(GetLastError()) + ">", ""};
    return {name, domain};
}

// A thread started up front that runs one job when asked and waits for it.
class Worker {
public:
    Worker()
        : mThread([this] {
              std::unique_lock<std::mutex> lock(mMutex);
              mWake.wait(lock, [this] { return static_cast<bool>(mJob); });
              mJob();
              mDone = true;
              mWake.notify_all();
          }) {}
    ~Worker() {
        if (!mJob) run([] {});
        mThread.join();
    }
    void run(std::function<void()> job) {
        std::unique_lock<std::mutex> lock(mMutex);
        mJob = std::move(job);
        mWake.notify_all();
        mWake.wait(lock, [this] { return mDone; });
    }

private:
    std::mutex mMutex;
    std::condition_variable mWake;
    std::function<void()> mJob;
    bool mDone = false;
    std::thread mThread;
};

class Security : public ::testing::Test {
protected:
    void SetUp() override {
        if (!mAccount.made()) GTEST_SKIP() << "making a local account needs root";
    }
    TestAccount mAccount;
};

}  // namespace

TEST_F(Security, LogonsCheckNamePasswordAndDomain) {
    HANDLE token = nullptr;
    EXPECT_FALSE(LogonUserA(mAccount.name().c_str(), ".", "wrong", LOGON32_LOGON_BATCH, 0, &token));
    EXPECT_EQ(GetLastError(), ERROR_LOGON_FAILURE);
    EXPECT_FALSE(LogonUserA("nobody-such-user", ".", "x", LOGON32_LOGON_BATCH, 0, &token));
    EXPECT_EQ(GetLastError(), ERROR_LOGON_FAILURE);
    EXPECT_FALSE(
        LogonUserA(mAccount.name().c_str(), "ELSEWHERE", mAccount.password().c_str(), LOGON32_LOGON_BATCH, 0, &token));
    EXPECT_EQ(GetLastError(), ERROR_NO_SUCH_DOMAIN);
    ASSERT_TRUE(LogonUserA(mAccount.name().c_str(), LocalMachineName().c_str(), mAccount.password().c_str(),
                           LOGON32_LOGON_BATCH, 0, &token));
    std::string machine = LocalMachineName().substr(0, LocalMachineName().find('.'));
    for (char& c : machine) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(Account(token), std::make_pair(mAccount.name(), machine));
    CloseHandle(token);
}

TEST_F(Security, ImpersonationActsOnTheCallingThreadOnly) {
    TempRegistry folder;
    const std::vector<gid_t> groups = Groups();
    HANDLE token = nullptr;
    ASSERT_TRUE(LogonUserA(mAccount.name().c_str(), ".", mAccount.password().c_str(), LOGON32_LOGON_BATCH, 0, &token));
    Worker other;
    HANDLE none = nullptr;
    EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &none));
    EXPECT_EQ(GetLastError(), ERROR_NO_TOKEN);

    chmod(folder.dir().c_str(), 0777);
    ASSERT_TRUE(ImpersonateLoggedOnUser(token));
    struct Revert {
        ~Revert() { RevertToSelf(); }  // a failed assertion must not leave the thread as the account
    } revert;
    EXPECT_EQ(geteuid(), mAccount.uid());
    EXPECT_EQ(getegid(), mAccount.gid());
    const auto made = folder.dir() / "made-as-account";
    WriteFile(made, "x");
    struct stat st {};
    ASSERT_EQ(stat(made.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, mAccount.uid());
    HANDLE threadToken = nullptr;
    ASSERT_TRUE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY | READ_CONTROL, TRUE, &threadToken));
    EXPECT_EQ(Account(threadToken).first, mAccount.name());
    CloseHandle(threadToken);

    // A thread that was running before meanwhile acts as the process.
    // (Threads started while impersonating inherit the thread's ids.)
    uid_t otherUid = 1;
    DWORD otherTokenError = 0;
    other.run([&] {
        otherUid = geteuid();
        HANDLE t = nullptr;
        if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &t)) otherTokenError = GetLastError();
        WriteFile(folder.dir() / "made-as-process", "y");
    });
    EXPECT_EQ(otherUid, 0u);
    EXPECT_EQ(otherTokenError, ERROR_NO_TOKEN);
    ASSERT_EQ(stat((folder.dir() / "made-as-process").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);

    ASSERT_TRUE(RevertToSelf());
    EXPECT_EQ(geteuid(), 0u);
    EXPECT_EQ(getegid(), 0u);
    EXPECT_EQ(Groups(), groups);
    HANDLE processToken = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &processToken));
    EXPECT_EQ(Account(processToken).first, "root");
    CloseHandle(processToken);
    CloseHandle(token);
}

// Without the capability to change the user id, impersonation fails with
// 1314 and leaves no id changed (the groups and group could be changed, and
// are put back).
TEST_F(Security, WithoutTheCapabilityNothingIsHalfChanged) {
    HANDLE token = nullptr;
    ASSERT_TRUE(LogonUserA(mAccount.name().c_str(), ".", mAccount.password().c_str(), LOGON32_LOGON_BATCH, 0, &token));
    const int outcome = RunInChild([&] {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[2] = {};
        if (syscall(SYS_capget, &header, data) != 0) return 10;
        data[0].effective &= ~(1u << CAP_SETUID);
        data[0].permitted &= ~(1u << CAP_SETUID);
        if (syscall(SYS_capset, &header, data) != 0) return 11;
        const std::vector<gid_t> groups = Groups();
        const uid_t uid = geteuid();
        const gid_t gid = getegid();
        if (ImpersonateLoggedOnUser(token)) return 1;
        if (GetLastError() != ERROR_PRIVILEGE_NOT_HELD) return 2;
        if (geteuid() != uid || getegid() != gid || Groups() != groups) return 3;
        HANDLE t = nullptr;
        if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &t) || GetLastError() != ERROR_NO_TOKEN) return 4;
        return 0;
    });
    EXPECT_EQ(outcome, 0);
    CloseHandle(token);
}
