// The site's global.asa over real HTTP, in the product's server: the
// application's and each session's start and end, and the objects the site
// and its pages declare with <object runat="server">.
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "SiteServer.h"

namespace {

using namespace http_support;

class SiteEvents : public SiteServerTest {
protected:
    std::string Saved(const std::string& name) {
        std::ifstream in(mRoot / "uploads" / name, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
};

TEST_F(SiteEvents, ApplicationAndSessionsStartAndEndInOrder) {
    // The file's name in another case, as sites written on another system have it.
    Page("Global.ASA",
         "<SCRIPT LANGUAGE=\"JScript\" RUNAT=\"Server\">\n"
         "function Application_OnStart() { Application(\"starts\") = (Application(\"starts\") || 0) + 1;\n"
         "  Application(\"log\") = \"app;\"; }\n"
         "function Session_OnStart() { Session(\"n\") = 0; Application(\"log\") = Application(\"log\") + \"start \" + "
         "Session.SessionID + \";\"; }\n"
         "function Session_OnEnd() { Application(\"log\") = Application(\"log\") + \"end \" + Session.SessionID + \" "
         "at \" + Session(\"n\") + \";\"; }\n"
         "function Application_OnEnd() {\n"
         "  var file = new "
         "ActiveXObject(\"Scripting.FileSystemObject\").CreateTextFile(Server.MapPath(\"/uploads/end.txt\"));\n"
         "  file.Write(Application(\"log\") + \"app end\"); file.Close(); }\n"
         "</SCRIPT>\n");
    Page("count.asp",
         "<% Session(\"n\") = Session(\"n\") + 1; %>n=<%= Session(\"n\") %>|starts=<%= Application(\"starts\") %>|"
         "log=<%= Application(\"log\") %>");
    Page("leave.asp", "<% Session.Abandon(); %>left");
    auto server = Start();
    Visitor first, second;
    HttpResult result = Get(server->port(), "/count.asp", first);
    first.remember(result);
    EXPECT_EQ(result.body, "n=1|starts=1|log=app;start 1;");
    EXPECT_EQ(Get(server->port(), "/count.asp", first).body, "n=2|starts=1|log=app;start 1;");
    result = Get(server->port(), "/count.asp", second);
    second.remember(result);
    EXPECT_EQ(result.body, "n=1|starts=1|log=app;start 1;start 2;");
    // An abandoned session ends once its last page is done, with its values.
    EXPECT_EQ(Get(server->port(), "/leave.asp", first).body, "left");
    EXPECT_EQ(Get(server->port(), "/count.asp", second).body, "n=2|starts=1|log=app;start 1;start 2;end 1 at 2;");
    // The visitor comes back to a new session, started again.
    result = Get(server->port(), "/count.asp", first);
    EXPECT_EQ(result.body, "n=1|starts=1|log=app;start 1;start 2;end 1 at 2;start 3;");
    server.reset();
    EXPECT_EQ(Saved("end.txt"), "app;start 1;start 2;end 1 at 2;start 3;app end");
}

TEST_F(SiteEvents, DeclaredObjectsLiveAsLongAsTheirScope) {
    Page("global.asa",
         "<object runat=\"server\" scope=\"Application\" id=\"shared\" progid=\"Scripting.Dictionary\"></object>\n"
         "<OBJECT RUNAT=Server SCOPE=Session ID=basket PROGID=\"Scripting.Dictionary\"></OBJECT>\n"
         "<object runat=\"server\" scope=\"Application\" id=\"never\" progid=\"No.SuchClass\"></object>\n");
    Page("objects.asp",
         "<object runat=\"server\" id=\"local\" progid=\"Scripting.Dictionary\"></object>"
         "<% shared(\"hits\") = (shared.Exists(\"hits\") ? shared(\"hits\") : 0) + 1; basket.Add(String(basket.Count), "
         "1);"
         " local.Add(\"a\", 1); %>hits=<%= shared(\"hits\") %>|basket=<%= basket.Count %>|local=<%= local.Count %>|"
         "statics=<%= Application.StaticObjects.Count %>,<%= Application.StaticObjects.Key(1) %>,"
         "<%= Session.StaticObjects(\"basket\").Count %>");
    Page("never.asp", "<% Response.Write(never.Count); %>");
    auto server = Start();
    Visitor first, second;
    HttpResult result = Get(server->port(), "/objects.asp", first);
    first.remember(result);
    EXPECT_EQ(result.body, "hits=1|basket=1|local=1|statics=2,shared,1");
    EXPECT_EQ(Get(server->port(), "/objects.asp", first).body, "hits=2|basket=2|local=1|statics=2,shared,2");
    EXPECT_EQ(Get(server->port(), "/objects.asp", second).body, "hits=3|basket=1|local=1|statics=2,shared,1");
    // A class that cannot be made fails the page that uses it, not the site.
    result = Get(server->port(), "/never.asp");
    EXPECT_EQ(result.status, 500);
    EXPECT_NE(result.body.find("The object never declared in /global.asa, line 3, cannot be made"), std::string::npos)
        << result.body;
}

TEST_F(SiteEvents, ABrokenDeclarationNamesItsFileAndLine) {
    Page("page.asp", "\n\n<object runat=\"server\" id=\"x\"></object>page");
    Page("scope.asp", "<object runat=\"server\" id=\"x\" progid=\"Scripting.Dictionary\" scope=\"world\"></object>");
    auto server = Start();
    HttpResult result = Get(server->port(), "/page.asp");
    EXPECT_EQ(result.status, 500);
    EXPECT_NE(result.body.find("/page.asp, line 3"), std::string::npos) << result.body;
    EXPECT_NE(result.body.find("needs a ProgID"), std::string::npos) << result.body;
    EXPECT_NE(Get(server->port(), "/scope.asp").body.find("the scopes are Page, Session and Application"),
              std::string::npos);
    Page("session.asp",
         "<object runat=\"server\" id=\"x\" progid=\"Scripting.Dictionary\" scope=\"Session\"></object>");
    EXPECT_NE(Get(server->port(), "/session.asp").body.find("which only global.asa declares"), std::string::npos);

    // global.asa may hold no page code; every page says so until it is mended.
    Page("global.asa", "<script runat=\"server\">function Application_OnStart() {}</script>\n<% x = 1 %>\n");
    result = Get(server->port(), "/page.asp");
    EXPECT_EQ(result.status, 500);
    EXPECT_NE(result.body.find("/global.asa, line 2"), std::string::npos) << result.body;
    EXPECT_NE(result.body.find("holds only"), std::string::npos) << result.body;
    Page("global.asa",
         "<script runat=\"server\">function Application_OnStart() { Application(\"up\") = 1; }</script>\n");
    Page("page.asp", "up=<%= Application(\"up\") %>");
    EXPECT_EQ(Get(server->port(), "/page.asp").body, "up=1");
}

}  // namespace
