// Scripting.FileSystemObject over real HTTP, in the product's server: pages
// write, read, copy, move, delete and list real files in a folder of the
// test's document root, and the tests look at the bytes on disk.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "SiteServer.h"

namespace {

using namespace http_support;
namespace fs = std::filesystem;

// Every page starts with the object, the data folder and `attempt`, which
// runs a function and gives "ok" or the run-time error's number and text.
const std::string kPrelude =
    "<%@ Language=\"JScript\" %><%\n"
    "var fso = Server.CreateObject(\"Scripting.FileSystemObject\");\n"
    "var dir = Server.MapPath(\"data\");\n"
    "function attempt(f) { try { f(); return 'ok'; } catch (e) { return (e.number & 0xFFFF) + ' ' + e.description; } "
    "}\n"
    "%>";

class FileSystemObject : public SiteServerTest {
protected:
    void SetUp() override {
        SiteServerTest::SetUp();
        fs::create_directories(mData);
        OpenToServer(mData);
    }
    // A folder or file the server's account owns (it runs as formix4 when
    // the tests run as root).
    void OpenToServer(const fs::path& path) {
        if (const passwd* account = getuid() == 0 ? getpwnam("formix4") : nullptr) {
            ASSERT_EQ(chown(path.c_str(), account->pw_uid, account->pw_gid), 0);
        }
    }
    void WriteFile(const fs::path& path, const std::string& bytes) {
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
        OpenToServer(path.parent_path());
        OpenToServer(path);
    }
    static std::string ReadFile(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }
    // Runs `code` (after the prelude) as a page and gives its answer's body.
    std::string Run(const std::string& code) {
        std::ofstream(mRoot / "page.asp", std::ios::binary) << kPrelude << code;
        if (!mServer) mServer = Start();
        const HttpResult result = Get(mServer->port(), "/page.asp");
        EXPECT_EQ(result.status, 200) << result.body;
        return result.body;
    }
    std::vector<std::string> Names(const fs::path& folder) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path mData = mRoot / "data";
    std::unique_ptr<ServerProcess> mServer;
};

TEST_F(FileSystemObject, AnsiTextIsInTheSiteCodePageAndUnicodeIsUtf16WithAMark) {
    const std::string body = Run(
        "<% var t = fso.CreateTextFile(dir + '\\\\ansi.txt');\n"
        "t.WriteLine('caf\\u00e9'); t.Write('x'); Response.Write(t.Line + ',' + t.Column + '|'); t.Close();\n"
        "t = fso.OpenTextFile(dir + '/ansi.txt'); Response.Write(t.ReadLine() + '|' + t.ReadAll() + '|'); t.Close();\n"
        "t = fso.CreateTextFile(dir + '/uni.txt', true, true); t.WriteLine('\\u20ac\\u00e9'); t.Close();\n"
        "t = fso.OpenTextFile(dir + '/uni.txt', 1, false, -1); Response.Write(t.ReadLine() + '|'); t.Close();\n"
        "t = fso.OpenTextFile(dir + '/uni.txt', 1, false, -2); Response.Write(t.ReadAll().length + '|'); t.Close();\n"
        "t = fso.OpenTextFile(dir + '/ansi.txt', 8, false, 0); t.Write('\\u20ac'); t.Close();\n"
        "Response.Write(attempt(function () { var a = fso.OpenTextFile(dir + '/ansi.txt', 8); a.Write('\\u4e00'); "
        "}));\n"
        "%>");
    // The euro sign is 0x80 in code page 1252; a character it cannot hold is refused.
    EXPECT_EQ(body, "2,2|caf\xC3\xA9|x|\xE2\x82\xAC\xC3\xA9|4|5 Invalid procedure call or argument");
    EXPECT_EQ(ReadFile(mData / "ansi.txt"), "caf\xE9\r\nx\x80");
    EXPECT_EQ(ReadFile(mData / "uni.txt"), std::string("\xFF\xFE\xAC\x20\xE9\x00\r\x00\n\x00", 10));
}

TEST_F(FileSystemObject, LinesEndWithCrLfLfOrCrAndTheEndOfTheStreamIsAnError) {
    // A CR LF split between two blocks of the reader is still one line end.
    WriteFile(mData / "lines.txt", "a\r\nb\nc\rd");
    WriteFile(mData / "long.txt", std::string(65535, 'x') + "\r\nlast\r\n");
    WriteFile(mData / "empty.txt", "");
    const std::string body = Run(
        "<% var t = fso.OpenTextFile(dir + '/lines.txt');\n"
        "while (!t.AtEndOfStream) Response.Write(t.Line + ':' + t.ReadLine() + ';');\n"
        "Response.Write(t.AtEndOfLine + '|' + attempt(function () { t.ReadLine(); }) + '|');\n"
        "Response.Write(attempt(function () { t.Write('x'); }) + '|'); t.Close();\n"
        "t = fso.OpenTextFile(dir + '/lines.txt'); Response.Write(t.Read(2) + ',' + t.AtEndOfLine + ',');\n"
        "t.Skip(1); t.SkipLine(); Response.Write(t.Column + ',' + t.Read(100).length + '|'); t.Close();\n"
        "t = fso.OpenTextFile(dir + '/long.txt'); var first = t.ReadLine();\n"
        "Response.Write(first.length + ',' + t.Line + ',' + t.ReadLine() + ',' + t.AtEndOfStream + '|'); t.Close();\n"
        "t = fso.OpenTextFile(dir + '/empty.txt'); Response.Write(t.AtEndOfStream + ',' +\n"
        "  attempt(function () { t.ReadAll(); }) + ',' + attempt(function () { t.Read(1); }));\n"
        "%>");
    EXPECT_EQ(body,
              "1:a;2:b;3:c;4:d;true|62 Input past end of file|54 Bad file mode|"
              "a\r,true,1,3|65535,2,last,true|true,62 Input past end of file,62 Input past end of file");
}

TEST_F(FileSystemObject, WildcardsCopyAndDeleteTheMatchingFilesOnly) {
    for (const char* name : {"a.txt", "b.TXT", "c.log", "d.txt.bak"}) WriteFile(mData / "src" / name, name);
    fs::create_directories(mData / "dst");
    OpenToServer(mData / "dst");
    const std::string body = Run(
        "<% Response.Write(attempt(function () { fso.CopyFile(dir + '/src/*.txt', dir + '\\\\dst\\\\'); }) + '|');\n"
        "Response.Write(attempt(function () { fso.CopyFile(dir + '/src/*.none', dir + '/dst/'); }) + '|');\n"
        "Response.Write(attempt(function () { fso.CopyFile(dir + '/src/?.log', dir + '/missing/'); }) + '|');\n"
        "Response.Write(attempt(function () { fso.DeleteFile(dir + '/src/*.TXT'); }) + '|');\n"
        "Response.Write(attempt(function () { fso.DeleteFile(dir + '/src/*.txt'); }) + '|');\n"
        "Response.Write(attempt(function () { fso.MoveFile(dir + '/src/*', dir + '/dst'); }));\n"
        "%>");
    EXPECT_EQ(body, "ok|53 File not found|76 Path not found|ok|53 File not found|ok");
    EXPECT_EQ(Names(mData / "dst"), (std::vector<std::string>{"a.txt", "b.TXT", "c.log", "d.txt.bak"}));
    EXPECT_EQ(ReadFile(mData / "dst" / "b.TXT"), "b.TXT");
    EXPECT_TRUE(Names(mData / "src").empty());
}

TEST_F(FileSystemObject, NothingIsOverwrittenUnlessAllowed) {
    WriteFile(mData / "keep.txt", "original");
    WriteFile(mData / "other.txt", "other");
    WriteFile(mData / "locked.txt", "locked");
    chmod((mData / "locked.txt").c_str(), 0444);
    const std::string body = Run(
        "<% Response.Write(attempt(function () { fso.CreateTextFile(dir + '/keep.txt', false); }) + '|');\n"
        "Response.Write(attempt(function () { fso.CopyFile(dir + '/other.txt', dir + '/keep.txt', false); }) + '|');\n"
        "Response.Write(attempt(function () { fso.MoveFile(dir + '/other.txt', dir + '/keep.txt'); }) + '|');\n"
        "Response.Write(attempt(function () { fso.CreateFolder(dir); }) + '|');\n"
        "Response.Write(attempt(function () { fso.GetFile(dir + '/other.txt').Name = 'keep.txt'; }) + '|');\n"
        "Response.Write(attempt(function () { fso.CopyFile(dir + '/other.txt', dir + '/locked.txt'); }) + '|');\n"
        "Response.Write(attempt(function () { fso.DeleteFile(dir + '/locked.txt'); }) + '|');\n"
        // A replaced file keeps its old text until the new one is closed.
        "var t = fso.CreateTextFile(dir + '/keep.txt', true); t.Write('replaced');\n"
        "Response.Write(fso.OpenTextFile(dir + '/keep.txt').ReadAll() + ','); t.Close();\n"
        "Response.Write(fso.OpenTextFile(dir + '/keep.txt').ReadAll() + '|');\n"
        // A new file shows under its name at once, empty until it is closed.
        "t = fso.CreateTextFile(dir + '/new.txt', false); t.Write('text');\n"
        "Response.Write(fso.FileExists(dir + '/new.txt') + ',' + fso.GetFile(dir + '/new.txt').Size + ',');\n"
        "Response.Write(attempt(function () { fso.CreateTextFile(dir + '/new.txt', false); }) + ',');\n"
        "t.Close(); Response.Write(fso.GetFile(dir + '/new.txt').Size + '|');\n"
        "Response.Write(attempt(function () { fso.DeleteFile(dir + '/locked.txt', true); }));\n"
        "%>");
    EXPECT_EQ(body,
              "58 File already exists|58 File already exists|58 File already exists|58 File already exists|"
              "58 File already exists|70 Permission denied|70 Permission denied|original,replaced|"
              "true,0,58 File already exists,4|ok");
    EXPECT_EQ(ReadFile(mData / "other.txt"), "other");
    EXPECT_EQ(Names(mData), (std::vector<std::string>{"keep.txt", "new.txt", "other.txt"}));
}

TEST_F(FileSystemObject, FoldersAreCopiedMergedMovedAndDeleted) {
    WriteFile(mData / "tree" / "a.txt", "new a");
    WriteFile(mData / "tree" / "sub" / "b.txt", "b");
    WriteFile(mData / "copy" / "a.txt", "old a");
    WriteFile(mData / "copy" / "mine.txt", "mine");
    WriteFile(mData / "guarded" / "ro.txt", "ro");
    chmod((mData / "guarded" / "ro.txt").c_str(), 0444);
    const std::string body =
        Run("<% Response.Write(attempt(function () { fso.CopyFolder(dir + '/tree', dir + '/copy', false); }) + '|');\n"
            "Response.Write(attempt(function () { fso.CopyFolder(dir + '/tree', dir + '/copy'); }) + '|');\n"
            "Response.Write(attempt(function () { fso.CopyFolder(dir + '/tr*', dir + '/nowhere/'); }) + '|');\n"
            "Response.Write(attempt(function () { fso.MoveFolder(dir + '/tree', dir + '/copy'); }) + '|');\n"
            "var f = fso.GetFolder(dir + '/tree'); f.Move(dir + '/moved');\n"
            "Response.Write(f.Name + ',' + fso.FolderExists(dir + '/tree') + ',' + f.SubFolders.Count + '|');\n"
            "Response.Write(attempt(function () { fso.DeleteFolder(dir + '/guarded'); }) + '|');\n"
            "Response.Write(attempt(function () { fso.GetFolder(dir + '/guarded').Delete(true); }) + '|');\n"
            "Response.Write(attempt(function () { fso.DeleteFolder(dir + '/m*'); }) + ',' + fso.FolderExists(dir + "
            "'/moved'));\n"
            "%>");
    // The refused copy stopped at the first file it would have replaced.
    EXPECT_EQ(body,
              "58 File already exists|ok|76 Path not found|58 File already exists|moved,false,1|"
              "70 Permission denied|ok|ok,false");
    EXPECT_EQ(ReadFile(mData / "copy" / "a.txt"), "new a");
    EXPECT_EQ(ReadFile(mData / "copy" / "mine.txt"), "mine");
    EXPECT_EQ(ReadFile(mData / "copy" / "sub" / "b.txt"), "b");
    EXPECT_EQ(Names(mData), (std::vector<std::string>{"copy"}));
}

TEST_F(FileSystemObject, FilesAreRenamedMovedAppendedAndMadeReadOnly) {
    WriteFile(mData / "log.txt", "one\r\n");
    WriteFile(mData / "sub" / "placeholder", "");
    const std::string body = Run(
        "<% var f = fso.GetFile(dir + '/log.txt');\n"
        "var t = f.OpenAsTextStream(8); t.WriteLine('two'); t.WriteBlankLines(2); t.Close();\n"
        "t = fso.OpenTextFile(dir + '/log.txt', 8, false); t.Write('three'); t.Close();\n"
        "f.Name = 'renamed.log'; Response.Write(f.Name + ',' + fso.FileExists(dir + '/log.txt') + '|');\n"
        "f.Move(dir + '/sub/'); Response.Write(f.ParentFolder.Name + ',' + f.Size + '|');\n"
        "f.Copy(dir + '/copy.txt'); Response.Write(fso.GetFile(dir + '/copy.txt').Size + ',');\n"
        "f.Attributes = 1; Response.Write(f.Attributes + ',' + attempt(function () { f.Delete(); }) + ',');\n"
        "f.Attributes = 0; Response.Write(f.Attributes + ',' + attempt(function () { fso.OpenTextFile(f.Path, "
        "2).Close(); }) + '|');\n"
        "Response.Write(attempt(function () { f.Name = 'a/b'; }) + ',' + attempt(function () { f.Copy(f.Path); }));\n"
        "%>");
    EXPECT_EQ(body,
              "renamed.log,false|sub,19|19,1,70 Permission denied,0,ok|5 Invalid procedure call or argument,"
              "70 Permission denied");
    EXPECT_EQ(ReadFile(mData / "sub" / "renamed.log"), "");
    EXPECT_EQ(ReadFile(mData / "copy.txt"), "one\r\ntwo\r\n\r\n\r\nthree");
}

TEST_F(FileSystemObject, ErrorsCarryTheirNumberAndText) {
    WriteFile(mData / "a.txt", "a");
    const std::string body =
        Run("<% try { fso.GetFile(dir + '/none.txt'); } catch (e) { Response.Write(e.number + ' ' + e.description + "
            "'|'); }\n"
            "Response.Write(attempt(function () { fso.GetFolder(dir + '/none'); }) + '|');\n"
            "Response.Write(attempt(function () { fso.OpenTextFile(dir + '/none.txt'); }) + '|');\n"
            "Response.Write(attempt(function () { fso.OpenTextFile(dir + '/none/x.txt', 2, true); }) + '|');\n"
            "Response.Write(attempt(function () { fso.OpenTextFile(dir + '/a.txt', 3); }) + '|');\n"
            "Response.Write(attempt(function () { fso.OpenTextFile(dir + '/a.txt', 1, false, 7); }) + '|');\n"
            "Response.Write(attempt(function () { fso.OpenTextFile(dir + '/a.txt').Read(-1); }) + '|');\n"
            "Response.Write(attempt(function () { fso.OpenTextFile(dir + '/a.txt').Read(1e12); }) + '|');\n"
            "Response.Write(attempt(function () { fso.OpenTextFile(dir); }) + '|');\n"
            "Response.Write(attempt(function () { fso.FileExists(Response); }) + '|');\n"
            "Response.Write(attempt(function () { fso.FileExists(null); }) + '|');\n"
            "Response.Write(attempt(function () { fso.GetSpecialFolder(9); }) + '|');\n"
            "Response.Write(attempt(function () { fso.DeleteFolder(dir + '/none*'); }) + '|');\n"
            "Response.Write(attempt(function () { fso.CopyFolder(dir, dir + '/inside'); }) + '|');\n"
            "Response.Write(attempt(function () { fso.FileExists(new Array(5000).join('x/')); }) + '|');\n"
            "var t = fso.CreateTextFile(dir + '/b.txt'); t.Close();\n"
            "Response.Write(attempt(function () { t.Write('x'); }) + '|' + attempt(function () { t.Close(); }));\n"
            "%>");
    EXPECT_EQ(body,
              "-2146828235 File not found|76 Path not found|53 File not found|76 Path not found|"
              "5 Invalid procedure call or argument|5 Invalid procedure call or argument|"
              "5 Invalid procedure call or argument|5 Invalid procedure call or argument|70 Permission denied|"
              "13 Type mismatch|13 Type mismatch|5 Invalid procedure call or argument|76 Path not found|"
              "70 Permission denied|52 Bad file name or number|54 Bad file mode|ok");
    EXPECT_FALSE(fs::exists(mData / "inside"));
}

TEST_F(FileSystemObject, AFolderTheServerMayNotWriteIsReportedAndLeftAsItWas) {
    // Owned by root (the server runs as formix4) or without write
    // permission: either way the server's account cannot write it.
    const fs::path locked = mRoot / "locked";
    fs::create_directories(locked);
    std::ofstream(locked / "in.txt") << "in";
    chmod(locked.c_str(), 0555);
    const std::string body =
        Run("<% var locked = Server.MapPath('locked');\n"
            "Response.Write(attempt(function () { fso.CreateTextFile(locked + '/new.txt'); }) + '|');\n"
            "Response.Write(attempt(function () { fso.OpenTextFile(locked + '/in.txt', 2); }) + '|');\n"
            "Response.Write(attempt(function () { fso.CopyFile(locked + '/in.txt', locked + '/copy.txt'); }) + '|');\n"
            "Response.Write(attempt(function () { fso.DeleteFile(locked + '/in.txt'); }) + '|');\n"
            "Response.Write(attempt(function () { fso.CreateFolder(locked + '/sub'); }) + '|');\n"
            "Response.Write(fso.OpenTextFile(locked + '/in.txt').ReadAll());\n"
            "%>");
    chmod(locked.c_str(), 0755);
    EXPECT_EQ(body,
              "70 Permission denied|70 Permission denied|70 Permission denied|70 Permission denied|"
              "70 Permission denied|in");
    EXPECT_EQ(Names(locked), std::vector<std::string>{"in.txt"});
}

TEST_F(FileSystemObject, FilesAndSubFoldersAreListedAndEnumerated) {
    WriteFile(mData / "list" / "b.txt", "12345");
    WriteFile(mData / "list" / "A.txt", "1");
    WriteFile(mData / "list" / ".hidden", "");
    WriteFile(mData / "list" / "sub2" / "deep.bin", std::string(100, 'z'));
    WriteFile(mData / "list" / "Sub1" / "x", "");
    chmod((mData / "list" / "b.txt").c_str(), 0444);
    const std::string body = Run(
        "<% var f = fso.GetFolder(dir + '/list/');\n"
        "Response.Write(f.Files.Count + ',' + f.SubFolders.Count + ',' + f.Size + '|');\n"
        "for (var e = new Enumerator(f.Files); !e.atEnd(); e.moveNext())\n"
        "  Response.Write(e.item().Name + ':' + e.item().Size + ':' + e.item().Attributes + ':' + e.item().Type + "
        "';');\n"
        "for (e = new Enumerator(f.SubFolders); !e.atEnd(); e.moveNext())\n"
        "  Response.Write(e.item().Name + ':' + e.item().Attributes + ':' + e.item().ParentFolder.Name + ';');\n"
        "Response.Write('|' + f.Files.Item('b.txt').Path.slice(-11) + ',' + f.SubFolders.Item('sub2').Files.Count);\n"
        "Response.Write(',' + attempt(function () { f.Files.Item('none'); }));\n"
        "Response.Write(',' + (f.DateLastModified instanceof Date) + ',' + f.IsRootFolder + ',' + "
        "fso.GetFolder('/').IsRootFolder);\n"
        "%>");
    EXPECT_EQ(body,
              "3,2,106|.hidden:0:2:HIDDEN File;A.txt:1:0:TXT File;b.txt:5:1:TXT File;"
              "Sub1:16:list;sub2:16:list;|/list/b.txt,1,53 File not found,true,false,true");
}

TEST_F(FileSystemObject, PathsAreTakenApartAsWritten) {
    const std::string body =
        Run("<% Response.Write([fso.BuildPath('/a', 'b'), fso.BuildPath('/a/', 'b'), "
            "fso.GetParentFolderName('a\\\\b\\\\c\\\\'),\n"
            "  fso.GetParentFolderName('/a'), fso.GetParentFolderName('a'), fso.GetFileName('/a/b.tar.gz'),\n"
            "  fso.GetBaseName('/a/b.tar.gz'), fso.GetExtensionName('/a/b.tar.gz'), fso.GetExtensionName('/a/b'),\n"
            "  fso.GetAbsolutePathName('/a/./b/../c//'), fso.GetDriveName('/a/b'), fso.GetDriveName('a'),\n"
            "  fso.DriveExists('/'), fso.DriveExists('/etc'), fso.GetDrive('/').RootFolder.Path,\n"
            "  fso.GetDrive('/').TotalSize > 0, fso.GetDrive('/').IsReady, "
            "/^rad[0-9A-F]{5}\\.tmp$/.test(fso.GetTempName()),\n"
            "  fso.GetFile(Server.MapPath('page.asp')).ParentFolder.Path == "
            "fso.GetAbsolutePathName(Server.MapPath('/'))].join(','));\n"
            "%>");
    EXPECT_EQ(body, "/a/b,/a/b,a/b,/,,b.tar.gz,b.tar,gz,,/a/c,/,,true,false,/,true,true,true,true");
}

}  // namespace
