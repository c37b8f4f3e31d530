#include <gtest/gtest.h>

#include "ClientFileNames.h"
#include "TestSupport.h"

TEST(ClientFileNames, WindowsPathsAndBareNames) {
    ClientFileNames windows = BuildClientFileNames("C:\\Docs\\Report.DOC", 0, 0);
    EXPECT_EQ(windows.rawPath, u"C:\\Docs\\Report.DOC");
    EXPECT_EQ(RawFileName(windows.rawPath), u"Report.DOC");
    EXPECT_EQ(RawFileType(windows.rawPath), u"DOC");
    EXPECT_EQ(windows.safeName, u"Report.DOC");
    EXPECT_EQ(windows.urlSafeName, u"report.doc");

    ClientFileNames bare = BuildClientFileNames("my photo.JPG", 0, 0);
    EXPECT_EQ(bare.safeName, u"my photo.JPG");
    EXPECT_EQ(bare.urlSafeName, u"my_photo.jpg");

    ClientFileNames mac = BuildClientFileNames("a/b?.txt", 0, 0);
    EXPECT_EQ(mac.safeName, u"a\uF022b\uF025.txt");
    EXPECT_EQ(mac.urlSafeName, u"a_b_.txt");

    EXPECT_EQ(SafeFileName(u"notes."), u"notes\uF029");
    EXPECT_EQ(SafeFileName(u"two  "), u"two \uF028");
    EXPECT_EQ(SafeFileName(u"\\dir\\name. ."), u"name");
    EXPECT_EQ(SafeFileName(u"C:\\a\\b<c>|\x01.txt"), u"bc.txt");

    ClientFileNames unix = BuildClientFileNames("/home/u/a.txt", 0, 0);
    EXPECT_EQ(RawFileName(unix.rawPath), u"/home/u/a.txt");
    EXPECT_EQ(unix.safeName, u"\uF022home\uF022u\uF022a.txt");
    EXPECT_EQ(unix.urlSafeName, u"_home_u_a.txt");

    ClientFileNames empty = BuildClientFileNames("", 0, 0);
    EXPECT_TRUE(empty.rawPath.empty() && empty.safeName.empty() && empty.urlSafeName.empty());
}

TEST(ClientFileNames, DecodersRunInTheirOrder) {
    testing_support::TempRegistry registry;  // the system code page is UTF-8
    EXPECT_EQ(DecodeClientPath("caf%E9.txt", 0), u"caf\u00E9.txt");
    EXPECT_EQ(DecodeClientPath("caf%E9%ZZ.txt", 0), u"caf%E9%ZZ.txt");  // through the code page
    EXPECT_EQ(DecodeClientPath("&#1055;&#1088;.txt", 0), u"\u041F\u0440.txt");
    EXPECT_EQ(DecodeClientPath("&#70000;.txt", 0), u"&#70000;.txt");
    EXPECT_EQ(DecodeClientPath("evil.asp%00.jpg", 0), u"evil.asp");  // nothing hides behind a NUL
    EXPECT_EQ(DecodeClientPath("a&b&#65;", 0), u"a&bA");
    EXPECT_EQ(DecodeClientPath("\xCF\xF0.txt", 1251), u"\u041F\u0440.txt");
    EXPECT_EQ(DecodeClientPath("\xCF\xF0", 12345), u"\u00CF\u00F0");  // no such code page: bytes widened
    EXPECT_EQ(DecodeClientPath("caf\xC3\xA9", 0), u"caf\u00E9");
    EXPECT_EQ(DecodeClientPath("bad\xFF", 0), u"bad\u00FF");  // invalid UTF-8: widened
    // Percent decoding is capped at 259 units.
    const std::string longName(300, 'a');
    EXPECT_EQ(DecodeClientPath((longName + "%41").c_str(), 0).size(), 259u);
    EXPECT_EQ(DecodeClientPath(longName.c_str(), 0), std::u16string(259, u'a'));  // too long for decoder 3
}

TEST(ClientFileNames, LastComponentAndExtension) {
    EXPECT_EQ(RawFileType(u"archive.tar.gz"), u"gz");
    EXPECT_EQ(RawFileType(u"dir.old\\file"), u"");
    EXPECT_EQ(RawFileType(u"file."), u"");
    EXPECT_EQ(RawFileName(u"noslash"), u"noslash");
    EXPECT_EQ(RawFileName(u"a\\b\\"), u"");
}
