// Fields and their collections over a raw upload file read by the form.
#include <gtest/gtest.h>

#include <cstring>

#include "TestSupport.h"
#include "UploadFixtures.h"
#include "XField.h"
#include "XForm.h"
#include "platform/ComPtr.h"

using namespace testing_support;
using platform::Bstr;
using platform::ComPtr;
using platform::Variant;

namespace {

std::string Part(const std::string& disposition, const std::string& content, const std::string& type = "") {
    return "--XyZ\r\nContent-Disposition: form-data; " + disposition + "\r\n" +
           (type.empty() ? "" : "Content-Type: " + type + "\r\n") + "\r\n" + content + "\r\n";
}

class Fields : public ::testing::Test {
protected:
    void Load(const std::string& body) { ASSERT_EQ(ReadRawUpload(mRegistry.dir() / "raw.bin", body, &mForm), S_OK); }
    ComPtr<IXFields> Group(VARIANT index) {
        Variant value;
        EXPECT_EQ(mForm->get_Item(index, &value), S_OK);
        ComPtr<IXFields> fields;
        if (value.vt == VT_DISPATCH) value.pdispVal->QueryInterface(IID_IXFields, fields.putVoid());
        return fields;
    }
    ComPtr<IXFields> Group(const char16_t* name) {
        VARIANT index;
        VariantInit(&index);
        index.vt = VT_BSTR;
        index.bstrVal = SysAllocString(name);
        ComPtr<IXFields> result = Group(index);
        VariantClear(&index);
        return result;
    }
    static ComPtr<IXField> Field(IXFields* fields, LONG number) {
        VARIANT index;
        VariantInit(&index);
        index.vt = VT_I4;
        index.lVal = number;
        Variant value;
        EXPECT_EQ(fields->get_Item(index, &value), S_OK);
        ComPtr<IXField> field;
        if (value.vt == VT_DISPATCH) value.pdispVal->QueryInterface(IID_IXField, field.putVoid());
        return field;
    }
    static std::u16string Text(IXField* field, HRESULT (IXField::*member)(BSTR*)) {
        Bstr text;
        EXPECT_EQ((field->*member)(text.put()), S_OK);
        return text.str();
    }
    static LONG Number(IXField* field, HRESULT (IXField::*member)(LONG*)) {
        LONG value = -1;
        EXPECT_EQ((field->*member)(&value), S_OK);
        return value;
    }
    static std::string Bytes(IXField* field, HRESULT (IXField::*member)(VARIANT*)) {
        Variant value;
        EXPECT_EQ((field->*member)(&value), S_OK);
        EXPECT_EQ(value.vt, VT_ARRAY | VT_UI1);
        return std::string(static_cast<const char*>(value.parray->pvData), value.parray->rgsabound[0].cElements);
    }

    TempRegistry mRegistry;
    ComPtr<IXForm> mForm;
};

}  // namespace

TEST_F(Fields, TextAndFileFields) {
    Load(Part("name=\"comment\"", "hello") + Part("name=\"empty\"; filename=\"\"", "", "application/octet-stream") +
         Part("name=\"zero\"; filename=\"C:\\dir\\zero.txt\"", "") +
         Part("name=\"file\"; filename=\"C:\\Docs\\Report.DOC\"", std::string("a\0b", 3), "application/msword") +
         "--XyZ--\r\n");
    ComPtr<IXField> comment = Field(Group(u"comment").get(), 1);
    ASSERT_TRUE(comment);
    EXPECT_EQ(Text(comment.get(), &IXField::get_Name), u"comment");
    EXPECT_EQ(Text(comment.get(), &IXField::get_Content), u"hello");
    EXPECT_EQ(Number(comment.get(), &IXField::get_Length), 5);
    EXPECT_EQ(Number(comment.get(), &IXField::get_RawLength), 5);
    VARIANT_BOOL exists = VARIANT_TRUE;
    comment->get_FileExists(&exists);
    EXPECT_EQ(exists, VARIANT_FALSE);
    EXPECT_EQ(Text(comment.get(), &IXField::get_SafeFileName), u"");
    EXPECT_EQ(Bytes(comment.get(), &IXField::get_Data), "hello");
    EXPECT_EQ(Bytes(comment.get(), &IXField::get_Resource), "");

    ComPtr<IXField> empty = Field(Group(u"empty").get(), 1);
    empty->get_FileExists(&exists);
    EXPECT_EQ(exists, VARIANT_FALSE);
    EXPECT_EQ(Bytes(empty.get(), &IXField::get_Data), "");
    ComPtr<IXField> zero = Field(Group(u"zero").get(), 1);
    zero->get_FileExists(&exists);
    EXPECT_EQ(exists, VARIANT_FALSE);
    EXPECT_EQ(Text(zero.get(), &IXField::get_RawFilePath), u"C:\\dir\\zero.txt");

    ComPtr<IXField> file = Field(Group(u"FILE").get(), 1);
    file->get_FileExists(&exists);
    EXPECT_EQ(exists, VARIANT_TRUE);
    EXPECT_EQ(Text(file.get(), &IXField::get_RawFileName), u"Report.DOC");
    EXPECT_EQ(Text(file.get(), &IXField::get_RawFileType), u"DOC");
    EXPECT_EQ(Text(file.get(), &IXField::get_FileType), u"DOC");
    EXPECT_EQ(Text(file.get(), &IXField::get_FileName), u"report.doc");
    EXPECT_EQ(Text(file.get(), &IXField::get_MIMEType), u"application/msword");
    EXPECT_EQ(Text(file.get(), &IXField::get_Content), std::u16string(u"a\0b", 3));  // the NUL is kept
    // A field out of range answers empty values.
    ComPtr<IXField> missing = Field(Group(u"comment").get(), 7);
    EXPECT_EQ(Number(missing.get(), &IXField::get_Length), 0);
    EXPECT_EQ(Text(missing.get(), &IXField::get_Name), u"comment");
}

TEST_F(Fields, NamesNumbersJoinedValuesAndEnumeration) {
    Load(Part("name=\"upfile\"", "first") + Part("name=\"2\"", "two") + Part("name=\"upfile\"", "second") +
         "--XyZ--\r\n");
    ComPtr<IXFields> upfiles = Group(u"upfile");
    LONG count = 0;
    upfiles->get_Count(&count);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(Text(Field(upfiles.get(), 2).get(), &IXField::get_Content), u"second");
    EXPECT_EQ(Text(Field(upfiles.get(), 2).get(), &IXField::get_Name), u"upfile");
    VARIANT none;
    VariantInit(&none);
    none.vt = VT_ERROR;
    none.scode = DISP_E_PARAMNOTFOUND;
    Variant joined;
    ASSERT_EQ(upfiles->get_Item(none, &joined), S_OK);
    EXPECT_EQ(std::u16string(joined.bstrVal), u"first, second");
    // A name wins over a number: index 2 finds the field named "2".
    VARIANT two;
    VariantInit(&two);
    two.vt = VT_I4;
    two.lVal = 2;
    EXPECT_EQ(Text(Field(Group(two).get(), 1).get(), &IXField::get_Content), u"two");
    VARIANT one = two;
    one.lVal = 1;
    EXPECT_EQ(Text(Field(Group(one).get(), 1).get(), &IXField::get_Content), u"first");
    Variant body;
    ASSERT_EQ(mForm->get_Item(none, &body), S_OK);
    EXPECT_EQ(SysStringLen(body.bstrVal), ReadFile(mRegistry.dir() / "raw.bin").size());

    ComPtr<IUnknown> names;
    ASSERT_EQ(mForm->get__NewEnum(names.put()), S_OK);
    ComPtr<IEnumVARIANT> nameEnum;
    ASSERT_EQ(names->QueryInterface(IID_IEnumVARIANT, nameEnum.putVoid()), S_OK);
    VARIANT got[3];
    ULONG fetched = 0;
    EXPECT_EQ(nameEnum->Next(3, got, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(std::u16string(got[0].bstrVal), u"upfile");
    EXPECT_EQ(std::u16string(got[1].bstrVal), u"2");
    for (ULONG i = 0; i < fetched; ++i) VariantClear(&got[i]);
    nameEnum->Reset();
    EXPECT_EQ(nameEnum->Skip(5), S_FALSE);
    ComPtr<IUnknown> items;
    ASSERT_EQ(upfiles->get__NewEnum(items.put()), S_OK);
    ComPtr<IEnumVARIANT> itemEnum;
    items->QueryInterface(IID_IEnumVARIANT, itemEnum.putVoid());
    ASSERT_EQ(itemEnum->Next(1, got, &fetched), S_OK);
    ComPtr<IEnumVARIANT> clone;
    itemEnum->Clone(clone.put());
    Variant second;
    ASSERT_EQ(clone->Next(1, &second, &fetched), S_OK);
    ComPtr<IXField> secondField;
    second.pdispVal->QueryInterface(IID_IXField, secondField.putVoid());
    EXPECT_EQ(Text(secondField.get(), &IXField::get_Content), u"second");
    VariantClear(&got[0]);
}

TEST_F(Fields, MacBinaryUploads) {
    const std::string upload = MacBinaryUpload(286);
    Load(Part("name=\"mac\"; filename=\"notes\"", upload, "application/x-macbinary") +
         Part("name=\"plain\"; filename=\"notes\"", upload, "application/x-MacBinary") + "--XyZ--\r\n");
    ComPtr<IXField> mac = Field(Group(u"mac").get(), 1);
    VARIANT_BOOL isMac = VARIANT_FALSE;
    mac->get_MacBinary(&isMac);
    EXPECT_EQ(isMac, VARIANT_TRUE);
    EXPECT_EQ(Number(mac.get(), &IXField::get_Length), 300);
    EXPECT_EQ(Number(mac.get(), &IXField::get_RawLength), static_cast<LONG>(upload.size()));
    EXPECT_EQ(Bytes(mac.get(), &IXField::get_Data), std::string(300, 'd'));
    EXPECT_EQ(Bytes(mac.get(), &IXField::get_Resource).size(), 286u);
    EXPECT_EQ(Text(mac.get(), &IXField::get_FileType), u"TXT");
    ComPtr<IXField> plain = Field(Group(u"plain").get(), 1);
    plain->get_MacBinary(&isMac);
    EXPECT_EQ(isMac, VARIANT_FALSE);
    EXPECT_EQ(Bytes(plain.get(), &IXField::get_Data), upload);
}

TEST(UnattachedField, AnswersEPointer) {
    ComPtr<IXField> field;
    ASSERT_EQ(XField::CreateInstance(nullptr, IID_IXField, field.putVoid()), S_OK);
    Bstr text;
    EXPECT_EQ(field->get_Content(text.put()), E_POINTER);
    LONG length = 0;
    EXPECT_EQ(field->get_Length(&length), E_POINTER);
}

TEST_F(Fields, ImageInformationIsExaminedOnceFromTheDecodedBytes) {
    const std::string gif = std::string("GIF89a") + std::string("\x64\x00\x32\x00", 4) + std::string(10, '\0');
    Load(Part("name=\"pic\"; filename=\"p.gif\"", gif, "image/gif") + Part("name=\"note\"", "text") + "--XyZ--\r\n");
    ComPtr<IXField> pic = Field(Group(u"pic").get(), 1);
    fmxImageType type = fmxUnknown;
    ASSERT_EQ(pic->get_ImageType(&type), S_OK);
    EXPECT_EQ(type, fmxGIF);
    EXPECT_EQ(Number(pic.get(), &IXField::get_ImageWidth), 100);
    EXPECT_EQ(Number(pic.get(), &IXField::get_ImageWidth), 100);
    EXPECT_EQ(Number(pic.get(), &IXField::get_ImageHeight), 50);
    ComPtr<IXField> note = Field(Group(u"note").get(), 1);
    note->get_ImageType(&type);
    EXPECT_EQ(type, fmxUnknown);
    EXPECT_EQ(Number(note.get(), &IXField::get_ImageWidth), 0);
}

// Every name the enumeration shows finds its group again, letter case
// ignored, also when its bytes are no text in the code page and are shown
// with replacement characters; of two names shown alike the first wins.
TEST_F(Fields, NamesAreFoundByTheTextTheEnumerationShows) {
    Load(Part("name=\"Caf\xE9\"", "raw") + Part("name=\"caf\xEF\xBF\xBD\"", "text") + Part("name=\"x\xFFY\"", "other") +
         Part("name=\"\xEF\xBF\xBDZ\"", "plain") + Part("name=\"3\"", "three") + "--XyZ--\r\n");
    const auto contentOf = [&](const char16_t* name) {
        ComPtr<IXFields> group = Group(name);
        return group ? Text(Field(group.get(), 1).get(), &IXField::get_Content) : u"(none)";
    };
    // The name's bytes in the code page come first: the text "caf\uFFFD".
    EXPECT_EQ(contentOf(u"CAF\uFFFD"), u"text");
    EXPECT_EQ(contentOf(u"x\uFFFDy"), u"other");
    EXPECT_EQ(contentOf(u"\uFFFDz"), u"plain");
    EXPECT_EQ(contentOf(u"3"), u"three");  // a name wins over a number
    LONG count = -1;
    ASSERT_EQ(mForm->get_Count(&count), S_OK);
    EXPECT_EQ(count, 5);
}
