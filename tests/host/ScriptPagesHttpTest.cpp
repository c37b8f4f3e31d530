// Script pages over real HTTP, in the product's server: the page objects
// and their members, COM objects in the language, errors, time limits,
// sources that are never sent, sessions and the shared Application.
#include <chrono>
#include <fstream>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "SiteServer.h"

namespace {

using namespace http_support;

class ScriptPages : public SiteServerTest {
protected:
    HttpResult Post(int port, const std::string& target, const std::string& type, const std::string& body) {
        return Exchange(port, "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: " + type +
                                  "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    }
};

TEST_F(ScriptPages, RequestResponseAndServerMembers) {
    Page("members.asp",
         "<%@ Language=\"JScript\" %>\n"
         "<% var a = Request.QueryString(\"a\"); %>"
         "a=<%= a %>|count=<%= a.Count %>|second=<%= a(2) %>|missing=<%= Request.QueryString(\"zz\") %>|"
         "joined=<%= '' + Request.QueryString(\"zz\") %>|"
         "names=<% var e = new Enumerator(Request.QueryString); for (; !e.atEnd(); e.moveNext()) "
         "Response.Write(e.item() + ';'); %>|"
         "method=<%= Request.ServerVariables(\"REQUEST_METHOD\") %>|header=<%= "
         "Request.ServerVariables(\"HTTP_X_TRACE\") %>|"
         "cookie=<%= Request.Cookies(\"taste\") %>|html=<%= Server.HTMLEncode(\"<a href='x'>&\") %>|"
         "url=<%= Server.URLEncode(\"a b&c\") %>|map=<%= Server.MapPath(\"x.txt\").slice(-10) %>\n"
         "<% Response.ContentType = \"text/plain\"; Response.Charset = \"utf-8\"; Response.Status = \"202 Accepted\";\n"
         "Response.AddHeader(\"X-Page\", \"yes\"); Response.Cookies(\"flavour\") = \"dark chocolate\"; %>");
    auto server = Start();
    const HttpResult result = Exchange(server->port(),
                                       "GET /members.asp?a=1&b=2&a=x%20y HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Trace: "
                                       "t1\r\nCookie: taste=sweet+sour\r\n\r\n");
    EXPECT_EQ(result.status, 202);
    EXPECT_EQ(result.header("Content-Type"), "text/plain; charset=utf-8");
    EXPECT_EQ(result.header("X-Page"), "yes");
    EXPECT_NE(result.head.find("Set-Cookie: flavour=dark+chocolate; Path=/"), std::string::npos) << result.head;
    // An absent name writes nothing, but reads as undefined where the
    // language makes a text of it, as pages have always seen it.
    EXPECT_EQ(
        result.body,
        "\na=1, x y|count=2|second=x y|missing=|joined=undefined|names=a;b;|method=GET|header=t1|cookie=sweet sour|"
        "html=&lt;a href=&#39;x&#39;&gt;&amp;|url=a+b%26c|map=/www/x.txt\n");
}

TEST_F(ScriptPages, AFormBodyIsReadOneWayOnly) {
    Page("form.asp",
         "total=<%= Request.TotalBytes %>|name=<%= Request.Form(\"name\") %>|"
         "<% try { Request.BinaryRead(4); } catch (e) { Response.Write(e.number + ':' + e.description); } %>");
    Page("bytes.asp",
         "<% var b = Request.BinaryRead(Request.TotalBytes); var v = new VBArray(b); %>"
         "bytes=<%= v.ubound() + 1 %>,<%= v.getItem(0) %>|<% Response.BinaryWrite(b); %>|"
         "<% try { Request.Form(\"name\"); } catch (e) { Response.Write(e.number); } %>");
    auto server = Start();
    const HttpResult form =
        Post(server->port(), "/form.asp", "application/x-www-form-urlencoded", "name=J%C3%BCrgen+K");
    EXPECT_EQ(form.status, 200);
    EXPECT_EQ(form.body,
              "total=18|name=J\xC3\xBCrgen K|-2147467259:BinaryRead cannot be called after the "
              "Request.Form collection was used.");
    // A form larger than Request.Form reads is refused, not held in memory.
    const HttpResult large =
        Post(server->port(), "/form.asp", "application/x-www-form-urlencoded", "name=" + std::string(200000, 'x'));
    EXPECT_EQ(large.status, 500);
    EXPECT_NE(large.body.find("larger than Request.Form reads (200000 bytes)"), std::string::npos)
        << large.body.substr(0, 300);
    const HttpResult bytes = Post(server->port(), "/bytes.asp", "application/octet-stream", "AB\x01");
    EXPECT_EQ(bytes.body, std::string("bytes=3,65|AB\x01|-2147467259"));
}

TEST_F(ScriptPages, TheComponentThroughScript) {
    Page("upload.asp",
         "<%@ Language=\"JScript\" %>\n"
         "<% var form = Server.CreateObject(\"Formix4.XForm\");\n"
         "var e = new Enumerator(form);\n"
         "for (; !e.atEnd(); e.moveNext()) {\n"
         "  var name = e.item(), group = form.Item(name), items = new Enumerator(group);\n"
         "  for (; !items.atEnd(); items.moveNext()) {\n"
         "    var field = items.item();\n"
         "    if (field.FileExists) field.Save(\"/uploads/\" + field.SafeFileName);\n"
         "%>[<%= Server.HTMLEncode(name) %>:<%= group.Count %>:<%= field.Length %>:<%= field.Content %>]<% } } %>\n"
         "<% Response.BinaryWrite(form(\"doc\")(1).Data); %>\n"
         "<% try { form(\"doc\")(1).Save(\"/../outside.txt\"); Response.Write('saved'); }\n"
         "   catch (x) { Response.Write('caught ' + x.number + ' ' + x.description); } %>");
    const std::string body =
        "--B\r\nContent-Disposition: form-data; name=\"a<b\"\r\n\r\none\r\n"
        "--B\r\nContent-Disposition: form-data; name=\"a<b\"\r\n\r\ntwo\r\n"
        "--B\r\nContent-Disposition: form-data; name=\"doc\"; filename=\"note.txt\"\r\nContent-Type: "
        "text/plain\r\n\r\nfile body\r\n"
        "--B--\r\n";
    auto server = Start();
    const HttpResult result = Post(server->port(), "/upload.asp", "multipart/form-data; boundary=B", body);
    ASSERT_EQ(result.status, 200) << result.body;
    EXPECT_EQ(result.body.substr(0, result.body.find('\n', 1)),
              "\n[a&lt;b:2:3:one][a&lt;b:2:3:two][doc:1:9:file body]");
    // The component's failure, with its HRESULT as a signed number and its text.
    EXPECT_NE(result.body.find("\nfile body\ncaught -2147024891 "), std::string::npos) << result.body;
    std::ifstream saved(mRoot / "uploads" / "note.txt");
    std::string content((std::istreambuf_iterator<char>(saved)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "file body");
}

TEST_F(ScriptPages, TheExamplePageSavesAnUpload) {
    // The example is not part of the site: a document root of one's own gets it.
    std::filesystem::create_directories(mRoot / "examples");
    std::filesystem::copy_file(EXAMPLES_DIR "/upload.asp", mRoot / "examples" / "upload.asp");
    auto server = Start();
    EXPECT_NE(Get(server->port(), "/examples/upload.asp").body.find("enctype=\"multipart/form-data\""),
              std::string::npos);
    const std::string body =
        "--E\r\nContent-Disposition: form-data; name=\"file\"; filename=\"C:\\docs\\a&b.txt\"\r\n"
        "Content-Type: text/plain\r\n\r\nsaved bytes\r\n--E--\r\n";
    const HttpResult saved = Post(server->port(), "/examples/upload.asp", "multipart/form-data; boundary=E", body);
    EXPECT_NE(saved.body.find("<p>Saved a&amp;b.txt (11 bytes).</p>"), std::string::npos) << saved.body;
    std::ifstream file(mRoot / "uploads" / "a&b.txt");
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>()), "saved bytes");
    const HttpResult again = Post(server->port(), "/examples/upload.asp", "multipart/form-data; boundary=E", body);
    EXPECT_NE(again.body.find("<p>Not saved: "), std::string::npos) << again.body;
}

TEST_F(ScriptPages, FailuresAreAnsweredAndTheWorkerGoesOn) {
    Page("throws.asp", "<html>\n<%\nvar x = 1;\nnull.f();\n%>\n</html>");
    Page("loops.asp", "<% Server.ScriptTimeout = 1; while (true) {} %>");
    Page("perl.asp", "<%@ Language=\"PerlScript\" %>\n<% print 'x'; %>");
    Page("ok.asp", "<%= 6 * 7 %>");
    auto server = Start({"--threads", "2"}, 2);
    const HttpResult thrown = Get(server->port(), "/throws.asp");
    EXPECT_EQ(thrown.status, 500);
    EXPECT_NE(thrown.body.find("/throws.asp, line 4"), std::string::npos) << thrown.body;
    EXPECT_NE(thrown.body.find("TypeError"), std::string::npos);
    const auto start = std::chrono::steady_clock::now();
    const HttpResult looped = Get(server->port(), "/loops.asp");
    EXPECT_EQ(looped.status, 500);
    EXPECT_NE(looped.body.find("ScriptTimeout of 1 seconds"), std::string::npos) << looped.body;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    const HttpResult perl = Get(server->port(), "/perl.asp");
    EXPECT_EQ(perl.status, 500);
    EXPECT_NE(perl.body.find("/perl.asp is written in PerlScript"), std::string::npos) << perl.body;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(Get(server->port(), "/ok.asp").body, "42");
    std::ifstream log(mRegistry.logPath());
    std::string entries((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_NE(entries.find("The script page /throws.asp failed at /throws.asp, line 4"), std::string::npos) << entries;
}

TEST_F(ScriptPages, IncludesRunAndSourcesAreNeverSent) {
    Page("lib/greet.inc", "<% function greet(n) { return 'hello ' + n; } %>");
    Page("lib/part.txt", "<%= greet('part') %>");
    Page("inc.asp",
         "<!-- #include virtual=\"/lib/greet.inc\" -->\n<!-- #include file=\"lib/part.txt\" -->|<%= greet('page') %>");
    Page("escape.asp", "<!-- #include file=\"../../outside.inc\" -->");
    Page("admin/tools/keys.asp", "<!-- #include file=\"../settings.txt\" --><%= secret %>");
    Page("admin/settings.txt", "<% var secret = 'greet'; %>");
    auto server = Start();
    const auto expectNoSource = [&] {
        for (const char* source :
             {"/lib/greet.inc", "/lib/part.txt", "/inc.asp.", "/LIB/GREET.INC", "/admin/settings.txt"}) {
            const HttpResult sent = Get(server->port(), source);
            EXPECT_EQ(sent.body.find("greet"), std::string::npos) << source << ": " << sent.body;
        }
    };
    // Before any page that includes them has run.
    expectNoSource();
    const HttpResult page = Get(server->port(), "/inc.asp");
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(page.body, "\nhello part|hello page");
    expectNoSource();
    const HttpResult escape = Get(server->port(), "/escape.asp");
    EXPECT_EQ(escape.status, 500);
    EXPECT_NE(escape.body.find("outside the document root"), std::string::npos) << escape.body;
}

// Sites were written on file systems that ignore letter case: their links,
// includes and mapped paths name files in any case, and still find them.
// Sources stay hidden under any case; of two names differing only in case,
// the first in byte order wins when neither is asked for exactly.
TEST_F(ScriptPages, PathsAreFoundWithoutRegardToCase) {
    Page("t/one.asp",
         "<!-- #include file=\"INC/B.INC\" --><%= b() %>|<%= Server.MapPath(\"../Up/New File.TXT\").slice(-16) %>");
    Page("t/inc/b.inc", "<% function b() { return 'from b'; } %>");
    Page("up/keep.txt", "kept");
    Page("index.html", "<p>home</p>");
    Page("Twin.txt", "upper");
    Page("twin.txt", "lower");
    auto server = Start();
    const HttpResult page = Get(server->port(), "/T/ONE.ASP");
    EXPECT_EQ(page.status, 200) << page.body;
    EXPECT_EQ(page.body, "from b|/up/New File.TXT");
    const HttpResult html = Get(server->port(), "/INDEX.HTML");
    EXPECT_EQ(html.status, 200);
    EXPECT_EQ(html.body, "<p>home</p>");
    EXPECT_EQ(Get(server->port(), "/TWIN.TXT").body, "upper");
    EXPECT_EQ(Get(server->port(), "/twin.txt").body, "lower");
    for (const char* source : {"/T/INC/B.INC", "/t/One.Asp.", "/T/inc/b.Inc"})
        EXPECT_EQ(Get(server->port(), source).body.find("function"), std::string::npos) << source;
    EXPECT_EQ(Get(server->port(), "/t/missing.asp").status, 404);
}

// Page files saved in an ANSI code page: the directive names it, else bytes
// that are not UTF-8 are read as Western European; a byte order mark is not
// text. The answer is UTF-8 unless a directive or the page names its code
// page (the Cyrillic page asks for UTF-8 here, to show what was read).
TEST_F(ScriptPages, PageFilesAreDecodedByTheirCodePage) {
    Page("plain.asp", "caf\xE9 <%= 'caf\xE9'.length %>");
    Page("cyrillic.asp",
         "<%@ Language=\"JScript\" CodePage=1251 %><% Response.CodePage = 65001; %>\xE9"
         "<!-- #include file=\"part.inc\" -->");
    Page("part.inc", "|\xEA<%= '\xEA' %>");
    Page("bom.asp", "\xEF\xBB\xBF<%@ Language=\"JScript\" %>caf\xC3\xA9");
    Page("unknown.asp", "<%@ CodePage=99999 %>x");
    auto server = Start();
    EXPECT_EQ(Get(server->port(), "/plain.asp").body, "caf\xC3\xA9 4");
    EXPECT_EQ(Get(server->port(), "/cyrillic.asp").body, "\xD0\xB9|\xD0\xBA\xD0\xBA");
    EXPECT_EQ(Get(server->port(), "/bom.asp").body, "caf\xC3\xA9");
    const HttpResult unknown = Get(server->port(), "/unknown.asp");
    EXPECT_EQ(unknown.status, 500);
    EXPECT_NE(unknown.body.find("99999"), std::string::npos) << unknown.body;
}

// <script runat="server"> blocks are code, never text: their functions are
// callable from the whole page, their own statements run after the page, as
// classic servers run blocks in the page's language. A browser's <script>
// stays text.
TEST_F(ScriptPages, ServerScriptBlocksRunAndAreNeverSent) {
    Page("lib/secret.inc",
         "<SCRIPT LANGUAGE=\"JScript\" RUNAT=\"Server\">\nfunction masked() { return 's3cr3t'.length; }\n</SCRIPT>");
    Page("blocks.asp",
         "<!-- #include file=\"lib/secret.inc\" -->A<%= twice(2) %>|<script runat=server>\n"
         "function twice(n) { return 2 * n; }\nResponse.Write('|last');\n</script>B<%= masked() %>"
         "<script>var client = 1;</script>");
    Page("late.asp", "x\n<script language=\"javascript\" runat=\"server\">\n\nnoSuchThing();\n</script>");
    Page("vb.asp", "<script language=\"VBScript\" runat=\"server\">Response.Write \"x\"</script>");
    auto server = Start();
    const HttpResult blocks = Get(server->port(), "/blocks.asp");
    EXPECT_EQ(blocks.status, 200) << blocks.body;
    EXPECT_EQ(blocks.body, "A4|B6<script>var client = 1;</script>|last");
    const HttpResult late = Get(server->port(), "/late.asp");
    EXPECT_EQ(late.status, 500);
    EXPECT_NE(late.body.find("/late.asp, line 4"), std::string::npos) << late.body;
    const HttpResult vb = Get(server->port(), "/vb.asp");
    EXPECT_EQ(vb.status, 500);
    EXPECT_NE(vb.body.find("VBScript"), std::string::npos) << vb.body;
}

// getYear as JScript gives it: the year less 1900 only within 1900-1999.
TEST_F(ScriptPages, ErrorsHaveJScriptsNumbersAndThePagesLines) {
    Page("caught.asp",
         "<% function show(e) { Response.Write(e.number + '|' + e.description + '|' + e.message + ';'); }\n"
         "try { x = undefinedName; } catch (e) { show(e); }\n"
         "try { null.f(); } catch (e) { Response.Write((e.number & 0xFFFF) + ';'); }\n"
         "try { var n = 1; n(); } catch (e) { Response.Write((e.number & 0xFFFF) + ';'); }\n"
         "try { throw new Error(123, 'mine'); } catch (e) { show(e); }\n"
         "try { throw Error('said'); } catch (e) { show(e); }\n"
         "var plain = new Error(); show(plain); plain.description = 'set'; Response.Write(plain.message + ';');\n"
         "Response.Write((new Error(7, 'x') instanceof Error) + ';');\n"
         "try { Server.CreateObject('No.Such.Class'); } catch (e) { Response.Write(e.number + '@' + e.lineNumber); } "
         "%>");
    Page("inc/top.inc", "<% var fromInclude = 1;\nvar more = 2; %>\n");
    // A member's failure is placed on the line that called it, after an
    // include of other lines; a syntax error's text carries no line of the
    // program the page was made into.
    Page("member.asp",
         "<!-- #include file=\"inc/top.inc\" -->\n<html>\n<%\nServer.CreateObject('No.Such.Class');\n%>\n</html>\n");
    Page("syntax.asp", "<!-- #include file=\"inc/top.inc\" -->\n<%\nvar a = 1;\nvar b = 'open;\n%>\n");
    auto server = Start();
    EXPECT_EQ(Get(server->port(), "/caught.asp").body,
              "-2146823279|'undefinedName' is undefined|'undefinedName' is undefined;5007;5002;"
              "123|mine|mine;0|said|said;0||;set;true;-2147221005@9");
    const HttpResult member = Get(server->port(), "/member.asp");
    EXPECT_NE(member.body.find("/member.asp, line 4"), std::string::npos) << member.body;
    const HttpResult syntax = Get(server->port(), "/syntax.asp");
    EXPECT_NE(syntax.body.find("/syntax.asp, line 4"), std::string::npos) << syntax.body;
    EXPECT_NE(syntax.body.find("SyntaxError: unterminated string</pre>"), std::string::npos) << syntax.body;
}

// Dates as JScript writes and reads them, on a server five hours behind
// UTC in winter: the text of a date, the forms Date.parse reads, a
// cookie's expiry named in GMT, and dates kept exactly by Session.
TEST_F(ScriptPages, DatesAreJScripts) {
    Page(
        "dates.asp",
        "<% var d = new Date(2021, 6, 15, 12, 30, 5), w = new Date(2021, 0, 5, 9, 5, 3); %>"
        "<% Response.Write(d) %>|<%= w %>|<%= d.toUTCString() %>|<%= d.toLocaleString() %>|<%= d.toDateString() %>|"
        "<%= w.toTimeString() %>|<%= w.toLocaleTimeString() %>|<%= new Date(NaN) %>|"
        "<%= [new Date(2021, 0, 5).getYear(), new Date(1996, 6, 20).getYear(), new Date(1850, 1, 1).getYear()].join() "
        "%>|"
        "<%= [Date.parse('Jan 5, 1996 08:47:00') - new Date(1996, 0, 5, 8, 47),"
        " new Date('7/20/96') - new Date(1996, 6, 20),"
        " Date.parse('Thu, 15 Jul 2021 10:30:05 GMT') - Date.UTC(2021, 6, 15, 10, 30, 5),"
        " Date.parse('November 1, 1997 10:15 PM') - new Date(1997, 10, 1, 22, 15),"
        " Date.parse('Ju 4 1999 (a (nested) comment) UTC+0100') - Date.UTC(1999, 6, 3, 23),"
        " Date.parse('2021-07-15T10:30:05Z') - Date.UTC(2021, 6, 15, 10, 30, 5),"
        " Date.parse(String(d)) - d].join() %>|"
        "<%= [Date.parse('23:15 PM 7/1/99'), Date.parse('July 1999'), Date.parse('5 5 5 1999')].join() %>|"
        "<% var exact = 0; for (var i = 0; i < 200; i++) { var t = new Date(1600000000123 + i * 7777);"
        " Session('t') = t; Application('t') = t; if (Session('t') - t == 0 && Application('t') - t == 0) exact++; } %>"
        "<%= exact %><% Response.Cookies('c') = 'v'; Response.Cookies('c').Expires = new Date(Date.UTC(2030, 0, 2, 3, "
        "4, 5)); %>");
    auto server = Start({}, 0, {{"TZ", "America/New_York"}});
    const HttpResult result = Get(server->port(), "/dates.asp");
    EXPECT_EQ(result.body,
              "Thu Jul 15 12:30:05 UTC-0400 2021|Tue Jan 5 09:05:03 UTC-0500 2021|Thu, 15 Jul 2021 16:30:05 UTC|"
              "Thursday, July 15, 2021 12:30:05 PM|Thu Jul 15 2021|09:05:03 UTC-0500|9:05:03 AM|NaN|"
              "2021,96,1850|0,0,0,0,0,0,0|NaN,NaN,NaN|200");
    EXPECT_NE(result.head.find("Set-Cookie: c=v; Path=/; Expires=Wed, 02 Jan 2030 03:04:05 GMT"), std::string::npos)
        << result.head;
}

// One client making session after session pushes out only its own: another
// visitor's session and its values stay. Both come through a proxy on this
// machine, which names each client in X-Forwarded-For; a client's own claim
// before the proxy's entry does not count.
TEST_F(ScriptPages, OneClientCannotPushOutOtherSessions) {
    Page("keep.asp",
         "<% if (Request.QueryString(\"v\").Count) Session(\"v\") = String(Request.QueryString(\"v\")); %>"
         "<%= Session(\"v\") %>");
    auto server = Start({"--max-sessions", "100"});
    const auto through = [&](const std::string& client, const std::string& target, const std::string& cookie = "") {
        return Exchange(server->port(), "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Forwarded-For: " + client +
                                            "\r\n" + (cookie.empty() ? "" : "Cookie: " + cookie + "\r\n") + "\r\n");
    };
    Visitor visitor;
    visitor.remember(through("198.51.100.7", "/keep.asp?v=mine"));
    ASSERT_FALSE(visitor.cookie.empty());
    std::string lastCookie;
    for (int i = 0; i < 300; ++i) {
        const HttpResult made = through("198.51.100.7, 203.0.113.9", "/keep.asp?v=" + std::to_string(i));
        ASSERT_EQ(made.status, 200);
        lastCookie = made.header("Set-Cookie");
    }
    EXPECT_EQ(through("198.51.100.7", "/keep.asp", visitor.cookie).body, "mine");
    // The client's newest session is kept.
    EXPECT_EQ(through("203.0.113.9", "/keep.asp", lastCookie.substr(0, lastCookie.find(';'))).body, "299");
}

TEST_F(ScriptPages, SessionsAreEachVisitorsAndApplicationIsEveryones) {
    Page("count.asp",
         "<% Session(\"n\") = (Session(\"n\") || 0) + 1;\n"
         "Application.Lock(); var was = Application(\"hits\") || 0; Application(\"hits\") = was + 1; "
         "Application.Unlock(); %>"
         "<%= Session(\"n\") %>,<%= Session.Timeout %>");
    Page("hits.asp", "<%= Application(\"hits\") %>");
    auto server = Start();
    Visitor first, second;
    for (int i = 1; i <= 3; ++i) {
        const HttpResult page = Get(server->port(), "/count.asp", first);
        first.remember(page);
        EXPECT_EQ(page.body, std::to_string(i) + ",20");  // 20 minutes of idle time
    }
    const HttpResult other = Get(server->port(), "/count.asp", second);
    EXPECT_EQ(other.body, "1,20");
    constexpr int kClients = 8, kEach = 25;
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c)
        clients.emplace_back([&] {
            for (int i = 0; i < kEach; ++i) Get(server->port(), "/count.asp");
        });
    for (std::thread& client : clients) client.join();
    EXPECT_EQ(Get(server->port(), "/hits.asp").body, std::to_string(4 + kClients * kEach));
}

// The requests of one session run one at a time, so that a page reading
// and writing its session is never interleaved with another of the same
// visitor; a session a page first uses after a flush still sends its cookie.
TEST_F(ScriptPages, ASessionsRequestsRunOneAtATime) {
    Page("increment.asp",
         "<% var n = Session('n') || 0; var t = new Date().getTime(); while (new Date().getTime() - t < 5) {}"
         " Session('n') = n + 1; %><%= Session('n') %>");
    Page("flushed.asp", "<% Response.Write('first'); Response.Flush(); Session('late') = 'kept'; %>");
    Page("late.asp", "<%= Session('late') %>");
    auto server = Start({"--threads", "8"});
    Visitor visitor;
    visitor.remember(Get(server->port(), "/increment.asp", visitor));
    ASSERT_FALSE(visitor.cookie.empty());
    constexpr int kRequests = 50;
    std::vector<std::thread> requests;
    for (int i = 0; i < kRequests; ++i) requests.emplace_back([&] { Get(server->port(), "/increment.asp", visitor); });
    for (std::thread& request : requests) request.join();
    EXPECT_EQ(Get(server->port(), "/increment.asp", visitor).body, std::to_string(kRequests + 2));

    Visitor flushing;
    const HttpResult flushed = Get(server->port(), "/flushed.asp", flushing);
    EXPECT_EQ(flushed.body, "first");
    flushing.remember(flushed);
    ASSERT_FALSE(flushing.cookie.empty()) << flushed.head;
    EXPECT_EQ(Get(server->port(), "/late.asp", flushing).body, "kept");
}

// What most classic sites use of Request and Response besides reading
// values: the raw query and form, items by number and by name, the server
// variables that name what this server does not do (empty, never
// undefined), and the caching headers.
TEST_F(ScriptPages, TheMembersMostSitesUse) {
    Page("members.asp",
         "<% Response.Expires = 5; Response.CacheControl = 'no-cache'; Response.AppendToLog('from a page'); %>"
         "<%= Request.QueryString %>|<%= Request.Form %>|<%= Request.QueryString('a').Item(2) %>|"
         "<%= Request.QueryString.Item('b') %>|<%= Request.Form.Item(2) %>|<%= Response.IsClientConnected %>|"
         "<% var names = ['REMOTE_PORT', 'LOCAL_ADDR', 'SERVER_PORT_SECURE', 'GATEWAY_INTERFACE', 'AUTH_USER',"
         " 'LOGON_USER', 'REMOTE_USER', 'AUTH_TYPE', 'APPL_MD_PATH', 'INSTANCE_ID', 'HTTP_URL', 'ALL_RAW'];"
         " for (var i = 0; i < names.length; i++) Response.Write(names[i] + '=' + "
         "String(Request.ServerVariables(names[i])) + ';'); %>");
    Page("absolute.asp",
         "<% Response.ExpiresAbsolute = new Date(Date.UTC(2031, 4, 6, 7, 8, 9)); %><%= Response.CacheControl %>");
    Page("dir/info.asp", "<%= Request.ServerVariables('PATH_INFO') %>|<%= Request.ServerVariables('SCRIPT_NAME') %>");
    auto server = Start({}, 0, {{"TZ", "Europe/Berlin"}});
    const HttpResult result =
        Post(server->port(), "/members.asp?a=1&a=x%20y&b=2", "application/x-www-form-urlencoded", "f=1&g=%C3%A9");
    const std::string port = result.body.substr(result.body.find("REMOTE_PORT=") + 12, 5);
    EXPECT_EQ(result.body,
              "a=1&a=x%20y&b=2|f=1&g=%C3%A9|x y|2|\xC3\xA9|True|REMOTE_PORT=" + port.substr(0, port.find(';')) +
                  ";LOCAL_ADDR=127.0.0.1;SERVER_PORT_SECURE=0;GATEWAY_INTERFACE=CGI/1.1;AUTH_USER=;"
                  "LOGON_USER=;REMOTE_USER=;AUTH_TYPE=;APPL_MD_PATH=/LM/W3SVC/1/ROOT;INSTANCE_ID=1;"
                  "HTTP_URL=/members.asp?a=1&a=x%20y&b=2;ALL_RAW=content-length: 12\r\n"
                  "content-type: application/x-www-form-urlencoded\r\nhost: 127.0.0.1\r\n;");
    EXPECT_EQ(result.header("Cache-Control"), "no-cache");
    EXPECT_FALSE(result.header("Expires").empty());
    const HttpResult absolute = Get(server->port(), "/absolute.asp");
    EXPECT_EQ(absolute.body, "private");
    EXPECT_EQ(absolute.header("Expires"), "Tue, 06 May 2031 07:08:09 GMT");
    // An address that goes on past a page runs the page, with the rest in PATH_INFO.
    EXPECT_EQ(Get(server->port(), "/dir/info.asp/more/parts?x=1").body, "/dir/info.asp/more/parts|/dir/info.asp");
    EXPECT_EQ(Get(server->port(), "/dir/none.asp/more").status, 404);
    std::ifstream log(mRegistry.logPath());
    const std::string entries((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_NE(entries.find("A page's log line: from a page"), std::string::npos);
}

// Cookies of keys, written and read back as browsers send them: each key
// encoded on its own, a value and keys replacing each other.
TEST_F(ScriptPages, CookiesOfKeys) {
    Page("keys.asp",
         "<% Response.Cookies('prefs')('color') = 'dark blue'; Response.Cookies('prefs')('size') = 'a&b';"
         " Response.Cookies('prefs').HttpOnly = false; Response.Cookies('plain')('gone') = 'x'; "
         "Response.Cookies('plain') = 'v'; %>"
         "<%= Response.Cookies('prefs').HasKeys %>,<%= Response.Cookies('prefs')('size') %>,<%= "
         "Response.Cookies('plain').HasKeys %>|"
         "<%= Request.Cookies('p')('size') %>,<%= Request.Cookies('p')('none') %>,<%= Request.Cookies('p').HasKeys %>,"
         "<%= Request.Cookies('q').HasKeys %>,<%= Request.Cookies('q') %>");
    auto server = Start();
    const HttpResult result = Exchange(
        server->port(), "GET /keys.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: p=color=red&size=a%26b; q=x%20y\r\n\r\n");
    EXPECT_EQ(result.body, "True,a&b,False|a&b,,True,False,x y");
    EXPECT_NE(result.head.find("Set-Cookie: prefs=color=dark+blue&size=a%26b; Path=/\r\n"), std::string::npos)
        << result.head;
    EXPECT_NE(result.head.find("Set-Cookie: plain=v; Path=/; HttpOnly\r\n"), std::string::npos) << result.head;
}

// The page's own objects pass to members as objects: written as their
// text, kept in a dictionary and given back as the same objects, their
// functions callable from there.
TEST_F(ScriptPages, ThePagesOwnObjectsPassToMembers) {
    Page("objects.asp",
         "<% try { null.f(); } catch (e) { Response.Write(e); } %>|<% Response.Write({toString: function () { return "
         "'mine'; }}); %>|"
         "<% var d = Server.CreateObject('Scripting.Dictionary'), o = {name: 'n1', list: [1, 2, 3]};"
         " d.Add('k', o); d.Add('arr', [4, 5]); d.Add('f', function (x) { return x * 2; });"
         " Response.Write([d('k').name, d('k') === o, d('arr').length, d('f')(21), "
         "d.Item('k').list.join('-')].join()); %>|"
         "<% try { Session('x') = o; } catch (e) { Response.Write('refused'); } %>");
    auto server = Start();
    EXPECT_EQ(Get(server->port(), "/objects.asp").body,
              "TypeError: cannot read property 'f' of null|mine|n1,true,2,42,1-2-3|refused");
}

TEST_F(ScriptPages, JScriptsOwnFunctionsAndRegExpStatics) {
    Page("js.asp",
         "<%= ScriptEngine() + ' ' + ScriptEngineMajorVersion() + '.' + ScriptEngineMinorVersion() %>|"
         "<% var d = new ActiveXObject('Scripting.Dictionary'); d.Add('a', 1); Response.Write(d.Count + ',' + d('a'));"
         " Response.Write(',' + GetObject('', 'Scripting.Dictionary').Count);"
         " try { new ActiveXObject('No.Such'); } catch (e) { Response.Write(',' + (e.number & 0xFFFF)); }"
         " try { GetObject('/tmp/x.doc'); } catch (e) { Response.Write(',' + (e.number & 0xFFFF)); } %>|"
         "<% if (/(\\w+)@(\\w+)\\.com/.test('mail: joe@example.com now'))"
         " Response.Write([RegExp.$1, RegExp.$2, RegExp.lastMatch, RegExp.index, RegExp.leftContext, "
         "RegExp.rightContext,"
         " RegExp.$3].join() + ';');"
         " '2021-07-15'.match(/(\\d+)-(\\d+)/); Response.Write(RegExp.$1 + RegExp.$2 + ',' + RegExp.input);"
         " /(x)?y/.exec('zy'); Response.Write('|' + RegExp.$1 + '|'); /q/.test('no'); "
         "Response.Write(RegExp.lastMatch); %>|"
         // replace, search and a global match leave the last match; the expression's lastIndex stays theirs.
         "<% var g = /(\\d)(\\w)/g; Response.Write('a1b c2d e3f'.replace(g, '<$2$1>') + ':' + RegExp.$1 + RegExp.$2 +"
         " ':' + RegExp.index + ':' + g.lastIndex + ';');"
         " Response.Write('x9y'.search(/(\\d)/) + RegExp.$1 + ';'); 'k7 m8 n'.match(/(\\w)\\d/g);"
         " Response.Write(RegExp.$1 + RegExp.lastMatch + ';'); 'aaa'.replace(/x*/g, '-'); Response.Write(RegExp.index);"
         " 'plain'.replace('l', 'L'); Response.Write(',' + RegExp.lastMatch); %>");
    auto server = Start();
    EXPECT_EQ(Get(server->port(), "/js.asp").body,
              "JScript 5.8|1,1,0,429,429|joe,example,joe@example.com,6,mail: , now,;202107,2021-07-15||y|"
              "a<b1> c<d2> e<f3>:3f:9:0;19;mm8;3,");
}

TEST_F(ScriptPages, APagesOwnSecurityPolicyReplacesTheServers) {
    Page("inline.asp",
         "<% Response.AddHeader(\"content-security-policy\", \"script-src 'self' 'unsafe-inline'\"); %>"
         "<script>document.title = 'x';</script>");
    Page("plain.asp", "plain");
    auto server = Start();
    const auto policies = [](const HttpResult& result) {
        std::string found, head = result.head;
        for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        for (size_t at = 0; (at = head.find("content-security-policy: ", at)) != std::string::npos; ++at)
            found += result.head.substr(at + 25, result.head.find("\r\n", at) - at - 25) + ";;";
        return found;
    };
    EXPECT_EQ(policies(Get(server->port(), "/inline.asp")), "script-src 'self' 'unsafe-inline';;");
    EXPECT_EQ(policies(Get(server->port(), "/plain.asp")).rfind("default-src 'none';", 0), 0u);
}

TEST_F(ScriptPages, EndRedirectAndUnbufferedOutput) {
    Page("end.asp", "before<% Response.End(); %>after");
    Page("caught.asp", "a<% try { Response.End(); } catch (e) {} Response.Write('b'); %>c");
    Page("redirect.asp", "<% Response.Redirect(\"/ok.asp?x=1\"); Response.Write('not sent'); %>");
    Page("stream.asp", "<% Response.Buffer = false; for (var i = 0; i < 3; ++i) Response.Write('part' + i + ';'); %>");
    Page("flush.asp", "dropped<% Response.Clear(); %>kept<% Response.Flush(); %>;<% Response.Clear(); %>after");
    auto server = Start();
    EXPECT_EQ(Get(server->port(), "/end.asp").body, "before");
    EXPECT_EQ(Get(server->port(), "/caught.asp").body, "a");
    const HttpResult moved = Get(server->port(), "/redirect.asp");
    EXPECT_EQ(moved.status, 302);
    EXPECT_EQ(moved.header("Location"), "/ok.asp?x=1");
    EXPECT_EQ(moved.body.find("not sent"), std::string::npos);
    const HttpResult streamed = Get(server->port(), "/stream.asp");
    EXPECT_EQ(streamed.status, 200);
    EXPECT_EQ(streamed.header("Content-Length"), "");
    EXPECT_EQ(streamed.body, "part0;part1;part2;");
    // What was flushed is sent; Clear drops only what is still buffered.
    const HttpResult flushed = Get(server->port(), "/flush.asp");
    EXPECT_EQ(flushed.header("Content-Length"), "");
    EXPECT_EQ(flushed.body, "keptafter");
}

}  // namespace
