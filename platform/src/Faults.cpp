// Translation of processor faults into records for the innermost fault frame
// of the faulting thread.
#include "platform/Faults.h"

#include <dlfcn.h>
#include <signal.h>
#include <sys/ucontext.h>
#include <ucontext.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define PLATFORM_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define PLATFORM_SANITIZED 1
#endif
#endif

namespace platform {
namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
struct sigaction gPrevious[4];
thread_local FaultFrame* tTopFrame = nullptr;

// The thread's own signal stack, released when the thread ends.
struct AltStack {
    void* memory = nullptr;
    bool ours = false;
    ~AltStack() {
        if (!ours) return;
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        sigaltstack(&off, nullptr);
        std::free(memory);
    }
};
thread_local AltStack tAltStack;

int SignalIndex(int signal) {
    for (int i = 0; i < 4; ++i)
        if (kSignals[i] == signal) return i;
    return -1;
}

DWORD ExceptionCode(int signal, int code) {
    switch (signal) {
        case SIGSEGV:
            return EXCEPTION_ACCESS_VIOLATION;
        case SIGBUS:
            return EXCEPTION_IN_PAGE_ERROR;
        case SIGILL:
            return code == ILL_PRVOPC ? EXCEPTION_PRIV_INSTRUCTION : EXCEPTION_ILLEGAL_INSTRUCTION;
        case SIGFPE:
            switch (code) {
                case FPE_INTOVF:
                    return EXCEPTION_INT_OVERFLOW;
                case FPE_FLTDIV:
                    return EXCEPTION_FLT_DIVIDE_BY_ZERO;
                case FPE_FLTOVF:
                    return EXCEPTION_FLT_OVERFLOW;
                case FPE_FLTUND:
                    return EXCEPTION_FLT_UNDERFLOW;
                case FPE_FLTRES:
                    return EXCEPTION_FLT_INEXACT_RESULT;
                case FPE_FLTINV:
                    return EXCEPTION_FLT_INVALID_OPERATION;
                default:
                    return EXCEPTION_INT_DIVIDE_BY_ZERO;
            }
        default:
            return 0;
    }
}

// Hands a signal that is not ours to whatever handled it before.
void ChainToPrevious(int signal, siginfo_t* info, void* context) {
    const struct sigaction& previous = gPrevious[SignalIndex(signal)];
    if ((previous.sa_flags & SA_SIGINFO) && previous.sa_sigaction) {
        previous.sa_sigaction(signal, info, context);
        return;
    }
    if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
        previous.sa_handler(signal);
        return;
    }
    // Default action: restore it; a fault re-executes the instruction and
    // ends the process as usual, a sent signal is raised again.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
    if (info->si_code <= 0) raise(signal);
}

void Handler(int signal, siginfo_t* info, void* context) {
    FaultFrame* frame = tTopFrame;
    // si_code > 0: raised by the kernel for this thread's own instruction.
    if (!frame || info->si_code <= 0) {
        ChainToPrevious(signal, info, context);
        return;
    }
    auto* uc = static_cast<ucontext_t*>(context);
    FaultRecord record;
    record.signal = signal;
    record.code = ExceptionCode(signal, info->si_code);
#if defined(__x86_64__)
    record.address = static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
    const auto error = static_cast<uint64_t>(uc->uc_mcontext.gregs[REG_ERR]);
#elif defined(__aarch64__)
    record.address = static_cast<uintptr_t>(uc->uc_mcontext.pc);
    const uint64_t error = 0;
#else
    record.address = 0;
    const uint64_t error = 0;
#endif
    if (record.code == EXCEPTION_ACCESS_VIOLATION) {
        // x86-64 page-fault error code: bit 1 write, bit 4 instruction fetch.
        record.accessWord = (error & 0x10) ? 8 : (error & 0x2) ? 1 : 0;
        record.target = reinterpret_cast<uintptr_t>(info->si_addr);
    }
    Dl_info module{};
    if (dladdr(reinterpret_cast<void*>(record.address), &module))
        record.faultModuleBase = reinterpret_cast<uintptr_t>(module.dli_fbase);
    frame->recordFault(record);
    // The frame is done: a fault while it handles this one goes further out.
    tTopFrame = frame->outer();
    siglongjmp(frame->jumpPoint(), 1);
}

// Unused in sanitizer builds, whose own handlers keep these signals.
[[maybe_unused]] void InstallHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (int i = 0; i < 4; ++i) {
            struct sigaction action {};
            action.sa_sigaction = Handler;
            action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
            sigemptyset(&action.sa_mask);
            sigaction(kSignals[i], &action, &gPrevious[i]);
        }
    });
}

// A stack of the thread's own for the handler, so that a fault caused by
// running out of stack can still be handled. Kept for the thread's life.
[[maybe_unused]] void EnsureAltStack() {
    if (tAltStack.memory) return;
    stack_t current{};
    if (sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE)) {
        tAltStack.memory = current.ss_sp;  // someone else's; left alone
        return;
    }
    const size_t size = 64 * 1024;
    void* memory = std::malloc(size);
    if (!memory) return;
    stack_t stack{};
    stack.ss_sp = memory;
    stack.ss_size = size;
    if (sigaltstack(&stack, nullptr) == 0) {
        tAltStack.memory = memory;
        tAltStack.ours = true;
    } else {
        std::free(memory);
    }
}

}  // namespace

bool FaultTranslationAvailable() {
#ifdef PLATFORM_SANITIZED
    return false;
#else
    return true;
#endif
}

FaultFrame::FaultFrame() : mOuter(tTopFrame) {
#ifndef PLATFORM_SANITIZED
    InstallHandlers();
    EnsureAltStack();
    tTopFrame = this;
#endif
}

FaultFrame::~FaultFrame() {
    if (tTopFrame == this) tTopFrame = mOuter;
}

}  // namespace platform
