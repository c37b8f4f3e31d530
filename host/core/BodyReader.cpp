#include "core/BodyReader.h"

#include <civetweb.h>
#include <string.h>

#include <algorithm>
#include <cctype>

#include "platform/ByteSearch.h"

namespace {

// The boundary parameter of a multipart Content-Type, unquoted; "" for
// other types.
std::string MultipartBoundary(const std::string& contentType) {
    std::string lower = contentType;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.rfind("multipart/", 0) != 0) return {};
    const size_t at = lower.find("boundary=");
    if (at == std::string::npos) return {};
    std::string boundary = contentType.substr(at + 9);
    if (!boundary.empty() && boundary[0] == '"') {
        const size_t close = boundary.find('"', 1);
        return boundary.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    }
    return boundary.substr(0, boundary.find_first_of("; \t"));
}

long long CountOccurrences(const char* data, size_t size, const std::string& needle, size_t startBefore) {
    long long count = 0;
    const char* at = data;
    const char* const end = data + size;
    while (at < end) {
        const char* found = platform::FindBytes(at, static_cast<size_t>(end - at), needle.data(), needle.size());
        if (!found || found - data >= static_cast<ptrdiff_t>(startBefore)) break;
        ++count;
        at = found + needle.size();
    }
    return count;
}

}  // namespace

BodyReader::BodyReader(mg_connection* connection, long long length, const std::string& contentType,
                       const BodyLimits& limits, ServerState server)
    : mConnection(connection), mRemaining(length > 0 ? length : 0), mLimits(limits), mServer(std::move(server)) {
    const long long allowedMs = mRemaining * 1000 / std::max<long long>(1, mLimits.minBytesPerSecond);
    mDeadline = Clock::now() + mLimits.deadlineGrace + std::chrono::milliseconds(allowedMs);
    const std::string boundary = MultipartBoundary(contentType);
    if (!boundary.empty()) mDelimiter = "--" + boundary;
}

size_t BodyReader::read(char* buffer, size_t size) {
    if (mStop != Stop::None) return 0;
    const size_t wanted = static_cast<size_t>(std::min<long long>(static_cast<long long>(size), mRemaining));
    size_t done = 0;
    Clock::time_point lastProgress = Clock::now();
    while (done < wanted) {
        // Each read waits at most the server's per-read timeout, so that the
        // limits below are checked while a client sends nothing.
        const Clock::time_point callStart = Clock::now();
        const int n = mg_read(mConnection, buffer + done, wanted - done);
        const Clock::time_point now = Clock::now();
        // A stopping server's reads return at once: the request ends there.
        if (n < 0 || (n == 0 && mServer.stopping && mServer.stopping())) {
            mStop = Stop::ClientGone;
            break;
        }
        const bool stalled = static_cast<size_t>(n) < wanted - done;  // the read ended by its timeout
        if (n > 0) {
            done += static_cast<size_t>(n);
            lastProgress = now;
        }
        // While others wait for a worker, a client that stalls gives way at
        // once; otherwise it may pause up to the idle limit.
        const bool giveWay = stalled && now - callStart >= mLimits.busyIdleTimeout && mServer.busy && mServer.busy();
        if (now > mDeadline || giveWay || (n == 0 && now - lastProgress >= mLimits.idleTimeout)) {
            mStop = Stop::TimedOut;
            break;
        }
    }
    mRemaining -= static_cast<long long>(done);
    if (mStop == Stop::None && mLimits.maxFields > 0 && !countFields(buffer, done)) mStop = Stop::TooManyFields;
    return done;
}

bool BodyReader::countFields(const char* data, size_t size) {
    if (mDelimiter.empty()) {
        mSeparators += std::count(data, data + size, '&');
        return mSeparators + 1 <= mLimits.maxFields;
    }
    // Delimiters that begin in the kept tail and end in these bytes, then
    // those wholly inside them. The tail is the last delimiter length - 1
    // bytes read; it and the window reuse their storage from read to read.
    const size_t keep = mDelimiter.size() - 1;
    const size_t tailLength = mTail.size();
    mWindow.assign(mTail).append(data, std::min(size, keep));
    mSeparators += CountOccurrences(mWindow.data(), mWindow.size(), mDelimiter, tailLength);
    mSeparators += CountOccurrences(data, size, mDelimiter, size);
    if (size >= keep) {
        mTail.assign(data + size - keep, keep);
    } else {
        mTail.append(data, size);
        if (mTail.size() > keep) mTail.erase(0, mTail.size() - keep);
    }
    // The closing delimiter ends the last field.
    return mSeparators - 1 <= mLimits.maxFields;
}
