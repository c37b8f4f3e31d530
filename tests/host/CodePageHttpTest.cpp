// The answer's code page and the session's locale over real HTTP, in the
// product's server: what pages write is encoded in the code page of the
// page's directive, Response.CodePage or Session.CodePage (UTF-8 when none
// names one), labelled with its name, and forms are read in it.
#include <gtest/gtest.h>

#include "SiteServer.h"

namespace {

using namespace http_support;

class CodePage : public SiteServerTest {
protected:
    HttpResult Post(int port, const std::string& target, const std::string& type, const std::string& body,
                    const Visitor& visitor = {}) {
        return Exchange(port, "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: " + type +
                                  "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + visitor.headers() +
                                  "\r\n" + body);
    }
};

// A page saved in 1252 that says so: its own text, what it writes and a
// character 1252 lacks, all in 1252 bytes.
TEST_F(CodePage, APageAnswersInItsDirectivesCodePage) {
    Page("western.asp",
         "<%@ Language=\"JScript\" CodePage=1252 %>\xE9\x80|<%= '\\u00e9\\u20ac\\u3042' %>|"
         "<%= Response.CodePage %>|<%= Response.Charset %>");
    Page("plain.asp", "\xC3\xA9|<%= Response.CodePage %>|<%= Response.Charset %>");
    auto server = Start();
    const HttpResult western = Get(server->port(), "/western.asp");
    EXPECT_EQ(western.status, 200);
    EXPECT_EQ(western.header("Content-Type"), "text/html; charset=windows-1252");
    EXPECT_EQ(western.body, "\xE9\x80|\xE9\x80?|1252|windows-1252");
    const HttpResult plain = Get(server->port(), "/plain.asp");
    EXPECT_EQ(plain.header("Content-Type"), "text/html; charset=utf-8");
    EXPECT_EQ(plain.body, "\xC3\xA9|65001|utf-8");
}

// Text already written stays as it was written; bytes are never converted;
// a character set the page names itself is the label.
TEST_F(CodePage, AChangeConvertsWhatFollowsAndNotBytes) {
    Page("switch.asp",
         "\xC3\xA9<% Response.CodePage = 28591; %>\xC3\xA9|"
         "<% Response.BinaryWrite(Request.BinaryRead(Request.TotalBytes)); %>|<%= Response.Charset %>");
    Page("labelled.asp",
         "<% Response.CodePage = 1252; Response.Charset = 'x-legacy'; %>\xC3\xA9|<%= Response.Charset %>");
    Page("japanese.asp", "<% Response.CodePage = 932; %>\xE3\x81\x82");
    auto server = Start();
    const HttpResult switched = Post(server->port(), "/switch.asp", "application/octet-stream", "\xC3\xA9\xFF");
    EXPECT_EQ(switched.header("Content-Type"), "text/html; charset=iso-8859-1");
    EXPECT_EQ(switched.body, "\xC3\xA9\xE9|\xC3\xA9\xFF|iso-8859-1");
    const HttpResult labelled = Get(server->port(), "/labelled.asp");
    EXPECT_EQ(labelled.header("Content-Type"), "text/html; charset=x-legacy");
    EXPECT_EQ(labelled.body, "\xE9|x-legacy");
    const HttpResult japanese = Get(server->port(), "/japanese.asp");
    EXPECT_EQ(japanese.header("Content-Type"), "text/html; charset=shift_jis");
    EXPECT_EQ(japanese.body, "\x82\xA0");
}

// Session.CodePage and Session.LCID stay with the visitor's session and
// set the answer's when the page sets none; a directive or the page's own
// Response.CodePage comes first.
TEST_F(CodePage, TheSessionKeepsItsCodePageAndLocale) {
    Page("set.asp",
         "<% Session.CodePage = 1252; Session.LCID = 1031; %>\xC3\xA9|<%= Response.CodePage %>|<%= Response.LCID %>");
    Page("read.asp", "<%= Session.CodePage %>|<%= Session.LCID %>|\xC3\xA9|<%= Response.LCID %>");
    Page("own.asp",
         "<% Response.CodePage = 65001; Response.LCID = 2057; %><%= Session.CodePage %>|\xC3\xA9|"
         "<%= Response.LCID %>|<%= Session.LCID %>");
    Page("directive.asp", "<%@ CodePage=65001 %><%= Session.CodePage %>|\xC3\xA9");
    Page("reset.asp", "<% Session.CodePage = 0; %>\xC3\xA9");
    auto server = Start();
    Visitor visitor;
    const HttpResult set = Get(server->port(), "/set.asp", visitor);
    visitor.remember(set);
    EXPECT_EQ(set.header("Content-Type"), "text/html; charset=windows-1252");
    EXPECT_EQ(set.body, "\xE9|1252|1031");
    const HttpResult read = Get(server->port(), "/read.asp", visitor);
    EXPECT_EQ(read.header("Content-Type"), "text/html; charset=windows-1252");
    EXPECT_EQ(read.body, "1252|1031|\xE9|1031");
    const HttpResult own = Get(server->port(), "/own.asp", visitor);
    EXPECT_EQ(own.header("Content-Type"), "text/html; charset=utf-8");
    EXPECT_EQ(own.body, "1252|\xC3\xA9|2057|1031");
    EXPECT_EQ(Get(server->port(), "/directive.asp", visitor).body, "1252|\xC3\xA9");
    EXPECT_EQ(Get(server->port(), "/reset.asp", visitor).body, "\xC3\xA9");
    EXPECT_EQ(Get(server->port(), "/read.asp", visitor).body, "0|1031|\xC3\xA9|1031");
    // Another visitor's session has neither: UTF-8 and English (United States).
    const HttpResult other = Get(server->port(), "/read.asp");
    EXPECT_EQ(other.header("Content-Type"), "text/html; charset=utf-8");
    EXPECT_EQ(other.body, "0|1033|\xC3\xA9|1033");
}

// A code page or locale the server does not know is the page's error, with
// a text that says which; a page may catch it and go on as it was.
TEST_F(CodePage, UnknownCodePagesAndLocalesAreScriptErrors) {
    Page("badpage.asp", "<% Response.CodePage = 12345; %>");
    Page("badsession.asp", "<% Session.CodePage = 'western'; %>");
    Page("badlcid.asp", "<% Response.LCID = 9999; %>");
    Page("badsessionlcid.asp", "<% Session.LCID = -1; %>");
    Page("caught.asp",
         "<% try { Response.CodePage = 0; } catch (e) { Response.Write(e.description + '|'); }"
         " try { Session.LCID = 1033.5e3; } catch (e) { Response.Write(e.description + '|'); } %>"
         "<%= Response.CodePage %>|<%= Response.LCID %>");
    Page("known.asp",
         "<% var ids = [1033, 2057, 1031, 1036, 1040, 1034, 1043, 1053, 1041, 2052, 1049, 1046, 3082], set = 0;"
         " for (var i = 0; i < ids.length; i++) { Session.LCID = ids[i]; Response.LCID = ids[i];"
         " if (Session.LCID == ids[i] && Response.LCID == ids[i]) set++; } %><%= set %>");
    auto server = Start();
    const std::pair<const char*, const char*> failures[] = {
        {"/badpage.asp", "The code page 12345 is not one this server can write text in."},
        {"/badsession.asp", "CodePage takes a number."},
        {"/badlcid.asp", "The locale identifier (LCID) 9999 is not one this server knows."},
        {"/badsessionlcid.asp", "The locale identifier (LCID) -1 is not one this server knows."},
    };
    for (const auto& [page, text] : failures) {
        const HttpResult failed = Get(server->port(), page);
        EXPECT_EQ(failed.status, 500) << page;
        EXPECT_NE(failed.body.find(text), std::string::npos) << page << ": " << failed.body;
    }
    EXPECT_EQ(Get(server->port(), "/caught.asp").body,
              "The code page 0 is not one this server can write text in.|"
              "The locale identifier (LCID) 1033500 is not one this server knows.|65001|1033");
    EXPECT_EQ(Get(server->port(), "/known.asp").body, "13");
}

// A form posted from a page in 1252 comes in 1252: a page answering in
// 1252 reads it so. The code page is the one that stands when the page
// first reads the values.
TEST_F(CodePage, FormsAndQueriesAreReadInTheAnswersCodePage) {
    Page("western.asp",
         "<% Response.CodePage = 1252; var name = String(Request.Form('name')); %>"
         "<%= name %>|<%= name.length %>|<%= Request.QueryString('q') %>");
    Page("late.asp",
         "<% var q = String(Request.QueryString('q')); Response.CodePage = 1252; %>"
         "<%= q %>|<%= Request.QueryString('q') %>");
    Page("session.asp",
         "<% if (Request.QueryString('set').Count) Session.CodePage = 1252; %>"
         "<%= Session.CodePage %>|<%= Request.Form('name') %>");
    auto server = Start();
    const HttpResult western =
        Post(server->port(), "/western.asp?q=%E9t%E9", "application/x-www-form-urlencoded", "name=J%FCrgen+%80");
    EXPECT_EQ(western.status, 200) << western.body;
    EXPECT_EQ(western.body, "J\xFCrgen \x80|8|\xE9t\xE9");
    // Read as UTF-8 before the change: the same value, written in 1252.
    EXPECT_EQ(Get(server->port(), "/late.asp?q=%C3%A9").body, "\xE9|\xE9");
    // The session's code page, once the page has used its session.
    Visitor visitor;
    const HttpResult set = Get(server->port(), "/session.asp?set=1", visitor);
    visitor.remember(set);
    EXPECT_EQ(Post(server->port(), "/session.asp", "application/x-www-form-urlencoded", "name=%E9", visitor).body,
              "1252|\xE9");
}

}  // namespace
