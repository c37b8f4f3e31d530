// Processor faults turned into Windows-style exceptions for the call frames
// of component methods.
//
// A frame pushes a jump point; while one is active on a thread, SIGSEGV,
// SIGBUS, SIGFPE and SIGILL raised by that thread's own code are recorded and
// jump back to the frame, which then builds its exception from the record.
// Otherwise (no frame, a signal sent by another process, sanitizer builds)
// the previous handler or the default action applies.
//
//   platform::FaultFrame frame;
//   if (PLATFORM_FAULT_CATCH(frame)) { handle frame.record(); }
//   else { body }
#pragma once

#include <csetjmp>
#include <cstdint>

#include "platform/WinTypes.h"

constexpr DWORD EXCEPTION_ACCESS_VIOLATION = 0xC0000005;
constexpr DWORD EXCEPTION_IN_PAGE_ERROR = 0xC0000006;
constexpr DWORD EXCEPTION_ILLEGAL_INSTRUCTION = 0xC000001D;
constexpr DWORD EXCEPTION_FLT_DIVIDE_BY_ZERO = 0xC000008E;
constexpr DWORD EXCEPTION_FLT_INEXACT_RESULT = 0xC000008F;
constexpr DWORD EXCEPTION_FLT_INVALID_OPERATION = 0xC0000090;
constexpr DWORD EXCEPTION_FLT_OVERFLOW = 0xC0000091;
constexpr DWORD EXCEPTION_FLT_UNDERFLOW = 0xC0000093;
constexpr DWORD EXCEPTION_INT_DIVIDE_BY_ZERO = 0xC0000094;
constexpr DWORD EXCEPTION_INT_OVERFLOW = 0xC0000095;
constexpr DWORD EXCEPTION_PRIV_INSTRUCTION = 0xC0000096;

namespace platform {

struct FaultRecord {
    DWORD code = 0;                 // Windows exception code
    uintptr_t address = 0;          // code address of the faulting instruction
    ULONG_PTR accessWord = 0;       // access violations: 0 read, 1 write, 8 execute
    uintptr_t target = 0;           // access violations: the data address
    uintptr_t faultModuleBase = 0;  // load address of the module holding `address`
    int signal = 0;
};

// False in builds whose sanitizers own the fault signals.
bool FaultTranslationAvailable();

class FaultFrame {
public:
    FaultFrame();
    ~FaultFrame();
    FaultFrame(const FaultFrame&) = delete;
    FaultFrame& operator=(const FaultFrame&) = delete;

    sigjmp_buf& jumpPoint() { return mJump; }
    const FaultRecord& record() const { return mRecord; }
    // Called by the signal handler only.
    void recordFault(const FaultRecord& record) { mRecord = record; }
    FaultFrame* outer() const { return mOuter; }

private:
    sigjmp_buf mJump;
    FaultRecord mRecord;
    FaultFrame* mOuter;
};

}  // namespace platform

// Evaluates to nonzero after a fault jumped back to `frame`. The signal mask
// is not saved (a system call on every method call): the handler blocks
// nothing (SA_NODEFER, empty mask), so the mask after the jump is the one the
// frame's body ran with.
#define PLATFORM_FAULT_CATCH(frame) (sigsetjmp((frame).jumpPoint(), 0) != 0)
