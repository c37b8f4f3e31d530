#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "TestSupport.h"
#include "platform/EventLog.h"
#include "platform/Faults.h"
#include "platform/System.h"

using namespace testing_support;

TEST(System, MessageTextsEndInCrLfAndCoverHresults) {
    char text[256];
    ASSERT_GT(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, 5, 0x400, text,
                             sizeof text, nullptr),
              0u);
    EXPECT_STREQ(text, "Access is denied.\r\n");
    ASSERT_GT(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 0x80070005, 0, text, sizeof text, nullptr), 0u);
    EXPECT_STREQ(text, "Access is denied.\r\n");
    ASSERT_GT(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 1326, 0, text, sizeof text, nullptr), 0u);
    EXPECT_STREQ(text, "The user name or password is incorrect.\r\n");
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 0x12345, 0, text, sizeof text, nullptr), 0u);
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 5, 0, text, 5, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

TEST(System, LastErrorIsPerThreadAndErrnoMaps) {
    SetLastError(5);
    std::thread([] { EXPECT_EQ(GetLastError(), 0u); }).join();
    EXPECT_EQ(GetLastError(), 5u);
    EXPECT_EQ(Win32ErrorFromErrno(ENOENT), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Win32ErrorFromErrno(ENOTDIR), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(Win32ErrorFromErrno(EACCES), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Win32ErrorFromErrno(EEXIST), ERROR_FILE_EXISTS);
    EXPECT_EQ(Win32ErrorFromErrno(ENOSPC), ERROR_DISK_FULL);
}

TEST(System, VersionIsOutsideTheWindowsFamilies) {
    OSVERSIONINFOEXA info{};
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_TRUE(GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info)));
    EXPECT_EQ(info.dwPlatformId, VER_PLATFORM_POSIX);
    EXPECT_GT(info.dwMajorVersion, 0u);
    OSVERSIONINFOA wrong{};
    wrong.dwOSVersionInfoSize = 3;
    EXPECT_FALSE(GetVersionExA(&wrong));
}

TEST(EventLog, EntriesGoToTheNamedFileOneLineEach) {
    TempRegistry registry;
    HANDLE log = RegisterEventSourceA(nullptr, "Tester");
    ASSERT_NE(log, nullptr);
    LPCSTR strings[] = {"first line\r\nsecond\tline"};
    ASSERT_TRUE(ReportEventA(log, EVENTLOG_WARNING_TYPE, 1, 0x1000, nullptr, 1, 0, strings, nullptr));
    ASSERT_TRUE(ReportEventA(log, EVENTLOG_INFORMATION_TYPE, 2, 7, nullptr, 1, 0, strings, nullptr));
    DeregisterEventSource(log);
    const auto events = registry.events();
    ASSERT_EQ(events.size(), 2u);
    ASSERT_EQ(events[0].size(), 6u);
    EXPECT_EQ(events[0][1], "Warning");
    EXPECT_EQ(events[0][2], "Tester");
    EXPECT_EQ(events[0][3], "1");
    EXPECT_EQ(events[0][4], "4096");
    EXPECT_EQ(events[0][5], "first line  second line");
    EXPECT_EQ(events[1][1], "Information");
    EXPECT_EQ(RegisterEventSourceA("\\\\elsewhere.invalid", "Tester"), nullptr);
    EXPECT_FALSE(ReportEventA(nullptr, 1, 1, 1, nullptr, 0, 0, nullptr, nullptr));
}

namespace {

volatile int gDivisor = 0;
volatile int gQuotient = 0;

void DivideByZero() { gQuotient = 100 / gDivisor; }

void WriteToNull() {
    volatile int* p = nullptr;
    *p = 1;
}

}  // namespace

TEST(Faults, FramesCatchTheirThreadsFaultsRepeatedlyAndNest) {
    if (!platform::FaultTranslationAvailable()) GTEST_SKIP() << "sanitizers own the fault signals";
    for (int round = 0; round < 3; ++round) {
        platform::FaultFrame outer;
        if (PLATFORM_FAULT_CATCH(outer)) {
            FAIL() << "the inner frame should have caught the fault";
        } else {
            platform::FaultFrame inner;
            if (PLATFORM_FAULT_CATCH(inner)) {
                const platform::FaultRecord& r = inner.record();
                EXPECT_EQ(r.code, EXCEPTION_ACCESS_VIOLATION);
                EXPECT_EQ(r.accessWord, 1u);  // a write
                EXPECT_EQ(r.target, 0u);
                EXPECT_NE(r.address, 0u);
            } else {
                WriteToNull();
            }
        }
    }
    platform::FaultFrame frame;
    if (PLATFORM_FAULT_CATCH(frame)) {
        EXPECT_EQ(frame.record().code, EXCEPTION_INT_DIVIDE_BY_ZERO);
    } else {
        DivideByZero();
        FAIL() << "no fault";
    }
}

TEST(Faults, FaultsOutsideFramesAndSentSignalsKeepTheirDefaultAction) {
    if (!platform::FaultTranslationAvailable()) GTEST_SKIP() << "sanitizers own the fault signals";
    EXPECT_EQ(RunInChild([] {
                  WriteToNull();
                  return 0;
              }),
              128 + SIGSEGV);
    EXPECT_EQ(RunInChild([] {
                  platform::FaultFrame frame;
                  if (PLATFORM_FAULT_CATCH(frame)) return 3;
                  raise(SIGSEGV);  // sent, not a fault of this code
                  return 0;
              }),
              128 + SIGSEGV);
}
