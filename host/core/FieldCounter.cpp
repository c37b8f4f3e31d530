#include "core/FieldCounter.h"

#include <algorithm>

#include "platform/ByteSearch.h"

namespace {

// The longest boundary line the parser takes (from its "--" to the line's
// end); a longer one makes the body URL-encoded.
constexpr long long kMaxBoundary = 255;
// Enough of the stream kept across reads for any needle searched and for
// the boundary line, which begins before its line end is found.
constexpr size_t kTailSize = 512;

}  // namespace

long long FieldCounter::find(const std::string& needle, long long from, const char* data, size_t size) {
    const long long tailStart = mOffset - static_cast<long long>(mTail.size());
    if (from < mOffset) {
        // Occurrences that begin in the tail: searched in the tail followed by
        // the first bytes of `data` (an occurrence may run into them).
        mJunction.assign(mTail).append(data, std::min(size, needle.size() - 1));
        const size_t start = static_cast<size_t>(std::max(from - tailStart, 0LL));
        if (start < mJunction.size()) {
            const char* hit =
                platform::FindBytes(mJunction.data() + start, mJunction.size() - start, needle.data(), needle.size());
            if (hit && static_cast<size_t>(hit - mJunction.data()) < mTail.size())
                return tailStart + (hit - mJunction.data());
        }
        from = mOffset;
    }
    const size_t start = static_cast<size_t>(from - mOffset);
    if (start >= size) return -1;
    const char* hit = platform::FindBytes(data + start, size - start, needle.data(), needle.size());
    return hit ? mOffset + (hit - data) : -1;
}

bool FieldCounter::step(const char* data, size_t size) {
    const long long end = mOffset + static_cast<long long>(size);
    // A needle not found: the next search goes on where an occurrence could
    // still begin.
    const auto notFound = [&](size_t needleSize) {
        mFrom = std::max(mFrom, end - static_cast<long long>(needleSize) + 1);
        return false;
    };
    switch (mReading) {
        case Reading::SeekDashes: {
            const long long at = find("--", mFrom, data, size);
            if (at < 0) return notFound(2);
            mDashes = mFrom = at;
            mReading = Reading::SeekLineEnd;
            return true;
        }
        case Reading::SeekLineEnd: {
            const long long at = find("\r\n", mFrom, data, size);
            if (at < 0 || at - mDashes > kMaxBoundary) {
                // No line end near enough: the boundary line is too long.
                if (at >= 0 || end - mDashes > kMaxBoundary + 1) {
                    mReading = Reading::UrlEncoded;
                    return true;
                }
                return notFound(2);
            }
            // The boundary line lies in the tail and `data`.
            const long long tailStart = mOffset - static_cast<long long>(mTail.size());
            std::string known = mTail;
            known.append(data,
                         static_cast<size_t>(std::clamp<long long>(at - mOffset, 0, static_cast<long long>(size))));
            mDelimiter = known.substr(static_cast<size_t>(mDashes - tailStart), static_cast<size_t>(at - mDashes));
            mDelimiters = 1;
            mFrom = at;
            mReading = Reading::SeekHeadersEnd;
            return true;
        }
        case Reading::SeekHeadersEnd: {
            const long long at = find("\r\n\r\n", mFrom, data, size);
            if (at < 0) return notFound(4);
            mFrom = at + 4;
            mReading = Reading::SeekContentEnd;
            return true;
        }
        case Reading::SeekContentEnd:
        case Reading::Multipart: {
            const long long at = find(mDelimiter, mFrom, data, size);
            if (at < 0) return notFound(mDelimiter.size());
            ++mDelimiters;
            mFrom = mLastEnd = at + static_cast<long long>(mDelimiter.size());
            mReading = Reading::Multipart;
            return true;
        }
        case Reading::UrlEncoded:
            return false;
    }
    return false;
}

void FieldCounter::add(const char* data, size_t size) {
    if (size == 0) return;
    if (mReading != Reading::Multipart) {
        // Counted up to the end of these bytes even if they decide the body
        // is multipart: the count then no longer matters.
        mAmpersands += platform::CountByte(data, size, '&');
    }
    while (step(data, size)) {}
    keepTail(data, size);
    mOffset += static_cast<long long>(size);
}

void FieldCounter::keepTail(const char* data, size_t size) {
    if (size >= kTailSize) {
        mTail.assign(data + size - kTailSize, kTailSize);
    } else {
        mTail.append(data, size);
        if (mTail.size() > kTailSize) mTail.erase(0, mTail.size() - kTailSize);
    }
}

void FieldCounter::finish() {
    // The parser never finds a needle that ends on the body's last byte: a
    // first part whose end is the body's end makes no part, and the body is
    // then read as URL-encoded.
    const bool firstPartAtTheEnd = mReading == Reading::Multipart && mDelimiters == 2 && mLastEnd == mOffset;
    if (mReading != Reading::Multipart || firstPartAtTheEnd) mReading = Reading::UrlEncoded;
}

long long FieldCounter::fields() const {
    switch (mReading) {
        case Reading::Multipart:
            return mDelimiters - 1;
        case Reading::UrlEncoded:
            return mAmpersands + 1;
        default:
            return 0;
    }
}
