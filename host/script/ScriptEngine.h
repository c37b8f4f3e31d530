// The page language's engine: one Duktape heap per worker thread, kept from
// request to request. Each run gets a global environment of its own, so
// that nothing one page defines is seen by the next, and a deadline after
// which the interpreter stops the page.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "script/PageSource.h"

struct duk_hthread;
typedef struct duk_hthread duk_context;

// Asked by the interpreter every so many instructions: whether the run of
// the engine `udata` is past its deadline.
extern "C" int formix4_script_timed_out(void* udata);

namespace script {

struct RunOutcome {
    bool ok = true;
    bool timedOut = false;
    SourceLine where;   // of an uncaught error
    std::string error;  // its text, as the language shows it ("Error: ...")
};

class ScriptEngine {
public:
    // The calling thread's engine, made at its first use.
    static ScriptEngine& ForThisThread();

    ScriptEngine();
    ~ScriptEngine();
    ScriptEngine(const ScriptEngine&) = delete;
    ScriptEngine& operator=(const ScriptEngine&) = delete;

    // Runs the page's program after `bind` has put the page's objects into
    // its global object (at the top of the context's stack). A run that is
    // still going after `limit` is stopped as a RangeError and reported as
    // timed out; an uncaught error is reported with its origin.
    RunOutcome Run(const CompiledPage& page, std::chrono::milliseconds limit,
                   const std::function<void(duk_context*)>& bind);
    // The same with the deadline asked of `stopNow` every so many
    // instructions (the limit may change while the page runs, and a page
    // may end itself); a run it stops is reported as timed out.
    RunOutcome Run(const CompiledPage& page, std::function<bool()> stopNow,
                   const std::function<void(duk_context*)>& bind);

private:
    duk_context* mHeap;
    std::function<bool()> mStopNow;
    bool mTimedOut = false;

    friend int ::formix4_script_timed_out(void* udata);
};

}  // namespace script
