// The places of a multipart body's boundary, found as the body arrives.
// Each chunk is searched while it is still in the processor's cache, on its
// way to the body's cache file; the parse then goes from boundary to
// boundary and reads a file's content through the cache file's mapping only
// where the page reads it. Without the index every page of every file would
// be mapped and read once more just to find where the file ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class BoundaryIndex {
public:
    static constexpr uint64_t kNone = ~uint64_t{0};

    // The body's next bytes, in order.
    void Add(const uint8_t* inBytes, size_t inLength);
    void Clear();

    // Whether every place of `inBoundary` among the bytes added from offset
    // `inDashes` on is known: true only when the body's boundary line, as
    // the index found it, is that one at that offset. The boundary is the
    // line up to its first zero byte, as the parser searches for it.
    bool Knows(const std::string& inBoundary, uint64_t inDashes) const;
    uint64_t Added() const { return mAdded; }
    // The offset of the first place at or after `inFrom` whose boundary ends
    // at or before `inLimit`, as a search of [inFrom, inLimit) would find it;
    // kNone when there is none. `inLimit` must not pass the bytes added.
    uint64_t Next(uint64_t inFrom, uint64_t inLimit) const;

private:
    // The first line of the body that starts with "--", as the parser takes
    // its boundary: found in the bytes held so far, or given up.
    void FindBoundaryLine();
    // Searches bytes that follow the bytes added for the boundary.
    void Scan(const uint8_t* inBytes, size_t inLength);
    void Record(uint64_t inPlace);
    void GiveUp();

    enum class State { Head, Indexing, GivenUp } mState = State::Head;
    std::string mHead;      // the body's first bytes, until its boundary is known
    std::string mBoundary;  // from its "--" to the end of its line or its first zero byte
    uint64_t mDashes = 0;   // the boundary line's offset
    std::string mCarry;     // the last bytes added, one fewer than the boundary
    std::vector<uint64_t> mPlaces;
    uint64_t mAdded = 0;
};
