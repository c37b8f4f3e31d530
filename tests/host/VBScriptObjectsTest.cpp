// The VBScript engine against an object of the test's own: what the
// engine hands IDispatch (argument order, missing arguments, put and
// put-by-reference, default members, _NewEnum) and how the object's
// failures become Err, where a server's objects could not show them.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/CodePage.h"
#include "platform/Enumerator.h"
#include "platform/RefCounted.h"
#include "vbscript/Conversions.h"
#include "vbscript/Interpreter.h"
#include "vbscript/Parser.h"
#include "vbscript/RuntimeError.h"

namespace {

using vbs::Value;

enum Member : DISPID { kLog = 1, kFail, kFailControl, kFailLater, kArgs, kRef, kBadCount, kSelf };

// Records what it is asked; Log writes its argument to `out`.
class Recorder : public platform::RefCounted<IDispatch> {
public:
    std::string out;
    std::vector<std::string> calls;

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (riid != IID_IUnknown && riid != IID_IDispatch) return E_NOINTERFACE;
        AddRef();
        *ppv = static_cast<IDispatch*>(this);
        return S_OK;
    }
    HRESULT GetTypeInfoCount(UINT* count) override { return *count = 0, S_OK; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID, DISPID* ids) override {
        static const std::pair<const char*, DISPID> kNames[] = {
            {"log", kLog},   {"fail", kFail}, {"failcontrol", kFailControl}, {"faillater", kFailLater},
            {"args", kArgs}, {"ref", kRef},   {"badcount", kBadCount},       {"self", kSelf}};
        const std::string name = platform::codepage::Utf16ToUtf8(platform::codepage::FoldCase(names[0]));
        for (const auto& [known, id] : kNames)
            if (name == known) return *ids = id, S_OK;
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                   UINT*) override {
        switch (id) {
            case kLog:
                out += vbs::ToUtf8(Value::CopyOf(params->rgvarg[0]));
                return S_OK;
            case kFail:
                exception->scode = static_cast<SCODE>(0x80040155);
                exception->bstrDescription = SysAllocString(u"broken");
                exception->bstrSource = SysAllocString(u"Recorder");
                return DISP_E_EXCEPTION;
            case kFailControl:
                exception->scode = static_cast<SCODE>(0x800A0005);
                return DISP_E_EXCEPTION;
            case kFailLater:
                exception->pfnDeferredFillIn = [](EXCEPINFO* filled) {
                    filled->scode = E_FAIL;
                    filled->bstrDescription = SysAllocString(u"filled in later");
                    return S_OK;
                };
                return DISP_E_EXCEPTION;
            case kBadCount:
                return DISP_E_BADPARAMCOUNT;
            case kSelf:
                AddRef();
                result->vt = VT_DISPATCH;
                result->pdispVal = this;
                return S_OK;
            case DISPID_NEWENUM: {
                std::vector<VARIANT> items;
                for (const char16_t* text : {u"a", u"b", u"c"}) items.push_back(Value::String(text).release());
                IEnumVARIANT* items_enum = nullptr;
                CreateVariantEnumerator(std::move(items), &items_enum);
                result->vt = VT_UNKNOWN;
                result->punkVal = items_enum;
                return S_OK;
            }
            default:
                break;
        }
        // Args, Ref and the default member record the call and give "item:<first argument>".
        std::string call = std::to_string(id) + (flags & DISPATCH_PROPERTYPUTREF ? " putref"
                                                 : flags & DISPATCH_PROPERTYPUT  ? " put"
                                                                                 : " get");
        if (params->cNamedArgs) call += " named" + std::to_string(params->rgdispidNamedArgs[0]);
        for (UINT n = params->cArgs; n-- > 0;) {
            const VARIANT& arg = params->rgvarg[n];
            call += arg.vt == VT_ERROR      ? " missing"
                    : arg.vt == VT_DISPATCH ? " object"
                                            : " " + vbs::ToUtf8(Value::CopyOf(arg));
        }
        calls.push_back(call);
        if (result && params->cArgs)
            *result = Value::Utf8("item:" + vbs::ToUtf8(Value::CopyOf(params->rgvarg[params->cArgs - 1]))).release();
        return S_OK;
    }
};

class ObjectHost : public vbs::ScriptHost {
public:
    explicit ObjectHost(Recorder* recorder) : mRecorder(recorder) {}
    IDispatch* pageObject(const std::string& name) override { return name == "out" ? mRecorder : nullptr; }
    bool stopNow() override { return false; }

private:
    Recorder* mRecorder;
};

class VBScriptObjects : public ::testing::Test {
protected:
    ~VBScriptObjects() override { mRecorder->Release(); }
    // Runs the program; what it logged, or "error N" for an uncaught error.
    std::string Run(const std::string& source) {
        ObjectHost host(mRecorder);
        try {
            vbs::Interpreter(vbs::Compile(source), host).run();
        } catch (const vbs::RuntimeError& error) {
            return mRecorder->out + "error " + std::to_string(error.number);
        }
        return mRecorder->out;
    }
    Recorder* mRecorder = new Recorder;
};

TEST_F(VBScriptObjects, ArgumentsArePassedInOrderWithMissingOnesMarked) {
    EXPECT_EQ(
        Run("out.Args 1, , \"three\"\nCall out.Args()\nout.Args (1) + 1, 2\nx = out.Self()(6)\nx = out.Args(4)(5)"),
        "error 13");  // the member's text has no default member
    EXPECT_EQ(mRecorder->calls,
              (std::vector<std::string>{"5 get 1 missing three", "5 get", "5 get 2 2", "0 get 6", "5 get 4"}));
}

TEST_F(VBScriptObjects, PutsNameTheirValueAndSetPutsByReference) {
    EXPECT_EQ(Run("out.Ref = 5\nSet out.Ref = out\nout(3) = \"x\"\nSet out(4) = out\nout.Ref(1, 2) = 9"), "");
    EXPECT_EQ(mRecorder->calls,
              (std::vector<std::string>{"6 put named-3 5", "6 putref named-3 object", "0 put named-3 3 x",
                                        "0 putref named-3 4 object", "6 put named-3 1 2 9"}));
    // A value that is not an object cannot be Set.
    EXPECT_EQ(Run("Set out.Ref = 5"), "error 424");
}

TEST_F(VBScriptObjects, DefaultMembersEnumerationAndIdentity) {
    EXPECT_EQ(Run("x = out(7)\nout.Log x & \"|\"\n"
                  "For Each v In out : out.Log v : Next\n"
                  "Set s = out.Self\nout.Log \"|\" & (s Is out) & (s Is Nothing) & IsObject(s)"),
              "item:7|abc|TrueFalseTrue");
}

TEST_F(VBScriptObjects, FailuresBecomeErrWithTheObjectsNumberTextAndSource) {
    EXPECT_EQ(Run("On Error Resume Next\n"
                  "out.Fail : out.Log Err.Number & \":\" & Err.Description & \":\" & Err.Source & \"|\" : Err.Clear\n"
                  "out.FailControl : out.Log Err.Number & \":\" & Err.Description & \"|\" : Err.Clear\n"
                  "out.FailLater : out.Log Hex(Err.Number) & \":\" & Err.Description & \"|\" : Err.Clear\n"
                  "out.NoSuchThing : out.Log Err.Number & \":\" & Err.Description & \"|\" : Err.Clear\n"
                  "out.BadCount : out.Log Err.Number & \"|\" : Err.Clear\n"
                  "x = Nothing.Log : out.Log Err.Number & \"|\"\n"
                  "On Error GoTo 0\nout.Log \"end|\"\nout.Fail"),
              "-2147221163:broken:Recorder|5:Invalid procedure call or argument|80004005:filled in later|"
              "438:Object doesn't support this property or method: 'NoSuchThing'|450|424|end|error -2147221163");
}

TEST_F(VBScriptObjects, ProceduresAndTheirScopes) {
    EXPECT_EQ(Run("Function Early(n)\n  Early = n : If n > 1 Then Exit Function\n  Early = -1\nEnd Function\n"
                  "Sub Bump(ByRef v) : v = v + 1 : End Sub\n"
                  "Sub PassOn(ByRef w) : Bump w : Bump (w) : End Sub\n"
                  "Sub Locals : Const k = 5 : Dim g : g = k : out.Log g & IsEmpty(shared) : End Sub\n"
                  "Function NoResult() : End Function\n"
                  "shared = 1 : n = 1 : PassOn n\n"
                  "out.Log Early(2) & Early(1) & \"|\" & n & \"|\"\n"
                  "Locals\n"
                  "out.Log \"|\" & IsEmpty(NoResult()) & IsEmpty(g) & \"|\"\n"
                  "On Error Resume Next\nx = 1 / 0\nout.Log Err & \"|\"\nOn Error Resume Next\nout.Log Err.Number"),
              "2-1|2|5False|TrueTrue|11|0");
}

TEST_F(VBScriptObjects, FunctionsRefuseArgumentsOutsideTheirRange) {
    struct Case {
        const char* expression;
        int number;
    } cases[] = {
        {"Mid(\"a\", 0)", 5},
        {"Left(\"a\", -1)", 5},
        {"Chr(256)", 5},
        {"ChrW(65536)", 5},
        {"Asc(\"\")", 5},
        {"InStr(0, \"a\", \"a\")", 5},
        {"InStrRev(\"a\", \"a\", 0)", 5},
        {"Round(1.5, -1)", 5},
        {"Sqr(-1)", 5},
        {"Space(-1)", 5},
        {"String(2, \"\")", 5},
        {"StrComp(\"a\", \"b\", 3)", 5},
        {"CInt(\"abc\")", 13},
        {"CInt(Null)", 94},
        {"CByte(256)", 6},
        {"CInt(32767.5)", 6},
        {"CDate(\"x\")", 13},
        {"UBound(1)", 13},
        {"LBound(Array(), 2)", 9},
        {"Join(1)", 13},
        {"Split(Null)", 94},
        {"Left(\"a\")", 450},
        {"Len()", 450},
        {"Array(1, , 2)", 5},
        {"Replace(\"a\", \"a\", \"b\", 0)", 5},
    };
    for (const Case& c : cases) {
        mRecorder->out.clear();
        EXPECT_EQ(Run(std::string("x = ") + c.expression), "error " + std::to_string(c.number)) << c.expression;
    }
    mRecorder->out.clear();
    EXPECT_EQ(Run("out.Log IsNull(Hex(Null)) & IsNull(Left(Null, 1)) & IsNull(Trim(Null)) & VarType(Null) & "
                  "TypeName(CByte(1))"),
              "TrueTrueTrue1Byte");
}

TEST_F(VBScriptObjects, OneLineIfsBareCallsAndLoopsParseAsTheReferenceReadsThem) {
    EXPECT_EQ(Run("For Each x In Array(True, False)\n"
                  "  If x Then out.Log \"a\" : out.Log \"b\" Else out.Log \"c\" : out.Log \"d\"\n"
                  "Next\n"
                  // An Else belongs to the nearest If of the line.
                  "If True Then If False Then out.Log \"1\" Else out.Log \"2\"\n"
                  "If False Then If True Then out.Log \"3\" Else out.Log \"4\"\n"
                  "out.Log \"|\"\n"
                  // A Sub's first argument may open with a bracket that does not close the list.
                  "out.Log (1) & 2 : out.Log(3) : Call out.Log(\"4\") : out.Log \"|\"\n"
                  "Select Case \"b\" : Case \"a\" : out.Log 1 : Case \"B\", \"b\" : out.Log 2 : Case Else : out.Log 3 "
                  ": End Select\n"
                  "i = 0 : Do : i = i + 1 : Loop Until i >= 3 : out.Log i\n"
                  // Exit Do leaves the Do around a While ... Wend.
                  "Do\n  While True\n    Exit Do\n  Wend\n  out.Log \"never\"\nLoop\n"
                  "For i = 1 To 3 : For j = 1 To 3 : If j = 2 Then Exit For\n  out.Log j : Next : Next\n"
                  "For i = 3 To 1 : out.Log \"never\" : Next : out.Log \"|\" & i\n"
                  "For i = 1 To 2 Step 0.5 : out.Log i & \";\" : Next"),
              "abcd2|1234|23111|31;1.5;2;");
}

TEST_F(VBScriptObjects, TheLastErrorStaysInErrUntilCleared) {
    EXPECT_EQ(Run("On Error Resume Next\n"
                  "x = 1 / 0 : y = 2\n"
                  "out.Log Err.Number & \"|\" & y & \"|\"\n"
                  "x = CInt(\"7\") : out.Log Err.Number & \"|\"\n"  // a statement that succeeds keeps Err
                  "On Error GoTo 0 : out.Log Err.Number & \"|\"\n"
                  "Err.Number = 6 : out.Log Err.Number & \"|\"\n"
                  "Err.Clear : out.Log Err.Number & Err.Source & \"|\"\n"
                  // A procedure's own handler: the caller's is off again after it returns.
                  "Sub Quiet : On Error Resume Next : x = 1 / 0 : out.Log \"q\" & Err.Number : End Sub\n"
                  "Quiet\nErr.Raise 9"),
              "11|2|11|0|6|0|q11error 9");
}

}  // namespace
