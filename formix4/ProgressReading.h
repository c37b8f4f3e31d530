// A progress record as a watcher reads it, from the in-process store or
// from the shared one in Redis.
#pragma once

#include <cstdint>
#include <string>

// Fields without a record stay as filled in.
struct ProgressReading {
    int32_t bytesDone = 0;
    int32_t bytesTotal = 0;
    uint32_t elapsedMs = 0;
    bool started = false;
    bool finished = false;
    std::string note = "Connecting...";
};
