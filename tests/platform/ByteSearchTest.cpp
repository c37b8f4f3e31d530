#include <gtest/gtest.h>
#include <string.h>

#include <random>
#include <string>

#include "platform/ByteSearch.h"

namespace {

const char* Reference(const std::string& haystack, const std::string& needle) {
    return static_cast<const char*>(memmem(haystack.data(), haystack.size(), needle.data(), needle.size()));
}

// Haystacks of few letters make near-matches (first and last byte right,
// middle wrong) common; every needle length, every placement up to the last
// byte, and haystacks shorter than a block.
TEST(ByteSearch, FindsWhatMemmemFinds) {
    std::mt19937 random(7);
    for (size_t needleSize = 1; needleSize <= 40; ++needleSize) {
        for (size_t size : {0, 1, 15, 16, 17, 31, 33, 64, 100, 257}) {
            for (int round = 0; round < 20; ++round) {
                std::string haystack(size, 'a'), needle(needleSize, 'a');
                for (char& c : haystack) c = static_cast<char>('a' + random() % 3);
                for (char& c : needle) c = static_cast<char>('a' + random() % 3);
                if (round % 2 && needleSize <= size)
                    haystack.replace(random() % (size - needleSize + 1), needleSize, needle);
                EXPECT_EQ(platform::FindBytes(haystack.data(), haystack.size(), needle.data(), needle.size()),
                          Reference(haystack, needle))
                    << "needle " << needle << " in " << haystack;
            }
        }
    }
}

TEST(ByteSearch, ABoundaryAtTheVeryEndAndNoneInAFileOfZeros) {
    const std::string boundary = "------WebKitFormBoundaryx7Hq2";
    std::string body(100000, '\0');
    EXPECT_EQ(platform::FindBytes(body.data(), body.size(), boundary.data(), boundary.size()), nullptr);
    body.replace(body.size() - boundary.size(), boundary.size(), boundary);
    EXPECT_EQ(platform::FindBytes(body.data(), body.size(), boundary.data(), boundary.size()),
              body.data() + body.size() - boundary.size());
    EXPECT_EQ(platform::FindBytes(body.data(), body.size() - 1, boundary.data(), boundary.size()), nullptr);
}

}  // namespace
