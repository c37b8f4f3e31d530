// The page language's engine: Duktape heaps kept from request to request in
// a pool that pages borrow from for their run. Each run gets a global
// environment of its own, so that nothing one page defines is seen by the
// next, and a deadline after which the interpreter stops the page.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "script/EngineMemory.h"
#include "script/PageProgram.h"

struct duk_hthread;
typedef struct duk_hthread duk_context;

// Asked by the interpreter every so many instructions: whether the run of
// the engine `udata` is past its deadline.
extern "C" int formix4_script_timed_out(void* udata);

namespace script {

struct RunOutcome {
    bool ok = true;
    bool timedOut = false;
    SourceLine where;         // of an uncaught error
    std::string error;        // its text, as the language shows it ("Error: ...")
    long number = 0;          // the error's number (an HRESULT), 0 when it has none
    std::string description;  // its message alone
    std::string category;     // what raised it: "JScript compilation" or "JScript runtime"
};

class ScriptEngine;

// An engine borrowed for one page's run, given back when the lease goes.
class EngineLease {
public:
    explicit EngineLease(std::unique_ptr<ScriptEngine> engine) : mEngine(std::move(engine)) {}
    ~EngineLease();
    EngineLease(EngineLease&&) = default;
    EngineLease(const EngineLease&) = delete;
    EngineLease& operator=(const EngineLease&) = delete;
    ScriptEngine& operator*() const { return *mEngine; }
    ScriptEngine* operator->() const { return mEngine.get(); }

private:
    std::unique_ptr<ScriptEngine> mEngine;
};

class ScriptEngine {
public:
    // An idle engine of the pool, or a new one. Twice as many engines as
    // the machine has cores stay in the pool; more are let go when given
    // back, so that idle workers hold no engine heap of their own (about
    // 150 KB each, 10 MB over the default 64 workers).
    static EngineLease Borrow();

    ScriptEngine();
    ~ScriptEngine();
    ScriptEngine(const ScriptEngine&) = delete;
    ScriptEngine& operator=(const ScriptEngine&) = delete;

    // Runs the page's program after `bind` has put the page's objects into
    // its global object (at the top of the context's stack). `stopNow` is
    // asked every so many instructions (the limit may change while the page
    // runs, and a page may end itself); a run it stops is stopped as a
    // RangeError and reported as timed out; an uncaught error is reported
    // with its origin.
    RunOutcome Run(const CompiledPage& page, std::function<bool()> stopNow,
                   const std::function<void(duk_context*)>& bind);

    // Counts the host objects that script values of the context's engine
    // hold: +1 when one is made, -1 when its finalizer lets it go.
    static void CountObject(duk_context* context, int change);

    // The memory the engine's heap holds now.
    size_t heldBytes() const { return mMemory.heldBytes(); }
    // An engine that holds more after a run is not kept for the next.
    static constexpr size_t kKeptHeldBytes = 4 << 20;
    // After a run the heap is collected when it holds more in use than this.
    static constexpr size_t kCollectAboveBytes = 1 << 20;

private:
    static void* Allocate(void* engine, size_t size);
    static void* Reallocate(void* engine, void* block, size_t size);
    static void Free(void* engine, void* block);
    static void ForgetGlobals(duk_context* context);

    EngineMemory mMemory;  // first: the heap is made in it
    long mLiveObjects = 0;
    duk_context* mHeap;
    std::function<bool()> mStopNow;
    bool mTimedOut = false;

    friend int ::formix4_script_timed_out(void* udata);
};

}  // namespace script
