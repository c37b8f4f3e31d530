#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "MacBinary.h"
#include "TestSupport.h"

using namespace testing_support;

namespace {

void PutBigEndian(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

// A MacBinary upload: header, data fork, optional pad, a valid resource fork.
std::vector<uint8_t> Upload(uint32_t dataLength, uint32_t resourceLength, bool pad, const char* type = "TEXT",
                            const char* creator = "ttxt") {
    std::vector<uint8_t> bytes(128, 0);
    std::memcpy(&bytes[65], type, 4);
    std::memcpy(&bytes[69], creator, 4);
    bytes[73] = 0xFF;
    bytes[101] = 0x13;
    PutBigEndian(bytes, 83, dataLength);
    PutBigEndian(bytes, 87, resourceLength);
    for (uint32_t i = 0; i < dataLength; ++i) bytes.push_back(static_cast<uint8_t>('a' + i % 26));
    if (pad) bytes.resize((bytes.size() + 127) / 128 * 128, 0);
    const size_t fork = bytes.size();
    bytes.resize(fork + resourceLength, 0x55);
    if (resourceLength >= 16) {
        // Data before map: 16 + 100 <= 200 and 200 + map length == resource length.
        PutBigEndian(bytes, fork, 16);
        PutBigEndian(bytes, fork + 4, 200);
        PutBigEndian(bytes, fork + 8, 100);
        PutBigEndian(bytes, fork + 12, resourceLength - 200);
    }
    return bytes;
}

bool IsMacBinary(const std::vector<uint8_t>& bytes, MacForks* forks = nullptr) {
    return MacBinaryReader(bytes.data(), static_cast<int32_t>(bytes.size()), true).IsMacBinary(forks);
}

}  // namespace

TEST(MacBinary, ForksWithAndWithoutPad) {
    const std::vector<uint8_t> padded = Upload(300, 286, true);
    MacForks forks;
    ASSERT_TRUE(IsMacBinary(padded, &forks));
    EXPECT_EQ(forks.dataLength, 300u);
    EXPECT_EQ(forks.dataFork, padded.data() + 128);
    EXPECT_EQ(forks.resourceFork, padded.data() + 512);
    EXPECT_EQ(forks.resourceLength, 286u);
    const std::vector<uint8_t> unpadded = Upload(300, 286, false);
    ASSERT_TRUE(IsMacBinary(unpadded, &forks));
    EXPECT_EQ(forks.resourceFork, unpadded.data() + 428);  // found by the search
}

TEST(MacBinary, WhatIsNotMacBinary) {
    EXPECT_FALSE(IsMacBinary(Upload(300, 0, true)));  // an empty resource fork
    std::vector<uint8_t> truncated = Upload(300, 286, true);
    truncated.resize(truncated.size() - 1);  // the resource fork runs past the end
    EXPECT_FALSE(IsMacBinary(truncated));
    std::vector<uint8_t> topBit = Upload(300, 286, true);
    topBit[83] |= 0x80;
    EXPECT_FALSE(IsMacBinary(topBit));
    const std::vector<uint8_t> short127(127, 0);
    EXPECT_FALSE(IsMacBinary(short127));
    const std::vector<uint8_t> good = Upload(300, 286, true);
    EXPECT_FALSE(MacBinaryReader(good.data(), static_cast<int32_t>(good.size()), false).IsMacBinary(nullptr));
    EXPECT_TRUE(ContentTypeAllowsMacBinary(u"application/x-macbinary"));
    EXPECT_TRUE(ContentTypeAllowsMacBinary(nullptr));
    EXPECT_FALSE(ContentTypeAllowsMacBinary(u"application/x-MacBinary"));
    EXPECT_FALSE(ContentTypeAllowsMacBinary(u"application/x-macbinary; name=x"));
    EXPECT_FALSE(ContentTypeAllowsMacBinary(u""));
}

TEST(MacBinary, ExtensionsFromTheRegistryTheTableOrTheType) {
    TempRegistry registry;
    auto extension = [](const char* type, const char* creator) {
        return ExtensionFor(Upload(10, 256, true, type, creator).data());
    };
    EXPECT_EQ(extension("TEXT", "ttxt"), "TXT");
    EXPECT_EQ(extension("ART3", "TEXT"), "AI");
    EXPECT_EQ(extension("XXXX", "YYYY"), "XXXX");
    EXPECT_EQ(extension("JPEG", "8BIM"), "JPG");  // the type row comes before the creator row
    EXPECT_EQ(extension("zzzz", "MSWD"), "DOC");
    EXPECT_EQ(extension(std::string("AB\0D", 4).c_str(), "YYYY"), "AB");

    // The Macintosh file services' tables come first.
    std::vector<uint8_t> entry(32, 0);
    std::memcpy(&entry[8], "8BIM", 4);
    std::memcpy(&entry[18], "JPEG", 4);
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\MacFile\\Parameters\\Type_Creators", 0,
                    nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    RegSetValueExA(key, "PhotoJpeg", 0, REG_BINARY, entry.data(), static_cast<DWORD>(entry.size()));
    RegCloseKey(key);
    const char extensionData[] = "\x01\x02\x03PhotoJpeg";
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\MacFile\\Parameters\\Extensions", 0,
                    nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    RegSetValueExA(key, "jpeg", 0, REG_BINARY, reinterpret_cast<const BYTE*>(extensionData), sizeof extensionData);
    RegCloseKey(key);
    EXPECT_EQ(extension("JPEG", "8BIM"), "jpeg");
    EXPECT_EQ(extension("JPEG", "ttxt"), "JPG");
}

TEST(MacBinary, FinderRecords) {
    const std::vector<uint8_t> upload = Upload(10, 256, true, "TEXT", "ttxt");
    uint8_t record[kAfpInfoSize];
    BuildAfpInfo(upload.data(), record);
    const uint8_t head[] = {'A', 'F', 'P', 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0x80};
    EXPECT_EQ(std::memcmp(record, head, sizeof head), 0);
    EXPECT_EQ(std::memcmp(record + 16, "TEXTttxt", 8), 0);
    EXPECT_EQ(record[24], 0xFC);
    EXPECT_EQ(record[25], 0x10);
    for (size_t i = 26; i < kAfpInfoSize; ++i) EXPECT_EQ(record[i], 0) << i;
    uint8_t existing[kAfpInfoSize];
    std::memset(existing, 0x77, sizeof existing);
    UpdateAfpInfo(upload.data(), existing);
    EXPECT_EQ(existing[15], 0x77);
    EXPECT_EQ(std::memcmp(existing + 16, "TEXTttxt", 8), 0);
    EXPECT_EQ(existing[26], 0x77);
}
