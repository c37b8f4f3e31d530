#include <gtest/gtest.h>

#include <thread>

#include "TestSupport.h"
#include "platform/CodePage.h"
#include "platform/System.h"

using namespace testing_support;
using platform::codepage::FromUtf16;
using platform::codepage::ToUtf16;

TEST(CodePage, SystemAnsiPageComesFromTheRegistry) {
    TempRegistry registry;
    EXPECT_EQ(GetACP(), CP_UTF8);
    platform::registry::WriteString(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage", "ACP",
                                    "1252");
    EXPECT_EQ(GetACP(), 1252u);
    EXPECT_EQ(ToUtf16("caf\xE9"), u"caf\u00E9");
    platform::registry::WriteString(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage", "ACP",
                                    "99999");
    EXPECT_EQ(GetACP(), CP_UTF8);  // a page that does not exist is not used
}

TEST(CodePage, APinnedPageHoldsForItsThreadUntilTheScopeEnds) {
    TempRegistry registry;
    const char* const kKey = "SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage";
    platform::registry::WriteString(HKEY_LOCAL_MACHINE, kKey, "ACP", "1252");
    {
        platform::codepage::PinnedAcp pinned;
        platform::registry::WriteString(HKEY_LOCAL_MACHINE, kKey, "ACP", "1251");
        EXPECT_EQ(GetACP(), 1252u);
        EXPECT_EQ(ToUtf16("caf\xE9"), u"caf\u00E9");
        UINT elsewhere = 0;
        std::thread([&] { elsewhere = GetACP(); }).join();  // other threads read the registry
        EXPECT_EQ(elsewhere, 1251u);
        {
            platform::codepage::PinnedAcp inner;
            EXPECT_EQ(GetACP(), 1251u);
        }
        EXPECT_EQ(GetACP(), 1252u);
    }
    EXPECT_EQ(GetACP(), 1251u);
}

TEST(CodePage, WindowsSingleBytePagesMapEveryByte) {
    EXPECT_EQ(ToUtf16("\x80\x81\x9F", 1252), u"\u20AC\u0081\u0178");
    EXPECT_EQ(ToUtf16("\xC0\xFF", 1251), u"\u0410\u044F");
    EXPECT_EQ(FromUtf16(u"\u20AC\u0081x\u4E00", 1252), "\x80\x81x?");
    BOOL usedDefault = FALSE;
    char out[8];
    const char16_t han[] = u"\u4E00";
    EXPECT_EQ(WideCharToMultiByte(1252, 0, han, 1, out, sizeof out, "#", &usedDefault), 1);
    EXPECT_EQ(out[0], '#');
    EXPECT_TRUE(usedDefault);
}

TEST(CodePage, Utf8InvalidBytesAndStrictMode) {
    const char bad[] = "a\xC3(\xED\xA0\x80";  // broken sequence and an encoded surrogate
    WCHAR out[16];
    const int n = MultiByteToWideChar(CP_UTF8, 0, bad, sizeof bad - 1, out, 16);
    EXPECT_EQ(std::u16string(out, n), u"a\uFFFD(\uFFFD\uFFFD\uFFFD");
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bad, sizeof bad - 1, out, 16), 0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
    // MB_PRECOMPOSED is accepted for UTF-8 too.
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_PRECOMPOSED, "\xF0\x9F\x98\x80", 4, out, 16), 2);
    EXPECT_EQ(out[0], 0xD83D);
}

// Runs of ASCII are decoded in blocks: a sequence or a bad byte is found
// wherever it falls in one.
TEST(CodePage, Utf8SequencesAreFoundWhereverTheyFallInALongText) {
    const std::pair<std::string, std::u16string> kSequences[] = {
        {"\xC3\xA9", u"\u00e9"}, {"\xFF", u"\uFFFD"}, {"\x7F", u"\x7F"}};
    for (const auto& [bytes, units] : kSequences)
        for (size_t at = 0; at < 40; ++at) {
            const std::string text = std::string(at, 'a') + bytes + std::string(39 - at, 'b');
            std::vector<WCHAR> out(text.size());
            const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(),
                                              static_cast<int>(out.size()));
            EXPECT_EQ(std::u16string(out.data(), static_cast<size_t>(std::max(n, 0))),
                      std::u16string(at, u'a') + units + std::u16string(39 - at, u'b'))
                << "at " << at;
        }
}

TEST(CodePage, SizesTerminatorsAndBadArguments) {
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, nullptr, 0), 4);  // the NUL counts
    WCHAR small[2];
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 3, small, 2), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    // With room for a character per byte, a single-byte page decodes in place.
    WCHAR room[4] = {u'-', u'-', u'-', u'-'};
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "a\x80\xE9", 3, room, 4), 3);
    EXPECT_EQ(std::u16string(room, 4), u"a\u20AC\u00E9-");
    EXPECT_EQ(MultiByteToWideChar(12345, 0, "abc", 3, small, 2), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(IsValidCodePage(12345));
}

TEST(CodePage, DoubleBytePagesGoThroughIconv) {
    EXPECT_EQ(ToUtf16("\x82\xA0\x88\x9F", 932), u"\u3042\u4E9C");
    EXPECT_EQ(FromUtf16(u"\u3042", 932), "\x82\xA0");
}

TEST(CodePage, CaseInsensitiveComparisonFoldsUnicode) {
    EXPECT_EQ(platform::codepage::CompareNoCaseUtf8("CAFÉ", "café"), 0);
    EXPECT_EQ(platform::codepage::CompareNoCaseUtf8("ΣΟΦΟΣ", "σοφος"), 0);
    EXPECT_NE(platform::codepage::CompareNoCaseUtf8("a", "b"), 0);
}
