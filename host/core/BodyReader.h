// Reads a request body from its connection for the Request object, under
// the limits that keep slow or greedy clients from holding the server: an
// idle limit (short while every worker is busy, so that slow senders give
// way to the clients waiting behind them), a deadline that grows with the
// announced length, and a cap on the number of fields.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "core/FieldCounter.h"

struct mg_connection;

struct BodyLimits {
    long long maxFields = 10000;  // 0: no cap
    std::chrono::milliseconds idleTimeout{30000};
    std::chrono::milliseconds busyIdleTimeout{500};
    std::chrono::milliseconds deadlineGrace{30000};
    long long minBytesPerSecond = 16384;
};

class BodyReader {
public:
    enum class Stop { None, ClientGone, TimedOut, TooManyFields };

    // What the reader asks of its server: whether other requests are waiting
    // for a worker, and whether the server is stopping (reads then end).
    struct ServerState {
        std::function<bool()> busy;
        std::function<bool()> stopping;
    };

    BodyReader(mg_connection* connection, long long length, const BodyLimits& limits, ServerState server);

    // Up to `size` bytes of the body; fewer at its end or when reading
    // stopped (then stop() says why and every later read gives 0).
    size_t read(char* buffer, size_t size);
    Stop stop() const { return mStop; }
    long long remaining() const { return mRemaining; }
    long long maxFields() const { return mLimits.maxFields; }

private:
    using Clock = std::chrono::steady_clock;

    mg_connection* mConnection;
    long long mRemaining;
    BodyLimits mLimits;
    ServerState mServer;
    Clock::time_point mDeadline;
    Stop mStop = Stop::None;
    FieldCounter mFields;
};
