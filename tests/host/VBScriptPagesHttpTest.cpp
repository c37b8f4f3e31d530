// VBScript pages over real HTTP, in the product's server, by chapter of the
// language reference: operators, conversions, strings, statements,
// errors, and COM (the page objects and the upload component).
#include <chrono>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "SiteServer.h"
#include "platform/RegistryValues.h"

namespace {

using namespace http_support;

class VBScriptPages : public SiteServerTest {
protected:
    // A page in VBScript; the directive writes nothing before the code.
    void VbPage(const std::string& path, const std::string& code) {
        Page(path, "<%@ Language=\"VBScript\" %><%\n" + code + "\n%>");
    }
    // Each value shown as "value:TypeName|".
    static std::string Shown(const std::string& lines) {
        return "Sub Show(v)\n"
               "  If IsNull(v) Then Response.Write \"Null|\" Else Response.Write v & \":\" & TypeName(v) & \"|\"\n"
               "End Sub\n" +
               lines;
    }
    HttpResult Post(int port, const std::string& target, const std::string& type, const std::string& body) {
        return Exchange(port, "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: " + type +
                                  "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    }
};

TEST_F(VBScriptPages, Operators) {
    VbPage("ops.asp",
           Shown("Dim s, n : s = \"10\" : n = 10\n"
                 // + adds a text to a number, joins two texts; & always joins; Empty is 0 and Null spreads.
                 "Show \"1\" + 2 : Show \"1\" & 2 : Show \"a\" + \"b\" : Show 1 + Empty : Show Null + 1 : Show \"x\" & "
                 "Null\n"
                 // An Integer that overflows becomes a Long, a Long a Double, a Byte an Integer.
                 "Show 32767 + 1 : Show 2147483647 + 1 : Show CInt(200) * 200 : Show CByte(200) + CByte(100)\n"
                 // \\ and Mod round their operands to even Longs first; ^ binds tighter than negation.
                 "Show 7 \\ 2 : Show -7 \\ 2 : Show 7.5 \\ 2 : Show 7 Mod 3 : Show -7 Mod 3\n"
                 "Show 2 ^ 10 : Show -2 ^ 2 : Show 2 ^ -1 : Show 10 / 4 : Show 10 / 5 : Show True + True\n"
                 "Show 5 And 3 : Show 5 Or 3 : Show 5 Xor 3 : Show Not 0 : Show Not True : Show True Eqv False : Show "
                 "False Imp True\n"
                 "Show Null And False : Show Null Or True : Show Null And True\n"
                 // Texts compare as texts; a text variable and a number constant as numbers; a
                 // number variable is less than any text.
                 "Show \"10\" < \"9\" : Show 10 < 9 : Show s = 10 : Show s = n : Show n < s\n"
                 "Show Empty = 0 : Show Empty = \"\" : Show Null = Null : Show \"abc\" = \"ABC\"\n"
                 "Show #1/2/2003# + 1 : Show &HFF + &HFFFF"));
    auto server = Start();
    const HttpResult result = Get(server->port(), "/ops.asp");
    ASSERT_EQ(result.status, 200) << result.body;
    EXPECT_EQ(result.body,
              "3:Double|12:String|ab:String|1:Integer|Null|x:String|"
              "32768:Long|2147483648:Double|40000:Long|300:Integer|"
              "3:Integer|-3:Integer|4:Long|1:Integer|-1:Integer|"
              "1024:Double|-4:Double|0.5:Double|2.5:Double|2:Double|-2:Integer|"
              "1:Integer|7:Integer|6:Integer|-1:Integer|False:Boolean|False:Boolean|True:Boolean|"
              "False:Boolean|True:Boolean|Null|"
              "True:Boolean|False:Boolean|True:Boolean|False:Boolean|True:Boolean|"
              "True:Boolean|True:Boolean|Null|False:Boolean|"
              "1/3/2003:Date|254:Integer|");
}

TEST_F(VBScriptPages, Conversions) {
    VbPage("conv.asp",
           Shown(
               // CInt and CLng round halves to even.
               "Show CInt(2.5) : Show CInt(3.5) : Show CInt(-2.5) : Show CInt(\"  7 \") : Show CLng(\"12\") : Show "
               "CDbl(\"1.5e3\")\n"
               "Show CStr(1.5) : Show CStr(True) : Show CBool(\"true\") : Show CBool(0) : Show CByte(255) : Show "
               "CCur(1.23456)\n"
               "Show Hex(255) : Show Hex(-1) : Show Hex(CLng(-1)) : Show Oct(8)\n"
               // Doubles are written with 15 digits, in exponent form outside 1E-04 to 1E+15.
               "Show 1 / 3 : Show 1E+20 : Show 0.00001 : Show 123456789012345678 : Show CSng(1) / 3\n"
               "Show VarType(\"x\") : Show VarType(Array()) : Show IsNumeric(\"12\") : Show IsNumeric(\"1x\")\n"
               "Show IsNumeric(Empty) : Show IsNumeric(Null) : Show IsEmpty(neverSet) : Show IsArray(Array(1))\n"
               "Show Round(2.5) : Show Round(3.5) : Show Round(3.14159, 2) : Show Int(-2.5) : Show Fix(-2.5) : Show "
               "Abs(-3)\n"
               "Show Sqr(16) : Show TypeName(Empty) : Show TypeName(Null) : Show TypeName(Nothing)\n"
               "Show CDate(\"1/2/2003 10:30 PM\")"));
    auto server = Start();
    const HttpResult result = Get(server->port(), "/conv.asp");
    ASSERT_EQ(result.status, 200) << result.body;
    EXPECT_EQ(result.body,
              "2:Integer|4:Integer|-2:Integer|7:Integer|12:Long|1500:Double|"
              "1.5:String|True:String|True:Boolean|False:Boolean|255:Byte|1.2346:Currency|"
              "FF:String|FFFF:String|FFFFFFFF:String|10:String|"
              "0.333333333333333:Double|1E+20:Double|1E-05:Double|1.23456789012346E+17:Double|0.3333333:Single|"
              "8:Integer|8204:Integer|True:Boolean|False:Boolean|"
              "True:Boolean|False:Boolean|True:Boolean|True:Boolean|"
              "2:Double|4:Double|3.14:Double|-3:Double|-2:Double|3:Integer|"
              "4:Double|Empty:String|Null:String|Nothing:String|"
              "1/2/2003 10:30:00 PM:Date|");
}

TEST_F(VBScriptPages, Strings) {
    VbPage("str.asp",
           "Sub Show(v) : Response.Write v & \"|\" : End Sub\n"
           "Show Len(\"hello\") & Len(12345) & IsNull(Len(Null))\n"
           "Show Left(\"hello\", 2) & Right(\"hello\", 3) & Mid(\"hello\", 2, 3) & Mid(\"hello\", 4) & \"[\" & "
           "Mid(\"hi\", 5) & \"]\"\n"
           "Show InStr(\"hello\", \"l\") & InStr(4, \"hello\", \"l\") & InStr(\"hello\", \"z\") & InStr(1, \"HELLO\", "
           "\"l\", 1) & InStr(\"abc\", \"\")\n"
           "Show InStrRev(\"hello\", \"l\") & InStrRev(\"hello\", \"l\", 3) & InStrRev(\"a.b.c\", \".\")\n"
           // Replace's result starts where its search starts.
           "Show Replace(\"aXbXc\", \"x\", \"-\", 1, -1, 1) & \",\" & Replace(\"abcabc\", \"b\", \"X\", 3) & \",\" & "
           "Replace(\"aaaa\", \"a\", \"b\", 1, 2)\n"
           "parts = Split(\"a,b,,c\", \",\")\n"
           "Show UBound(parts) & \"[\" & parts(2) & \"]\" & Join(parts, \"+\") & UBound(Split(\"\")) & "
           "UBound(Split(\"a b c\", \" \", 2))\n"
           "Show LCase(\"\xC3\x80"
           "BC\") & UCase(\"\xC3\xA0"
           "bc\") & \"[\" & Trim(\"  x  \") & \"][\" & LTrim(\"  x \") & \"][\" & RTrim(\" x  \") & \"]\"\n"
           "Show \"[\" & Space(3) & \"]\" & String(3, \"xyz\") & String(2, 65) & StrReverse(\"abc\")\n"
           "Show StrComp(\"a\", \"B\") & StrComp(\"a\", \"B\", 1) & StrComp(\"a\", \"A\", vbTextCompare) & "
           "IsNull(StrComp(Null, \"a\"))\n"
           "Show Asc(\"A\") & AscW(\"\xE2\x82\xAC\") & Chr(65) & ChrW(8364)\n"
           "Show \"a\"\"b\" & vbTab & \"c\"");
    auto server = Start();
    const HttpResult result = Get(server->port(), "/str.asp");
    ASSERT_EQ(result.status, 200) << result.body;
    EXPECT_EQ(result.body,
              "55True|helloelllo[]|34031|434|a-b-c,caXc,bbaa|3[]a+b++c-11|"
              "\xC3\xA0"
              "bc\xC3\x80"
              "BC[x][x ][ x]|[   ]xxxAAcba|1-10True|658364A\xE2\x82\xAC|a\"b\tc|");
}

TEST_F(VBScriptPages, Statements) {
    VbPage("st.asp",
           "Option Explicit\n"
           "Dim i, total, list(2), names, word, x, y\n"
           "Const Greeting = \"hi\", Limit = 3\n"
           "For i = 10 To 1 Step -4 : Response.Write i & \",\" : Next\n"
           "Response.Write \"|\"\n"
           "For Each word In Array(\"a\", \"b\", \"c\")\n"
           "  If word = \"b\" Then Exit For\n"
           "  Response.Write word\n"
           "Next\n"
           "Response.Write \"|\"\n"
           "i = 0\n"
           "Do Until i >= Limit : i = i + 1 : Loop\n"
           "Do : i = i + 1 : If i > 5 Then Exit Do\n"
           "Loop While True\n"
           "While i < 9 : i = i + 1 : Wend\n"
           "Response.Write i & \"|\"\n"
           "Select Case i\n"
           "  Case 1, 2 : Response.Write \"small\"\n"
           "  Case 4 + 5 : Response.Write \"nine\"\n"
           "  Case Else : Response.Write \"other\"\n"
           "End Select\n"
           "Response.Write \"|\"\n"
           // ByRef is the default; a variable in parentheses is passed as a value.
           "Sub Twice(ByRef a, ByVal b)\n"
           "  a = a * 2 : b = b * 2\n"
           "End Sub\n"
           "x = 1 : y = 1\n"
           "Twice x, y\n"
           "Response.Write x & y\n"
           "Twice (x), y\n"
           "Call Twice(x, y)\n"
           "Response.Write x & y & \"|\"\n"
           "Function Fact(n)\n"
           "  If n <= 1 Then Fact = 1 Else Fact = n * Fact(n - 1)\n"
           "End Function\n"
           "Response.Write Fact(10) & \"|\"\n"
           "For i = 0 To UBound(list) : list(i) = i * i : Next\n"
           "ReDim names(1) : names(0) = \"x\" : ReDim Preserve names(3) : names(3) = \"z\"\n"
           "Response.Write Join(list, \",\") & \";\" & Join(names, \",\") & UBound(names) & \"|\"\n"
           "Erase list\n"
           "Response.Write IsEmpty(list(1)) & \"|\"\n"
           "Response.Write \"one\" & _\n"
           "  \"two\" ' a comment\n"
           "Rem another comment\n"
           "Response.Write \"|\" & Greeting & Limit & \"|\" & #1/2/2003# & \"|\" & &HFF & &O17 & \"|\"\n"
           "If i = 3 Then Response.Write \"a\" : Response.Write \"b\" Else Response.Write \"c\"\n"
           "%>|<% If i > 100 Then %>big<% ElseIf i > 1 Then %>some<% Else %>none<% End If %>|<%= Fact(3) %><%");
    auto server = Start();
    const HttpResult result = Get(server->port(), "/st.asp");
    ASSERT_EQ(result.status, 200) << result.body;
    EXPECT_EQ(result.body, "10,6,2,|a|9|nine|2141|3628800|0,1,4;x,,,z3|True|onetwo|hi3|1/2/2003|25515|ab|some|6");
}

TEST_F(VBScriptPages, Arrays) {
    VbPage("arrays.asp",
           "Dim m(1, 2), i, j, v, e()\n"
           "For i = 0 To 1 : For j = 0 To 2 : m(i, j) = i & j : Next : Next\n"
           // For Each walks the first index fastest, as the arrays lie in memory.
           "For Each v In m : Response.Write v & \" \" : Next\n"
           "Response.Write \"|\" & UBound(m) & UBound(m, 2) & LBound(m, 1) & \"|\"\n"
           "ReDim Preserve m(1, 3) : m(1, 3) = \"x\"\n"
           "Response.Write m(1, 3) & m(0, 2) & \"|\"\n"
           "On Error Resume Next\n"
           // Only the last dimension of a kept array may change.
           "ReDim Preserve m(2, 3) : Response.Write Err.Number & \"|\" : Err.Clear\n"
           "Response.Write UBound(m, 3) : Response.Write Err.Number & \"|\" : Err.Clear\n"
           "v = m(0) : Response.Write Err.Number & \"|\" : Err.Clear\n"
           "Response.Write UBound(5) : Response.Write Err.Number & \"|\" : Err.Clear\n"
           "On Error GoTo 0\n"
           // An array is copied by assignment; arrays hold arrays.
           "a = Array(Array(1, 2), Array(3, 4)) : b = a : b(0) = \"changed\"\n"
           "Response.Write a(1)(0) & TypeName(a(0)) & TypeName(b(0)) & \"|\"\n"
           "Response.Write UBound(e) & \"|\" : ReDim e(2) : e(2) = 7 : Response.Write UBound(e) & e(2) & \"|\"\n"
           "Erase e : Response.Write UBound(e) & IsEmpty(e(2)) & \"|\" & VarType(e) & IsArray(e)\n");
    auto server = Start();
    const HttpResult result = Get(server->port(), "/arrays.asp");
    ASSERT_EQ(result.status, 200) << result.body;
    EXPECT_EQ(result.body, "00 10 01 11 02 12 |120|x02|9|9|9|13|3Variant()String|-1|27|2True|8204True");
}

TEST_F(VBScriptPages, OnErrorResumeNextKeepsTheReferencesErrorsInErr) {
    VbPage("err.asp",
           "Option Explicit\n"
           "Dim d, r, a(1)\n"
           "Sub Report\n"
           "  Response.Write Err.Number & \":\" & Err.Description & \"|\"\n"
           "  Err.Clear\n"
           "End Sub\n"
           "Sub NeedsTwo(p, q)\n"
           "End Sub\n"
           "On Error Resume Next\n"
           "r = 1 / 0 : Report\n"
           "r = a(5) : Report\n"
           "r = \"abc\" * 2 : Report\n"
           "r = CInt(40000) : Report\n"
           "r = undeclared : Report\n"
           "r = Nothing.Name : Report\n"
           "Set d = Server.CreateObject(\"Scripting.Dictionary\")\n"
           "d.NoSuchMember : Report\n"
           "d.Add \"k\", 1 : d.Add \"k\", 2 : Report\n"
           "NeedsTwo 1 : Report\n"
           "r = CLng(Null) : Report\n"
           "Err.Raise vbObjectError + 7, \"my page\", \"my own\"\n"
           "Response.Write Err.Number & \":\" & Err.Source & \":\" & Err.Description & \"|\" : Err.Clear\n"
           "Err.Raise 6 : Report\n"
           // A COM object's failure is its HRESULT, with the text the object gave.
           "r = Server.MapPath(\"/../outside\") : Response.Write Hex(Err.Number) & \":\" & (Len(Err.Description) > 0) "
           "& \"|\" : Err.Clear\n"
           "Report\n"
           "Sub Inner\n"
           "  r = 1 / 0\n"
           "  Response.Write \"not here\"\n"
           "End Sub\n"
           // An error in a procedure without a handler of its own leaves it for the caller's.
           "Inner : Report\n"
           "On Error GoTo 0\n"
           "Response.Write \"end\"");
    auto server = Start();
    const HttpResult result = Get(server->port(), "/err.asp");
    ASSERT_EQ(result.status, 200) << result.body;
    EXPECT_EQ(result.body,
              "11:Division by zero|9:Subscript out of range|13:Type mismatch|6:Overflow|"
              "500:Variable is undefined: 'undeclared'|424:Object required|"
              "438:Object doesn't support this property or method: 'NoSuchMember'|"
              "457:This key is already associated with an element of this collection|"
              "450:Wrong number of arguments or invalid property assignment: 'NeedsTwo'|94:Invalid use of Null|"
              "-2147221497:my page:my own|6:Overflow|80070005:True|0:|11:Division by zero|end");
}

TEST_F(VBScriptPages, UncaughtErrorsAnswerTheErrorPageAndAreLogged) {
    VbPage("runtime.asp", "Response.Write \"partial\"\nDim x\nx = \"abc\" + 1\nResponse.Write \"never\"");
    Page("lib/broken.inc", "<%\nSub Helper()\n  If True Then\n    x = 1 +\n  End If\nEnd Sub\n%>");
    Page("compile.asp", "<%@ Language=\"VBScript\" %>\n<!-- #include file=\"lib/broken.inc\" -->\n<% Helper %>");
    VbPage("deep.asp", "Function Down(n)\n  Down = Down(n + 1)\nEnd Function\nDown 1");
    VbPage("loops.asp", "Server.ScriptTimeout = 1\nDo\nLoop");
    VbPage("ok.asp", "Response.Write 6 * 7");
    // A page runs on a stack of its own, deeper than a worker's 100 KB; a
    // runaway recursion is error 28, which the page can handle.
    VbPage("nested.asp", "Response.Write " + std::string(90, '(') + "6 * 7" + std::string(90, ')') +
                             "\n"
                             "Dim depth\nFunction Down(n) : depth = n : Down = Down(n + 1) : End Function\n"
                             "On Error Resume Next\nDown 1\nResponse.Write \"|\" & (depth > 300) & Err.Number");
    auto server = Start({"--threads", "2"}, 2);
#if defined(__SANITIZE_THREAD__)
    // ThreadSanitizer builds run pages on the worker's own stack: the
    // recursion is stopped sooner, with the same error.
    const std::string deeperThanAWorker = "False";
#else
    const std::string deeperThanAWorker = "True";
#endif
    EXPECT_EQ(Get(server->port(), "/nested.asp").body, "42|" + deeperThanAWorker + "28");
    const HttpResult runtime = Get(server->port(), "/runtime.asp");
    EXPECT_EQ(runtime.status, 500);
    EXPECT_NE(runtime.body.find("/runtime.asp, line 4"), std::string::npos) << runtime.body;
    EXPECT_NE(runtime.body.find("VBScript runtime error 13 (0x800A000D): Type mismatch"), std::string::npos)
        << runtime.body;
    EXPECT_EQ(runtime.body.find("partial"), std::string::npos);
    const HttpResult compile = Get(server->port(), "/compile.asp");
    EXPECT_EQ(compile.status, 500);
    EXPECT_NE(compile.body.find("/lib/broken.inc, line 4"), std::string::npos) << compile.body;
    EXPECT_NE(compile.body.find("VBScript compilation error 1023 (0x800A03FF): Expected expression"), std::string::npos)
        << compile.body;
    const HttpResult deep = Get(server->port(), "/deep.asp");
    EXPECT_EQ(deep.status, 500);
    EXPECT_NE(deep.body.find("28 (0x800A001C): Out of stack space"), std::string::npos) << deep.body;
    const auto start = std::chrono::steady_clock::now();
    const HttpResult looped = Get(server->port(), "/loops.asp");
    EXPECT_EQ(looped.status, 500);
    EXPECT_NE(looped.body.find("ScriptTimeout of 1 seconds"), std::string::npos) << looped.body;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Get(server->port(), "/ok.asp").body, "42");
    const std::string log = Log();
    EXPECT_NE(log.find("The script page /runtime.asp failed at /runtime.asp, line 4: VBScript runtime error 13"),
              std::string::npos)
        << log;
    EXPECT_NE(
        log.find("The script page /compile.asp failed at /lib/broken.inc, line 4: VBScript compilation error 1023"),
        std::string::npos)
        << log;
}

TEST_F(VBScriptPages, ThePageObjectsThroughLateBinding) {
    VbPage("objects.asp",
           "Dim q : Set q = Request.QueryString(\"a\")\n"
           "Response.Write q & \"|\" & q.Count & \"|\" & q(2) & \"|\" & Request.QueryString(\"a\")(1) & \"|\"\n"
           "For Each k In Request.QueryString : Response.Write k & \";\" : Next\n"
           "Response.Write \"|\" & Request.Cookies(\"taste\") & \"|\" & Request.ServerVariables(\"REQUEST_METHOD\") & "
           "\"|\"\n"
           "Response.Cookies(\"flavour\") = \"dark chocolate\"\n"
           "Session(\"visits\") = 3 : Application(\"seen\") = \"yes\"\n"
           "Response.Write Session(\"visits\") + 1 & Application(\"seen\") & \"|\"\n"
           "Response.AddHeader \"X-Page\", \"vb\"\n"
           "Set d = Server.CreateObject(\"Scripting.Dictionary\")\n"
           "d.Add \"one\", 1 : d(\"two\") = 2 : d.Item(\"three\") = 3\n"
           "For Each k In d : Response.Write k & \"=\" & d(k) & \";\" : Next\n"
           "Set same = d\n"
           "Response.Write \"|\" & (same Is d) & (d Is Nothing) & IsObject(d) & d.Count & \"|\"\n"
           "Response.Write Server.HTMLEncode(\"<b>\")\n"
           "Response.End\n"
           "Response.Write \"after the end\"");
    auto server = Start();
    const HttpResult result = Exchange(
        server->port(), "GET /objects.asp?a=1&b=2&a=x%20y HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: taste=sweet\r\n\r\n");
    ASSERT_EQ(result.status, 200) << result.body;
    EXPECT_EQ(result.header("X-Page"), "vb");
    EXPECT_NE(result.head.find("Set-Cookie: flavour=dark+chocolate"), std::string::npos) << result.head;
    EXPECT_EQ(result.body, "1, x y|2|x y|1|a;b;|sweet|GET|4yes|one=1;two=2;three=3;|TrueFalseTrue3|&lt;b&gt;");
}

TEST_F(VBScriptPages, PropertyPutsByValueAndByReferenceAndCollections) {
    VbPage("puts.asp",
           "Set d = Server.CreateObject(\"Scripting.Dictionary\")\n"
           "Set other = Server.CreateObject(\"Scripting.Dictionary\")\n"
           // Set puts the object itself (put by reference); a plain put takes a value.
           "Set d(\"obj\") = other : d(\"text\") = \"t\"\n"
           "Response.Write (d(\"obj\") Is other) & IsObject(d(\"text\")) & d.Count & \"|\"\n"
           "Set held = d(\"obj\") : held.Add \"k\", \"v\"\n"
           "Response.Write other(\"k\") & \"|\"\n"
           "For Each name In Request.Form : Response.Write name & \"=\" & Request.Form(name) & \";\" : Next\n"
           "Response.Write \"|\" & Request.Form(\"b\").Count & \"|\"\n"
           "Response.Cookies(\"prefs\")(\"color\") = \"dark blue\"\n"
           "On Error Resume Next\n"
           "For Each x In Response : Next\n"
           "Response.Write Err.Number & \"|\" : Err.Clear\n"
           "Set d = 5\n"
           "Response.Write Err.Number & \"|\" : Err.Clear\n"
           "d.Add \"text\", 2\n"
           "Response.Write Err.Number & \":\" & Err.Description");
    auto server = Start();
    const HttpResult result = Post(server->port(), "/puts.asp", "application/x-www-form-urlencoded", "a=1&b=2&b=3");
    ASSERT_EQ(result.status, 200) << result.body;
    EXPECT_NE(result.head.find("Set-Cookie: prefs=color=dark+blue"), std::string::npos) << result.head;
    EXPECT_EQ(result.body,
              "TrueFalse2|v|a=1;b=2, 3;|2|451|424|457:This key is already associated with an element of "
              "this collection");
}

TEST_F(VBScriptPages, TheUploadComponentReadsFieldsAndSavesFiles) {
    VbPage("upload.asp",
           "Set form = Server.CreateObject(\"Formix4.XForm\")\n"
           "For Each name In form\n"
           "  Set group = form(name)\n"
           "  For Each field In group\n"
           "    Response.Write \"[\" & Server.HTMLEncode(name) & \":\" & group.Count & \":\" & field.Length & \":\" & "
           "field.Content & \"]\"\n"
           "    If field.FileExists Then field.Save \"/uploads/\" & field.SafeFileName\n"
           "  Next\n"
           "Next\n"
           "Response.Write \"|\" & form(\"doc\")(1).FileName & \"|\"\n"
           "On Error Resume Next\n"
           "form(\"doc\")(1).Save \"/../outside.txt\"\n"
           "Response.Write Err.Number & \":\" & (Len(Err.Description) > 0)\n"
           "On Error GoTo 0\n"
           "form(\"doc\")(1).Save \"/../outside.txt\"");
    const std::string body =
        "--B\r\nContent-Disposition: form-data; name=\"a<b\"\r\n\r\none\r\n"
        "--B\r\nContent-Disposition: form-data; name=\"a<b\"\r\n\r\ntwo\r\n"
        "--B\r\nContent-Disposition: form-data; name=\"doc\"; filename=\"note.txt\"\r\nContent-Type: "
        "text/plain\r\n\r\nfile body\r\n"
        "--B--\r\n";
    auto server = Start();
    const HttpResult result = Post(server->port(), "/upload.asp", "multipart/form-data; boundary=B", body);
    // The last Save fails uncaught: its HRESULT and the component's text answer the error page.
    EXPECT_EQ(result.status, 500);
    EXPECT_NE(result.body.find("/upload.asp, line 15"), std::string::npos) << result.body;
    EXPECT_NE(result.body.find("VBScript runtime error -2147024891 (0x80070005)"), std::string::npos) << result.body;
    std::ifstream saved(mRoot / "uploads" / "note.txt");
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(saved)), std::istreambuf_iterator<char>()), "file body");
    EXPECT_FALSE(std::filesystem::exists(mRoot.parent_path() / "outside.txt"));

    VbPage("fields.asp",
           "Set form = Server.CreateObject(\"Formix4.XForm\")\n"
           "For Each name In form\n"
           "  For Each field In form(name)\n"
           "    Response.Write \"[\" & Server.HTMLEncode(name) & \":\" & field.Length & \":\" & field.Content & \"]\"\n"
           "  Next\n"
           "Next\n"
           "Response.Write \"|\" & form(\"doc\")(1).FileName & \"|\"\n"
           "On Error Resume Next\n"
           "form(\"doc\")(1).Save \"/../outside.txt\"\n"
           "Response.Write Err.Number & \":\" & (Len(Err.Description) > 0)");
    const HttpResult fields = Post(server->port(), "/fields.asp", "multipart/form-data; boundary=B", body);
    ASSERT_EQ(fields.status, 200) << fields.body;
    EXPECT_EQ(fields.body, "[a&lt;b:3:one][a&lt;b:3:two][doc:9:file body]|note.txt|-2147024891:True");
}

TEST_F(VBScriptPages, GlobalAsaPagesOfEitherLanguageAndDeclaredObjects) {
    // global.asa in VBScript: its blocks' language is the file's.
    Page("global.asa",
         "<SCRIPT LANGUAGE=\"VBScript\" RUNAT=\"Server\">\n"
         "Sub Application_OnStart\n  Application(\"log\") = \"app;\"\nEnd Sub\n"
         "Sub Session_OnStart\n  Session(\"n\") = 10\n  Application(\"log\") = Application(\"log\") & \"start;\"\nEnd "
         "Sub\n"
         "</SCRIPT>\n");
    VbPage("count.asp",
           "Session(\"n\") = Session(\"n\") + 1\nResponse.Write Session(\"n\") & \"|\" & Application(\"log\")");
    // A VBScript page runs a JScript page and the other way round, each in its own engine.
    VbPage("outer.asp", "Response.Write \"vb(\"\nServer.Execute \"inner.asp\"\nResponse.Write \")\" & 1 / 4");
    Page("inner.asp", "<%@ Language=\"JScript\" %><% Response.Write('js:' + (1 / 4)); Server.Execute('leaf.asp'); %>");
    VbPage("leaf.asp", "Response.Write \"[leaf \" & IsObject(Server) & \"]\"");
    // The page's own objects, made at their first use; dates written as the language writes them.
    Page("declared.asp",
         "<%@ Language=\"VBScript\" %><object runat=\"server\" id=\"bag\" progid=\"Scripting.Dictionary\"></object>"
         "<% bag.Add \"k\", \"v\" : Response.Write bag(\"k\") & bag.Count & \"|\"\n"
         "Response.Write #1/2/2003 10:30:00 PM# %>|<%= #12/30/1899 6:00:00 AM# %>|<%= CSng(1) / 3 %>|<%= 1 / 3 %>");
    auto server = Start();
    Visitor visitor;
    HttpResult first = Get(server->port(), "/count.asp", visitor);
    visitor.remember(first);
    EXPECT_EQ(first.body, "11|app;start;");
    EXPECT_EQ(Get(server->port(), "/count.asp", visitor).body, "12|app;start;");
    const HttpResult outer = Get(server->port(), "/outer.asp");
    EXPECT_EQ(outer.body, "vb(js:0.25[leaf True])0.25") << outer.body;
    EXPECT_EQ(Get(server->port(), "/declared.asp").body,
              "v1|1/2/2003 10:30:00 PM|6:00:00 AM|0.3333333|0.333333333333333");
}

TEST_F(VBScriptPages, TheVBScriptExamplePageSavesAnUpload) {
    std::filesystem::create_directories(mRoot / "examples");
    std::filesystem::copy_file(EXAMPLES_DIR "/upload-vbscript.asp", mRoot / "examples" / "upload-vbscript.asp");
    auto server = Start();
    EXPECT_NE(Get(server->port(), "/examples/upload-vbscript.asp").body.find("enctype=\"multipart/form-data\""),
              std::string::npos);
    const std::string body =
        "--E\r\nContent-Disposition: form-data; name=\"file\"; filename=\"C:\\docs\\a&b.txt\"\r\n"
        "Content-Type: text/plain\r\n\r\nsaved bytes\r\n--E--\r\n";
    const HttpResult saved =
        Post(server->port(), "/examples/upload-vbscript.asp", "multipart/form-data; boundary=E", body);
    EXPECT_NE(saved.body.find("<p>Saved a&amp;b.txt (11 bytes).</p>"), std::string::npos) << saved.body;
    std::ifstream file(mRoot / "uploads" / "a&b.txt");
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>()), "saved bytes");
    // The second save of the same name fails; the page shows the component's text.
    const HttpResult again =
        Post(server->port(), "/examples/upload-vbscript.asp", "multipart/form-data; boundary=E", body);
    EXPECT_NE(again.body.find("<p>Not saved: "), std::string::npos) << again.body;
}

TEST_F(VBScriptPages, ServerScriptBlocksIncludesAndTheSiteErrorPage) {
    // A <script runat="server"> block's procedures are called from anywhere in the page;
    // its own statements run after the rest of the page.
    Page("blocks.asp",
         "<%@ Language=\"VBScript\" %>A<%= Twice(2) %>|<script language=\"VBScript\" runat=\"server\">\n"
         "Function Twice(n)\n  Twice = 2 * n\nEnd Function\nResponse.Write \"|last\"\n</script>B<%= Twice(3) %>");
    Page("lib/fails.inc", "<%\nSub Fails()\n  Dim a(1)\n  a(2) = 1\nEnd Sub\n%>");
    Page("includes.asp", "<%@ Language=\"VBScript\" %><!-- #include file=\"lib/fails.inc\" -->\n<% Fails %>");
    platform::registry::WriteString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Venhale\\Formix4Site", "ErrorPage500",
                                    "/errors/500.asp");
    Page("errors/500.asp",
         "<%@ Language=\"VBScript\" %><% Set e = Server.GetLastError() %><%= e.Number %>|<%= e.Description %>|"
         "<%= e.File %>|<%= e.Line %>|<%= e.Category %>");
    VbPage("bad.asp", "Dim x\nx = \"a\" * 2");
    auto server = Start();
    EXPECT_EQ(Get(server->port(), "/blocks.asp").body, "A4|B6|last");
    const HttpResult included = Get(server->port(), "/includes.asp");
    EXPECT_EQ(included.status, 500);
    EXPECT_EQ(included.body, "-2146828279|Subscript out of range|/lib/fails.inc|4|VBScript runtime");
    const HttpResult bad = Get(server->port(), "/bad.asp");
    EXPECT_EQ(bad.status, 500);
    EXPECT_EQ(bad.body, "-2146828275|Type mismatch|/bad.asp|3|VBScript runtime");
    EXPECT_NE(Log().find("The script page /bad.asp failed at /bad.asp, line 3"), std::string::npos) << Log();
}

}  // namespace
