// The component as a page drives it, by ProgID and member names: saves and
// reads that must end, never destroy their own source, never report work
// they did not do, and names that can always be found again.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>

#include "HttpSupport.h"
#include "MacBinaryFixture.h"
#include "TestSupport.h"
#include "client/Script.h"

using namespace testing_support;
using namespace http_support;
namespace fs = std::filesystem;

namespace {

class LateBinding : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(RegisterComponent()); }

    // A form that has read the raw upload at `path` (AbsolutePath on).
    DispatchObject ReadForm(const std::string& path, bool* read = nullptr) {
        DispatchObject form = DispatchObject::Create("Formix4.XForm");
        EXPECT_TRUE(form.ok());
        form.put("AbsolutePath", MakeBool(true));
        form.put("Overwrite", MakeBool(true));
        const bool ok = form.call("Read", {MakeString(path)});
        if (read) *read = ok;
        return form;
    }
    DispatchObject Field(DispatchObject& form, const std::string& name, long n = 1) {
        return form.getObject("Item", {MakeString(name)}).getObject("Item", {MakeLong(n)});
    }
    std::string Write(const std::string& name, const std::string& bytes) {
        const fs::path path = mRegistry.dir() / name;
        WriteFile(path, bytes);
        return path.string();
    }

    TempRegistry mRegistry;
};

}  // namespace

TEST_F(LateBinding, NothingHangs_AMacintoshFileSavedToARelativePath) {
    const std::string raw = Write(
        "mac.raw", MultipartBody("B").file("file", "Notes", MacBinaryUpload(400), "application/x-macbinary").str());
    DispatchObject form = ReadForm(raw);
    form.put("Streams", MakeBool(true));
    DispatchObject field = Field(form, "file");
    const fs::path before = fs::current_path();
    fs::current_path(mRegistry.dir());
    const bool saved = field.call("Save", {MakeString("rel-mac.bin")});
    fs::current_path(before);
    EXPECT_TRUE(saved) << field.error().description;
    EXPECT_EQ(ReadFile(mRegistry.dir() / "rel-mac.bin"), std::string(300, 'd'));  // the data fork
}

TEST_F(LateBinding, NothingHangs_SpecialFilesAreRefusedAtOnce) {
    const std::string fifo = (mRegistry.dir() / "fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string socketPath = (mRegistry.dir() / "sock").string();
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    for (const std::string& path : {fifo, socketPath, std::string("/dev/zero"), mRegistry.dir().string()}) {
        bool read = true;
        DispatchObject form = ReadForm(path, &read);
        EXPECT_FALSE(read) << path;
        EXPECT_NE(form.error().description.find("Unable to read file"), std::string::npos)
            << path << ": " << form.error().description;
    }
    close(listener);
}

TEST_F(LateBinding, NothingIsLost_SavingOverTheUploadBeingReadIsRefused) {
    const std::string body = MultipartBody("B")
                                 .file("first", "a.bin", std::string(20480, 'a'))
                                 .file("second", "b.bin", std::string(20480, 'b'))
                                 .str();
    const std::string raw = Write("upload.raw", body);
    DispatchObject form = ReadForm(raw);
    DispatchObject first = Field(form, "first");
    EXPECT_FALSE(first.call("Save", {MakeString(raw)}));
    EXPECT_NE(first.error().description.find("being used by another process"), std::string::npos)
        << first.error().description;
    EXPECT_EQ(ReadFile(raw), body);
    DispatchObject second = Field(form, "second");
    platform::Variant data;
    ASSERT_TRUE(second.get("Data", &data));
    ASSERT_EQ(data.vt, VT_ARRAY | VT_UI1);
    EXPECT_EQ(std::string(static_cast<const char*>(data.parray->pvData), data.parray->rgsabound[0].cElements),
              std::string(20480, 'b'));
    // The form's own Save to the file it read is refused the same way.
    EXPECT_FALSE(form.call("Save", {MakeString(raw)}));
    EXPECT_EQ(ReadFile(raw), body);
}

TEST_F(LateBinding, NoSuccessWithoutTheWork_PathsThatDoNotFit) {
    const std::string raw = Write("small.raw", MultipartBody("B").file("file", "a.txt", "abc").str());
    DispatchObject form = ReadForm(raw);
    // Two names that share their first 259 characters.
    const std::string stem = (mRegistry.dir() / std::string(300, 'n')).string().substr(0, 259);
    for (const std::string& target : {stem + "-one.txt", stem + "-two.txt"}) {
        DispatchObject field = Field(form, "file");
        EXPECT_FALSE(field.call("Save", {MakeString(target)}));
        EXPECT_EQ(field.error().hr, static_cast<HRESULT>(0x800700CE));
        EXPECT_NE(field.error().description.find("The filename or extension is too long."), std::string::npos);
        EXPECT_FALSE(form.call("Save", {MakeString(target)}));
        EXPECT_EQ(form.error().hr, static_cast<HRESULT>(0x800700CE));
    }
    bool read = true;
    DispatchObject tooLong = ReadForm(stem + "-more.raw", &read);
    EXPECT_FALSE(read);  // Read fails with E_FAIL and the reasons as text
    EXPECT_NE(tooLong.error().description.find("The filename or extension is too long."), std::string::npos)
        << tooLong.error().description;
    size_t files = 0;
    for (const auto& entry : fs::directory_iterator(mRegistry.dir()))
        files += entry.path().filename().string()[0] == 'n';
    EXPECT_EQ(files, 0u);  // nothing written under a cut name
}

TEST_F(LateBinding, NoSuccessWithoutTheWork_FilesLargerThanAnUploadCanBe) {
    const std::string body = MultipartBody("B").field("x", "1").str();
    for (const uint64_t size : {(uint64_t{2} << 30) + 100, (uint64_t{4} << 30) + 100}) {
        const std::string path = Write("huge.raw", body);
        ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(size)), 0);  // sparse: the body, then zeros
        bool read = true;
        DispatchObject form = ReadForm(path, &read);
        EXPECT_FALSE(read) << size;
        EXPECT_NE(form.error().description.find("larger than 2147483647 bytes"), std::string::npos)
            << form.error().description;
        fs::remove(path);
    }
}

TEST_F(LateBinding, NamesRoundTrip_EveryEnumeratedNameIsFoundAgain) {
    // Names whose bytes are no UTF-8 text (the default code page) beside plain ones.
    const std::string raw = Write("names.raw", MultipartBody("B")
                                                   .field("caf\xE9", "1")
                                                   .field("\xFF\xFE", "2")
                                                   .field("plain", "3")
                                                   .field("caf\xE9", "4")
                                                   .str());
    DispatchObject form = ReadForm(raw);
    platform::Variant enumerator;
    ASSERT_TRUE(form.get("_NewEnum", &enumerator));
    platform::ComPtr<IEnumVARIANT> names;
    ASSERT_EQ(enumerator.punkVal->QueryInterface(IID_IEnumVARIANT, names.putVoid()), S_OK);
    long total = 0;
    for (;;) {
        platform::Variant name;
        ULONG fetched = 0;
        if (names->Next(1, &name, &fetched) != S_OK) break;
        DispatchObject group = form.getObject("Item", {MakeString(VariantText(name))});
        const long count = group.getLong("Count");
        EXPECT_GE(count, 1) << VariantText(name);
        total += count;
    }
    EXPECT_EQ(total, 4);
}

TEST_F(LateBinding, TheFormsSettingsAsTheirMembersReadThem) {
    const std::string raw = Write("one.raw", MultipartBody("B").file("file", "a.txt", "abc").str());
    DispatchObject form = ReadForm(raw);
    // AbsolutePath holding 1, not -1: XField.Save takes the path as virtual,
    // and outside a request there is no mapping.
    VARIANT one;
    VariantInit(&one);
    one.vt = VT_BOOL;
    one.boolVal = 1;
    ASSERT_TRUE(form.put("AbsolutePath", one));
    DispatchObject field = Field(form, "file");
    const std::string target = (mRegistry.dir() / "one.txt").string();
    EXPECT_FALSE(field.call("Save", {MakeString(target)}));
    EXPECT_EQ(field.error().hr, static_cast<HRESULT>(0x8004E004));
    EXPECT_FALSE(fs::exists(target));
    ASSERT_TRUE(form.put("AbsolutePath", MakeBool(true)));
    EXPECT_TRUE(field.call("Save", {MakeString(target)}));
    EXPECT_EQ(ReadFile(target), "abc");
}

TEST_F(LateBinding, AssertionsOnlyWhereALookupRanIntoTheNullLimit) {
    auto nullLimitReports = [this] {
        size_t n = 0;
        for (const auto& event : mRegistry.events()) n += event[5].find("ptr && str && maxptr") != std::string::npos;
        return n;
    };
    // A valid body whose part has no headers needs no lookup: no entry.
    bool read = false;
    ReadForm(Write("plain.raw", "--b\r\n\r\nnoheaders\r\n--b--"), &read);
    EXPECT_TRUE(read);
    EXPECT_EQ(nullLimitReports(), 0u);
    // A disposition line in headers that never end: looked up, and reported.
    ReadForm(Write("open.raw", "--b\r\nContent-Disposition: form-data; name=\"x\"\r\nvalue\r\n--b--"));
    EXPECT_EQ(nullLimitReports(), 1u);
}
