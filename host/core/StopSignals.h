// SIGINT and SIGTERM taken by the main thread only: made before any worker
// starts, so that the workers never see them, and waited for at the end.
#pragma once

#include <pthread.h>
#include <signal.h>

class StopSignals {
public:
    StopSignals() {
        sigemptyset(&mSignals);
        sigaddset(&mSignals, SIGINT);
        sigaddset(&mSignals, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &mSignals, nullptr);
        signal(SIGPIPE, SIG_IGN);  // a client that went away is a failed write, not the end
    }
    void wait() {
        int received = 0;
        sigwait(&mSignals, &received);
    }
    // Waits up to `milliseconds` for a signal; true when one came.
    bool waitFor(long milliseconds) {
        const timespec timeout{milliseconds / 1000, (milliseconds % 1000) * 1000000};
        return sigtimedwait(&mSignals, nullptr, &timeout) > 0;
    }

private:
    sigset_t mSignals;
};
