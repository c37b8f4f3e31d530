#include "BoundaryIndex.h"

#include <algorithm>
#include <cstring>

#include "BodyParser.h"
#include "platform/ByteSearch.h"

namespace {
// A boundary line must start within this many bytes; a body that starts
// with a longer preamble is searched as it is parsed.
constexpr size_t kHeadLimit = 64 * 1024;
// More places than this (a boundary as short as "--" in file data) cost
// more memory than the search they save: the body is then searched as it
// is parsed.
constexpr size_t kMaxPlaces = 1u << 18;
}  // namespace

void BoundaryIndex::Clear() { *this = BoundaryIndex(); }

void BoundaryIndex::Add(const uint8_t* inBytes, size_t inLength) {
    if (mState == State::Indexing) return Scan(inBytes, inLength);
    if (mState == State::GivenUp) {
        mAdded += inLength;
        return;
    }
    const size_t theTaken = std::min(inLength, kHeadLimit - mHead.size());
    mHead.append(reinterpret_cast<const char*>(inBytes), theTaken);
    mAdded += theTaken;
    FindBoundaryLine();
    if (mState == State::Head && mHead.size() >= kHeadLimit) GiveUp();
    if (mState == State::Head) return;
    if (mState == State::GivenUp) {
        mAdded += inLength - theTaken;
        return;
    }
    // The head is searched from the boundary line on, then the rest of the chunk.
    const std::string theHead = std::move(mHead);
    mHead.clear();
    mAdded = mDashes;
    Scan(reinterpret_cast<const uint8_t*>(theHead.data()) + mDashes, theHead.size() - mDashes);
    if (mState == State::Indexing) Scan(inBytes + theTaken, inLength - theTaken);
}

void BoundaryIndex::FindBoundaryLine() {
    const size_t theDashes = mHead.find("--");
    if (theDashes == std::string::npos) return;
    const size_t theLineEnd = mHead.find("\r\n", theDashes);
    if (theLineEnd == std::string::npos) {
        if (mHead.size() - theDashes > BodyParser::kMaxBoundary + 2) GiveUp();
        return;
    }
    if (theLineEnd - theDashes > BodyParser::kMaxBoundary) return GiveUp();
    // The parser searches for the boundary as a C string: up to its first
    // zero byte.
    mBoundary = mHead.substr(theDashes, theLineEnd - theDashes);
    mBoundary.resize(std::strlen(mBoundary.c_str()));
    mDashes = theDashes;
    mState = State::Indexing;
}

void BoundaryIndex::Scan(const uint8_t* inBytes, size_t inLength) {
    const size_t theNeedle = mBoundary.size();
    // Places that start in the bytes before and end in these.
    if (!mCarry.empty() && inLength) {
        std::string theSeam = mCarry;
        theSeam.append(reinterpret_cast<const char*>(inBytes), std::min(inLength, theNeedle - 1));
        for (size_t i = theSeam.find(mBoundary); i != std::string::npos && i < mCarry.size();
             i = theSeam.find(mBoundary, i + 1))
            Record(mAdded - mCarry.size() + i);
    }
    // Places within these bytes, each found even where it overlaps the last.
    const char* const theBytes = reinterpret_cast<const char*>(inBytes);
    for (const char* thePlace = platform::FindBytes(theBytes, inLength, mBoundary.data(), theNeedle);
         thePlace && mState == State::Indexing;
         thePlace = platform::FindBytes(thePlace + 1, inLength - static_cast<size_t>(thePlace + 1 - theBytes),
                                        mBoundary.data(), theNeedle))
        Record(mAdded + static_cast<uint64_t>(thePlace - theBytes));
    if (mState != State::Indexing) return;
    if (inLength >= theNeedle - 1) {
        mCarry.assign(theBytes + inLength - (theNeedle - 1), theNeedle - 1);
    } else {
        mCarry.append(theBytes, inLength);
        if (mCarry.size() > theNeedle - 1) mCarry.erase(0, mCarry.size() - (theNeedle - 1));
    }
    mAdded += inLength;
}

void BoundaryIndex::Record(uint64_t inPlace) {
    if (mPlaces.size() == kMaxPlaces) return GiveUp();
    mPlaces.push_back(inPlace);
}

void BoundaryIndex::GiveUp() {
    mState = State::GivenUp;
    std::vector<uint64_t>().swap(mPlaces);
    std::string().swap(mHead);
    mCarry.clear();
}

bool BoundaryIndex::Knows(const std::string& inBoundary, uint64_t inDashes) const {
    return mState == State::Indexing && inDashes == mDashes && inBoundary == mBoundary;
}

uint64_t BoundaryIndex::Next(uint64_t inFrom, uint64_t inLimit) const {
    const auto thePlace = std::lower_bound(mPlaces.begin(), mPlaces.end(), inFrom);
    if (thePlace == mPlaces.end() || *thePlace + mBoundary.size() > inLimit) return kNone;
    return *thePlace;
}
