// Saving fields to real files, with Macintosh forks as named streams
// (user extended attributes) where the volume keeps them.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/xattr.h>

#include <cstring>

#include "FileUtilities.h"
#include "TestSupport.h"
#include "UploadFixtures.h"
#include "XField.h"
#include "XFields.h"
#include "XForm.h"
#include "platform/ComPtr.h"
#include "platform/System.h"

using namespace testing_support;
using platform::Bstr;
using platform::ComPtr;

namespace {

std::string Attribute(const std::filesystem::path& file, const std::string& stream) {
    const std::string name = "user.DosStream." + stream + ":$DATA";
    char value[70000];
    const ssize_t n = getxattr(file.c_str(), name.c_str(), value, sizeof value);
    return n < 0 ? "<none>" : std::string(value, static_cast<size_t>(n));
}

class SaveTest : public ::testing::Test {
protected:
    void Load(const std::string& body) { ASSERT_EQ(ReadRawUpload(mRegistry.dir() / "raw.bin", body, &mForm), S_OK); }
    ComPtr<IXField> Field(int group, int item) {
        IDispatch* dispatch = nullptr;
        EXPECT_EQ(MakeField(static_cast<XForm*>(mForm.get()), group, item, &dispatch), S_OK);
        ComPtr<IXField> field;
        dispatch->QueryInterface(IID_IXField, field.putVoid());
        dispatch->Release();
        return field;
    }
    HRESULT Save(IXField* field, const std::filesystem::path& path) {
        Bstr target(platform::codepage::Utf8ToUtf16(path.string()));
        return field->Save(target.get());
    }

    TempRegistry mRegistry;
    ComPtr<IXForm> mForm;
};

const std::string kText = "--XyZ\r\nContent-Disposition: form-data; name=\"t\"\r\n\r\nhello\r\n--XyZ--\r\n";

}  // namespace

TEST_F(SaveTest, PlainFieldsOverwriteOnlyWhenAsked) {
    Load(kText);
    const auto target = mRegistry.dir() / "t.txt";
    ASSERT_EQ(Save(Field(0, 0).get(), target), S_OK);
    EXPECT_EQ(ReadFile(target), "hello");
    WriteFile(target, "older and longer");
    EXPECT_EQ(static_cast<uint32_t>(Save(Field(0, 0).get(), target)), 0x80040050u);
    EXPECT_EQ(ReadFile(target), "older and longer");
    mForm->put_Overwrite(VARIANT_TRUE);
    ASSERT_EQ(Save(Field(0, 0).get(), target), S_OK);
    EXPECT_EQ(ReadFile(target), "hello");
    // A short upload over a longer file leaves only its own bytes; a missing folder is 3.
    WriteFile(target, std::string(10000, 'x'));
    ASSERT_EQ(Save(Field(0, 0).get(), target), S_OK);
    EXPECT_EQ(ReadFile(target), "hello");
    EXPECT_EQ(static_cast<uint32_t>(Save(Field(0, 0).get(), mRegistry.dir() / "no/folder/t.txt")), 0x80040003u);
    // A field with no item writes an empty file.
    ASSERT_EQ(Save(Field(0, 5).get(), mRegistry.dir() / "none.txt"), S_OK);
    EXPECT_EQ(ReadFile(mRegistry.dir() / "none.txt"), "");
    // A virtual path needs the web server's Server object.
    mForm->put_AbsolutePath(VARIANT_FALSE);
    Bstr virtualPath(u"/x.txt");
    EXPECT_EQ(Field(0, 0)->Save(virtualPath.get()), CONTEXT_E_NOCONTEXT);
    ComPtr<IXField> unattached;
    ASSERT_EQ(XField::CreateInstance(nullptr, IID_IXField, unattached.putVoid()), S_OK);
    EXPECT_EQ(unattached->Save(virtualPath.get()), E_POINTER);
}

// Pages may read the thread's last error after Save: the save's Windows
// error after a failure, 0 after a save that succeeded.
TEST_F(SaveTest, SaveLeavesItsErrorAsTheLastError) {
    Load(kText);
    const auto target = mRegistry.dir() / "t.txt";
    WriteFile(target, "older");
    SetLastError(5);
    EXPECT_EQ(static_cast<uint32_t>(Save(Field(0, 0).get(), target)), 0x80040050u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    mForm->put_Overwrite(VARIANT_TRUE);
    ASSERT_EQ(Save(Field(0, 0).get(), target), S_OK);
    EXPECT_EQ(GetLastError(), 0u);
    SetLastError(5);
    EXPECT_EQ(static_cast<uint32_t>(mForm->Save(
                  Bstr(platform::codepage::Utf8ToUtf16((mRegistry.dir() / "no/folder/raw.bin").string())).get())),
              0x80040003u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    ASSERT_EQ(mForm->Save(Bstr(platform::codepage::Utf8ToUtf16((mRegistry.dir() / "raw2.bin").string())).get()), S_OK);
    EXPECT_EQ(GetLastError(), 0u);
}

TEST_F(SaveTest, MacBinaryFilesKeepTheirForksInStreams) {
    const std::string upload = MacBinaryUpload(286);
    Load(
        "--XyZ\r\nContent-Disposition: form-data; name=\"m\"; filename=\"notes\"\r\nContent-Type: "
        "application/x-macbinary\r\n\r\n" +
        upload + "\r\n--XyZ--\r\n");
    const auto target = mRegistry.dir() / "notes";
    ASSERT_TRUE(VolumeKeepsStreams(platform::codepage::Utf8ToUtf16(target.string()).c_str()));
    ASSERT_EQ(Save(Field(0, 0).get(), target), S_OK);
    EXPECT_EQ(ReadFile(target), std::string(300, 'd'));
    EXPECT_EQ(Attribute(target, "AFP_Resource"), upload.substr(512) + std::string(1, '\0'));
    const std::string info = Attribute(target, "AFP_AfpInfo");
    ASSERT_EQ(info.size(), 61u);
    EXPECT_EQ(info.substr(0, 4), std::string("AFP\0", 4));
    EXPECT_EQ(info.substr(16, 8), "TEXTttxt");
    EXPECT_EQ(static_cast<uint8_t>(info[24]), 0xFC);

    // An existing, longer Finder record keeps its other bytes; it is rewritten as 60.
    const std::string old(80, 'o');
    const std::string oldValue = old + std::string(1, '\0');
    ASSERT_EQ(setxattr(target.c_str(), "user.DosStream.AFP_AfpInfo:$DATA", oldValue.data(), oldValue.size(), 0), 0);
    mForm->put_Overwrite(VARIANT_TRUE);
    ASSERT_EQ(Save(Field(0, 0).get(), target), S_OK);
    const std::string updated = Attribute(target, "AFP_AfpInfo");
    ASSERT_EQ(updated.size(), 61u);
    EXPECT_EQ(updated.substr(0, 16), std::string(16, 'o'));
    EXPECT_EQ(updated.substr(16, 8), "TEXTttxt");
    EXPECT_EQ(updated.substr(26, 34), std::string(34, 'o'));

    // With Streams off only the data fork is written.
    const auto plain = mRegistry.dir() / "plain";
    mForm->put_Streams(VARIANT_FALSE);
    ASSERT_EQ(Save(Field(0, 0).get(), plain), S_OK);
    EXPECT_EQ(ReadFile(plain), std::string(300, 'd'));
    EXPECT_EQ(Attribute(plain, "AFP_AfpInfo"), "<none>");
}

TEST_F(SaveTest, AResourceForkTooLargeForTheVolumeLeavesNoPartialStream) {
    // ext4 keeps about 4 KB of attributes per file; this fork does not fit.
    Load(
        "--XyZ\r\nContent-Disposition: form-data; name=\"m\"; filename=\"big\"\r\nContent-Type: "
        "application/x-macbinary\r\n\r\n" +
        MacBinaryUpload(60000) + "\r\n--XyZ--\r\n");
    const auto target = mRegistry.dir() / "big";
    // The page learns that the fork was not saved (disk full, 112), though
    // the data fork and the Finder record were written.
    EXPECT_EQ(static_cast<uint32_t>(Save(Field(0, 0).get(), target)), 0x80040070u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
    platform::ComPtr<IErrorInfo> info;
    GetErrorInfo(0, info.put());
    Bstr description;
    if (info) info->GetDescription(description.put());
    EXPECT_EQ(description.str(),
              u"A Windows error - There is not enough space on the disk.\r\n - (0x00000070) occurred.\n");
    EXPECT_EQ(ReadFile(target), std::string(300, 'd'));
    EXPECT_EQ(Attribute(target, "AFP_Resource"), "<none>");
    EXPECT_EQ(Attribute(target, "AFP_AfpInfo").size(), 61u);
}

// A volume without user attributes (ramfs, mounted in a mount namespace of
// a child process) keeps the data fork only, and the save succeeds.
TEST_F(SaveTest, AVolumeWithoutAttributesKeepsTheDataForkOnly) {
    const std::string upload = MacBinaryUpload(286);
    Load(
        "--XyZ\r\nContent-Disposition: form-data; name=\"m\"; filename=\"notes\"\r\nContent-Type: "
        "application/x-macbinary\r\n\r\n" +
        upload + "\r\n--XyZ--\r\n");
    const auto volume = mRegistry.dir() / "ramfs";
    std::filesystem::create_directories(volume);
    const auto target = volume / "notes";
    enum { kSaved, kNoNamespace, kStillKeepsStreams, kSaveFailed, kWrongData, kHasStreams };
    const int outcome = RunInChild([&] {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("ramfs", volume.c_str(), "ramfs", 0, nullptr) != 0)
            return kNoNamespace;
        if (VolumeKeepsStreams(platform::codepage::Utf8ToUtf16(target.string()).c_str())) return kStillKeepsStreams;
        if (Save(Field(0, 0).get(), target) != S_OK) return kSaveFailed;
        if (ReadFile(target) != std::string(300, 'd')) return kWrongData;
        if (listxattr(target.c_str(), nullptr, 0) > 0) return kHasStreams;
        return kSaved;
    });
    if (outcome == kNoNamespace) GTEST_SKIP() << "mounting needs CAP_SYS_ADMIN";
    EXPECT_EQ(outcome, kSaved);
}
