#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "TestSupport.h"
#include "Utilities.h"
#include "platform/ComPtr.h"

using namespace testing_support;
using platform::registry::WriteDword;
using platform::registry::WriteString;

namespace {

size_t CountEvents(const TempRegistry& registry, const std::string& text) {
    size_t n = 0;
    for (const auto& e : registry.events())
        if (e.size() == 6 && e[5] == text) ++n;
    return n;
}

}  // namespace

TEST(CheckedUtilities, BoundedCopiesCutAndReport) {
    TempRegistry registry;
    char narrow[260];
    const std::string longText(300, 'n');
    EXPECT_EQ(BoundedCopy(narrow, longText.c_str(), sizeof narrow), 259u);
    EXPECT_EQ(std::string(narrow), std::string(259, 'n'));
    const auto events = registry.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0][1], "Error");
    EXPECT_EQ(events[0][2], "Formix");
    EXPECT_EQ(events[0][5].rfind("Assertion Failed in Utilities line ", 0), 0u);
    EXPECT_NE(events[0][5].find(" (len < inArraySize)"), std::string::npos);
    EXPECT_EQ(BoundedCopy(narrow, "fits", sizeof narrow), 4u);
    EXPECT_EQ(registry.events().size(), 1u);

    char16_t wide[8] = u"abc";
    EXPECT_EQ(BoundedCopy(wide, u"defghij", 8, CopyMode::Append), 4u);
    EXPECT_EQ(std::u16string(wide), u"abcdefg");
    EXPECT_NE(registry.events().back()[5].find("(len1 + len2 < inArraySize)"), std::string::npos);
    EXPECT_EQ(BoundedCopy(wide, u"x", 8, CopyMode::Append), 0u);  // already full
    EXPECT_EQ(std::u16string(wide), u"abcdefg");
    EXPECT_EQ(BoundedCopy(wide, u"0123456789", 8), 7u);
    EXPECT_EQ(std::u16string(wide), u"0123456");
}

TEST(CheckedUtilities, BoundedFindStaysInsideItsRange) {
    TempRegistry registry;
    const char text[] = "abc--def--";
    const char* end = text + 10;
    EXPECT_EQ(BoundedFind(text, end, "--"), text + 3);
    EXPECT_EQ(BoundedFind(text + 4, end, "--"), text + 8);     // the last two bytes
    EXPECT_EQ(BoundedFind(text + 4, end - 1, "--"), nullptr);  // only "-" left at the end
    EXPECT_EQ(BoundedFind(text + 2, end, ""), text + 2);
    EXPECT_TRUE(registry.events().empty());
    EXPECT_EQ(BoundedFind(end, text, "-"), nullptr);
    EXPECT_NE(registry.events().back()[5].find("(maxptr >= ptr)"), std::string::npos);
    EXPECT_EQ(BoundedFind(nullptr, end, "-"), nullptr);
    EXPECT_NE(registry.events().back()[5].find("(ptr && str && maxptr)"), std::string::npos);
}

TEST(CheckedUtilities, ByteArraysInVariants) {
    TempRegistry registry;
    platform::Variant empty;
    ASSERT_EQ(BytesToVariant(&empty, nullptr, 0), S_OK);
    EXPECT_EQ(empty.vt, VT_ARRAY | VT_UI1);
    EXPECT_EQ(empty.parray->rgsabound[0].cElements, 0u);
    const BYTE* data = nullptr;
    LONG length = -1;
    ASSERT_EQ(AccessVariantBytes(&empty, &data, &length), S_OK);
    EXPECT_EQ(length, 0);
    ReleaseVariantBytes(&empty);

    platform::Variant bytes;
    ASSERT_EQ(BytesToVariant(&bytes, "\x01\x02\x03", 3), S_OK);
    VARIANT byRef;
    VariantInit(&byRef);
    byRef.vt = VT_BYREF | VT_VARIANT;
    byRef.pvarVal = &bytes;
    ASSERT_EQ(AccessVariantBytes(&byRef, &data, &length), S_OK);
    EXPECT_EQ(length, 3);
    EXPECT_EQ(std::memcmp(data, "\x01\x02\x03", 3), 0);
    EXPECT_EQ(SafeArrayDestroy(bytes.parray), DISP_E_ARRAYISLOCKED);  // locked while accessed
    ReleaseVariantBytes(&byRef);

    EXPECT_EQ(BytesToVariant(nullptr, "x", 1), E_POINTER);
    EXPECT_NE(registry.events().back()[5].find("(inVar)"), std::string::npos);
    platform::Variant missing;
    EXPECT_EQ(BytesToVariant(&missing, nullptr, 5), E_POINTER);
    EXPECT_NE(registry.events().back()[5].find("((inPtr != NULL) || (inLen == 0))"), std::string::npos);
    platform::Variant number;
    number.vt = VT_I4;
    EXPECT_EQ(AccessVariantBytes(&number, &data, &length), E_INVALIDARG);
    EXPECT_NE(registry.events().back()[5].find("((theArrayH) && (*theArrayH))"), std::string::npos);
    platform::Variant matrix;
    SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
    matrix.vt = VT_ARRAY | VT_UI1;
    matrix.parray = SafeArrayCreate(VT_UI1, 2, bounds);
    EXPECT_EQ(AccessVariantBytes(&matrix, &data, &length), E_INVALIDARG);
}

TEST(CheckedUtilities, AnsiToBstrNeverGivesNull) {
    TempRegistry registry;
    platform::Bstr empty;
    *empty.put() = AnsiToBstr(nullptr, 5);
    ASSERT_NE(empty.get(), nullptr);
    EXPECT_EQ(SysStringLen(empty.get()), 0u);
    platform::Bstr text;
    *text.put() = AnsiToBstr("h\xC3\xA9llo", 6);
    EXPECT_EQ(text.str(), u"h\u00E9llo");
    WriteString(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage", "ACP", "1252");
    *text.put() = AnsiToBstr("h\xE9", 2);
    EXPECT_EQ(text.str(), u"h\u00E9");
}

TEST(Settings, DefaultsWhenNothingIsSet) {
    TempRegistry registry;
    EXPECT_FALSE(LogErrorsEnabled());
    EXPECT_EQ(AutoRecoverSetting(), 1u);  // this platform is no Windows NT 5.x
    EXPECT_EQ(OsGeneration(), 0);
    EXPECT_FALSE(ImpersonationEnabled());
    DWORD value = 77;
    EXPECT_FALSE(ReadSetting("Missing", &value));
    EXPECT_EQ(value, 77u);
}

TEST(Settings, ValuesAreBytesNotTypesAndAreReadAtEachUse) {
    TempRegistry registry;
    WriteString(HKEY_LOCAL_MACHINE, kSettingsKey, "LogErrors", "0");
    EXPECT_TRUE(LogErrorsEnabled());  // the text "0" is the byte 0x30
    WriteDword(HKEY_LOCAL_MACHINE, kSettingsKey, "LogErrors", 0);
    EXPECT_FALSE(LogErrorsEnabled());
    WriteString(HKEY_LOCAL_MACHINE, kSettingsKey, "EnableImpersonation", "longer than four bytes");
    EXPECT_FALSE(ImpersonationEnabled());
    // Another process's change is seen at the next read.
    ASSERT_EQ(RunInChild([] { return static_cast<int>(WriteDword(HKEY_LOCAL_MACHINE, kSettingsKey, "LogErrors", 1)); }),
              0);
    EXPECT_TRUE(LogErrorsEnabled());
}

TEST(Settings, ReadChunkSizeKeepsItsLastValue) {
    TempRegistry registry;
    ASSERT_EQ(RunInChild([] {
                  if (ReadChunkSize() != 2048) return 1;
                  WriteDword(HKEY_LOCAL_MACHINE, kSettingsKey, "ReadChunkSize", 8192);
                  if (ReadChunkSize() != 8192) return 2;
                  HKEY key = nullptr;
                  RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_WRITE, &key);
                  RegDeleteValueA(key, "ReadChunkSize");
                  RegCloseKey(key);
                  return ReadChunkSize() == 8192 ? 0 : 3;
              }),
              0);
}

TEST(EventSource, CreatedOnFirstLogFromModulePathOnly) {
    TempRegistry registry;
    const std::string sourceKey = std::string(kEventLogApplicationKey) + "\\Formix";
    EXPECT_EQ(LogEvent("before registration", EVENTLOG_WARNING_TYPE), 0u);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, sourceKey.c_str(), 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(CountEvents(registry, "before registration"), 1u);

    WriteString(HKEY_LOCAL_MACHINE, kSettingsKey, "ModulePath", "/opt/formix/libformix4.so");
    LogEvent("after", EVENTLOG_INFORMATION_TYPE);
    std::string file;
    ASSERT_TRUE(platform::registry::ReadString(HKEY_LOCAL_MACHINE, sourceKey, "EventMessageFile", &file));
    EXPECT_EQ(file, "/opt/formix/libformix4.so");
    EXPECT_EQ(CountEvents(registry, "after"), 1u);

    // An existing key is left alone; a source name over 64 characters is refused.
    WriteString(HKEY_LOCAL_MACHINE, kSettingsKey, "ModulePath", "/elsewhere.so");
    EnsureEventSource("", "Formix");
    platform::registry::ReadString(HKEY_LOCAL_MACHINE, sourceKey, "EventMessageFile", &file);
    EXPECT_EQ(file, "/opt/formix/libformix4.so");
    EnsureEventSource("", std::string(65, 'S').c_str());
    EXPECT_NE(
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, (std::string(kEventLogApplicationKey) + "\\" + std::string(65, 'S')).c_str(),
                      0, KEY_READ, &key),
        ERROR_SUCCESS);
}
