#include "core/BodyReader.h"

#include <civetweb.h>

#include <algorithm>

BodyReader::BodyReader(mg_connection* connection, long long length, const BodyLimits& limits, ServerState server)
    : mConnection(connection), mRemaining(length > 0 ? length : 0), mLimits(limits), mServer(std::move(server)) {
    const long long allowedMs = mRemaining * 1000 / std::max<long long>(1, mLimits.minBytesPerSecond);
    mDeadline = Clock::now() + mLimits.deadlineGrace + std::chrono::milliseconds(allowedMs);
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
    if (mStop == Stop::None && mLimits.maxFields > 0) {
        mFields.add(buffer, done);
        if (mRemaining == 0) mFields.finish();
        if (mFields.fields() > mLimits.maxFields) mStop = Stop::TooManyFields;
    }
    return done;
}
