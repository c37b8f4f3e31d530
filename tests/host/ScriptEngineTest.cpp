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
            duk_put_prop_string(context, -2,
                                "\xff"
                                "out");
            duk_push_c_function(
                context,
                [](duk_context* c) -> duk_ret_t {
                    duk_push_this(c);
                    duk_get_prop_string(c, -1,
                                        "\xff"
                                        "out");
                    static_cast<std::string*>(duk_get_pointer(c, -1))->append(duk_safe_to_string(c, 0));
                    return 0;
                },
                1);
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

// Strings built by appending share a growing buffer: every string keeps
// its own characters, a string kept from the middle of a build included,
// and readers that stop at the end of a C string (the Write here, number
// and JSON parsing) see only its own.
TEST_F(ScriptEngineTest, StringsBuiltByAppendingAreExact) {
    script::EngineLease engine = script::ScriptEngine::Borrow();
    const script::RunOutcome outcome = engine->Run(Page("build.asp", R"(<%
var piece = "a\u00e9\u20ac\ud83d\ude00z", s = "", parts = [], mid;
for (var i = 0; i < 100000; i++) {
  s += piece + i + ";";
  parts.push(piece + i + ";");
  if (i === 50000) mid = s;
}
var joined = parts.join(""), keyed = {};
keyed[joined] = "found";
Response.Write([s.length, s === joined, keyed[s], s.charAt(5), s.charCodeAt(2), s.charCodeAt(3), s.charCodeAt(4),
  s.indexOf("z99999;"), s.substring(s.length - 6), mid.length, mid === joined.substring(0, mid.length),
  mid.slice(-6), mid.lastIndexOf("z"), s.split(";").length].join("|"));
var fraction = "0." + new Array(201).join("1234567890"), numeric = fraction + "5", longer = numeric + "x";
var list = "[" + new Array(600).join("1,") + "1", closed = list + "]", extended = closed + ",2]";
Response.Write("|" + Number(numeric) + "|" + JSON.parse(closed).length + "|" + longer.length + "|" + extended.length + "|");
Response.Write(numeric.slice(-3));
%>)"),
                                                   Within(60s), Bind());
    ASSERT_TRUE(outcome.ok) << outcome.error;
    size_t length = 0, midLength = 0;
    for (int i = 0; i < 100000; ++i) {
        length += 7 + std::to_string(i).size();  // a, é, €, two surrogates, z, digits, ;
        if (i == 50000) midLength = length;
    }
    const std::string expected = std::to_string(length) + "|true|found|z|8364|55357|56832|" +
                                 std::to_string(length - 7) + "|99999;|" + std::to_string(midLength) + "|true|50000;|" +
                                 std::to_string(midLength - 7) + "|100001" + "|0.12345678901234568|600|2004|1204|905";
    EXPECT_EQ(mOut, expected);
}

// Appending is linear: 32 MB by 100 bytes at a time, which takes many
// minutes when each append copies the whole string, is done well within
// the limit.
TEST_F(ScriptEngineTest, BuildingAStringIsLinear) {
    script::EngineLease engine = script::ScriptEngine::Borrow();
    const script::RunOutcome outcome = engine->Run(Page("large.asp", R"(<%
var chunk = new Array(11).join("0123456789"), s = "";
while (s.length < 32 * 1024 * 1024) s += chunk;
Response.Write(s.length + "|" + s.substr(12345678, 10) + "|" + (s === new Array(335546).join(chunk)));
%>)"),
                                                   Within(120s), Bind());
    EXPECT_TRUE(outcome.ok) << outcome.error;
    EXPECT_FALSE(outcome.timedOut);
    EXPECT_EQ(mOut, "33554500|8901234567|true");
}

// Long work inside the language's own functions runs no instructions of
// the page; it is stopped by the time limit all the same.
TEST_F(ScriptEngineTest, LongNativeWorkIsStoppedAtTheLimit) {
    script::EngineLease lease = script::ScriptEngine::Borrow();
    script::ScriptEngine& engine = *lease;
    const char* pages[] = {
        "var a = []; a.length = 4294967295; a.join('-');",
        "var a = []; a.length = 4294967295; a.reverse();",
        "var a = []; a.length = 2147483647; a.indexOf(1);",
        "/^(a+)+$/.test(new Array(40).join('a') + 'b');",
        "new Array(1 << 20).join('a').replace(/a*c/g, 'x');",
        "new Array(1 << 22).join('a').indexOf(new Array(1 << 16).join('a') + 'b');",
        "new Array(1 << 22).join('a').split(new Array(1 << 16).join('a') + 'b');",
    };
    for (const char* code : pages) {
        const auto start = std::chrono::steady_clock::now();
        const script::RunOutcome outcome =
            engine.Run(Page("work.asp", std::string("<% ") + code + " %>"), Within(300ms), Bind());
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_TRUE(outcome.timedOut) << code << ": " << outcome.error;
        EXPECT_LT(took, 5s) << code;
    }
}

// What a stopped page built, prefixes and their own copies included, goes
// with it.
TEST_F(ScriptEngineTest, AStoppedPageLeavesNoStringBehind) {
    script::EngineLease lease = script::ScriptEngine::Borrow();
    script::ScriptEngine& engine = *lease;
    const script::RunOutcome outcome = engine.Run(Page("stopped.asp", R"(<%
var chunk = new Array(11).join("0123456789"), s = "", kept = [];
for (var i = 0; i < 160000; i++) {
  s += chunk;
  if (i % 40000 === 0) kept.push(s);
}
kept.push(Number(kept[1]), s.slice(3));
while (true) s += chunk;
%>)"),
                                                  Within(500ms), Bind());
    EXPECT_TRUE(outcome.timedOut);
    EXPECT_LT(engine.heldBytes(), script::ScriptEngine::kKeptHeldBytes);
}
