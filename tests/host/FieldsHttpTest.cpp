// Fields over real HTTP: an upload of real pictures, a MacBinary file and
// text, answered by the fields page through late binding; and the same
// body saved raw and read back by formix4-inspect.
#include <gtest/gtest.h>

#include "HttpSupport.h"
#include "MacBinaryFixture.h"
#include "client/Sha256.h"
#include "TestSupport.h"

using namespace testing_support;
using namespace http_support;

namespace {

// The object of the item whose client file name is `rawFileName`.
std::string ItemOf(const std::string& json, const std::string& rawFileName) {
    const size_t at = json.find("\"RawFileName\": \"" + rawFileName + "\"");
    if (at == std::string::npos) return "<missing " + rawFileName + ">";
    const size_t start = json.rfind("{\"Name\": ", at);
    return json.substr(start, json.find("}}", at) + 2 - start);
}

struct Picture {
    const char* file;
    int type, width, height;
};

// Small files made by an image editor; top-down.bmp holds the rows of
// bottom-up.bmp in the other order with a negative height.
const Picture kPictures[] = {
    {"baseline.jpg", 2, 37, 23}, {"progressive.jpg", 2, 41, 29},    {"grey.jpg", 1, 19, 31},
    {"cmyk.jpg", 3, 23, 17},     {"exif-thumbnail.jpg", 2, 48, 32}, {"picture.gif", 4, 33, 21},
    {"picture.png", 5, 35, 27},  {"bottom-up.bmp", 6, 32, 16},      {"os2.bmp", 6, 10, 20},
    {"top-down.bmp", 0, 0, 0},
};

class FieldsHttp : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(RegisterComponent());
        MultipartBody body("Fields");
        for (const Picture& picture : kPictures) {
            const std::string bytes = ReadFile(std::string(TEST_DATA_DIR) + "/images/" + picture.file);
            ASSERT_FALSE(bytes.empty()) << picture.file;
            body.file("picture", picture.file, bytes, "image/x-test");
        }
        body.field("comment", "first").field("comment", "second").file("empty", "nothing.txt", "");
        mBody = body.file("mac", "Read Me.bin", MacBinaryUpload(512), "application/x-macbinary").str();
    }
    std::map<std::string, std::string> Environment() const {
        return {{"PLATFORM_REGISTRY_DIR", mRegistry.registryDir().string()}};
    }

    TempRegistry mRegistry;
    std::string mBody;
};

}  // namespace

TEST_F(FieldsHttp, EveryMemberOfEveryFieldReachesThePage) {
    ServerProcess server(Environment());
    const HttpResult result = Request(server.port(), "POST", "/fields", mBody);
    const std::string& json = result.body;
    ASSERT_EQ(json.rfind("{\"Multipart\": true, \"Count\": 4, \"Fields\": [{\"Name\": \"picture\", \"Count\": 10, ", 0),
              0u)
        << json;

    for (const Picture& picture : kPictures) {
        const std::string item = ItemOf(json, picture.file);
        SCOPED_TRACE(item);
        EXPECT_EQ(JsonValue(item, "ImageType"), std::to_string(picture.type));
        EXPECT_EQ(JsonValue(item, "ImageWidth"), std::to_string(picture.width));
        EXPECT_EQ(JsonValue(item, "ImageHeight"), std::to_string(picture.height));
        const std::string bytes = ReadFile(std::string(TEST_DATA_DIR) + "/images/" + picture.file);
        EXPECT_EQ(JsonValue(item, "Length"), std::to_string(bytes.size()));
        EXPECT_NE(item.find("\"Data\": {\"Length\": " + std::to_string(bytes.size()) + ", \"SHA256\": \"" +
                            Sha256Hex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()) + "\"}"),
                  std::string::npos);
        EXPECT_EQ(JsonValue(item, "MIMEType"), "image/x-test");
    }

    EXPECT_NE(json.find("{\"Name\": \"comment\", \"Count\": 2, \"Value\": \"first, second\", \"Items\": ["),
              std::string::npos);
    const std::string empty = ItemOf(json, "nothing.txt");
    EXPECT_EQ(JsonValue(empty, "Length"), "0");
    EXPECT_EQ(JsonValue(empty, "FileExists"), "false");  // a name but no bytes
    EXPECT_EQ(JsonValue(empty, "RawFilePath"), "nothing.txt");

    const std::string mac = ItemOf(json, "Read Me.bin");
    SCOPED_TRACE(mac);
    EXPECT_EQ(JsonValue(mac, "MacBinary"), "true");
    EXPECT_EQ(JsonValue(mac, "Length"), "300");
    EXPECT_EQ(JsonValue(mac, "RawLength"), std::to_string(MacBinaryUpload(512).size()));
    EXPECT_EQ(JsonValue(mac, "FileName"), "read_me.bin");
    EXPECT_EQ(JsonValue(mac, "FileType"), "TXT");  // from the type and creator, not the name
    EXPECT_NE(mac.find("\"Resource\": {\"Length\": 512, "), std::string::npos);
}

TEST_F(FieldsHttp, InspectingTheSavedBodyGivesWhatThePageSaw) {
    ServerProcess server(Environment());
    const std::string live = Request(server.port(), "POST", "/fields", mBody).body;
    const std::string saved = (mRegistry.dir() / "upload.raw").string();
    const HttpResult result = Request(server.port(), "POST", "/intake?AbsolutePath=1&save=" + saved, mBody);
    ASSERT_EQ(JsonValue(result.body, "Count"), "4") << result.body;
    std::string inspected;
    ASSERT_EQ(RunInspect(saved, &inspected), 0) << inspected;
    EXPECT_EQ(inspected, live);
}
