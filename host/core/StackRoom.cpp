#include "core/StackRoom.h"

#include <pthread.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <exception>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#endif

namespace host {

namespace {

// The lowest address of the thread's own stack (stacks grow down here).
const char* ThreadStackBottom() {
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

// The thread's own stack for pages, mapped at its first page and kept
// while the thread lives; an unmapped page below it stops an overflow.
struct OwnStack {
    char* mapping = nullptr;
    size_t guard = 0;
    bool running = false;
    ~OwnStack() {
        if (mapping) munmap(mapping, guard + kOwnStackBytes);
    }
    char* bottom() const { return mapping + guard; }
    bool ready() {
        if (mapping) return true;
        guard = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        void* memory = mmap(nullptr, guard + kOwnStackBytes, PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK | MAP_NORESERVE, -1, 0);
        if (memory == MAP_FAILED) return false;
        mapping = static_cast<char*>(memory);
        mprotect(mapping, guard, PROT_NONE);
        return true;
    }
};

thread_local OwnStack tOwnStack;

// One run on the own stack: what it runs, what it threw, where to go back.
struct Switch {
    const std::function<void()>* work = nullptr;
    std::exception_ptr failure;
    ucontext_t caller{}, own{};
    void* fakeStack = nullptr;
    const void* callerBottom = nullptr;
    size_t callerSize = 0;
};

thread_local Switch* tSwitch = nullptr;

void Enter() {
    Switch* run = tSwitch;
#if defined(__SANITIZE_ADDRESS__)
    __sanitizer_finish_switch_fiber(nullptr, &run->callerBottom, &run->callerSize);
#endif
    try {
        (*run->work)();
    } catch (...) {
        run->failure = std::current_exception();
    }
#if defined(__SANITIZE_ADDRESS__)
    __sanitizer_start_switch_fiber(nullptr, run->callerBottom, run->callerSize);
#endif
    // Returning goes back to the caller (uc_link).
}

}  // namespace

void RunOnOwnStack(const std::function<void()>& work) {
#if defined(__SANITIZE_THREAD__)
    // The thread sanitizer loses its way in stacks switched this way (it
    // faulted collecting a trace after a page stopped by its time limit):
    // its builds run pages where they are, on the worker's stack.
    return work();
#endif
    if (tOwnStack.running || !tOwnStack.ready()) return work();
    Switch run;
    run.work = &work;
    if (getcontext(&run.own) != 0) return work();
    run.own.uc_stack.ss_sp = tOwnStack.bottom();
    run.own.uc_stack.ss_size = kOwnStackBytes;
    run.own.uc_link = &run.caller;
    makecontext(&run.own, &Enter, 0);
    tSwitch = &run;
    tOwnStack.running = true;
#if defined(__SANITIZE_ADDRESS__)
    __sanitizer_start_switch_fiber(&run.fakeStack, tOwnStack.bottom(), kOwnStackBytes);
#endif
    swapcontext(&run.caller, &run.own);
#if defined(__SANITIZE_ADDRESS__)
    __sanitizer_finish_switch_fiber(run.fakeStack, nullptr, nullptr);
#endif
    tOwnStack.running = false;
    tSwitch = nullptr;
    if (run.failure) std::rethrow_exception(run.failure);
}

bool StackNearlyFull(size_t bytes) {
    const char here = 0;
    const char* bottom = tOwnStack.running ? tOwnStack.bottom() : ThreadStackBottom();
    return bottom && &here >= bottom && static_cast<size_t>(&here - bottom) < bytes;
}

}  // namespace host
