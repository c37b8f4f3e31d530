// Server.Execute, Server.Transfer and Server.GetLastError over real HTTP, in
// the product's server: pages running other pages within one request, and
// the site's error page after a failure.
#include <gtest/gtest.h>

#include "SiteServer.h"

namespace {

using namespace http_support;

using ServerExecute = SiteServerTest;

// The executed page writes where the caller writes, in order, sees the
// same Request and Session, keeps its own variables, and finds pages
// relative to its own folder and without regard to case.
TEST_F(ServerExecute, ExecutedPagesShareTheRequestButNotTheirVariables) {
    Page("main.asp",
         "<% var x = 'outer'; Session('n') = 5; %>A<% Server.Execute('PARTS/Header.ASP'); %>"
         "B<%= x %>|<%= typeof inner %>|<%= Session('seen') %>|<% Server.Execute('/parts/nest.asp'); %>|end");
    Page("parts/header.asp",
         "<% var x = 'inner'; function inner() {} Session('seen') = Session('n') + 1; %>"
         "[in <%= x %> q=<%= Request.QueryString('q') %> s=<%= Session('n') %> <%= typeof inner %>]");
    Page("parts/nest.asp", "(<% Server.Execute('leaf.asp'); %>)");
    Page("parts/leaf.asp", "leaf");
    Page("ends.asp", "a<% Server.Execute('ender.asp'); %>c");
    Page("ender.asp", "b<% Response.End(); %>x");
    auto server = Start();
    Visitor visitor;
    const HttpResult main = Get(server->port(), "/main.asp?q=7", visitor);
    EXPECT_EQ(main.status, 200);
    EXPECT_EQ(main.body, "A[in inner q=7 s=5 function]Bouter|undefined|6|(leaf)|end");
    // Response.End ends the response, as if the executed page were part of
    // the caller.
    EXPECT_EQ(Get(server->port(), "/ends.asp").body, "ab");
}

TEST_F(ServerExecute, TransferRunsTheOtherPageAndEndsTheCaller) {
    Page("from.asp", "before<% Server.Transfer('to.asp'); Response.Write('never'); %>after");
    Page("to.asp", "<% var x = 'to'; %>[<%= x %> <%= Request.QueryString('q') %>]");
    Page("caught.asp", "<% try { Server.Transfer('to.asp'); } catch (e) {} Response.Write('never'); %>");
    auto server = Start();
    const HttpResult moved = Get(server->port(), "/from.asp?q=1");
    EXPECT_EQ(moved.status, 200);
    EXPECT_EQ(moved.body, "before[to 1]");
    EXPECT_EQ(Get(server->port(), "/caught.asp").body, "[to ]");
}

// A page that runs itself, a missing page, a path outside the site, a file
// that is no page and a page that does not compile: clear errors, and the
// server goes on.
TEST_F(ServerExecute, BadTargetsFailClearly) {
    Page("self.asp", "<%\nServer.Execute('SELF.asp');\n%>");
    Page("targets.asp",
         "<% var paths = ['nothere.asp', '../../../etc/passwd', 'plain.txt'];\n"
         "for (var i = 0; i < paths.length; i++)\n"
         "  try { Server.Execute(paths[i]); } catch (e) { Response.Write((e.number >>> 0).toString(16) + ' ' + "
         "e.description + ';'); } %>");
    Page("plain.txt", "text");
    Page("callsbroken.asp", "<% Server.Execute('broken.asp'); %>");
    Page("broken.asp", "<%\nvar b = 'open;\n%>");
    Page("ok.asp", "<%= 6 * 7 %>");
    auto server = Start();
    const HttpResult self = Get(server->port(), "/self.asp");
    EXPECT_EQ(self.status, 500);
    EXPECT_NE(self.body.find("/self.asp, line 2"), std::string::npos) << self.body;
    EXPECT_NE(self.body.find("Server.Execute of SELF.asp: pages run one another more than 8 deep"), std::string::npos)
        << self.body;
    EXPECT_EQ(Get(server->port(), "/targets.asp").body,
              "80070002 Server.Execute of nothere.asp: there is no script page there.;"
              "80070005 Server.Execute of ../../../etc/passwd: the path leaves the site's folder.;"
              "80070002 Server.Execute of plain.txt: there is no script page there.;");
    const HttpResult broken = Get(server->port(), "/callsbroken.asp");
    EXPECT_EQ(broken.status, 500);
    EXPECT_NE(broken.body.find("/broken.asp, line 2"), std::string::npos) << broken.body;
    EXPECT_NE(broken.body.find("SyntaxError"), std::string::npos) << broken.body;
    EXPECT_EQ(Get(server->port(), "/ok.asp").body, "42");
}

// A failure on an executed page names that page and line, whatever the
// caller did with the error.
TEST_F(ServerExecute, ErrorsNameTheExecutedPage) {
    Page("outer.asp", "<html>\n<% try { Server.Execute('inc/fails.asp'); } catch (e) {} %>\nafter");
    Page("inc/fails.asp", "<%\nvar a = 1;\nnull.f();\n%>");
    auto server = Start();
    const HttpResult failed = Get(server->port(), "/outer.asp");
    EXPECT_EQ(failed.status, 500);
    EXPECT_NE(failed.body.find("/inc/fails.asp, line 3"), std::string::npos) << failed.body;
    EXPECT_NE(failed.body.find("TypeError"), std::string::npos) << failed.body;
    EXPECT_EQ(failed.body.find("after"), std::string::npos) << failed.body;
    EXPECT_NE(Log().find("The script page /outer.asp failed at /inc/fails.asp, line 3"), std::string::npos) << Log();
}

// With ErrorPage500 set, a failing page that has sent nothing is answered
// by the site's error page, whose GetLastError describes the failure.
TEST_F(ServerExecute, TheSiteErrorPageReadsTheLastError) {
    platform::registry::WriteString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Venhale\\Formix4Site", "ErrorPage500",
                                    "/Errors/500.asp");
    Page("errors/500.asp",
         "<% var e = Server.GetLastError(); %><%= e.Number %>|<%= e.Description %>|<%= e.File %>|<%= e.Line %>|"
         "<%= e.Column %>|<%= e.Category %>|<%= e.Source %>|<%= e.ASPCode %>|<%= Session('n') %>");
    Page("bad.asp", "dropped<% Session('n') = 'kept';\nvar a = 1;\n  nosuch();\n%>");
    Page("deep.asp", "<% Server.Execute('inc/fails.asp'); %>");
    Page("inc/fails.asp", "<%\nvar a = 1;\nnull.f();\n%>");
    Page("sent.asp", "sent<% Response.Flush(); null.f(); %>");
    Page("fine.asp", "<%= Server.GetLastError().Number %>|<%= Server.GetLastError().Description %>");
    auto server = Start();
    const HttpResult bad = Get(server->port(), "/bad.asp");
    EXPECT_EQ(bad.status, 500);
    EXPECT_EQ(bad.body, "-2146823279|'nosuch' is undefined|/bad.asp|3|-1|JScript runtime|  nosuch();||kept");
    const HttpResult deep = Get(server->port(), "/deep.asp");
    EXPECT_EQ(deep.status, 500);
    EXPECT_EQ(deep.body.substr(deep.body.find('|')),
              "|cannot read property 'f' of null|/inc/fails.asp|3|-1|JScript runtime|null.f();||");
    // Once the answer has begun, the error page cannot take its place.
    const HttpResult sent = Get(server->port(), "/sent.asp");
    EXPECT_EQ(sent.body.rfind("sent", 0), 0u) << sent.body;
    EXPECT_EQ(sent.body.find("JScript runtime"), std::string::npos) << sent.body;
    EXPECT_EQ(Get(server->port(), "/fine.asp").body, "0|");
    EXPECT_NE(Log().find("The script page /bad.asp failed at /bad.asp, line 3"), std::string::npos) << Log();
}

}  // namespace
