#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <cstring>
#include <thread>

#include "platform/ComPtr.h"
#include "platform/OleAuto.h"

using platform::Bstr;
using platform::ComPtr;
using platform::Variant;

TEST(Bstr, LengthPrefixEmbeddedNulsAndByteStrings) {
    const char16_t text[] = u"a\0b";
    BSTR s = SysAllocStringLen(text, 3);
    EXPECT_EQ(SysStringLen(s), 3u);
    EXPECT_EQ(SysStringByteLen(s), 6u);
    EXPECT_EQ(reinterpret_cast<const uint32_t*>(s)[-1], 6u);
    EXPECT_EQ(s[3], 0);
    SysFreeString(s);
    BSTR odd = SysAllocStringByteLen("xyz", 3);
    EXPECT_EQ(SysStringByteLen(odd), 3u);
    EXPECT_EQ(SysStringLen(odd), 1u);
    EXPECT_EQ(std::memcmp(odd, "xyz\0\0", 5), 0);
    SysFreeString(odd);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysAllocString(nullptr), nullptr);

    // Resized in place, the characters that stay are kept and a longer string
    // ends in NULs; from another text, its characters are copied.
    BSTR grown = SysAllocString(u"abcdef");
    ASSERT_TRUE(SysReAllocStringLen(&grown, grown, 2));
    EXPECT_EQ(std::u16string(grown, SysStringLen(grown)), u"ab");
    EXPECT_EQ(grown[2], 0);
    ASSERT_TRUE(SysReAllocStringLen(&grown, grown, 4));
    EXPECT_EQ(std::u16string(grown, SysStringLen(grown)), std::u16string(u"ab\0\0", 4));
    ASSERT_TRUE(SysReAllocStringLen(&grown, u"xyz!", 3));
    EXPECT_EQ(std::u16string(grown, SysStringLen(grown)), u"xyz");
    EXPECT_EQ(grown[3], 0);
    SysFreeString(grown);
}

TEST(Variant, ChangeTypeFollowsAutomationRules) {
    auto toLong = [](const VARIANT& in, HRESULT* hr) {
        Variant out;
        *hr = VariantChangeType(&out, &in, 0, VT_I4);
        return out.lVal;
    };
    HRESULT hr;
    Variant text;
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(u" 42 ");
    EXPECT_EQ(toLong(text, &hr), 42);
    EXPECT_EQ(hr, S_OK);
    SysReAllocString(&text.bstrVal, u"&HFF");
    EXPECT_EQ(toLong(text, &hr), 255);
    SysReAllocString(&text.bstrVal, u"12abc");
    toLong(text, &hr);
    EXPECT_EQ(hr, DISP_E_TYPEMISMATCH);
    SysReAllocString(&text.bstrVal, u"99999999999");
    toLong(text, &hr);
    EXPECT_EQ(hr, DISP_E_OVERFLOW);

    VARIANT real;
    VariantInit(&real);
    real.vt = VT_R8;
    real.dblVal = 2.5;  // rounds half to even
    EXPECT_EQ(toLong(real, &hr), 2);
    real.dblVal = 3.5;
    EXPECT_EQ(toLong(real, &hr), 4);

    LONG stored = 7;
    VARIANT byRef;
    VariantInit(&byRef);
    byRef.vt = VT_BYREF | VT_I4;
    byRef.plVal = &stored;
    EXPECT_EQ(toLong(byRef, &hr), 7);

    VARIANT boolean;
    VariantInit(&boolean);
    boolean.vt = VT_BOOL;
    boolean.boolVal = VARIANT_TRUE;
    Variant asText;
    ASSERT_EQ(VariantChangeType(&asText, &boolean, 0, VT_BSTR), S_OK);
    EXPECT_EQ(std::u16string(asText.bstrVal), u"True");
    EXPECT_EQ(toLong(boolean, &hr), -1);

    VARIANT single;
    VariantInit(&single);
    single.vt = VT_R4;
    single.fltVal = 1.0f / 3.0f;
    Variant singleText;
    ASSERT_EQ(VariantChangeType(&singleText, &single, 0, VT_BSTR), S_OK);
    EXPECT_EQ(std::u16string(singleText.bstrVal), u"0.3333333");

    VARIANT null;
    VariantInit(&null);
    null.vt = VT_NULL;
    toLong(null, &hr);
    EXPECT_EQ(hr, DISP_E_TYPEMISMATCH);
}

TEST(Variant, CopyDuplicatesOwnedData) {
    Variant source;
    source.vt = VT_ARRAY | VT_UI1;
    source.parray = SafeArrayCreateVector(VT_UI1, 0, 3);
    static_cast<BYTE*>(source.parray->pvData)[1] = 9;
    Variant copy;
    ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
    EXPECT_NE(copy.parray, source.parray);
    EXPECT_EQ(static_cast<BYTE*>(copy.parray->pvData)[1], 9);
}

// Automation lays a multi-dimensional array out with its first index
// varying fastest: code that walks the data sees a(0,0), a(1,0), a(2,0), a(0,1).
TEST(SafeArray, TheFirstIndexVariesFastestInTheData) {
    SAFEARRAYBOUND bounds[2] = {{3, 0}, {2, 0}};
    SAFEARRAY* array = SafeArrayCreate(VT_I4, 2, bounds);
    ASSERT_NE(array, nullptr);
    for (LONG i = 0; i < 3; ++i)
        for (LONG j = 0; j < 2; ++j) {
            const LONG at[2] = {i, j};
            LONG value = 10 * i + j;
            ASSERT_EQ(SafeArrayPutElement(array, at, &value), S_OK);
        }
    const auto* data = static_cast<const LONG*>(array->pvData);
    EXPECT_EQ(std::vector<LONG>(data, data + 6), (std::vector<LONG>{0, 10, 20, 1, 11, 21}));
    SafeArrayDestroy(array);
}

TEST(SafeArray, BoundsLocksAndElements) {
    SAFEARRAYBOUND bounds[2] = {{2, 1}, {3, -1}};
    SAFEARRAY* array = SafeArrayCreate(VT_BSTR, 2, bounds);
    ASSERT_NE(array, nullptr);
    LONG lower = 0, upper = 0;
    SafeArrayGetLBound(array, 2, &lower);
    SafeArrayGetUBound(array, 2, &upper);
    EXPECT_EQ(lower, -1);
    EXPECT_EQ(upper, 1);
    EXPECT_EQ(SafeArrayGetLBound(array, 3, &lower), DISP_E_BADINDEX);
    const LONG at[2] = {2, 1};
    ASSERT_EQ(SafeArrayPutElement(array, at, u"cell"), S_OK);
    const LONG outside[2] = {3, 0};
    EXPECT_EQ(SafeArrayPutElement(array, outside, u"x"), DISP_E_BADINDEX);
    BSTR cell = nullptr;
    ASSERT_EQ(SafeArrayGetElement(array, at, &cell), S_OK);
    EXPECT_EQ(std::u16string(cell), u"cell");
    SysFreeString(cell);
    void* data = nullptr;
    SafeArrayAccessData(array, &data);
    EXPECT_EQ(SafeArrayDestroy(array), DISP_E_ARRAYISLOCKED);
    SafeArrayUnaccessData(array);
    EXPECT_EQ(SafeArrayDestroy(array), S_OK);
    VARTYPE vt = 0;
    SAFEARRAY* empty = SafeArrayCreateVector(VT_UI1, 0, 0);
    ASSERT_EQ(SafeArrayGetVartype(empty, &vt), S_OK);
    EXPECT_EQ(vt, VT_UI1);
    ASSERT_EQ(SafeArrayAccessData(empty, &data), S_OK);
    EXPECT_NE(data, nullptr);  // an empty array still has a data block
    SafeArrayUnaccessData(empty);
    SafeArrayDestroy(empty);
}

TEST(ErrorInfo, IsPerThreadAndTakenOnce) {
    ComPtr<ICreateErrorInfo> creator;
    ASSERT_EQ(CreateErrorInfo(creator.put()), S_OK);
    creator->SetDescription(const_cast<LPOLESTR>(u"boom"));
    ComPtr<IErrorInfo> info;
    creator->QueryInterface(IID_IErrorInfo, info.putVoid());
    SetErrorInfo(0, info.get());
    std::thread([] {
        IErrorInfo* other = nullptr;
        EXPECT_EQ(GetErrorInfo(0, &other), S_FALSE);
    }).join();
    ComPtr<IErrorInfo> taken;
    ASSERT_EQ(GetErrorInfo(0, taken.put()), S_OK);
    Bstr description;
    taken->GetDescription(description.put());
    EXPECT_EQ(description.str(), u"boom");
    IErrorInfo* again = nullptr;
    EXPECT_EQ(GetErrorInfo(0, &again), S_FALSE);
}

TEST(Guid, TextRoundTripAndMalformedText) {
    const GUID guid = {0x337B8704, 0x3730, 0x4764, {0x86, 0x73, 0x53, 0x11, 0x47, 0xAD, 0xFF, 0x17}};
    OLECHAR text[39];
    ASSERT_EQ(StringFromGUID2(guid, text, 39), 39);
    EXPECT_EQ(std::u16string(text), u"{337B8704-3730-4764-8673-531147ADFF17}");
    CLSID parsed{};
    ASSERT_EQ(CLSIDFromString(u"{337b8704-3730-4764-8673-531147adff17}", &parsed), S_OK);
    EXPECT_EQ(parsed, guid);
    EXPECT_EQ(CLSIDFromString(u"{337B8704-3730-4764-8673-531147ADFF1}", &parsed), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromString(u"{337B8704-3730-4764-8673-531147ADFF1Z}", &parsed), CO_E_CLASSSTRING);
    EXPECT_EQ(StringFromGUID2(guid, text, 20), 0);
}
