#include "script/ScriptEngine.h"

#include <duktape.h>

#include <stdexcept>

extern "C" int formix4_script_timed_out(void* udata) {
    auto* engine = static_cast<script::ScriptEngine*>(udata);
    if (!engine || !engine->mStopNow || !engine->mStopNow()) return 0;
    engine->mTimedOut = true;
    return 1;
}

namespace script {

namespace {

// The text and line of the error at the top of the stack.
void DescribeError(duk_context* context, const CompiledPage& page, RunOutcome* outcome) {
    outcome->ok = false;
    if (duk_is_error(context, -1)) {
        duk_get_prop_string(context, -1, "lineNumber");
        outcome->where = page.origin(duk_get_int_default(context, -1, 0));
        duk_pop(context);
    }
    outcome->error = duk_safe_to_string(context, -1);
}

}  // namespace

ScriptEngine& ScriptEngine::ForThisThread() {
    thread_local ScriptEngine engine;
    return engine;
}

ScriptEngine::ScriptEngine() : mHeap(duk_create_heap(nullptr, nullptr, nullptr, this, nullptr)) {
    if (!mHeap) throw std::bad_alloc();
}

ScriptEngine::~ScriptEngine() { duk_destroy_heap(mHeap); }

RunOutcome ScriptEngine::Run(const CompiledPage& page, std::chrono::milliseconds limit,
                             const std::function<void(duk_context*)>& bind) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    return Run(page, [deadline] { return std::chrono::steady_clock::now() >= deadline; }, bind);
}

RunOutcome ScriptEngine::Run(const CompiledPage& page, std::function<bool()> stopNow,
                             const std::function<void(duk_context*)>& bind) {
    RunOutcome outcome;
    // A thread of the heap with a fresh global environment: the page's own.
    duk_push_thread_new_globalenv(mHeap);
    duk_context* context = duk_get_context(mHeap, -1);
    duk_push_global_object(context);
    if (bind) bind(context);
    duk_pop(context);
    mTimedOut = false;
    mStopNow = std::move(stopNow);
    duk_push_lstring(context, page.program.data(), page.program.size());
    duk_push_string(context, page.lines.empty() ? "page" : page.origin(1).file.c_str());
    if (duk_pcompile(context, 0) != 0 || duk_pcall(context, 0) != 0) DescribeError(context, page, &outcome);
    mStopNow = nullptr;
    outcome.timedOut = mTimedOut;
    duk_set_top(context, 0);
    duk_pop(mHeap);  // the page's thread and everything only it reached
    duk_gc(mHeap, 0);
    return outcome;
}

}  // namespace script
