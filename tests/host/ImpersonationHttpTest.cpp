// Impersonation over HTTP with a real account: pages that act as it while
// they save, requests on other worker threads that stay the server's own.
// The server runs as root without the capability to override file
// permissions, so like a web server's account it cannot write a folder that
// belongs to someone else.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "HttpSupport.h"
#include "TestAccount.h"
#include "TestSupport.h"
#include "platform/RegistryValues.h"

using namespace testing_support;
using namespace http_support;

namespace {

const std::string kBody =
    "--XyZ\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a.txt\"\r\n\r\n"
    "saved by the account\r\n--XyZ--\r\n";

class ImpersonationHttp : public ::testing::Test {
protected:
    void SetUp() override {
        if (!mAccount.made()) GTEST_SKIP() << "making a local account needs root";
        ASSERT_TRUE(RegisterComponent());
        platform::registry::WriteDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Venhale\\Formix\\4.0", "EnableImpersonation", 1);
        chmod(mRegistry.dir().c_str(), 0755);
        std::filesystem::create_directories(mOwn);
        ASSERT_EQ(chown(mOwn.c_str(), mAccount.uid(), mAccount.gid()), 0);
        chmod(mOwn.c_str(), 0700);
        std::filesystem::create_directories(mShared);
        chmod(mShared.c_str(), 0777);
    }
    std::unique_ptr<ServerProcess> Start(int threads) {
        return std::make_unique<ServerProcess>(
            std::map<std::string, std::string>{{"PLATFORM_REGISTRY_DIR", mRegistry.registryDir().string()}}, "",
            std::vector<std::string>{"setpriv", "--bounding-set=-dac_override,-dac_read_search"}, threads);
    }
    std::string Logon() const { return "user=" + mAccount.name() + "&password=" + mAccount.password(); }
    static uid_t Owner(const std::filesystem::path& path) {
        struct stat st {};
        return stat(path.c_str(), &st) == 0 ? st.st_uid : static_cast<uid_t>(-1);
    }

    TempRegistry mRegistry;
    TestAccount mAccount;
    std::filesystem::path mOwn = mRegistry.dir() / "own";        // the account's alone
    std::filesystem::path mShared = mRegistry.dir() / "shared";  // anyone's
};

}  // namespace

TEST_F(ImpersonationHttp, SavesRunAsTheAccountOnlyAfterSetUser) {
    auto server = Start(0);
    HttpResult result = Request(server->port(), "POST", "/impersonate?save=" + (mOwn / "raw.bin").string(), kBody);
    EXPECT_EQ(JsonValue(result.body, "User"), "root") << result.body;
    EXPECT_EQ(JsonValue(result.body, "HRESULT"), "0x80040005");  // access denied
    EXPECT_FALSE(std::filesystem::exists(mOwn / "raw.bin"));

    result = Request(server->port(), "POST",
                     "/impersonate?" + Logon() + "&save=" + (mOwn / "raw.bin").string() +
                         "&fieldsave=" + (mOwn / "field.txt").string() + "&release=1",
                     kBody);
    EXPECT_EQ(result.body.rfind("{\"SetUser\": null, \"User\": \"" + mAccount.name() + "\", \"Domain\": \"", 0), 0u)
        << result.body;
    EXPECT_NE(result.body.find("\"Save\": null, \"FieldSave\": null, \"Release\": null, \"UserAfter\": \"root\""),
              std::string::npos)
        << result.body;
    EXPECT_EQ(ReadFile(mOwn / "raw.bin"), kBody);
    EXPECT_EQ(ReadFile(mOwn / "field.txt"), "saved by the account");
    EXPECT_EQ(Owner(mOwn / "raw.bin"), mAccount.uid());
    EXPECT_EQ(Owner(mOwn / "field.txt"), mAccount.uid());

    result = Request(server->port(), "POST",
                     "/impersonate?user=" + mAccount.name() + "&password=wrong&save=" + (mOwn / "other.bin").string(),
                     kBody);
    EXPECT_EQ(JsonValue(result.body, "HRESULT"), "0x8004052e") << result.body;
    EXPECT_EQ(JsonValue(result.body, "User"), "root");
    EXPECT_FALSE(std::filesystem::exists(mOwn / "other.bin"));
}

TEST_F(ImpersonationHttp, OtherRequestsKeepTheServersIdentity) {
    auto server = Start(2);
    std::string held;
    std::thread slow(
        [&] { held = Request(server->port(), "POST", "/impersonate?" + Logon() + "&hold=1500", kBody).body; });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const HttpResult meanwhile =
        Request(server->port(), "POST", "/impersonate?save=" + (mShared / "meanwhile.bin").string(), kBody);
    slow.join();
    EXPECT_EQ(JsonValue(held, "User"), mAccount.name()) << held;
    EXPECT_EQ(JsonValue(meanwhile.body, "User"), "root") << meanwhile.body;
    EXPECT_EQ(Owner(mShared / "meanwhile.bin"), 0u);
}

TEST_F(ImpersonationHttp, ALeakedFormDoesNotHandItsIdentityToTheNextRequest) {
    auto server = Start(1);  // one worker thread: every request runs on it
    HttpResult result = Request(server->port(), "POST", "/impersonate?" + Logon() + "&leak=1", kBody);
    EXPECT_EQ(JsonValue(result.body, "User"), mAccount.name()) << result.body;
    result = Request(server->port(), "POST", "/impersonate?save=" + (mShared / "next.bin").string(), kBody);
    EXPECT_EQ(JsonValue(result.body, "User"), "root") << result.body;
    EXPECT_EQ(Owner(mShared / "next.bin"), 0u);

    // Without EnableImpersonation: refused, and User still answers.
    platform::registry::WriteDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Venhale\\Formix\\4.0", "EnableImpersonation", 0);
    result = Request(server->port(), "POST", "/impersonate?" + Logon(), kBody);
    EXPECT_EQ(JsonValue(result.body, "HRESULT"), "0x80004005") << result.body;
    EXPECT_EQ(JsonValue(result.body, "Description"), "Formix impersonation is not enabled via registry");
    EXPECT_EQ(JsonValue(result.body, "User"), "root");
}
