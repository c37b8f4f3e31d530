// The boundary places found as a body arrives, against a search of the
// whole body, whatever the chunks it arrives in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BoundaryIndex.h"

namespace {

BoundaryIndex Arrived(const std::string& body, size_t chunk) {
    BoundaryIndex index;
    for (size_t done = 0; done < body.size(); done += chunk)
        index.Add(reinterpret_cast<const uint8_t*>(body.data()) + done, std::min(chunk, body.size() - done));
    return index;
}

// Every place of `boundary` in the body, overlapping ones included.
std::vector<uint64_t> PlacesIn(const std::string& body, const std::string& boundary) {
    std::vector<uint64_t> places;
    for (size_t at = body.find(boundary); at != std::string::npos; at = body.find(boundary, at + 1))
        places.push_back(at);
    return places;
}

std::vector<uint64_t> PlacesKnown(const BoundaryIndex& index, uint64_t from, uint64_t limit) {
    std::vector<uint64_t> places;
    for (uint64_t at = index.Next(from, limit); at != BoundaryIndex::kNone; at = index.Next(at + 1, limit))
        places.push_back(at);
    return places;
}

}  // namespace

TEST(BoundaryIndex, FindsEveryPlaceWhereverTheChunksEnd) {
    // A preamble, a boundary line ending in CR (whose places overlap by one
    // byte), places back to back and a last one cut by the end.
    const std::string boundary = "--ab\r";
    const std::string body = "pre-amble -\r\n" + boundary + "\r\nx\r\n" + boundary + boundary + "\n" + boundary +
                             "-\r\n--ab" + boundary + "\n--a";
    const std::vector<uint64_t> expected = PlacesIn(body, boundary);
    ASSERT_GE(expected.size(), 5u);
    for (size_t chunk = 1; chunk <= body.size(); ++chunk) {
        const BoundaryIndex index = Arrived(body, chunk);
        ASSERT_TRUE(index.Knows(boundary, expected[0])) << "chunk " << chunk;
        EXPECT_EQ(index.Added(), body.size());
        EXPECT_EQ(PlacesKnown(index, 0, body.size()), expected) << "chunk " << chunk;
    }
}

TEST(BoundaryIndex, APlaceCountsOnlyWhenItEndsWithinTheLimit) {
    const std::string body = "--b\r\nxx\r\n--b\r\n";
    const BoundaryIndex index = Arrived(body, 4);
    EXPECT_EQ(index.Next(1, body.size()), 9u);
    EXPECT_EQ(index.Next(1, 12), 9u);  // [9, 12) holds the whole boundary
    EXPECT_EQ(index.Next(1, 11), BoundaryIndex::kNone);
    EXPECT_EQ(index.Next(10, body.size()), BoundaryIndex::kNone);
}

TEST(BoundaryIndex, KnowsNothingOfBodiesItCannotIndex) {
    // A boundary line past the first 64 KB, a boundary line too long for a
    // boundary, a body that names another boundary, a boundary asked for at
    // another offset.
    const std::string late = std::string(70000, 'x') + "--b\r\n";
    EXPECT_FALSE(Arrived(late, 4096).Knows("--b", 70000));
    const std::string longLine = "--" + std::string(300, 'b') + "\r\n";
    EXPECT_FALSE(Arrived(longLine, 64).Knows(longLine.substr(0, 302), 0));
    const BoundaryIndex index = Arrived("--b\r\ndata\r\n--b--\r\n", 3);
    EXPECT_TRUE(index.Knows("--b", 0));
    EXPECT_FALSE(index.Knows("--c", 0));
    EXPECT_FALSE(index.Knows("--b", 1));
}
