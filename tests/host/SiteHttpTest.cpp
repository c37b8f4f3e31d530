// The upload site over real HTTP: the form, uploads answered as HTML and as
// JSON with the saved files, and the error pages.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "MacBinaryFixture.h"
#include "SiteServer.h"
#include "client/Sha256.h"

using namespace testing_support;
using namespace http_support;

namespace {

class SiteHttp : public SiteServerTest {
protected:
    void SetUp() override {
        SiteServerTest::SetUp();
        mPicture = ReadFile(std::string(TEST_DATA_DIR) + "/images/picture.png");
        mBody = MultipartBody("Site")
                    .field("name", "Ann")
                    .field("topics", "Photos")
                    .field("topics", "Music")
                    .file("file1", "C:\\pics\\picture.png", mPicture, "image/png")
                    .file("file2", "", "")
                    .file("more", "Notes.bin", MacBinaryUpload(400), "application/x-macbinary")
                    .str();
    }

    std::string mPicture, mBody;
};

}  // namespace

TEST_F(SiteHttp, TheFormCarriesANewProgressId) {
    auto server = Start();
    Visitor visitor;
    const std::string first = FormId(server->port(), visitor);
    const std::string second = FormId(server->port(), visitor);
    ASSERT_FALSE(first.empty());
    EXPECT_NE(first, second);
    EXPECT_NE(Get(server->port(), "/upload").body.find("Uploads up to 2000 MB."), std::string::npos);
}

TEST_F(SiteHttp, UploadsAreSavedAndReportedAsJson) {
    auto server = Start();
    Visitor visitor;
    const std::string id = FormId(server->port(), visitor);
    const HttpResult result = Upload(server->port(), mBody, true, id, visitor);
    const std::string& json = result.body;
    ASSERT_EQ(json.rfind("{\"Multipart\": true, \"Count\": 5, ", 0), 0u) << json;
    const std::regex saved("\"SavedAs\": \"(/uploads/[^\"]+)\"");
    std::vector<std::string> paths;
    for (auto it = std::sregex_iterator(json.begin(), json.end(), saved); it != std::sregex_iterator(); ++it)
        paths.push_back((*it)[1]);
    ASSERT_EQ(paths.size(), 2u) << json;
    EXPECT_EQ(ReadFile(mRoot / paths[0].substr(1)), mPicture);
    EXPECT_EQ(Get(server->port(), paths[0]).body, mPicture);  // the site serves it back
    EXPECT_TRUE(paths[0].find("/1-picture.png") != std::string::npos) << paths[0];
    EXPECT_EQ(ReadFile(mRoot / paths[1].substr(1)), std::string(300, 'd'));  // the data fork
    EXPECT_NE(json.find("\"ImageType\": 5, \"ImageWidth\": 35, \"ImageHeight\": 27, \"Data\": {\"Length\": 161, "
                        "\"SHA256\": \"" +
                        Sha256Hex(reinterpret_cast<const uint8_t*>(mPicture.data()), mPicture.size())),
              std::string::npos);
    EXPECT_NE(json.find("\"Resource\": {\"Length\": 400, "), std::string::npos);  // the MacBinary fork
    EXPECT_NE(json.find("\"Content\": \"Ann\""), std::string::npos);
    EXPECT_NE(json.find("\"Value\": \"Photos, Music\""), std::string::npos);
    EXPECT_EQ(std::count(json.begin(), json.end(), '\n'), 1);
    EXPECT_NE(json.find("\"Content\": null"), std::string::npos);  // files are not repeated as text
    EXPECT_NE(json.find("\"SavedAs\": null"), std::string::npos);  // text fields and the empty file input
    EXPECT_NE(json.find("\"Name\": \"file1\", \"Count\": 1, \"Value\": null"), std::string::npos);  // no file as text

    // The progress of that form ID is complete.
    const std::string progress = Get(server->port(), "/progress?ID=" + id, visitor).body;
    EXPECT_EQ(JsonValue(progress, "PercentDone"), "100") << progress;
    EXPECT_EQ(progress.find('\n'), progress.size() - 1);  // one document, one line
    EXPECT_EQ(JsonValue(progress, "BytesDone"), std::to_string(mBody.size()));
}

TEST_F(SiteHttp, ResultsPageAndErrorPages) {
    auto server = Start();
    Visitor visitor;
    HttpResult result = Upload(server->port(), mBody, false, FormId(server->port(), visitor), visitor);
    EXPECT_NE(result.body.find("<h1>Upload received</h1>"), std::string::npos) << result.body;
    EXPECT_NE(result.body.find("<td>PNG, 35 &times; 27</td>"), std::string::npos);
    EXPECT_NE(result.body.find("<td>C:\\pics\\picture.png</td>"), std::string::npos);
    EXPECT_NE(result.body.find("MacBinary, type TXT, resource fork 400 bytes"), std::string::npos);
    EXPECT_NE(result.body.find("<a href=\"/uploads/"), std::string::npos);

    result = Upload(server->port(), "garbage without any boundary", false, "1", visitor);
    EXPECT_EQ(result.status, 400);
    EXPECT_NE(result.body.find("The request body is not the multipart form its Content-Type announces."),
              std::string::npos);

    // Over the limit the server answers before reading the body; a form
    // whose announced length fits but whose body is larger is the component's.
    auto limited = Start({"--max-upload", "1000"});
    result = Upload(limited->port(), mBody, false, "1", visitor);
    EXPECT_EQ(result.status, 413);
    EXPECT_NE(result.body.find("The request body is larger than this server takes (1000 bytes)."), std::string::npos)
        << result.body;
}

// Each worker would otherwise keep the largest heap a request made on it: a
// busy server would hold that many times the largest form. What the server
// keeps for the next requests is bounded, whatever forms it served.
TEST_F(SiteHttp, FormsServedOneAfterAnotherLeaveNoMoreThanTheKeptHeap) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer's allocator holds freed memory in quarantine and ignores the trim";
#endif
    auto server = Start({"--kept-memory", "16"});
    const auto anonymousKb = [&] {
        std::ifstream status("/proc/" + std::to_string(server->pid()) + "/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("RssAnon:", 0) == 0) return std::atol(line.c_str() + 8);
        return 0L;
    };
    const long atStart = anonymousKb();
    // Each form leaves tens of megabytes free in the heap of the worker that
    // served it: kept on every worker, they would pass the bound of 16 MB.
    MultipartBody many("Site");
    for (int i = 0; i < 10000; ++i) many.field("field" + std::to_string(i), std::string(1000, 'v'));
    const std::string body = many.str();
    Visitor visitor;
    for (int upload = 1; upload <= 5; ++upload) {
        const HttpResult result = Upload(server->port(), body, true, FormId(server->port(), visitor), visitor);
        ASSERT_EQ(result.status, 200) << result.body.substr(0, 300);
    }
    const long afterLast = anonymousKb();
    EXPECT_LT(afterLast, atStart + (16 + 8) * 1024) << "at the start " << atStart << " kB";
}

// A long text is shown cut, saying how much was left out, while its digest
// still covers every byte; a field of several items cuts its joined value.
// Its bytes are read in pieces from a scratch copy, or whole when no scratch
// file can be made: the report is the same.
TEST_F(SiteHttp, LongTextsAreShownCut) {
    // 150,000 characters of two bytes each after one of one byte: the cut
    // falls inside the text, and the pieces it is read in end inside a character.
    std::string longText = "a";
    for (int i = 0; i < 150000; ++i) longText += "\xC3\xA9";
    const std::string shownText = longText.substr(0, 1 + 65535 * 2);
    const std::string body =
        MultipartBody("Site").field("long", longText).field("pair", longText).field("pair", "b").str();
    for (const std::string temporary : {"", "/nonexistent"}) {
        SCOPED_TRACE("TMPDIR=" + temporary);
        std::map<std::string, std::string> environment{{"PLATFORM_REGISTRY_DIR", mRegistry.registryDir().string()}};
        if (!temporary.empty()) environment["TMPDIR"] = temporary;
        auto server = std::make_unique<ServerProcess>(environment, mRoot.string(), std::vector<std::string>{}, 0,
                                                      FORMIX4_SERVER_PATH, std::vector<std::string>{});
        Visitor visitor;
        const HttpResult json = Upload(server->port(), body, true, FormId(server->port(), visitor), visitor);
        ASSERT_EQ(json.status, 200) << json.body.substr(0, 300);
        EXPECT_NE(
            json.body.find("\"Name\": \"long\", \"Count\": 1, \"Value\": \"" + shownText + "\", \"ValueCut\": 84465, "),
            std::string::npos);
        EXPECT_NE(json.body.find("\"Content\": \"" + shownText + "\", \"ContentCut\": 84465, "), std::string::npos);
        EXPECT_NE(json.body.find("\"Value\": \"" + shownText + "\", \"ValueCut\": 84468, "),
                  std::string::npos);  // 150,001 + ", b" joined
        EXPECT_NE(json.body.find("\"Data\": {\"Length\": 300001, \"SHA256\": \"" +
                                 Sha256Hex(reinterpret_cast<const uint8_t*>(longText.data()), longText.size())),
                  std::string::npos);
        const HttpResult page = Upload(server->port(), body, false, FormId(server->port(), visitor), visitor);
        EXPECT_NE(page.body.find("[... 84465 more characters]</td>"), std::string::npos);
    }
    // No scratch file is left behind.
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::temp_directory_path()))
        EXPECT_EQ(entry.path().filename().string().rfind("formix4-text-", 0), std::string::npos) << entry.path();
}

// A form of many fields of every kind, mixed: its report has the fields in
// the form's order, files saved and numbered in that order, long texts cut
// and fields of several items joined.
TEST_F(SiteHttp, AFormOfManyFieldsIsReportedInItsOwnOrder) {
    MultipartBody body("Site");
    std::vector<std::string> names;
    const std::string longText(70000, 'L');
    for (int i = 0; i < 1500; ++i) {
        const std::string name = "f" + std::to_string(i);
        names.push_back(name);
        if (i % 97 == 5)
            body.file(name, "file" + std::to_string(i) + ".txt", "bytes of " + name);
        else if (i % 211 == 7)
            body.field(name, longText);
        else if (i % 13 == 0)
            body.field(name, "a" + name).field(name, "b" + name);
        else
            body.field(name, "v" + name);
    }
    auto server = Start();
    Visitor visitor;
    const HttpResult result = Upload(server->port(), body.str(), true, FormId(server->port(), visitor), visitor);
    ASSERT_EQ(result.status, 200) << result.body.substr(0, 300);
    const std::string& json = result.body;

    // Each field's start, in the order of the answer.
    size_t i = 0;
    for (size_t at = json.find("{\"Name\": \"f"); at != std::string::npos; at = json.find("{\"Name\": \"f", at + 1)) {
        const size_t nameEnd = json.find('"', at + 10);
        if (json.compare(nameEnd, 12, "\", \"Count\": ") != 0) continue;  // an item
        ASSERT_LT(i, names.size());
        const std::string& name = names[i];
        const std::string head = "{\"Name\": \"" + name + "\", \"Count\": ";
        ASSERT_EQ(json.compare(at, head.size(), head), 0) << json.substr(at, 80);
        const std::string_view rest = std::string_view(json).substr(at + head.size());
        const std::string value = i % 97 == 5    ? "1, \"Value\": null"  // a file, not shown as text
                                  : i % 211 == 7 ? "1, \"Value\": \"" + longText.substr(0, 65536) + "\""
                                  : i % 13 == 0  ? "2, \"Value\": \"a" + name + ", b" + name + "\""
                                                 : "1, \"Value\": \"v" + name + "\"";
        EXPECT_EQ(rest.substr(0, value.size()), value) << name;
        ++i;
    }
    EXPECT_EQ(i, names.size());
    EXPECT_EQ(std::count(json.begin(), json.end(), '\n'), 1);

    // Saved in the form's order: the n'th file saved is the n'th file sent.
    int count = 0;
    for (size_t at = json.find("\"SavedAs\": \"/"); at != std::string::npos;
         at = json.find("\"SavedAs\": \"/", at + 1)) {
        ++count;
        const size_t start = at + 12, end = json.find('"', start);
        const std::string path = json.substr(start, end - start);
        const std::string file = path.substr(path.rfind('/') + 1);  // n-fileK.txt
        EXPECT_EQ(std::stoi(file), count) << path;
        const int sent = std::stoi(file.substr(file.find("-file") + 5));
        EXPECT_EQ(sent % 97, 5) << path;
        EXPECT_EQ(ReadFile(mRoot / path.substr(1)), "bytes of f" + std::to_string(sent));
    }
    EXPECT_EQ(count, 16);  // 5, 102, ..., 1460
    size_t cuts = 0;
    for (size_t at = json.find("\"ContentCut\": 4464"); at != std::string::npos;
         at = json.find("\"ContentCut\": 4464", at + 1))
        ++cuts;
    EXPECT_EQ(cuts, 8u);  // 7, 218, ..., 1484
}
