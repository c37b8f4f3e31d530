#include "vbscript/StackRoom.h"

#include <pthread.h>

namespace vbs {

namespace {

// The lowest address of the thread's stack (stacks grow down here).
const char* StackBottom() {
    thread_local const char* bottom = [] {
        pthread_attr_t attributes;
        void* address = nullptr;
        size_t size = 0;
        if (pthread_getattr_np(pthread_self(), &attributes) != 0) return static_cast<const char*>(nullptr);
        pthread_attr_getstack(&attributes, &address, &size);
        pthread_attr_destroy(&attributes);
        return static_cast<const char*>(address);
    }();
    return bottom;
}

}  // namespace

bool StackNearlyFull(size_t bytes) {
    const char here = 0;
    const char* bottom = StackBottom();
    return bottom && static_cast<size_t>(&here - bottom) < bytes;
}

}  // namespace vbs
