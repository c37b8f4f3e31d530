#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "CallFrame.h"
#include "TestSupport.h"
#include "Utilities.h"
#include "platform/ComPtr.h"

using namespace testing_support;

namespace {

const GUID kClsid = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
const IID kIid = {0x44444444, 0x5555, 0x6666, {1, 2, 3, 4, 5, 6, 7, 8}};
const ClassIdentity kClass{&kClsid, &kIid};

void WriteToNull() {
    volatile int* p = nullptr;
    *p = 1;
}

platform::ComPtr<IErrorInfo> TakeErrorInfo() {
    platform::ComPtr<IErrorInfo> info;
    GetErrorInfo(0, info.put());
    return info;
}

std::u16string Description(IErrorInfo* info) {
    platform::Bstr text;
    info->GetDescription(text.put());
    return text.str();
}

}  // namespace

TEST(CallFrame, ReportErrorSetsErrorInformationAndLogsWhenAsked) {
    TempRegistry registry;
    platform::registry::WriteString(HKEY_CLASSES_ROOT, "CLSID\\{11111111-2222-3333-0102-030405060708}\\ProgID", "",
                                    "Test.Class.4");
    EXPECT_EQ(ReportError(kClass, "first\nsecond", 0), DISP_E_EXCEPTION);
    auto info = TakeErrorInfo();
    ASSERT_TRUE(info);
    platform::Bstr source;
    info->GetSource(source.put());
    EXPECT_EQ(source.str(), u"Test.Class.4");
    EXPECT_EQ(Description(info.get()), u"first\nsecond");
    GUID guid{};
    info->GetGUID(&guid);
    EXPECT_EQ(guid, kIid);
    EXPECT_TRUE(registry.events().empty());  // LogErrors is off

    platform::registry::WriteDword(HKEY_LOCAL_MACHINE, kSettingsKey, "LogErrors", 1);
    EXPECT_EQ(ReportError(kClass, "line one\r\nline two", E_FAIL), E_FAIL);
    const auto events = registry.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0][1], "Warning");
    EXPECT_EQ(events[0][5], "line one  line two");
}

TEST(CallFrame, PlainFailuresReturnOnlyTheirCode) {
    TempRegistry registry;
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(CallFrame(kClass, FMX_HERE, [] { return E_POINTER; }), E_POINTER);
    EXPECT_EQ(CallFrame(kClass, FMX_HERE, []() -> HRESULT { throw std::bad_alloc(); }), E_OUTOFMEMORY);
    EXPECT_FALSE(TakeErrorInfo());
    EXPECT_TRUE(registry.events().empty());
}

TEST(CallFrame, UnexpectedExceptionsBecomeEFail) {
    TempRegistry registry;
    EXPECT_EQ(CallFrame(kClass, FMX_HERE, []() -> HRESULT { throw std::runtime_error("x"); }), E_FAIL);
    auto info = TakeErrorInfo();
    ASSERT_TRUE(info);
    EXPECT_EQ(Description(info.get()), u"Unknown exception thrown");
}

TEST(CallFrame, FinalResultOfAReport) {
    TempRegistry registry;
    ErrorReport report;
    EXPECT_EQ(ReturnReport(kClass, report, 7), 7);
    report.SetWin32Error(5);
    EXPECT_EQ(static_cast<uint32_t>(ReturnReport(kClass, report, 7)), 0x80040005u);
    auto info = TakeErrorInfo();
    ASSERT_TRUE(info);
    EXPECT_EQ(Description(info.get()), u"A Windows error - Access is denied.\r\n - (0x00000005) occurred.\n");
}

TEST(CallFrame, FaultDescriptions) {
    platform::FaultRecord read;
    read.code = EXCEPTION_ACCESS_VIOLATION;
    read.address = 0x7f0012345678;
    read.target = 0x10;
    const SException readFault(read, 0x7f0000000000);
    EXPECT_STREQ(readFault.text, "Code at 0x7f0012345678 attempted to read from 0x00000010. ");
    platform::FaultRecord write = read;
    write.accessWord = 1;
    EXPECT_STREQ(SException(write, 0).text, "Code at 0x7f0012345678 attempted to write to 0x00000010. ");
    platform::FaultRecord divide;
    divide.code = EXCEPTION_INT_DIVIDE_BY_ZERO;
    divide.address = 0x1234;
    const SException other(divide, 0x400000);
    EXPECT_STREQ(other.text, "Code at 0x00001234 caused a System Exception 0xc0000094. ");
    EXPECT_EQ(other.isRead, 0);
    EXPECT_EQ(DescribeCaughtFault(other, SourcePlace{"/src/formix4/XForm.cpp", 42}),
              "Code at 0x00001234 caused a System Exception 0xc0000094. "
              "System Error caught at line 42 of XForm. Base at 0x00400000.");
    // The location is left out when the whole would pass 255 characters.
    const std::string longName(250, 'F');
    EXPECT_EQ(DescribeCaughtFault(other, SourcePlace{longName.c_str(), 1}), other.text);
}

TEST(CallFrame, FaultsAreLoggedAndRecoveredOnTheSameThread) {
    if (!platform::FaultTranslationAvailable()) GTEST_SKIP() << "sanitizers own the fault signals";
    TempRegistry registry;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(CallFrame(kClass, FMX_HERE,
                            [] {
                                WriteToNull();
                                return E_FAIL;
                            }),
                  S_OK);
    }
    const auto events = registry.events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0][1], "Error");
    EXPECT_EQ(events[0][5].rfind("Code at 0x", 0), 0u);
    EXPECT_NE(events[0][5].find("attempted to write to 0x00000000. System Error caught at line "), std::string::npos);
    EXPECT_NE(events[0][5].find(" of CallFrameTest. Base at 0x"), std::string::npos);
    // Another thread is caught as well, and the thread goes on afterwards.
    std::thread([] {
        EXPECT_EQ(CallFrame(kClass, FMX_HERE,
                            [] {
                                WriteToNull();
                                return E_FAIL;
                            }),
                  S_OK);
        EXPECT_EQ(CallFrame(kClass, FMX_HERE, [] { return S_FALSE; }), S_FALSE);
    }).join();
    EXPECT_EQ(registry.events().size(), 4u);
}

TEST(CallFrame, AutoRecoverOffEndsTheProcessAfterLogging) {
    if (!platform::FaultTranslationAvailable()) GTEST_SKIP() << "sanitizers own the fault signals";
    TempRegistry registry;
    platform::registry::WriteDword(HKEY_LOCAL_MACHINE, kSettingsKey, "AutoRecover", 0);
    EXPECT_EQ(RunInChild([] {
                  CallFrame(kClass, FMX_HERE, [] {
                      WriteToNull();
                      return S_OK;
                  });
                  return 0;
              }),
              1);
    ASSERT_EQ(registry.events().size(), 1u);
    EXPECT_NE(registry.events()[0][5].find("System Error caught at line"), std::string::npos);
}
