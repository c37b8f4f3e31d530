// The form outside any web request: raw upload files and the properties.
#include <gtest/gtest.h>

#include "ProgressStore.h"
#include "TestSupport.h"
#include "XForm.h"
#include "platform/ComPtr.h"

using namespace testing_support;

namespace {

class FormTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(XForm::CreateInstance(nullptr, IID_IXForm, mForm.putVoid()), S_OK); }
    std::u16string Wide(const std::filesystem::path& path) { return platform::codepage::Utf8ToUtf16(path.string()); }
    std::u16string LastDescription() {
        platform::ComPtr<IErrorInfo> info;
        GetErrorInfo(0, info.put());
        platform::Bstr text;
        if (info) info->GetDescription(text.put());
        return text.str();
    }

    TempRegistry mRegistry;
    platform::ComPtr<IXForm> mForm;
};

const std::string kBody =
    "--XyZ\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n--XyZ\r\nContent-Disposition: form-data; "
    "name=\"b\"\r\n\r\n2\r\n--XyZ--\r\n";

}  // namespace

TEST_F(FormTest, PropertiesKeepTheirValues) {
    LONG value = 0;
    mForm->get_MaxUploadSize(&value);
    EXPECT_EQ(value, 8388608);
    VARIANT_BOOL flag = VARIANT_FALSE;
    mForm->get_Streams(&flag);
    EXPECT_EQ(flag, VARIANT_TRUE);
    mForm->get_AbsolutePath(&flag);
    EXPECT_EQ(flag, VARIANT_FALSE);
    mForm->put_CodePage(1251);
    mForm->get_CodePage(&value);
    EXPECT_EQ(value, 1251);
    EXPECT_EQ(mForm->get_ID(nullptr), E_POINTER);
    // A new ID replaces the old ID's progress record.
    LONG oldId = 0;
    mForm->get_ID(&oldId);
    ASSERT_EQ(mForm->put_ID(31337), S_OK);
    EXPECT_EQ(ProgressStore::Instance().QueryRecord(oldId).note, "Connecting...");
    EXPECT_EQ(ProgressStore::Instance().QueryRecord(31337).note, "");
}

TEST_F(FormTest, ReadParsesAFileWithoutAnyRequest) {
    const auto raw = mRegistry.dir() / "raw.bin";
    WriteFile(raw, kBody);
    mForm->put_AbsolutePath(VARIANT_TRUE);
    platform::Bstr path(Wide(raw));
    ASSERT_EQ(mForm->Read(path.get()), S_OK);
    LONG count = 0;
    ASSERT_EQ(mForm->get_Count(&count), S_OK);
    EXPECT_EQ(count, 2);
    VARIANT_BOOL multipart = VARIANT_FALSE;
    mForm->get_Multipart(&multipart);
    EXPECT_EQ(multipart, VARIANT_TRUE);
    // A second Read discards the first file's data.
    WriteFile(raw, "x=1");
    ASSERT_EQ(mForm->Read(path.get()), S_OK);
    mForm->get_Count(&count);
    EXPECT_EQ(count, 1);
    // Saving to a virtual path needs the web server's Server object.
    mForm->put_AbsolutePath(VARIANT_FALSE);
    platform::Bstr target(u"/copy.bin");
    EXPECT_EQ(mForm->Save(target.get()), CONTEXT_E_NOCONTEXT);
    EXPECT_EQ(LastDescription().rfind(u"Unable to convert virtual to physical path.\n", 0), 0u);
}

// A page that takes a form's ID away and makes a record of its own under it
// sees none of that form's counts, notes or end in it; the form's own
// record keeps them.
TEST_F(FormTest, AFormWritesOnlyToTheProgressRecordItMade) {
    ASSERT_EQ(mForm->put_ID(4242), S_OK);
    ProgressStore& store = ProgressStore::Instance();
    store.RemoveRecord(4242);
    store.CreateRecord(4242);
    const auto raw = mRegistry.dir() / "raw.bin";
    WriteFile(raw, kBody);
    mForm->put_AbsolutePath(VARIANT_TRUE);
    platform::Bstr path(Wide(raw));
    ASSERT_EQ(mForm->Read(path.get()), S_OK);
    mForm.reset();  // the form's end marks its record finished
    const ProgressReading theirs = store.QueryRecord(4242);
    EXPECT_FALSE(theirs.started);
    EXPECT_FALSE(theirs.finished);
    EXPECT_EQ(theirs.bytesTotal, 0);
    EXPECT_EQ(theirs.note, "");
    store.RemoveRecord(4242);
}

TEST_F(FormTest, WithoutARequestProcessingFailsTheSameWayEveryTime) {
    LONG count = -1;
    EXPECT_EQ(mForm->get_Count(&count), E_FAIL);
    EXPECT_EQ(count, 0);
    const std::u16string first = LastDescription();
    EXPECT_EQ(first.rfind(u"Unable to get Object Context.\n", 0), 0u);
    VARIANT_BOOL multipart = VARIANT_TRUE;
    EXPECT_EQ(mForm->get_Multipart(&multipart), E_FAIL);
    EXPECT_EQ(LastDescription(), first);
    // Reading a file with a virtual path cannot map it either.
    platform::Bstr path(u"/raw.bin");
    EXPECT_EQ(mForm->Read(path.get()), E_FAIL);
    EXPECT_EQ(LastDescription().rfind(u"Unable to get Object Context.\n", 0), 0u);
}

TEST_F(FormTest, ItemWithoutAnIndexGivesTheBodyWithAFailure) {
    // A part whose header line never ends: the body is read, its parsing fails.
    const std::string body = "--XyZ\r\nContent-Disposition: form-data; name=\"a\"";
    WriteFile(mRegistry.dir() / "broken.raw", body);
    mForm->put_AbsolutePath(VARIANT_TRUE);
    platform::Bstr path(Wide(mRegistry.dir() / "broken.raw").c_str());
    EXPECT_EQ(mForm->Read(path.get()), E_FAIL);
    VARIANT missing;
    VariantInit(&missing);
    missing.vt = VT_ERROR;
    missing.scode = DISP_E_PARAMNOTFOUND;
    platform::Variant text;
    EXPECT_EQ(mForm->get_Item(missing, &text), E_FAIL);
    ASSERT_EQ(text.vt, VT_BSTR);
    EXPECT_EQ(platform::codepage::Utf16ToUtf8(std::u16string(text.bstrVal, SysStringLen(text.bstrVal))), body);
}
