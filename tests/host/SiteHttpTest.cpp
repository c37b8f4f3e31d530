// The upload site over real HTTP: the form, uploads answered as HTML and as
// JSON with the saved files, and the error pages.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "HttpSupport.h"
#include "MacBinaryFixture.h"
#include "Sha256.h"
#include "TestSupport.h"

using namespace testing_support;
using namespace http_support;

namespace {

class SiteHttp : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(RegisterComponent());
        std::filesystem::create_directories(mRoot);
        for (const char* file : {"upload-form.html", "progress.js", "site.css"})
            std::filesystem::copy_file(std::string(SITE_DIR) + "/" + file, mRoot / file);
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
    std::unique_ptr<ServerProcess> Start(const std::string& maxUpload = "") {
        std::map<std::string, std::string> environment = {{"PLATFORM_REGISTRY_DIR", mRegistry.registryDir().string()}};
        if (!maxUpload.empty()) environment["FORMIX4_MAX_UPLOAD"] = maxUpload;
        return std::make_unique<ServerProcess>(environment, mRoot.string());
    }
    HttpResult Upload(int port, const std::string& body, bool json, const std::string& id = "7") {
        const int fd = Connect(port);
        std::string head = "POST /upload?ID=" + id + " HTTP/1.1\r\nHost: x\r\nContent-Type: multipart/form-data; "
                           "boundary=Site\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
        head += json ? "Accept: application/json\r\n\r\n" : "Accept: text/html\r\n\r\n";
        SendAll(fd, head.data(), head.size());
        SendAll(fd, body.data(), body.size());
        HttpResult result = ReadResponse(fd);
        close(fd);
        return result;
    }

    TempRegistry mRegistry;
    std::filesystem::path mRoot = mRegistry.dir() / "www";
    std::string mPicture, mBody;
};

}  // namespace

TEST_F(SiteHttp, TheFormCarriesANewProgressId) {
    auto server = Start();
    const std::string first = Request(server->port(), "GET", "/upload").body;
    const std::string second = Request(server->port(), "GET", "/upload").body;
    const std::regex action("action=\"/upload\\?ID=([0-9]+)\"");
    std::smatch a, b;
    ASSERT_TRUE(std::regex_search(first, a, action)) << first;
    ASSERT_TRUE(std::regex_search(second, b, action));
    EXPECT_NE(a[1], b[1]);
    EXPECT_NE(first.find("Uploads up to 2000 MB."), std::string::npos);
}

TEST_F(SiteHttp, UploadsAreSavedAndReportedAsJson) {
    auto server = Start();
    const HttpResult result = Upload(server->port(), mBody, true);
    const std::string& json = result.body;
    ASSERT_EQ(json.rfind("{\"Multipart\": true, \"Count\": 5, ", 0), 0u) << json;
    const std::regex saved("\"SavedAs\": \"(/uploads/[^\"]+)\"");
    std::vector<std::string> paths;
    for (auto it = std::sregex_iterator(json.begin(), json.end(), saved); it != std::sregex_iterator(); ++it)
        paths.push_back((*it)[1]);
    ASSERT_EQ(paths.size(), 2u) << json;
    EXPECT_EQ(ReadFile(mRoot / paths[0].substr(1)), mPicture);
    EXPECT_EQ(Request(server->port(), "GET", paths[0]).body, mPicture);  // the site serves it back
    EXPECT_TRUE(paths[0].find("/1-picture.png") != std::string::npos) << paths[0];
    EXPECT_EQ(ReadFile(mRoot / paths[1].substr(1)), std::string(300, 'd'));  // the data fork
    EXPECT_NE(json.find("\"ImageType\": 5, \"ImageWidth\": 35, \"ImageHeight\": 27, \"Data\": {\"Length\": 161, "
                        "\"SHA256\": \"" + Sha256Hex(reinterpret_cast<const uint8_t*>(mPicture.data()), mPicture.size())),
              std::string::npos);
    EXPECT_NE(json.find("\"Resource\": {\"Length\": 400, "), std::string::npos);  // the MacBinary fork
    EXPECT_NE(json.find("\"Content\": \"Ann\""), std::string::npos);
    EXPECT_NE(json.find("\"Value\": \"Photos, Music\""), std::string::npos);
    EXPECT_EQ(std::count(json.begin(), json.end(), '\n'), 1);
    EXPECT_NE(json.find("\"Content\": null"), std::string::npos);  // files are not repeated as text
    EXPECT_NE(json.find("\"SavedAs\": null"), std::string::npos);  // text fields and the empty file input

    // The progress of that form ID is complete.
    const std::string progress = Request(server->port(), "GET", "/progress?ID=7").body;
    EXPECT_EQ(JsonValue(progress, "PercentDone"), "100") << progress;
    EXPECT_EQ(JsonValue(progress, "BytesDone"), std::to_string(mBody.size()));
}

TEST_F(SiteHttp, ResultsPageAndErrorPages) {
    auto server = Start();
    HttpResult result = Upload(server->port(), mBody, false);
    EXPECT_NE(result.body.find("<h1>Upload received</h1>"), std::string::npos) << result.body;
    EXPECT_NE(result.body.find("<td>PNG, 35 &times; 27</td>"), std::string::npos);
    EXPECT_NE(result.body.find("<td>C:\\pics\\picture.png</td>"), std::string::npos);
    EXPECT_NE(result.body.find("MacBinary, type TXT, resource fork 400 bytes"), std::string::npos);
    EXPECT_NE(result.body.find("<a href=\"/uploads/"), std::string::npos);

    result = Upload(server->port(), "garbage without any boundary", false);
    EXPECT_EQ(result.status, 400);
    EXPECT_NE(result.body.find("The request body is not the multipart form its Content-Type announces."),
              std::string::npos);

    auto limited = Start("1000");
    result = Upload(limited->port(), mBody, false);
    EXPECT_EQ(result.status, 413);
    EXPECT_NE(result.body.find("<p class=\"error\">Upload size is greater than the maximum allowed.\n</p>"),
              std::string::npos)
        << result.body;
    result = Upload(limited->port(), mBody, true);
    EXPECT_EQ(JsonValue(result.body, "Description"), "Upload size is greater than the maximum allowed.\n");
}
