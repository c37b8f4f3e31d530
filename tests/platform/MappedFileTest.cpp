// Mapped views of files: bytes written from a view are those of the view
// (the kernel copies them from the mapped file), and the memory of a view's
// pages can be given back without losing a byte, and mapped ahead of a read.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <string>

#include "TempFolder.h"
#include "platform/Files.h"

namespace {

std::string RandomBytes(size_t size) {
    std::mt19937 generator(7);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(generator());
    return bytes;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The resident pages of mapped files in this process, in kB.
long ResidentFileKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("RssFile:", 0) == 0) return std::atol(line.c_str() + 8);
    return -1;
}

class MappedFile : public ::testing::Test {
protected:
    void SetUp() override {
        mBytes = RandomBytes(3 << 20);
        std::ofstream(mSource, std::ios::binary) << mBytes;
        mFile = CreateFileA(mSource.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(mFile, INVALID_HANDLE_VALUE);
        mMapping = CreateFileMappingA(mFile, nullptr, PAGE_READONLY, 0, 0, nullptr);
        ASSERT_NE(mMapping, nullptr);
        mView = static_cast<const char*>(MapViewOfFile(mMapping, FILE_MAP_READ, 0, 0, 0));
        ASSERT_NE(mView, nullptr);
    }
    void TearDown() override {
        if (mView) UnmapViewOfFile(mView);
        if (mMapping) CloseHandle(mMapping);
        if (mFile != INVALID_HANDLE_VALUE) CloseHandle(mFile);
    }

    TempFolder mFolder{"mapped"};
    std::string mSource = (mFolder.path() / "source.bin").string();
    std::string mBytes;
    HANDLE mFile = INVALID_HANDLE_VALUE;
    HANDLE mMapping = nullptr;
    const char* mView = nullptr;
};

}  // namespace

TEST_F(MappedFile, WritesFromAViewCopyItsBytesInOrder) {
    const std::string target = (mFolder.path() / "target.bin").string();
    HANDLE out = CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(out, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    // From an offset that is no page's start, then the range after it, then
    // a short range written from memory: one file, in order.
    ASSERT_TRUE(WriteFile(out, mView + 12345, 2000000, &written, nullptr));
    EXPECT_EQ(written, 2000000u);
    ASSERT_TRUE(WriteFile(out, mView + 2012345, 1000000, &written, nullptr));
    ASSERT_TRUE(WriteFile(out, mView + 3012345, 100, &written, nullptr));
    CloseHandle(out);
    EXPECT_TRUE(ReadAll(target) == mBytes.substr(12345, 3000100));
}

TEST_F(MappedFile, PagesAreGivenBackAndMappedAgainWithoutLosingAByte) {
    volatile char sum = 0;
    for (size_t i = 0; i < mBytes.size(); i += 4096) sum = static_cast<char>(sum + mView[i]);
    const long touched = ResidentFileKb();
    platform::files::ReleaseViewPages(mView, mBytes.size());
    const long released = ResidentFileKb();
    EXPECT_LT(released, touched - 2048);  // the 3 MB went back
    // Prepared pages are resident before anything reads them.
    platform::files::PrepareViewPages(mView, mBytes.size());
    EXPECT_GT(ResidentFileKb(), released + 2048);
    EXPECT_TRUE(std::string(mView, mBytes.size()) == mBytes);
    // Memory that is no view is left as it is.
    std::string heap = mBytes.substr(0, 1 << 20);
    platform::files::ReleaseViewPages(heap.data(), heap.size());
    EXPECT_TRUE(heap == mBytes.substr(0, 1 << 20));
}
