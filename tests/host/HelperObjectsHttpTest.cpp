// The helper objects pages create by ProgID, Scripting.Dictionary and
// ADODB.Stream, used by pages over real HTTP in the product's server, with
// the files they load and save in the document root's uploads/ folder.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "SiteServer.h"

namespace {

using namespace http_support;
namespace fs = std::filesystem;

// What a page includes first: caught(f) runs f and gives "no error", or the
// error's HRESULT in hex and its text.
const char* const kPrelude =
    "<%@ Language=\"JScript\" %><%\n"
    "function caught(f) { try { f(); return 'no error'; }\n"
    "  catch (e) { return (e.number >>> 0).toString(16) + ' ' + e.description; } }\n"
    "function hex(bytes) { if (bytes === null) return 'null';\n"
    "  return new VBArray(bytes).toArray().map(function (b) { return (b < 16 ? '0' : '') + b.toString(16); }).join(' "
    "'); }\n"
    "function newStream() { return Server.CreateObject(\"ADODB.Stream\"); }\n"
    "function newDictionary() { return Server.CreateObject(\"Scripting.Dictionary\"); }\n"
    "// A text stream's bytes, from its start; the stream is left at its start as text.\n"
    "function bytesOf(s) { s.Position = 0; s.Type = 1; var b = s.Read(); s.Position = 0; s.Type = 2; return hex(b); }\n"
    "%>";

// The errors as caught() prints them.
const std::string kKeyExists = "800a01c9 This key is already associated with an element of this collection";
const std::string kNotFound = "800a802b Element not found";
const std::string kInvalidCall = "800a0005 Invalid procedure call or argument";
const std::string kTypeMismatch = "800a000d Type mismatch";
const std::string kWrongArguments =
    "800a0bb9 Arguments are of the wrong type, are out of acceptable range, or are in conflict with one another.";
const std::string kNotOpened = "800a0bba File could not be opened.";
const std::string kWriteFailed = "800a0bbc Write to file failed.";
const std::string kNotInContext = "800a0c93 Operation is not allowed in this context.";
const std::string kNotCapable = "800a0cb3 Object or provider is not capable of performing requested operation.";
const std::string kClosed = "800a0e78 Operation is not allowed when the object is closed.";
const std::string kOpen = "800a0e79 Operation is not allowed when the object is open.";

// Lines joined with "\n".
std::string Lines(std::initializer_list<std::string> lines) {
    std::string text;
    for (const std::string& line : lines) text += (text.empty() ? "" : "\n") + line;
    return text;
}

class HelperObjects : public SiteServerTest {
protected:
    std::string Run(int port, const std::string& name, const std::string& code, const std::string& body = "") {
        std::ofstream(mRoot / name, std::ios::binary) << kPrelude << "<%\n" << code << "\n%>";
        const std::string method = body.empty() ? "GET" : "POST";
        const HttpResult result = Exchange(port, method + " /" + name + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                                                     "Content-Type: application/octet-stream\r\nContent-Length: " +
                                                     std::to_string(body.size()) + "\r\n\r\n" + body);
        EXPECT_EQ(result.status, 200) << result.body;
        return result.body;
    }
    static std::string FileText(const fs::path& path) {
        std::ifstream file(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    fs::path mUploads = mRoot / "uploads";
};

TEST_F(HelperObjects, DictionaryMembersKeepTheOrderOfInsertion) {
    auto server = Start();
    EXPECT_EQ(
        Run(server->port(), "dictionary.asp",
            "var d = newDictionary();\n"
            "d.Add('b', 'bee'); d.Add('a', 'ant'); d('c') = 'cat'; d.Item('d') = 'dog'; d('a') = 'ape';\n"
            "var missing = d('missing');\n"
            "Response.Write(d('a') + '|' + d.Item('c') + '|' + typeof missing + '|' + d.Exists('missing') + '|' + "
            "d.Count + '\\n');\n"
            "d.Key('b') = 'B'; d.Remove('missing');\n"
            "var order = [];\n"
            "for (var e = new Enumerator(d); !e.atEnd(); e.moveNext()) order.push(e.item() + '=' + d(e.item()));\n"
            "Response.Write(order.join(',') + '|' + new VBArray(d.Keys()).toArray() + '|' + new "
            "VBArray(d.Items()).toArray() + '\\n');\n"
            "d.RemoveAll(); d.Add('z', 1);\n"
            "Response.Write(d.Count + '|' + new VBArray(d.Keys()).toArray() + '|' + new "
            "VBArray(newDictionary().Keys()).ubound());"),
        "ape|cat|undefined|true|5\n"
        "B=bee,a=ape,c=cat,d=dog|B,a,c,d|bee,ape,cat,dog\n"
        "1|z|-1");
}

TEST_F(HelperObjects, DictionaryKeysOfEveryKind) {
    auto server = Start();
    EXPECT_EQ(Run(server->port(), "keys.asp",
                  "var d = newDictionary(), first = newDictionary(), second = newDictionary(), when = new Date(2020, "
                  "0, 31);\n"
                  "d.Add(1, 'one'); d.Add('1', 'text one'); d.Add(true, 'true'); d.Add(null, 'null'); d.Add(undefined, "
                  "'empty');\n"
                  "d.Add(1.5, 'real'); d.Add(0, 'zero'); d.Add(NaN, 'nan'); d.Add(first, 'first'); d.Add(second, "
                  "'second'); d.Add(when, 'date');\n"
                  "Response.Write(d.Count + '|' + d(2 - 1) + '|' + d('1') + '|' + d(true) + '|' + d(null) + '|' + "
                  "d(undefined) + '|' +\n"
                  "  d(3 / 2) + '|' + d(-0) + '|' + d(0 / 0) + '|' + d(first) + '|' + d(second) + '|' + d(new "
                  "Date(2020, 0, 31)) + '|' +\n"
                  "  d.Exists('01') + '|' + d.Exists(newDictionary()) + '|' + typeof new VBArray(d.Keys()).getItem(0) "
                  "+ '\\n');\n"
                  "var binary = newDictionary(), text = newDictionary(); text.CompareMode = 1;\n"
                  "binary.Add('\\u00c4rger', 1); text.Add('\\u00c4rger', 1);\n"
                  "Response.Write(binary.Exists('\\u00e4RGER') + '|' + text.Exists('\\u00e4RGER') + '|' + "
                  "text.CompareMode + '|' +\n"
                  "  (text.HashVal('\\u00c4rger') == text.HashVal('\\u00e4RGER')) + '|' + (new "
                  "VBArray(text.Keys()).getItem(0) == '\\u00c4rger') + '|' +\n"
                  "  caught(function () { text.Add('\\u00e4rger', 2); }));"),
              "11|one|text one|true|null|empty|real|zero|nan|first|second|date|false|false|number\n"
              "false|true|1|true|true|" +
                  kKeyExists);
}

TEST_F(HelperObjects, DictionaryErrorsLoseNothing) {
    auto server = Start();
    EXPECT_EQ(
        Run(server->port(), "errors.asp",
            "var d = newDictionary(), empty = newDictionary(); d.Add('a', 1); d.Add('b', 2);\n"
            "Response.Write([caught(function () { d.Add('a', 3); }), caught(function () { d.Remove('zz'); }),\n"
            "  caught(function () { d.Key('zz') = 'y'; }), caught(function () { d.Key('a') = 'b'; }),\n"
            "  caught(function () { d.CompareMode = 1; }), caught(function () { empty.CompareMode = 'text'; }),\n"
            "  caught(function () { empty.CompareMode = -1; }), caught(function () { d.Add(d.Keys(), 1); }),\n"
            "  caught(function () { d.Exists(d.Items()); }), caught(function () { d.Key('a') = 'a'; })].join('\\n'));\n"
            "Response.Write('\\n' + new VBArray(d.Keys()).toArray() + '=' + new VBArray(d.Items()).toArray() + '|' + "
            "empty.Count);"),
        Lines({kKeyExists, kNotFound, kNotFound, kKeyExists, kInvalidCall, kTypeMismatch, kInvalidCall, kTypeMismatch,
               kTypeMismatch, "no error", "a,b=1,2|0"}));
}

TEST_F(HelperObjects, DictionaryItemsOfEveryKind) {
    auto server = Start();
    EXPECT_EQ(Run(server->port(), "items.asp",
                  "var d = newDictionary(), inner = newDictionary(); inner.Add('x', 1);\n"
                  "d.Add('object', inner); d.Add('array', inner.Keys()); d('later') = inner.Items(); d('n') = null;\n"
                  "inner.Add('y', 2);\n"
                  "Response.Write(d('object').Count + '|' + new VBArray(d('array')).toArray() + '|' + new "
                  "VBArray(d('later')).toArray() + '|' +\n"
                  "  d('n') + '|' + new VBArray(d.Items()).getItem(0).Exists('y') + '|' + typeof new "
                  "VBArray(d.Items()).getItem(1));"),
              // Objects are kept by reference, arrays as copies.
              "2|x|1|null|true|object");
}

// Each lookup is a hash: a search through the keys would take minutes here
// and run past the page's time.
TEST_F(HelperObjects, DictionaryOfAHundredThousandKeys) {
    auto server = Start();
    long long sum = 0;
    for (int i = 0; i < 100000; i += 7) sum += i;
    EXPECT_EQ(Run(server->port(), "many.asp",
                  "Server.ScriptTimeout = 20; var d = newDictionary(), sum = 0, i;\n"
                  "for (i = 0; i < 100000; i++) d.Add('k' + i, i);\n"
                  "for (i = 0; i < 100000; i += 7) sum += d('k' + i);\n"
                  "for (i = 0; i < 100000; i += 2) d.Remove('k' + i);\n"
                  "Response.Write(d.Count + '|' + sum + '|' + d.Exists('k99999') + '|' + d.Exists('k99998') + '|' +\n"
                  "  new VBArray(d.Keys()).getItem(0));"),
              "50000|" + std::to_string(sum) + "|true|false|k1");
}

TEST_F(HelperObjects, EveryByteValueGoesThroughWriteSaveLoadAndRead) {
    auto server = Start();
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    const std::string page = Run(server->port(), "bytes.asp",
                                 "var path = Server.MapPath('/uploads/all.bin'), s = newStream();\n"
                                 "s.Open(); s.Write(Request.BinaryRead(Request.TotalBytes));\n"
                                 "Response.Write(s.Type + '|' + s.Size + '|' + s.Position + '|' + s.EOS + '|');\n"
                                 "s.SaveToFile(path, 2); Response.Write(s.Position + '|'); s.Close();\n"
                                 "var t = newStream(); t.Type = 1; t.Open(); t.LoadFromFile(path); t.Position = 250;\n"
                                 "Response.Write(t.Size + '|' + hex(t.Read(3)) + '|' + t.Position + '|');\n"
                                 "t.Position = 0; Response.BinaryWrite(t.Read()); Response.Write('|' + hex(t.Read()) + "
                                 "'|' + t.EOS + '|' + t.State);\n"
                                 "t.Close(); Response.Write('|' + t.State);",
                                 all);
    // A text stream that is still empty takes bytes and becomes binary.
    EXPECT_EQ(page, "1|256|256|true|0|256|fa fb fc|253|" + all + "|null|true|1|0");
    EXPECT_EQ(FileText(mUploads / "all.bin"), all);
}

// Past what it keeps in memory (4 MB) a stream's bytes are in a temporary
// file: written, read in pieces, sized and saved as before.
TEST_F(HelperObjects, ALargeStreamIsReadInPieces) {
    auto server = Start();
    std::string body(6u << 20, '\0');
    // Any bytes but '&', which the server counts as form fields (at most 10,000).
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>((i * 7919) >> 5);
    std::replace(body.begin(), body.end(), '&', '%');
    const std::string page = Run(server->port(), "large.asp",
                                 "var s = newStream(); s.Type = 1; s.Open();\n"
                                 "while (true) { var piece = Request.BinaryRead(1000000); if (new "
                                 "VBArray(piece).ubound() < 0) break; s.Write(piece); }\n"
                                 "s.SaveToFile(Server.MapPath('/uploads/large.bin'), 2); s.Position = 3;\n"
                                 "Response.Write(s.Size + '|' + hex(s.Read(2)) + '|');\n"
                                 "s.Position = 0; while (!s.EOS) Response.BinaryWrite(s.Read(999999));\n"
                                 "s.Position = 8000000; Response.Write('|' + s.Size + '|' + hex(s.Read()));",
                                 body);
    auto hexByte = [&](size_t i) {
        char text[3];
        std::snprintf(text, sizeof text, "%02x", static_cast<unsigned char>(body[i]));
        return std::string(text);
    };
    const std::string head = std::to_string(body.size()) + "|" + hexByte(3) + " " + hexByte(4) + "|";
    EXPECT_EQ(page.substr(0, head.size()), head);
    EXPECT_TRUE(page.compare(head.size(), body.size(), body) == 0);
    EXPECT_EQ(page.substr(std::min(page.size(), head.size() + body.size())), "|8000000|null");
    EXPECT_TRUE(FileText(mUploads / "large.bin") == body);
}

TEST_F(HelperObjects, TextIsWrittenAndReadInItsCharset) {
    std::ofstream(mUploads / "cp1252.txt", std::ios::binary) << "caf\xE9\r\nna\xEFve\r\n";
    auto server = Start();
    EXPECT_EQ(
        Run(server->port(), "charsets.asp",
            "var text = 'Gr\\u00fc\\u00dfe \\u20ac', names = ['Unicode', 'utf-8', 'iso-8859-1', 'windows-1252', "
            "'us-ascii'];\n"
            "for (var i = 0; i < names.length; i++) {\n"
            "  var s = newStream(); s.Open(); s.Charset = names[i]; s.WriteText(text);\n"
            "  var size = s.Size, bytes = bytesOf(s);\n"
            "  Response.Write(names[i] + ': ' + size + ' ' + bytes + ' ' + (s.ReadText() == text) + ' ' + s.Charset + "
            "'\\n');\n"
            "}\n"
            "var u = newStream(); u.Open(); u.WriteText('a'); u.WriteText('b');\n"
            "Response.Write(bytesOf(u) + '|' + u.ReadText(1) + '|' + u.Position + '|');\n"
            "Response.Write(caught(function () { u.Charset = 'utf-8'; }) + '|' + caught(function () { u.Type = 1; }) + "
            "'|' +\n"
            "  caught(function () { newStream().Charset = 'klingon'; }) + '\\n');\n"
            "var h = newStream(); h.Open(); h.Charset = 'utf-8'; h.WriteText('h\\u00e9llo');\n"
            "h.Position = 0; h.Type = 1; h.Position = 3; var bare = h.Read();\n"
            "var b = newStream(); b.Type = 1; b.Open(); b.Write(bare); b.Position = 0; b.Type = 2; b.Charset = "
            "'utf-8';\n"
            "Response.Write(hex(bare) + '|' + (b.ReadText() == 'h\\u00e9llo') + '\\n');\n"
            "h.SaveToFile(Server.MapPath('/uploads/utf8.txt'), 2);\n"
            "var w = newStream(); w.Open(); w.Charset = 'windows-1252'; "
            "w.LoadFromFile(Server.MapPath('/uploads/cp1252.txt'));\n"
            "Response.Write((w.ReadText(-2) == 'caf\\u00e9') + '|' + (w.ReadText(-2) == 'na\\u00efve') + '|' + w.EOS);",
            ""),
        "Unicode: 16 ff fe 47 00 72 00 fc 00 df 00 65 00 20 00 ac 20 true Unicode\n"
        "utf-8: 14 ef bb bf 47 72 c3 bc c3 9f 65 20 e2 82 ac true utf-8\n"
        "iso-8859-1: 7 47 72 fc df 65 20 3f false iso-8859-1\n"
        "windows-1252: 7 47 72 fc df 65 20 80 true windows-1252\n"
        "us-ascii: 7 47 72 3f 3f 65 20 3f false us-ascii\n"
        "ff fe 61 00 62 00|a|4|" +
            kWrongArguments + "|" + kWrongArguments + "|" + kWrongArguments +
            "\n"
            "68 c3 a9 6c 6c 6f|true\n"
            "true|true|true");
    EXPECT_EQ(FileText(mUploads / "utf8.txt"), "\xEF\xBB\xBFh\xC3\xA9llo");
}

TEST_F(HelperObjects, LinesPositionsAndCopies) {
    auto server = Start();
    EXPECT_EQ(
        Run(server->port(), "lines.asp",
            "var s = newStream(); s.Open(); s.Charset = 'utf-8'; s.LineSeparator = 10;\n"
            "s.WriteText('one', 1); s.WriteText('two', 1); s.WriteText('thr\\u00e9e');\n"
            "s.Position = 0; var first = s.ReadText(-2); s.SkipLine(); var third = s.ReadText(-2);\n"
            "Response.Write(first + '|' + (third == 'thr\\u00e9e') + '|' + s.EOS + '|');\n"
            "s.Position = 0; Response.Write(s.ReadText(2) + '|' + s.Position + '|');\n"
            "s.LineSeparator = -1; s.Position = 0; Response.Write(s.ReadText(-2).length + '|');\n"
            "s.Position = 7; s.SetEOS(); s.Position = 0; Response.Write(s.Size + '|' + escape(s.ReadText()) + '\\n');\n"
            "var b = newStream(); b.Type = 1; b.Open(); b.Position = 4; Response.Write(b.Size + '|' + b.EOS + '|');\n"
            "b.Position = 0; Response.Write(hex(b.Read()) + '\\n');\n"
            "var src = newStream(), dst = newStream(); src.Open(); src.Charset = 'utf-8'; src.WriteText('h\\u00e9llo "
            "w\\u00f6rld');\n"
            "dst.Open(); src.Position = 0; src.CopyTo(dst, 5);\n"
            "Response.Write(bytesOf(dst) + '|' + src.Position + '|');\n"
            "dst.Position = dst.Size; src.CopyTo(dst); dst.Position = 0; Response.Write((dst.ReadText() == "
            "'h\\u00e9llo w\\u00f6rld') + '|');\n"
            "var raw = newStream(); raw.Open(); src.Position = 0; src.Type = 1; src.CopyTo(raw);\n"
            "Response.Write(raw.Type + '|' + raw.Size + '|' + src.Size + '|');\n"
            "var closed = newStream(); src.Position = 0; Response.Write(caught(function () { src.CopyTo(closed); }));"),
        "one|true|true|on|5|13|7|one%0A\n"
        "4|true|00 00 00 00\n"
        "ff fe 68 00 e9 00 6c 00 6c 00 6f 00|9|true|1|16|16|" +
            kClosed);
}

TEST_F(HelperObjects, MultibyteTextIsReadByCharacter) {
    auto server = Start();
    EXPECT_EQ(Run(server->port(), "multibyte.asp",
                  "var s = newStream(); s.Open(); s.Charset = 'shift_jis'; "
                  "s.WriteText('\\u65e5\\u672c\\u8a9e\\u30c6\\u30ad\\u30b9\\u30c8');\n"
                  "Response.Write(bytesOf(s) + '|' + (s.ReadText(2) == '\\u65e5\\u672c') + '|' + s.Position + '|');\n"
                  "Response.Write((s.ReadText(-1) == '\\u8a9e\\u30c6\\u30ad\\u30b9\\u30c8') + '\\n');\n"
                  "var u = newStream(); u.Open(); u.Charset = 'utf-8'; u.WriteText('\\ud83d\\ude00\\u00e9a'); "
                  "u.Position = 0;\n"
                  "Response.Write(u.ReadText(1).length + '|' + u.Position + '|' + (u.ReadText(1) == '\\u00e9') + '|' + "
                  "u.ReadText(5));"),
              "93 fa 96 7b 8c ea 83 65 83 4c 83 58 83 67|true|4|true\n"
              "2|7|true|a");
}

// Arguments of the wrong type, out of range or missing are errors the
// page can catch, and the stream keeps what it held.
TEST_F(HelperObjects, MembersSurviveAnyArgument) {
    std::ofstream(mUploads / "keep.txt") << "keep";
    auto server = Start();
    EXPECT_EQ(
        Run(server->port(), "arguments.asp",
            "var s = newStream(), d = newDictionary(); s.Open(); s.Charset = 'us-ascii'; s.WriteText('kept'); "
            "s.Position = 0;\n"
            "Response.Write([caught(function () { s.ReadText('abc'); }), caught(function () { s.ReadText(1e12); }),\n"
            "  caught(function () { s.Position = 3e9; }), caught(function () { s.Type = 'binary'; }),\n"
            "  caught(function () { s.Charset = 12; }), caught(function () { s.WriteText(d); }),\n"
            "  caught(function () { s.SaveToFile(null); }), caught(function () { s.CopyTo('x'); }),\n"
            "  caught(function () { s.CopyTo(s); }), caught(function () { s.CopyTo(d); }), caught(function () { s.Mode "
            "= 3; }),\n"
            "  caught(function () { d.Add('k'); }), caught(function () { s.LoadFromFile(12); })].join('\\n'));\n"
            "s.Position = 0; Response.Write('\\n' + s.ReadText(1e9) + '|' + s.Size + '|');\n"
            "s.Position = 100000000; Response.Write(s.Size + '|'); s.Position = 4; s.SetEOS(); s.Position = 0;\n"
            "Response.Write(s.Size + '|' + s.ReadText() + '|');\n"
            "var r = newStream(); r.Mode = 1; r.Open(); r.LoadFromFile(Server.MapPath('/uploads/keep.txt')); r.Charset "
            "= 'us-ascii';\n"
            "Response.Write(r.Mode + '|' + r.ReadText() + '|' + caught(function () { r.WriteText('x'); }));"),
        Lines({kWrongArguments, kWrongArguments, kWrongArguments, kWrongArguments, kWrongArguments, kWrongArguments,
               kWrongArguments, kWrongArguments, kWrongArguments, kWrongArguments, kOpen,
               "8002000e Invalid number of parameters.", kNotOpened,
               "kept|4|100000000|4|kept|1|keep|" + kNotInContext}));
}

TEST_F(HelperObjects, FilesAreSavedWholeOrNotAtAll) {
    std::ofstream(mUploads / "old.txt") << "old";
    std::ofstream(mUploads / "keep.txt") << "keep";
    std::ofstream(mUploads / "replaced.txt") << "older and longer";
    fs::create_directories(mUploads / "folder");
    fs::create_directories(mUploads / "locked");
    chmod((mUploads / "locked").c_str(),
          0555);  // the server's account cannot write it (when tests run as root, it is another account)
    auto server = Start();
    EXPECT_EQ(Run(server->port(), "files.asp",
                  "function at(name) { return Server.MapPath('/uploads/' + name); }\n"
                  "var s = newStream(); s.Open(); s.Charset = 'us-ascii'; s.WriteText('new');\n"
                  "var t = newStream(); t.Open(); t.Charset = 'us-ascii'; t.LoadFromFile(at('keep.txt'));\n"
                  "Response.Write([caught(function () { s.SaveToFile(at('old.txt')); }),\n"
                  "  caught(function () { s.SaveToFile(at('old.txt'), 1); }), caught(function () { "
                  "s.SaveToFile(at('fresh.txt'), 1); }),\n"
                  "  caught(function () { s.SaveToFile(at('replaced.txt'), 2); }), caught(function () { "
                  "s.SaveToFile(at('locked/x.txt'), 2); }),\n"
                  "  caught(function () { s.SaveToFile(at('no/such/x.txt'), 2); }), caught(function () { "
                  "s.SaveToFile(at('folder'), 2); }),\n"
                  "  caught(function () { s.SaveToFile(at('x.txt'), 3); }), caught(function () { "
                  "t.LoadFromFile(at('missing.txt')); }),\n"
                  "  caught(function () { t.LoadFromFile(at('folder')); }), t.ReadText()].join('\\n') + '\\n');\n"
                  "var c = newStream(), b = newStream(); b.Type = 1; b.Open();\n"
                  "Response.Write([caught(function () { c.Read(); }), caught(function () { return c.Size; }),\n"
                  "  caught(function () { s.Read(); }), caught(function () { b.ReadText(); }), caught(function () { "
                  "b.WriteText('x'); }),\n"
                  "  caught(function () { s.Open(); }), caught(function () { s.Write('text'); }), caught(function () { "
                  "s.Position = -1; }),\n"
                  "  caught(function () { s.ReadText(-3); }), caught(function () { s.WriteText(null); }), "
                  "caught(function () { s.LineSeparator = 11; }),\n"
                  "  caught(function () { c.Open('http://example.com/'); }), caught(function () { c.Close(); "
                  "})].join('\\n'));"),
              Lines({kWriteFailed,    kWriteFailed,    "no error",      "no error",      kWriteFailed, kWriteFailed,
                     kWriteFailed,    kWrongArguments, kNotOpened,      kNotOpened,      "keep",       kClosed,
                     kClosed,         kNotInContext,   kNotInContext,   kNotInContext,   kOpen,        kWrongArguments,
                     kWrongArguments, kWrongArguments, kWrongArguments, kWrongArguments, kNotCapable,  kClosed}));
    EXPECT_EQ(FileText(mUploads / "old.txt"), "old");
    EXPECT_EQ(FileText(mUploads / "fresh.txt"), "new");
    EXPECT_EQ(FileText(mUploads / "replaced.txt"), "new");
    EXPECT_FALSE(fs::exists(mUploads / "locked" / "x.txt"));
    EXPECT_TRUE(fs::is_directory(mUploads / "folder"));
    // No temporary file is left behind by the saves that failed.
    for (const auto& entry : fs::recursive_directory_iterator(mUploads))
        EXPECT_EQ(entry.path().filename().string().find(".stream-"), std::string::npos) << entry.path();
}

}  // namespace
