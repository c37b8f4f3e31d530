// The VBScript engine without a server: what HTTP would add nothing to.
// Compile errors carry the reference's numbers and the line; run-time
// errors the statement's line; a host that says stop stops any loop.
#include <string>

#include <gtest/gtest.h>

#include "vbscript/CompileError.h"
#include "vbscript/Conversions.h"
#include "vbscript/DateValues.h"
#include "vbscript/Lexer.h"
#include "vbscript/Operators.h"
#include "vbscript/Interpreter.h"
#include "vbscript/Parser.h"
#include "vbscript/RuntimeError.h"

namespace {

struct CompileOutcome {
    int number = 0;
    int line = 0;
    std::string text;
};

CompileOutcome CompileErrorOf(const std::string& source) {
    try {
        vbs::Compile(source);
    } catch (const vbs::CompileError& error) {
        return {error.number, error.line, error.what()};
    }
    return {};
}

TEST(VBScriptCompile, ErrorsHaveTheReferencesNumbersTextsAndLines) {
    struct Case {
        const char* source;
        int number, line;
        const char* text;
    } cases[] = {
        {"x = 1\ny = (2 + 3\n", 1006, 2, "Expected ')'"},
        {"x = 1 +\n", 1023, 1, "Expected expression"},
        {"Dim 1\n", 1010, 1, "Expected identifier"},
        {"x = 1 2\n", 1025, 1, "Expected end of statement"},
        {"\n\nIf x Then\n  y = 1\n", 1014, 5, "Expected 'End'"},
        {"If x\n", 1017, 1, "Expected 'Then'"},
        {"For i = 1\nNext\n", 1013, 1, "Expected 'To'"},
        {"For Each i\nNext\n", 1046, 1, "Expected 'In'"},
        {"Do\nx = 1\n", 1019, 3, "Expected 'Loop'"},
        {"While x\n", 1018, 2, "Expected 'Wend'"},
        {"Sub A\n", 1014, 2, "Expected 'End'"},
        {"Sub A\nEnd Function\n", 1016, 2, "Expected 'Sub'"},
        {"x = \"open\ny = 2\n", 1033, 1, "Unterminated string constant"},
        {"x = 1 ? 2\n", 1032, 1, "Invalid character"},
        {"Next\n", 1055, 1, "Unexpected 'Next'"},
        {"Loop\n", 1038, 1, "'loop' without 'do'"},
        {"Exit Do\n", 1039, 1, "Invalid 'exit' statement"},
        {"Sub A\nExit Function\nEnd Sub\n", 1039, 2, "Invalid 'exit' statement"},
        {"Const a = b\n", 1045, 1, "Expected literal constant"},
        {"Dim a(n)\n", 1026, 1, "Expected integer constant"},
        {"Sub A : End Sub\nSub a : End Sub\n", 1041, 2, "Name redefined"},
        {"Foo(1, 2)\n", 1044, 1, "Cannot use parentheses when calling a Sub"},
        {"x = 1 _\n  + _\n  \n", 1023, 3, "Expected expression"},
        {"If a Then\nSub B\nEnd Sub\nEnd If\n", 1002, 2, "Syntax error"},
    };
    for (const Case& c : cases) {
        const CompileOutcome outcome = CompileErrorOf(c.source);
        EXPECT_EQ(outcome.number, c.number) << c.source;
        EXPECT_EQ(outcome.line, c.line) << c.source;
        EXPECT_EQ(outcome.text, c.text) << c.source;
    }
}

TEST(VBScriptCompile, WhatIsNotRunYetAndWhatNestsTooDeepAreClearErrors) {
    EXPECT_EQ(CompileErrorOf("Class Point\nEnd Class").text, "'Class' is not supported by this server yet");
    EXPECT_EQ(CompileErrorOf("\nWith x\nEnd With").line, 2);
    const CompileOutcome deep = CompileErrorOf("x = " + std::string(5000, '(') + "1" + std::string(5000, ')'));
    EXPECT_EQ(deep.number, 1002);
    EXPECT_NE(deep.text.find("nests more than"), std::string::npos) << deep.text;
    EXPECT_EQ(CompileErrorOf("x = " + std::string(5000, '-') + "1").number, 1002);
    std::string ifs;
    for (int i = 0; i < 5000; ++i) ifs += "If a Then ";
    EXPECT_EQ(CompileErrorOf(ifs + "b = 1").number, 1002);
    // What pages nest stays well inside the bound.
    std::string nested;
    for (int i = 0; i < 20; ++i) nested += "If a Then\nFor i = 1 To (((2)))\n";
    for (int i = 0; i < 20; ++i) nested += "Next\nEnd If\n";
    EXPECT_EQ(CompileErrorOf(nested).number, 0);
}

TEST(VBScriptCompile, LiteralsAndContinuationsParse) {
    EXPECT_EQ(CompileErrorOf("x = &HFFFF + &O17 + &H8000& + #1/2/2003 10:30 PM# + .5 + 1.5E+3 + [a b]\n"
                             "y = \"a\"\"b\" & _\n   vbCrLf ' comment\nRem remark : still remark\nz = 1 : w = 2")
                  .number,
              0);
    EXPECT_EQ(CompileErrorOf("x = \"a\"&1&b&Hz").number, 0);  // & before digits and names joins
    EXPECT_EQ(CompileErrorOf("x = &O8").number, 1002);
    EXPECT_EQ(CompileErrorOf("x = #2/30/2003#").number, 1002);
    EXPECT_EQ(CompileErrorOf("x = &H1FFFFFFFF").number, 1031);
}

// A host with no objects that stops the program after `budget` questions.
class CountingHost : public vbs::ScriptHost {
public:
    explicit CountingHost(int budget) : mBudget(budget) {}
    IDispatch* pageObject(const std::string&) override { return nullptr; }
    bool stopNow() override { return ++mAsked > mBudget; }
    int asked() const { return mAsked; }

private:
    int mBudget;
    int mAsked = 0;
};

vbs::RuntimeError RuntimeErrorOf(const std::string& source) {
    CountingHost host(1 << 30);
    try {
        vbs::Interpreter(vbs::Compile(source), host).run();
    } catch (const vbs::RuntimeError& error) {
        return error;
    }
    return vbs::RuntimeError(0, "none", "");
}

TEST(VBScriptRun, UncaughtErrorsCarryTheirNumberAndTheLineOfTheInnermostStatement) {
    const vbs::RuntimeError inner = RuntimeErrorOf("Sub Inner\n  x = 1\n  x = x / 0\nEnd Sub\n\nInner");
    EXPECT_EQ(inner.number, 11);
    EXPECT_EQ(inner.line, 3);
    const vbs::RuntimeError undefined = RuntimeErrorOf("Option Explicit\nDim a\na = 1\nb = 2");
    EXPECT_EQ(undefined.number, 500);
    EXPECT_EQ(undefined.line, 4);
    EXPECT_EQ(undefined.description, "Variable is undefined: 'b'");
    // A Dim later in the scope declares its name from the start.
    EXPECT_EQ(RuntimeErrorOf("Option Explicit\nlater = 1\nDim later").number, 0);
    EXPECT_EQ(RuntimeErrorOf("Const k = 1\nk = 2").number, 501);
    EXPECT_EQ(RuntimeErrorOf("Dim a(2)\na(3) = 1").number, 9);
    EXPECT_EQ(RuntimeErrorOf("x = NoSuchFunction(1)").number, 13);
    EXPECT_EQ(RuntimeErrorOf("x = Left(\"a\")").number, 450);
    EXPECT_EQ(RuntimeErrorOf("Set x = 1").number, 424);
    EXPECT_EQ(RuntimeErrorOf("For Each x In 5 : Next").number, 451);
    // What one page may hold is bounded, whatever it asks for.
    EXPECT_EQ(RuntimeErrorOf("ReDim a(2147483647)").number, 7);
    EXPECT_EQ(RuntimeErrorOf("Dim a(99999, 99999)").number, 7);
    EXPECT_EQ(RuntimeErrorOf("x = Space(2147483647)").number, 14);
    EXPECT_EQ(RuntimeErrorOf("s = \"ab\"\nFor i = 1 To 40 : s = s & s : Next").number, 14);
    EXPECT_EQ(RuntimeErrorOf("x = Replace(Space(60000000), \" \", \"xx\")").number, 14);
    const vbs::RuntimeError raised =
        RuntimeErrorOf("On Error Resume Next\nOn Error GoTo 0\nErr.Raise 1234, \"src\", \"text\"");
    EXPECT_EQ(raised.number, 1234);
    EXPECT_EQ(raised.source, "src");
    EXPECT_EQ(raised.description, "text");
    EXPECT_EQ(vbs::ErrorHResult(13), static_cast<int32_t>(0x800A000D));
    EXPECT_EQ(vbs::ErrorHResult(-2147024891), -2147024891);
}

TEST(VBScriptRun, TheHostStopsLoopsWithoutStatementsAndHandlersDoNotCatchTheStop) {
    for (const char* source :
         {"Do : Loop", "While True : Wend", "For i = 1 To 1E9 : Next", "On Error Resume Next\nDo\n  x = 1 / 0\nLoop"}) {
        CountingHost host(3);
        EXPECT_THROW(vbs::Interpreter(vbs::Compile(source), host).run(), vbs::ProgramStopped) << source;
        EXPECT_EQ(host.asked(), 4) << source;
    }
}

TEST(VBScriptRun, TheEventProcedureRunsAfterTheProgramWhenItHasOne) {
    CountingHost host(1 << 30);
    EXPECT_NO_THROW(vbs::Interpreter(vbs::Compile("x = 1"), host).run("Session_OnStart"));
    try {
        vbs::Interpreter(vbs::Compile("Sub Session_OnStart\n  x = \"a\" * 2\nEnd Sub"), host).run("session_onstart");
        ADD_FAILURE() << "the procedure did not run";
    } catch (const vbs::RuntimeError& error) {
        EXPECT_EQ(error.number, 13);
        EXPECT_EQ(error.line, 2);
    }
}

// Operators over VARIANTs the pages seldom make: the type of each result
// and where it overflows.
TEST(VBScriptValues, ResultTypesWidenAsTheReferenceSays) {
    using vbs::Apply;
    using vbs::Op;
    using vbs::Value;
    struct Case {
        Value result;
        VARTYPE type;
        double number;
    } cases[] = {
        {Apply(Op::Add, Value::Byte(200), Value::Byte(55)), VT_UI1, 255},
        {Apply(Op::Add, Value::Byte(200), Value::Byte(56)), VT_I2, 256},
        {Apply(Op::Multiply, Value::Long(65536), Value::Long(65536)), VT_R8, 4294967296.0},
        {Apply(Op::Subtract, Value::Integer(-32768), Value::Integer(1)), VT_I4, -32769},
        {Apply(Op::Add, Value::Single(1.5f), Value::Integer(1)), VT_R4, 2.5},
        {Apply(Op::Add, Value::Currency(15000), Value::Integer(1)), VT_CY, 2.5},
        {Apply(Op::Add, Value::Date(1), Value::Integer(1)), VT_DATE, 2},
        {Apply(Op::Subtract, Value::Date(5), Value::Date(2)), VT_R8, 3},
        {Apply(Op::Divide, Value::Integer(1), Value::Integer(4)), VT_R8, 0.25},
        {Apply(Op::IntDivide, Value::Double(-7.5), Value::Integer(2)), VT_I4, -4},
        {Apply(Op::Mod, Value::Integer(-7), Value::Integer(-3)), VT_I2, -1},
        {Apply(Op::And, Value::Byte(6), Value::Byte(3)), VT_UI1, 2},
        {Apply(Op::Or, Value::Long(65536), Value::Integer(1)), VT_I4, 65537},
        {Apply(Op::Imp, Value::Bool(true), Value::Bool(false)), VT_BOOL, 0},
        {Apply(Op::Eqv, Value::Integer(5), Value::Integer(5)), VT_I2, -1},
        {vbs::ApplyUnary(Op::Not, Value::Byte(0)), VT_UI1, 255},
        {vbs::ApplyUnary(Op::Negate, Value::Long(INT32_MIN)), VT_R8, 2147483648.0},
        {vbs::ApplyUnary(Op::Negate, Value::Utf8("3")), VT_R8, -3},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.result.vt, c.type) << c.number;
        EXPECT_EQ(vbs::ToDouble(c.result), c.number);
    }
    EXPECT_THROW(Apply(Op::IntDivide, Value::Long(INT32_MIN), Value::Integer(-1)), vbs::RuntimeError);
    EXPECT_EQ(Apply(Op::Mod, Value::Long(INT32_MIN), Value::Integer(-1)).lVal, 0);
    EXPECT_THROW(Apply(Op::Divide, Value::Integer(0), Value::Integer(0)), vbs::RuntimeError);
    EXPECT_THROW(Apply(Op::Add, Value::Currency(INT64_MAX / 2), Value::Currency(INT64_MAX / 2)), vbs::RuntimeError);
    EXPECT_THROW(Apply(Op::Add, Value::Date(2958465), Value::Integer(1)), vbs::RuntimeError);
}

TEST(VBScriptValues, NullIsUnknownAndTextsReadAsNumbers) {
    using vbs::Apply;
    using vbs::Op;
    using vbs::Value;
    EXPECT_TRUE(Apply(Op::Imp, Value::Null(), Value::Bool(true)).boolVal);
    EXPECT_TRUE(Apply(Op::Imp, Value::Bool(false), Value::Null()).boolVal);
    EXPECT_TRUE(Apply(Op::Imp, Value::Null(), Value::Bool(false)).isNull());
    EXPECT_TRUE(Apply(Op::Xor, Value::Null(), Value::Bool(true)).isNull());
    EXPECT_EQ(Apply(Op::And, Value::Null(), Value::Integer(0)).vt, VT_I2);
    EXPECT_TRUE(Apply(Op::Concat, Value::Null(), Value::Null()).isNull());
    EXPECT_EQ(vbs::Compare(Value::Utf8(" 12 "), Value::Integer(12), false, true), 0);
    EXPECT_EQ(vbs::Compare(Value::Utf8("&H10"), Value::Integer(16), false, true), 0);
    EXPECT_THROW(vbs::Compare(Value::Utf8("x"), Value::Integer(1), false, true), vbs::RuntimeError);
    EXPECT_EQ(vbs::Compare(Value::Bool(true), Value::Integer(-1)), 0);
    double number = 0;
    for (const char16_t* text : {u"", u" ", u"1e", u"--1", u"1.2.3", u"&H", u"&HFFFFFFFFF", u"1 2", u"."})
        EXPECT_FALSE(vbs::ParseNumber(text, &number))
            << std::string(text, text + std::char_traits<char16_t>::length(text));
    EXPECT_TRUE(vbs::ParseNumber(u"  -1.5E2\t", &number));
    EXPECT_EQ(number, -150);
    EXPECT_TRUE(vbs::ParseNumber(u"&HFFFF", &number));
    EXPECT_EQ(number, -1);
    EXPECT_EQ(vbs::ToLong(Value::Double(-2.5)), -2);
    EXPECT_EQ(vbs::ToLong(Value::Double(2147483647.4)), 2147483647);
    EXPECT_THROW(vbs::ToLong(Value::Double(2147483647.5)), vbs::RuntimeError);
    EXPECT_EQ(std::u16string(vbs::ToText(Value::Double(-0.0))), u"0");
    EXPECT_EQ(std::u16string(vbs::ToText(Value::Currency(-12345))), u"-1.2345");
}

TEST(VBScriptDates, TextsReadAndWrittenAsTheEnUsLocaleDoes) {
    struct Case {
        const char* text;
        const char* written;  // null: no date
    } cases[] = {
        {"1/2/2003", "1/2/2003"},
        {"2003-01-02", "1/2/2003"},
        {"12/31/99", "12/31/1999"},
        {"1/1/29", "1/1/2029"},
        {"2/29/2004 12:00 AM", "2/29/2004"},
        {"2/29/2004 12:30 PM", "2/29/2004 12:30:00 PM"},
        {"22:30:15", "10:30:15 PM"},
        {"1/2/2003 0:00:01", "1/2/2003 12:00:01 AM"},
        {"2/29/2003", nullptr},
        {"13/1/2003", nullptr},
        {"1/2", nullptr},
        {"24:00", nullptr},
        {"13:00 PM", nullptr},
        {"1/2/2003 x", nullptr},
        {"AM", nullptr},
        {"", nullptr},
    };
    for (const Case& c : cases) {
        double date = 0;
        const bool read = vbs::ParseDateText(c.text, &date);
        EXPECT_EQ(read, c.written != nullptr) << c.text;
        if (read && c.written) {
            EXPECT_EQ(vbs::DateText(date), c.written) << c.text;
        }
    }
    // Before 30 December 1899 the time still counts forward from midnight.
    EXPECT_EQ(vbs::DateText(-1.25), "12/29/1899 6:00:00 AM");
    EXPECT_EQ(vbs::DateText(0), "12/30/1899");
    EXPECT_EQ(vbs::SplitDate(37623).weekday, 5);  // 2 January 2003 was a Thursday
    double date = 0;
    EXPECT_TRUE(vbs::MakeDate(2003, 14, 1, &date));  // months beyond 12 roll into the next year
    EXPECT_EQ(vbs::DateText(date), "2/1/2004");
    EXPECT_FALSE(vbs::MakeDate(10000, 1, 1, &date));
}

TEST(VBScriptLexer, TokensKeepTheirLinesAcrossLineEndsContinuationsAndComments) {
    const std::vector<vbs::Token> tokens =
        vbs::Tokenize("a = 1 _\r\n  + b ' note\r\nRem all of it\nRemark: x = [my name] <> \"q\"\"\"\r#1/2/2003#");
    std::string seen;
    for (const vbs::Token& token : tokens) {
        switch (token.kind) {
            case vbs::TokenKind::Name:
                seen += "N:" + token.lower;
                break;
            case vbs::TokenKind::Integer:
                seen += "I:" + token.text;
                break;
            case vbs::TokenKind::String:
                seen += "S:" + token.text;
                break;
            case vbs::TokenKind::Date:
                seen += "D:" + std::to_string(static_cast<int>(token.number));
                break;
            case vbs::TokenKind::Symbol:
                seen += token.text;
                break;
            case vbs::TokenKind::LineEnd:
                seen += "EOL";
                break;
            case vbs::TokenKind::Colon:
                seen += ":";
                break;
            case vbs::TokenKind::End:
                seen += "END";
                break;
            default:
                seen += "?";
                break;
        }
        seen += "@" + std::to_string(token.line) + " ";
    }
    EXPECT_EQ(seen,
              "N:a@1 =@1 I:1@1 +@2 N:b@2 EOL@2 EOL@3 N:remark@4 :@4 N:x@4 =@4 N:my name@4 <>@4 S:q\"@4 EOL@4 "
              "D:37623@5 END@5 ");
    EXPECT_TRUE(tokens[3].spaceBefore);
    EXPECT_FALSE(vbs::Tokenize("a.b")[2].spaceBefore);
}

}  // namespace
