// The helper objects pages create by ProgID, Scripting.Dictionary and
// ADODB.Stream, used by pages over real HTTP in the product's server, with
// the files they load and save in the document root's uploads/ folder.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
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
    "  return new VBArray(bytes).toArray().map(function (b) { return (b < 16 ? '0' : '') + b.toString(16); }).join(' '); }\n"
    "function newStream() { return Server.CreateObject(\"ADODB.Stream\"); }\n"
    "function newDictionary() { return Server.CreateObject(\"Scripting.Dictionary\"); }\n"
    "// A text stream's bytes, from its start; the stream is left at its start as text.\n"
    "function bytesOf(s) { s.Position = 0; s.Type = 1; var b = s.Read(); s.Position = 0; s.Type = 2; return hex(b); }\n"
    "%>";

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
    EXPECT_EQ(Run(server->port(), "dictionary.asp",
                  "var d = newDictionary();\n"
                  "d.Add('b', 'bee'); d.Add('a', 'ant'); d('c') = 'cat'; d.Item('d') = 'dog'; d('a') = 'ape';\n"
                  "var missing = d('missing');\n"
                  "Response.Write(d('a') + '|' + d.Item('c') + '|' + typeof missing + '|' + d.Exists('missing') + '|' + d.Count + '\\n');\n"
                  "d.Key('b') = 'B'; d.Remove('missing');\n"
                  "var order = [];\n"
                  "for (var e = new Enumerator(d); !e.atEnd(); e.moveNext()) order.push(e.item() + '=' + d(e.item()));\n"
                  "Response.Write(order.join(',') + '|' + new VBArray(d.Keys()).toArray() + '|' + new VBArray(d.Items()).toArray() + '\\n');\n"
                  "d.RemoveAll(); d.Add('z', 1);\n"
                  "Response.Write(d.Count + '|' + new VBArray(d.Keys()).toArray() + '|' + new VBArray(newDictionary().Keys()).ubound());"),
              "ape|cat|undefined|true|5\n"
              "B=bee,a=ape,c=cat,d=dog|B,a,c,d|bee,ape,cat,dog\n"
              "1|z|-1");
}

TEST_F(HelperObjects, DictionaryKeysOfEveryKind) {
    auto server = Start();
    EXPECT_EQ(Run(server->port(), "keys.asp",
                  "var d = newDictionary(), first = newDictionary(), second = newDictionary(), when = new Date(2020, 0, 31);\n"
                  "d.Add(1, 'one'); d.Add('1', 'text one'); d.Add(true, 'true'); d.Add(null, 'null'); d.Add(undefined, 'empty');\n"
                  "d.Add(1.5, 'real'); d.Add(0, 'zero'); d.Add(NaN, 'nan'); d.Add(first, 'first'); d.Add(second, 'second'); d.Add(when, 'date');\n"
                  "Response.Write(d.Count + '|' + d(2 - 1) + '|' + d('1') + '|' + d(true) + '|' + d(null) + '|' + d(undefined) + '|' +\n"
                  "  d(3 / 2) + '|' + d(-0) + '|' + d(0 / 0) + '|' + d(first) + '|' + d(second) + '|' + d(new Date(2020, 0, 31)) + '|' +\n"
                  "  d.Exists('01') + '|' + d.Exists(newDictionary()) + '|' + typeof new VBArray(d.Keys()).getItem(0) + '\\n');\n"
                  "var binary = newDictionary(), text = newDictionary(); text.CompareMode = 1;\n"
                  "binary.Add('\\u00c4rger', 1); text.Add('\\u00c4rger', 1);\n"
                  "Response.Write(binary.Exists('\\u00e4RGER') + '|' + text.Exists('\\u00e4RGER') + '|' + text.CompareMode + '|' +\n"
                  "  (text.HashVal('\\u00c4rger') == text.HashVal('\\u00e4RGER')) + '|' + (new VBArray(text.Keys()).getItem(0) == '\\u00c4rger') + '|' +\n"
                  "  caught(function () { text.Add('\\u00e4rger', 2); }));"),
              "11|one|text one|true|null|empty|real|zero|nan|first|second|date|false|false|number\n"
              "false|true|1|true|true|"
              "800a01c9 This key is already associated with an element of this collection");
}

TEST_F(HelperObjects, DictionaryErrorsLoseNothing) {
    auto server = Start();
    EXPECT_EQ(Run(server->port(), "errors.asp",
                  "var d = newDictionary(), empty = newDictionary(); d.Add('a', 1); d.Add('b', 2);\n"
                  "Response.Write([caught(function () { d.Add('a', 3); }), caught(function () { d.Remove('zz'); }),\n"
                  "  caught(function () { d.Key('zz') = 'y'; }), caught(function () { d.Key('a') = 'b'; }),\n"
                  "  caught(function () { d.CompareMode = 1; }), caught(function () { empty.CompareMode = 'text'; }),\n"
                  "  caught(function () { empty.CompareMode = -1; }), caught(function () { d.Add(d.Keys(), 1); }),\n"
                  "  caught(function () { d.Exists(d.Items()); }), caught(function () { d.Key('a') = 'a'; })].join('\\n'));\n"
                  "Response.Write('\\n' + new VBArray(d.Keys()).toArray() + '=' + new VBArray(d.Items()).toArray() + '|' + empty.Count);"),
              "800a01c9 This key is already associated with an element of this collection\n"
              "800a802b Element not found\n"
              "800a802b Element not found\n"
              "800a01c9 This key is already associated with an element of this collection\n"
              "800a0005 Invalid procedure call or argument\n"
              "800a000d Type mismatch\n"
              "800a0005 Invalid procedure call or argument\n"
              "800a000d Type mismatch\n"
              "800a000d Type mismatch\n"
              "no error\n"
              "a,b=1,2|0");
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

}  // namespace
