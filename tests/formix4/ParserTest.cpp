#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Multipart.h"
#include "TestSupport.h"

using namespace testing_support;

namespace {

struct Parsed {
    std::vector<std::string> groups;
    std::vector<std::vector<std::string>> values;
    std::vector<std::vector<const MultipartItem*>> items;
    std::string report;
    bool failed = false;
};

// Parses a body held in memory, as the form does after intake.
class ParserTest : public ::testing::Test {
protected:
    Parsed Parse(const std::string& body) {
        mBody = body;
        mEngine = std::make_unique<Multipart>();
        mEngine->ParseBlock(reinterpret_cast<const uint8_t*>(mBody.data()), static_cast<int32_t>(mBody.size()));
        Parsed result;
        result.failed = mEngine->Report().HasErrors();
        if (result.failed) result.report = mEngine->Report().ComposeText();
        for (int g = 0; g < mEngine->GroupCount(); ++g) {
            FieldGroup* group = mEngine->GroupAt(g);
            result.groups.push_back(group->name());
            result.values.emplace_back();
            result.items.emplace_back();
            for (int i = 0; i < group->count(); ++i) {
                const MultipartItem* item = group->itemAt(i);
                result.values.back().emplace_back(reinterpret_cast<const char*>(item->data), item->length);
                result.items.back().push_back(item);
            }
        }
        return result;
    }

    static std::string Part(const std::string& headers, const std::string& content,
                            const std::string& boundary = "--XyZ") {
        return boundary + "\r\n" + headers + "\r\n" + content + "\r\n";
    }

    TempRegistry mRegistry;
    std::string mBody;
    std::unique_ptr<Multipart> mEngine;
};

const std::string kEnd = "--XyZ--\r\n";

}  // namespace

TEST_F(ParserTest, MultipartFieldsGroupsAndItems) {
    const std::string body = Part("Content-Disposition: form-data; name=\"comment\"\r\n", "Hi there") +
                             Part(
                                 "Content-Disposition: form-data; name=\"file\"; "
                                 "filename=\"C:\\Docs\\a.TXT\"\r\nContent-Type: text/plain\r\n",
                                 "line1\r\nline2") +
                             Part("Content-Disposition: form-data; name=\"COMMENT\"\r\n", "") + kEnd;
    const Parsed p = Parse(body);
    ASSERT_FALSE(p.failed) << p.report;
    EXPECT_EQ(p.groups, (std::vector<std::string>{"comment", "file"}));
    EXPECT_EQ(p.values[0], (std::vector<std::string>{"Hi there", ""}));
    EXPECT_EQ(p.values[1][0], "line1\r\nline2");
    const MultipartItem& file = *p.items[1][0];
    EXPECT_EQ(file.rawPath, u"C:\\Docs\\a.TXT");
    EXPECT_EQ(file.safeName, u"a.TXT");
    EXPECT_EQ(file.urlSafeName, u"a.txt");
    EXPECT_EQ(file.contentType, u"text/plain");
    EXPECT_TRUE(p.items[0][0]->rawPath.empty() && p.items[0][0]->contentType.empty());
    // Items point into the held block: nothing was copied.
    EXPECT_GE(reinterpret_cast<const char*>(file.data), mBody.data());
    EXPECT_LT(reinterpret_cast<const char*>(file.data), mBody.data() + mBody.size());
    EXPECT_TRUE(mEngine->IsMultipart());
    EXPECT_EQ(mEngine->FindGroup("Comment"), 0);
    EXPECT_EQ(mEngine->FindGroup("missing"), -1);
}

TEST_F(ParserTest, QuirksOfTheHeaderValues) {
    // The boundary comes from the first "--" line; a preamble is skipped.
    Parsed p = Parse("preamble text\r\n" + Part("Content-Disposition: form-data; name=\"a\"\r\n", "1") + kEnd);
    EXPECT_EQ(p.groups, std::vector<std::string>{"a"});
    // filename= before name=: "name=" is found inside "filename=".
    p = Parse(Part("Content-Disposition: form-data; filename=\"f.txt\"; name=\"field\"\r\n", "x") + kEnd);
    EXPECT_EQ(p.groups, std::vector<std::string>{"f.txt"});
    // An unquoted name runs on to the next quote.
    p = Parse(Part("Content-Disposition: form-data; name=plain; filename=\"f.txt\"\r\n", "x") + kEnd);
    EXPECT_EQ(p.groups, std::vector<std::string>{"plain; filename="});
    // A Content-Type without a space after the colon takes the next ": " value.
    p = Parse(Part("Content-Type:text/plain\r\nContent-Disposition: form-data; name=\"n\"\r\n", "x") + kEnd);
    EXPECT_EQ(p.items[0][0]->contentType, u"form-data; name=");
    // Values are cut at 259 bytes.
    p = Parse(Part("Content-Disposition: form-data; name=\"" + std::string(400, 'n') + "\"\r\n", "x") + kEnd);
    EXPECT_EQ(p.groups[0].size(), 259u);
}

TEST_F(ParserTest, MalformedShapesEndQuietly) {
    // The last part without its closing boundary is dropped.
    Parsed p = Parse(Part("Content-Disposition: form-data; name=\"a\"\r\n", "1") +
                     "--XyZ\r\nContent-Disposition: form-data; name=\"b\"\r\n\r\nunterminated");
    EXPECT_FALSE(p.failed);
    EXPECT_EQ(p.groups, std::vector<std::string>{"a"});
    // A boundary line of 256 bytes or more is no multipart body: the body is
    // then read as URL-encoded pairs.
    p = Parse("--" + std::string(254, 'b') + "\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\nx\r\n");
    EXPECT_FALSE(p.failed);
    EXPECT_FALSE(mEngine->IsMultipart());
    p = Parse("--" + std::string(253, 'b') + "\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\nx\r\n--" +
              std::string(253, 'b') + "--\r\n");
    EXPECT_TRUE(mEngine->IsMultipart());
    EXPECT_EQ(p.groups, std::vector<std::string>{"a"});
    p = Parse("");
    EXPECT_TRUE(p.groups.empty());
    EXPECT_FALSE(p.failed);
    EXPECT_FALSE(mEngine->IsMultipart());
}

TEST_F(ParserTest, UrlEncodedFallback) {
    Parsed p = Parse("a=1&b=%41+c&a=2");
    EXPECT_EQ(p.groups, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(p.values[0], (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(p.values[1], std::vector<std::string>{"A c"});
    EXPECT_FALSE(mEngine->IsMultipart());
    p = Parse("a&b=1&trailing");
    EXPECT_EQ(p.groups, std::vector<std::string>{"a&b"});
    p = Parse("x=%4&y=%zz%41=ok");
    EXPECT_EQ(p.values[0], std::vector<std::string>{""});
    EXPECT_EQ(p.values[1], std::vector<std::string>{"zzA=ok"});
    // "--" without a line end after it is a URL-encoded value.
    p = Parse("v=a--b");
    EXPECT_EQ(p.values[0], std::vector<std::string>{"a--b"});
}

TEST_F(ParserTest, FaultPathsAreReportedAndLogged) {
    // A header line that never ends.
    Parsed p = Parse("v=a--b\r\nmore");
    EXPECT_TRUE(p.failed);
    EXPECT_NE(p.report.find("GetMultipartItems raised an exception."), std::string::npos);
    EXPECT_EQ(mEngine->Report().ResultCode(), E_FAIL);
    bool logged = false;
    for (const auto& e : mRegistry.events())
        logged = logged || e[5].find("GetMultipartItems raised") != std::string::npos;
    EXPECT_TRUE(logged);
    // A zero byte inside a URL-encoded value.
    p = Parse(std::string("a=1&b=x\0y&c=3", 13));
    EXPECT_TRUE(p.failed);
    EXPECT_EQ(p.groups, std::vector<std::string>{"a"});  // groups added before the fault stay
}

TEST_F(ParserTest, AdversarialBodiesGiveTheSameResults) {
    // Thousands of header lines in one part.
    std::string headers;
    for (int i = 0; i < 5000; ++i)
        headers += "Content-Disposition: form-data\r\nX-Filler: " + std::to_string(i) + "\r\n";
    Parsed p = Parse(Part(headers + "Content-Disposition: form-data; name=\"late\"\r\n", "v") + kEnd);
    EXPECT_EQ(p.groups, std::vector<std::string>{"late"});
    // Megabytes of line ends after a boundary: one empty part, no closing boundary.
    std::string crlf;
    for (int i = 0; i < (1 << 20); ++i) crlf += "\r\n";
    p = Parse("--XyZ\r\n" + crlf + "--XyZ--\r\n");
    ASSERT_EQ(p.groups.size(), 1u);
    EXPECT_EQ(p.values[0][0].size(), crlf.size() - 4);
    // A boundary repeated inside data ends the part there, and the two bytes
    // before it are taken for the delimiter's line end.
    p = Parse(Part("Content-Disposition: form-data; name=\"a\"\r\n", "abc--XyZy") + kEnd);
    EXPECT_EQ(p.values[0][0], "a");
    // Megabytes of dashes: no line end after the first "--".
    p = Parse(std::string(3 << 20, '-'));
    EXPECT_TRUE(p.groups.empty());
}
