// XForm.SetUser, User and Domain with a real local account.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cctype>

#include "TestAccount.h"
#include "TestSupport.h"
#include "Utilities.h"
#include "XForm.h"
#include "platform/ComPtr.h"
#include "platform/RegistryValues.h"
#include "platform/Security.h"
#include "platform/System.h"

using namespace testing_support;
using platform::Bstr;
using platform::ComPtr;

namespace {

class Impersonation : public ::testing::Test {
protected:
    void SetUp() override {
        if (!mAccount.made()) GTEST_SKIP() << "making a local account needs root";
        // The settings stay readable while the thread acts as the account, as
        // the registry's own folder is by default.
        chmod(mRegistry.dir().c_str(), 0755);
        platform::registry::WriteDword(HKEY_LOCAL_MACHINE, kSettingsKey, "EnableImpersonation", 1);
        ASSERT_EQ(XForm::CreateInstance(nullptr, IID_IXForm, mForm.putVoid()), S_OK);
    }
    void TearDown() override { RevertToSelf(); }  // whatever a failed check left

    HRESULT SetUser(const std::string& name, const std::string& password, const char16_t* domain = nullptr) {
        Bstr n(platform::codepage::Utf8ToUtf16(name)), p(platform::codepage::Utf8ToUtf16(password));
        Bstr d(domain ? domain : u"");
        return mForm->SetUser(n.get(), p.get(), domain ? d.get() : nullptr);
    }
    std::u16string Member(bool domain) {
        Bstr text;
        EXPECT_EQ(domain ? mForm->get_Domain(text.put()) : mForm->get_User(text.put()), S_OK);
        return text.str();
    }
    static std::u16string Description() {
        ComPtr<IErrorInfo> info;
        GetErrorInfo(0, info.put());
        Bstr text;
        if (info) info->GetDescription(text.put());
        return text.str();
    }
    static std::u16string Machine() {
        std::string name = LocalMachineName().substr(0, LocalMachineName().find('.'));
        for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return platform::codepage::Utf8ToUtf16(name);
    }

    TempRegistry mRegistry;
    TestAccount mAccount;
    ComPtr<IXForm> mForm;
};

}  // namespace

TEST_F(Impersonation, TheThreadActsAsTheAccountUntilTheNextSetUser) {
    EXPECT_EQ(Member(false), u"root");
    ASSERT_EQ(SetUser(mAccount.name(), mAccount.password()), S_OK);  // domain omitted: this machine
    EXPECT_EQ(geteuid(), mAccount.uid());
    EXPECT_EQ(Member(false), platform::codepage::Utf8ToUtf16(mAccount.name()));
    EXPECT_EQ(Member(true), Machine());
    ASSERT_EQ(SetUser("", ""), S_OK);
    EXPECT_EQ(geteuid(), 0u);
    EXPECT_EQ(Member(false), u"root");
    EXPECT_EQ(Member(true), Machine());
    ASSERT_EQ(SetUser(mAccount.name(), mAccount.password(), u"."), S_OK);
    EXPECT_EQ(geteuid(), mAccount.uid());
    mForm.reset();  // destroying the form ends its impersonation
    EXPECT_EQ(geteuid(), 0u);
}

TEST_F(Impersonation, FailuresLeaveTheThreadAsTheProcess) {
    ASSERT_EQ(SetUser(mAccount.name(), mAccount.password()), S_OK);
    EXPECT_EQ(static_cast<uint32_t>(SetUser(mAccount.name(), "wrong")), 0x8004052Eu);
    EXPECT_EQ(Description(),
              u"A Windows error - The user name or password is incorrect.\r\n - (0x0000052e) occurred.\n");
    EXPECT_EQ(geteuid(), 0u);
    EXPECT_EQ(Member(false), u"root");
    EXPECT_EQ(static_cast<uint32_t>(SetUser(mAccount.name(), mAccount.password(), u"ELSEWHERE")), 0x8004054Bu);

    // Not enabled: refused, an impersonation in force stays, User still answers.
    ASSERT_EQ(SetUser(mAccount.name(), mAccount.password()), S_OK);
    // The administrator's change, made as the process meanwhile.
    syscall(SYS_setresuid, -1, 0, -1);
    platform::registry::WriteDword(HKEY_LOCAL_MACHINE, kSettingsKey, "EnableImpersonation", 0);
    syscall(SYS_setresuid, -1, mAccount.uid(), -1);
    EXPECT_EQ(SetUser("", ""), E_FAIL);
    EXPECT_EQ(Description(), u"Formix impersonation is not enabled via registry");
    EXPECT_EQ(Member(false), platform::codepage::Utf8ToUtf16(mAccount.name()));
    BSTR* nowhere = nullptr;
    EXPECT_EQ(mForm->get_User(nowhere), E_POINTER);
}
