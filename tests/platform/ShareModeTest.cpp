// Share modes as Windows has them: a handle is refused while another open
// handle refuses what it asks to do or does what it refuses to others, in
// this process or another, and a closed handle refuses nothing.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "platform/Files.h"
#include "platform/System.h"

using namespace testing_support;

namespace {

struct Mode {
    const char* name;
    DWORD access;
    DWORD share;
};

// Access (R, W, RW) / share (- none, r, w, rw), in the table's order.
const Mode kModes[] = {
    {"R/-", GENERIC_READ, 0},
    {"R/r", GENERIC_READ, FILE_SHARE_READ},
    {"R/w", GENERIC_READ, FILE_SHARE_WRITE},
    {"R/rw", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE},
    {"W/-", GENERIC_WRITE, 0},
    {"W/r", GENERIC_WRITE, FILE_SHARE_READ},
    {"W/w", GENERIC_WRITE, FILE_SHARE_WRITE},
    {"W/rw", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE},
    {"RW/-", GENERIC_READ | GENERIC_WRITE, 0},
    {"RW/r", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ},
    {"RW/w", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE},
    {"RW/rw", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE},
};

// Row: the handle already open; column: the handle then opened. Y: opened,
// '.': refused with ERROR_SHARING_VIOLATION.
//                                 R/-   R/r   R/w   R/rw  W/-   W/r   W/w   W/rw  RW/-  RW/r  RW/w  RW/rw
const char* const kExpected[] = {"............",   // R/-
                                 ".Y.Y........",   // R/r
                                 ".....Y.Y....",   // R/w
                                 ".Y.Y.Y.Y.Y.Y",   // R/rw
                                 "............",   // W/-
                                 "..YY........",   // W/r
                                 "......YY....",   // W/w
                                 "..YY..YY..YY",   // W/rw
                                 "............",   // RW/-
                                 "...Y........",   // RW/r
                                 ".......Y....",   // RW/w
                                 "...Y...Y...Y"};  // RW/rw

HANDLE Open(const std::string& path, const Mode& mode) {
    return CreateFileA(path.c_str(), mode.access, mode.share, nullptr, OPEN_EXISTING, 0, nullptr);
}

}  // namespace

TEST(ShareModes, EveryPairOfAccessAndShareModeAsWindowsDecides) {
    TempRegistry folder;
    const std::string path = (folder.dir() / "shared.bin").string();
    WriteFile(path, "data");
    for (size_t first = 0; first < std::size(kModes); ++first) {
        HANDLE open = Open(path, kModes[first]);
        ASSERT_NE(open, INVALID_HANDLE_VALUE) << kModes[first].name;
        for (size_t second = 0; second < std::size(kModes); ++second) {
            HANDLE next = Open(path, kModes[second]);
            const bool opened = next != INVALID_HANDLE_VALUE;
            EXPECT_EQ(opened, kExpected[first][second] == 'Y') << kModes[first].name << " then " << kModes[second].name;
            if (opened)
                CloseHandle(next);
            else
                EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
        }
        CloseHandle(open);
    }
}

TEST(ShareModes, EveryOpenHandleCountsAndClosingOneLiftsItsRefusal) {
    TempRegistry folder;
    const std::string path = (folder.dir() / "shared.bin").string();
    WriteFile(path, "data");
    const Mode& readsSharingAll = kModes[3];     // R/rw
    const Mode& writesSharingAll = kModes[7];    // W/rw
    const Mode& readsRefusingWrite = kModes[1];  // R/r
    HANDLE reader = Open(path, readsSharingAll);
    HANDLE writer = Open(path, writesSharingAll);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Open(path, readsRefusingWrite), INVALID_HANDLE_VALUE);  // the writer writes
    CloseHandle(writer);
    HANDLE now = Open(path, readsRefusingWrite);
    EXPECT_NE(now, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Open(path, writesSharingAll), INVALID_HANDLE_VALUE);  // now refused by the new reader
    CloseHandle(now);
    CloseHandle(reader);
}

TEST(ShareModes, AHandleOfAnotherProcessCounts) {
    TempRegistry folder;
    const std::string path = (folder.dir() / "shared.bin").string();
    WriteFile(path, "data");
    int ready[2], done[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(done), 0);
    const pid_t child = fork();
    if (child == 0) {
        HANDLE held = Open(path, kModes[1]);  // R/r: refuses writers
        const char ok = held != INVALID_HANDLE_VALUE ? 'y' : 'n';
        (void)!write(ready[1], &ok, 1);
        char wait;
        (void)!read(done[0], &wait, 1);
        _exit(0);
    }
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, 'y');
    EXPECT_EQ(Open(path, kModes[7]), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    HANDLE reader = Open(path, kModes[3]);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    CloseHandle(reader);
    (void)!write(done[1], "x", 1);
    waitpid(child, nullptr, 0);
    HANDLE writer = Open(path, kModes[7]);
    EXPECT_NE(writer, INVALID_HANDLE_VALUE);
    CloseHandle(writer);
}
