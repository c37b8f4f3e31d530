#include "script/ScriptEngine.h"

#include <duktape.h>

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <string>
#include <stdexcept>
#include <thread>
#include <vector>

#include "script/ScriptObjects.h"

extern "C" int formix4_script_timed_out(void* udata) {
    auto* engine = static_cast<script::ScriptEngine*>(udata);
    if (!engine || !engine->mStopNow || !engine->mStopNow()) return 0;
    engine->mTimedOut = true;
    return 1;
}

namespace script {

namespace {

// The engine ends a syntax error's text with the line in the program made
// of the page, " (line 12)": the page's own file and line are told apart.
std::string WithoutProgramLine(std::string text) {
    const size_t open = text.rfind(" (line ");
    if (open != std::string::npos && text.back() == ')' &&
        text.find_first_not_of("0123456789", open + 7) == text.size() - 1)
        text.erase(open);
    return text;
}

// The text and line of the error at the top of the stack.
void DescribeError(duk_context* context, const CompiledPage& page, RunOutcome* outcome) {
    outcome->ok = false;
    if (duk_is_error(context, -1)) {
        duk_get_prop_string(context, -1, "lineNumber");
        outcome->where = page.origin(duk_get_int_default(context, -1, 0));
        duk_get_prop_string(context, -2, "number");
        // An HRESULT read as a number may be above INT32_MAX: its bits are kept.
        outcome->number =
            static_cast<int32_t>(static_cast<uint32_t>(static_cast<int64_t>(duk_get_number_default(context, -1, 0))));
        duk_get_prop_string(context, -3, "message");
        outcome->description = WithoutProgramLine(duk_safe_to_string(context, -1));
        duk_pop_3(context);
    }
    outcome->error = WithoutProgramLine(duk_safe_to_string(context, -1));
}

}  // namespace

namespace {
std::mutex gPoolMutex;
std::vector<std::unique_ptr<ScriptEngine>>& Pool() {
    static std::vector<std::unique_ptr<ScriptEngine>> pool;
    return pool;
}
size_t PoolCapacity() {
    static const size_t capacity = 2 * std::max(1u, std::thread::hardware_concurrency());
    return capacity;
}
}  // namespace

EngineLease ScriptEngine::Borrow() {
    {
        std::lock_guard<std::mutex> guard(gPoolMutex);
        if (!Pool().empty()) {
            std::unique_ptr<ScriptEngine> engine = std::move(Pool().back());
            Pool().pop_back();
            return EngineLease(std::move(engine));
        }
    }
    return EngineLease(std::make_unique<ScriptEngine>());
}

EngineLease::~EngineLease() {
    // An engine that holds much memory after its page (a large string
    // table, a deep value stack, the slabs of a page's peak) goes, so that
    // idle engines stay small.
    if (!mEngine || mEngine->heldBytes() > ScriptEngine::kKeptHeldBytes) return;
    std::lock_guard<std::mutex> guard(gPoolMutex);
    if (Pool().size() < PoolCapacity()) Pool().push_back(std::move(mEngine));
}

// The interpreter's allocation functions: the engine's own memory.
void* ScriptEngine::Allocate(void* engine, size_t size) {
    return static_cast<ScriptEngine*>(engine)->mMemory.allocate(size);
}

void* ScriptEngine::Reallocate(void* engine, void* block, size_t size) {
    return static_cast<ScriptEngine*>(engine)->mMemory.reallocate(block, size);
}

void ScriptEngine::Free(void* engine, void* block) { static_cast<ScriptEngine*>(engine)->mMemory.release(block); }

ScriptEngine::ScriptEngine() : mHeap(duk_create_heap(&Allocate, &Reallocate, &Free, this, nullptr)) {
    if (!mHeap) throw std::bad_alloc();
}

ScriptEngine::~ScriptEngine() { duk_destroy_heap(mHeap); }

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
    if (duk_pcompile(context, 0) != 0) {
        DescribeError(context, page, &outcome);
        outcome.category = "JScript compilation";
    } else if (duk_pcall(context, 0) != 0) {
        DescribeError(context, page, &outcome);
        outcome.category = "JScript runtime";
    }
    mStopNow = nullptr;
    outcome.timedOut = mTimedOut;
    ForgetScriptObjects(context);
    duk_set_top(context, 0);
    ForgetGlobals(context);
    duk_pop(mHeap);  // the page's thread and everything only it reached
    // What the page left in reference cycles (its functions, the builtins of
    // its environment) waits for the engine's next collection, unless it
    // holds objects of the host (a form must go when its page ends) or the
    // heap has grown: then it is collected now.
    if (mLiveObjects > 0 || mMemory.liveBytes() > kCollectAboveBytes) duk_gc(mHeap, 0);
    return outcome;
}

// Every property of the page's global object made undefined: what only
// the page's variables reached goes at once, by reference count.
void ScriptEngine::ForgetGlobals(duk_context* context) {
    duk_push_global_object(context);
    duk_enum(context, -1, DUK_ENUM_OWN_PROPERTIES_ONLY | DUK_ENUM_INCLUDE_NONENUMERABLE);
    while (duk_next(context, -1, 0)) {
        duk_push_undefined(context);
        duk_def_prop(context, -4, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_FORCE);
    }
    duk_pop_2(context);
}

void ScriptEngine::CountObject(duk_context* context, int change) {
    duk_memory_functions functions{};
    duk_get_memory_functions(context, &functions);
    if (auto* engine = static_cast<ScriptEngine*>(functions.udata)) engine->mLiveObjects += change;
}

}  // namespace script
