// The per-thread engine: runs are separate, a page past its time is stopped
// and the engine serves the next one.
#include <gtest/gtest.h>

#include <duktape.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "TempFolder.h"
#include "script/ScriptEngine.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

class ScriptEngineTest : public ::testing::Test {
protected:
    script::CompiledPage Page(const std::string& name, const std::string& text) {
        std::ofstream(mRoot / name, std::ios::binary) << text;
        return script::CompilePage(mRoot, mRoot / name);
    }

    // A run's stop after `limit`, as the server's ScriptTimeout stops a page.
    static std::function<bool()> Within(std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        return [deadline] { return std::chrono::steady_clock::now() >= deadline; };
    }

    // Binds a Response whose Write appends to `mOut`.
    std::function<void(duk_context*)> Bind() {
        return [this](duk_context* context) {
            duk_push_object(context);
            duk_push_pointer(context, &mOut);
            duk_put_prop_string(context, -2, "\xff" "out");
            duk_push_c_function(context, [](duk_context* c) -> duk_ret_t {
                duk_push_this(c);
                duk_get_prop_string(c, -1, "\xff" "out");
                static_cast<std::string*>(duk_get_pointer(c, -1))->append(duk_safe_to_string(c, 0));
                return 0;
            }, 1);
            duk_put_prop_string(context, -2, "Write");
            duk_put_prop_string(context, -2, "Response");
        };
    }

    TempFolder mTemp{"script-engine"};
    fs::path mRoot = mTemp.path();
    std::string mOut;
};

}  // namespace

TEST_F(ScriptEngineTest, EachRunHasGlobalsOfItsOwnOnAHeapThatStays) {
    const auto first = Page("first.asp", "<% var left = 'behind'; Object.prototype.polluted = 1 %>one");
    const auto second = Page("second.asp", "<%= typeof left %>,<%= typeof ({}).polluted %>");
    const script::ScriptEngine* used = nullptr;
    {
        script::EngineLease engine = script::ScriptEngine::Borrow();
        used = &*engine;
        EXPECT_TRUE(engine->Run(first, Within(1s), Bind()).ok);
    }
    script::EngineLease again = script::ScriptEngine::Borrow();
    EXPECT_EQ(&*again, used);  // the heap given back is the one lent next
    EXPECT_TRUE(again->Run(second, Within(1s), Bind()).ok);
    EXPECT_EQ(mOut, "oneundefined,undefined");
    // A page running meanwhile has an engine of its own.
    script::EngineLease other = script::ScriptEngine::Borrow();
    EXPECT_NE(&*other, used);
}

TEST_F(ScriptEngineTest, APagePastItsTimeIsStoppedAndTheNextRuns) {
    script::EngineLease lease = script::ScriptEngine::Borrow();
    script::ScriptEngine& engine = *lease;
    const auto endless = Page("loop.asp", "before<%\nwhile (true) {}\n%>after");
    const auto start = std::chrono::steady_clock::now();
    const script::RunOutcome stopped = engine.Run(endless, Within(200ms), Bind());
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(stopped.ok);
    EXPECT_TRUE(stopped.timedOut);
    EXPECT_GE(took, 200ms);
    EXPECT_LT(took, 2s);
    EXPECT_EQ(mOut, "before");
    // Catching the stop does not keep a page running.
    const auto catching = Page("catch.asp", "<% for (;;) { try { while (true) {} } catch (e) {} } %>");
    EXPECT_TRUE(engine.Run(catching, Within(100ms), Bind()).timedOut);
    mOut.clear();
    const script::RunOutcome next = engine.Run(Page("next.asp", "<%= 6 * 7 %>"), Within(1s), Bind());
    EXPECT_TRUE(next.ok);
    EXPECT_FALSE(next.timedOut);
    EXPECT_EQ(mOut, "42");
}

TEST_F(ScriptEngineTest, UncaughtErrorsGiveTheirTextAndOrigin) {
    script::EngineLease lease = script::ScriptEngine::Borrow();
    script::ScriptEngine& engine = *lease;
    const script::RunOutcome outcome =
        engine.Run(Page("bad.asp", "a\nb\n<% var x = 1\nthrow new TypeError('no such field') %>"), Within(1s), Bind());
    EXPECT_FALSE(outcome.ok);
    EXPECT_FALSE(outcome.timedOut);
    EXPECT_EQ(outcome.error, "TypeError: no such field");
    EXPECT_EQ(outcome.where.file, "/bad.asp");
    EXPECT_EQ(outcome.where.line, 4);
    const script::RunOutcome syntax = engine.Run(Page("syntax.asp", "<%\n\nvar = ;\n%>"), Within(1s), Bind());
    EXPECT_FALSE(syntax.ok);
    EXPECT_EQ(syntax.where.line, 3) << syntax.error;
}
