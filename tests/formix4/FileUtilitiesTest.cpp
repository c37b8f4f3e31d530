#include <gtest/gtest.h>
#include <dirent.h>

#include <filesystem>

#include "FileUtilities.h"
#include "TestSupport.h"
#include "platform/Files.h"
#include "platform/System.h"

using namespace testing_support;

namespace {
size_t OpenDescriptors() {
    size_t n = 0;
    for (auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) (void)entry, ++n;
    return n;
}
size_t Mappings(const std::string& path) {
    std::istringstream maps(ReadFile("/proc/self/maps"));
    size_t n = 0;
    for (std::string line; std::getline(maps, line);) n += line.find(path) != std::string::npos;
    return n;
}
}  // namespace

TEST(ByteSources, MemorySourceReadsSeeksAndStopsAtTheEnd) {
    const uint8_t bytes[] = {1, 2, 255};
    MemorySource source;
    source.setBlock(bytes, 3);
    EXPECT_EQ(source.read(), 1);
    EXPECT_EQ(source.read(), 2);
    EXPECT_EQ(source.read(), 255);
    EXPECT_EQ(source.read(), -1);
    EXPECT_EQ(source.read(), -1);
    source.seek(1000);
    EXPECT_EQ(source.tell(), 3u);
    source.seek(1);
    EXPECT_EQ(source.read(), 2);
    MemorySource owned;
    uint8_t* block = owned.allocateBlock(16);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(owned.start(), block);
    EXPECT_EQ(owned.size(), 16u);
}

TEST(ByteSources, MappedFileSourceReportsFailuresInWords) {
    TempRegistry registry;
    MappedFileSource source;
    const size_t descriptors = OpenDescriptors();
    EXPECT_TRUE(source.open((registry.dir() / "missing").c_str()));
    EXPECT_STREQ(source.errorText(), "Unable to read file");
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(source.start(), nullptr);
    WriteFile(registry.dir() / "empty", "");
    EXPECT_TRUE(source.open((registry.dir() / "empty").c_str()));
    EXPECT_STREQ(source.errorText(), "File is empty");
    EXPECT_EQ(OpenDescriptors(), descriptors);  // the handle was closed
    EXPECT_TRUE(source.open(INVALID_HANDLE_VALUE));
    EXPECT_STREQ(source.errorText(), "File handle invalid");
}

TEST(ByteSources, MappedFilesAreReleasedWhenAnotherIsOpened) {
    TempRegistry registry;
    const auto first = (registry.dir() / "first.bin").string();
    const auto second = (registry.dir() / "second.bin").string();
    WriteFile(first, "first file");
    WriteFile(second, "2nd");
    const size_t descriptors = OpenDescriptors();
    {
        MappedFileSource source;
        ASSERT_FALSE(source.open(first.c_str()));
        EXPECT_EQ(source.errorText(), nullptr);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(source.start()), source.size()), "first file");
        EXPECT_EQ(Mappings(first), 1u);
        ASSERT_FALSE(source.open(std::u16string(u"").append(platform::codepage::Utf8ToUtf16(second)).c_str()));
        EXPECT_EQ(Mappings(first), 0u);
        EXPECT_EQ(source.size(), 3u);
    }
    EXPECT_EQ(Mappings(second), 0u);
    EXPECT_EQ(OpenDescriptors(), descriptors);
}

TEST(ByteSources, WholeBufferWriteCreatesOverwritesAndRefuses) {
    TempRegistry registry;
    const auto path = registry.dir() / "out.bin";
    const std::u16string wide = platform::codepage::Utf8ToUtf16(path.string());
    const uint8_t data[] = "0123456789";
    ASSERT_EQ(WriteWholeBuffer(wide.c_str(), data, 10, false), 0u);
    EXPECT_EQ(ReadFile(path), "0123456789");
    EXPECT_EQ(WriteWholeBuffer(wide.c_str(), data, 3, false), static_cast<DWORD>(ERROR_FILE_EXISTS));
    EXPECT_EQ(ReadFile(path), "0123456789");
    ASSERT_EQ(WriteWholeBuffer(wide.c_str(), data, 3, true), 0u);
    EXPECT_EQ(ReadFile(path), "012");  // a longer old file is cut
    ASSERT_EQ(WriteWholeBuffer(wide.c_str(), nullptr, 5, true), 0u);
    EXPECT_EQ(ReadFile(path), "");
    const std::u16string nowhere = platform::codepage::Utf8ToUtf16((registry.dir() / "no/such/dir/f").string());
    EXPECT_EQ(WriteWholeBuffer(nowhere.c_str(), data, 3, true), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

// A save holds the range it writes locked; a second save into the same file
// meanwhile (another handle, as another thread or process would have) is
// refused and changes nothing. The locks belong to handles, not processes.
TEST(ByteSources, AnotherWriterIsRefusedWhileASaveIsOpen) {
    TempRegistry registry;
    const auto path = registry.dir() / "busy.bin";
    WriteFile(path, std::string(10000, 'x'));
    const std::u16string wide = platform::codepage::Utf8ToUtf16(path.string());
    HANDLE saving =
        CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
    ASSERT_NE(saving, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(LockFile(saving, 0, 0, 10000, 0));

    // The whole-buffer write refuses write sharing, and a save is writing.
    const uint8_t data[] = "0123456789";
    EXPECT_EQ(WriteWholeBuffer(wide.c_str(), data, 10, true), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(ReadFile(path), std::string(10000, 'x'));
    // A writer that shares writing gets in, but not into the locked range.
    HANDLE other = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(LockFile(other, 9999, 0, 5, 0));  // any overlap is refused
    EXPECT_TRUE(LockFile(other, 10000, 0, 5, 0));
    EXPECT_TRUE(UnlockFile(other, 10000, 0, 5, 0));
    CloseHandle(other);

    ASSERT_TRUE(UnlockFile(saving, 0, 0, 10000, 0));
    CloseHandle(saving);
    ASSERT_EQ(WriteWholeBuffer(wide.c_str(), data, 10, true), 0u);
    EXPECT_EQ(ReadFile(path), "0123456789");  // the 10,000-byte file is cut to 10
}

TEST(ByteSources, DeleteOnCloseLeavesNothingAndTemporaryNamesAreUnique) {
    TempRegistry registry;
    char dir[261];
    setenv("TMPDIR", registry.dir().c_str(), 1);
    ASSERT_GT(GetTempPathA(sizeof dir, dir), 0u);
    char first[261], second[261];
    ASSERT_TRUE(GetTempFileNameA(dir, "fmx", 0, first));
    ASSERT_TRUE(GetTempFileNameA(dir, "fmx", 0, second));
    EXPECT_STRNE(first, second);
    EXPECT_EQ(std::filesystem::path(first).filename().string().rfind("fmx", 0), 0u);
    HANDLE file = CreateFileA(first, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(std::filesystem::exists(first));  // gone while still open
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, "abc", 3, &written, nullptr));
    EXPECT_EQ(GetFileSize(file, nullptr), 3u);
    CloseHandle(file);
    // Not shared: a second handle to the same file is refused.
    HANDLE exclusive = CreateFileA(second, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateFileA(second, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    CloseHandle(exclusive);
    unsetenv("TMPDIR");
}
