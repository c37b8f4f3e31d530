#include "script/ScriptEngine.h"

#include <duktape.h>
#include <malloc.h>

#include <cstdlib>

#include <algorithm>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

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

namespace {
std::mutex gPoolMutex;
std::vector<std::unique_ptr<ScriptEngine>>& Pool() {
    static std::vector<std::unique_ptr<ScriptEngine>> pool;
    return pool;
}
size_t PoolCapacity() { return 2 * std::max(1u, std::thread::hardware_concurrency()); }
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
    // A heap that kept much of what its last page made (a large string
    // table, a deep value stack) goes, so that idle engines stay small.
    if (!mEngine || mEngine->heapBytes() > ScriptEngine::kKeptHeapBytes) return;
    std::lock_guard<std::mutex> guard(gPoolMutex);
    if (Pool().size() < PoolCapacity()) Pool().push_back(std::move(mEngine));
}

// The engine's allocation functions count the bytes its heap holds.
void* ScriptEngine::Allocate(void* engine, size_t size) {
    void* block = std::malloc(size);
    if (block) static_cast<ScriptEngine*>(engine)->mHeapBytes += malloc_usable_size(block);
    return block;
}

void* ScriptEngine::Reallocate(void* engine, void* block, size_t size) {
    auto* self = static_cast<ScriptEngine*>(engine);
    const size_t before = block ? malloc_usable_size(block) : 0;
    void* moved = std::realloc(block, size);
    if (moved || size == 0) self->mHeapBytes -= before;
    if (moved) self->mHeapBytes += malloc_usable_size(moved);
    return moved;
}

void ScriptEngine::Free(void* engine, void* block) {
    if (block) static_cast<ScriptEngine*>(engine)->mHeapBytes -= malloc_usable_size(block);
    std::free(block);
}

ScriptEngine::ScriptEngine() : mHeap(duk_create_heap(&Allocate, &Reallocate, &Free, this, nullptr)) {
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
