// Page files made into programs, and the programs run in the page language
// with a Response object that collects what they write.
#include <gtest/gtest.h>

#include <duktape.h>

#include <fstream>

#include "TempFolder.h"
#include "script/PageProgram.h"

namespace fs = std::filesystem;

namespace {

class PageSourceTest : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(mRoot / "inc"); }

    void Write(const std::string& name, const std::string& text) {
        fs::create_directories((mRoot / name).parent_path());
        std::ofstream(mRoot / name, std::ios::binary) << text;
    }

    script::CompiledPage Compile(const std::string& name) { return script::CompilePage(mRoot, mRoot / name); }

    // The error compiling the page gives (a failure when it compiles).
    script::PageError ErrorOf(const std::string& name) {
        try {
            Compile(name);
        } catch (const script::PageError& error) {
            return error;
        }
        ADD_FAILURE() << name << " compiled";
        return script::PageError({}, "");
    }

    // Runs the page's program; what it wrote, or "error at FILE:LINE: TEXT".
    std::string Run(const std::string& name) {
        const script::CompiledPage page = Compile(name);
        duk_context* context = duk_create_heap_default();
        duk_push_global_object(context);
        duk_push_object(context);
        duk_push_c_function(
            context,
            [](duk_context* c) -> duk_ret_t {
                duk_push_global_stash(c);
                duk_get_prop_string(c, -1, "out");
                duk_dup(c, 0);
                duk_safe_to_string(c, -1);
                duk_concat(c, 2);
                duk_put_prop_string(c, -2, "out");
                return 0;
            },
            1);
        duk_put_prop_string(context, -2, "Write");
        duk_put_prop_string(context, -2, "Response");
        duk_pop(context);
        duk_push_global_stash(context);
        duk_push_string(context, "");
        duk_put_prop_string(context, -2, "out");
        duk_pop(context);
        std::string result;
        duk_push_lstring(context, page.program.data(), page.program.size());
        duk_push_string(context, "page");
        if (duk_pcompile(context, 0) != 0 || duk_pcall(context, 0) != 0) {
            duk_get_prop_string(context, -1, "lineNumber");
            const script::SourceLine where = page.origin(duk_get_int(context, -1));
            duk_pop(context);
            result =
                "error at " + where.file + ":" + std::to_string(where.line) + ": " + duk_safe_to_string(context, -1);
        } else {
            duk_push_global_stash(context);
            duk_get_prop_string(context, -1, "out");
            result = duk_get_string(context, -1);
        }
        duk_destroy_heap(context);
        return result;
    }

    TempFolder mTemp{"page-source"};
    fs::path mRoot = mTemp.path() / "www";
};

}  // namespace

TEST_F(PageSourceTest, TextCodeAndExpressionsRunAsTheyRead) {
    Write("a.asp",
          "<%@ Language=\"JScript\" %><p><%= 1 + 2 %></p>\n"
          "<% for (var i = 0; i < 3; i++) { %>[<%= i %>]<% } %>\n");
    EXPECT_EQ(Run("a.asp"), "<p>3</p>\n[0][1][2]\n");
    // Code as people write it: no semicolons, a comment at the end of a
    // block, if and else across blocks, an expression ending in a comment.
    Write("b.asp", "<% var a = 1 // the first %><%= a %><% if (a == 2) %>two<% else %>other<%= a + 1 // next %>");
    EXPECT_EQ(Run("b.asp"), "1other2");
    // Text is written byte for byte: quotes, backslashes, line ends of both
    // kinds, control bytes and the two Unicode line separators.
    const std::string text = "\"quoted\" \\ back\r\nline\ttab \x01 \xe2\x80\xa8 \xe2\x80\xa9 caf\xc3\xa9 <% %>";
    Write("c.asp", text);
    EXPECT_EQ(Run("c.asp"), text.substr(0, text.size() - 5));
    Write("d.asp", "<%@ LANGUAGE=javascript %>ok");
    EXPECT_EQ(Run("d.asp"), "ok");
}

TEST_F(PageSourceTest, IncludesByFileAndByVirtualPathStayInsideTheRoot) {
    Write("inc/head.inc", "<h1><%= title %></h1>\n<!-- #include file=\"nested.inc\" -->");
    Write("inc/nested.inc", "[nested]");
    Write("shop/page.asp",
          "<% var title = 'T' %><!-- #include virtual=\"/inc/head.inc\" -->|"
          "<!--#INCLUDE FILE=\"../inc/nested.inc\"-->|<!-- a plain comment -->");
    EXPECT_EQ(Run("shop/page.asp"), "<h1>T</h1>\n[nested]|[nested]|<!-- a plain comment -->");
    EXPECT_EQ(Compile("shop/page.asp").sources.size(), 4u);

    std::ofstream(mTemp.path() / "secret.txt") << "secret";
    Write("out.asp", "<!-- #include file=\"../secret.txt\" -->");
    Write("outv.asp", "x\n<!-- #include virtual=\"/../secret.txt\" -->");
    Write("missing.asp", "<!-- #include file=\"none.inc\" -->");
    Write("loop.asp", "<!-- #include file=\"loop.asp\" -->");
    for (const char* page : {"out.asp", "outv.asp", "missing.asp", "loop.asp"}) {
        const script::PageError error = ErrorOf(page);
        EXPECT_EQ(error.where.file, "/" + std::string(page)) << error.what();
    }
    const script::PageError outside = ErrorOf("outv.asp");
    EXPECT_EQ(outside.where.line, 2);
    EXPECT_NE(std::string(outside.what()).find("outside the document root"), std::string::npos);
}

TEST_F(PageSourceTest, ErrorsNameTheFileAndLineTheyCameFrom) {
    Write("inc/lib.inc", "<%\nfunction fail() {\n  throw new Error('in the library')\n}\n%>");
    Write("page.asp", "line 1\n<!-- #include file=\"inc/lib.inc\" -->\nline 3\n<%\n\nundefinedName()\n%>");
    EXPECT_EQ(Run("page.asp"), "error at /page.asp:6: ReferenceError: identifier 'undefinedName' undefined");
    Write("page2.asp", "<!-- #include file=\"inc/lib.inc\" -->\n<% fail() %>");
    EXPECT_EQ(Run("page2.asp"), "error at /inc/lib.inc:3: Error: in the library");

    Write("perl.asp", "\n<%@ Language=\"PerlScript\" %>");
    const script::PageError language = ErrorOf("perl.asp");
    EXPECT_EQ(language.where.line, 2);
    EXPECT_STREQ(language.what(),
                 "The page /perl.asp is written in PerlScript, which this server does not run. "
                 "Supported languages: JScript, JavaScript, ECMAScript, VBScript.");
    Write("open.asp", "a\nb <% var x = 1");
    EXPECT_EQ(ErrorOf("open.asp").where.line, 2);
}
