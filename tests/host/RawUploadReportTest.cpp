// formix4-inspect over real raw upload files, through the registered component.
#include <gtest/gtest.h>

#include "HttpSupport.h"
#include "client/FormReport.h"
#include "client/Sha256.h"
#include "core/HttpText.h"
#include "platform/CodePage.h"
#include "TestSupport.h"

using namespace testing_support;
using namespace http_support;

TEST(Sha256, KnownDigestsAcrossBlockBoundaries) {
    auto digest = [](const std::string& text) {
        return Sha256Hex(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    };
    EXPECT_EQ(digest(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(digest("hello"), "2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824");
    EXPECT_EQ(digest(std::string(55, 'a')), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318");
    EXPECT_EQ(digest(std::string(56, 'a')), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a");
    std::string abc;
    for (int i = 0; i < 1000; ++i) abc += "abc";
    EXPECT_EQ(digest(abc), "328de8f1895f8bb09f6e6b4c2012ef2b2a6f067cd002794b750aa040a6f6d8bd");
}

TEST(Inspect, PrintsTheFormAsAPageSeesIt) {
    TempRegistry registry;
    ASSERT_TRUE(RegisterComponent());
    const auto body = registry.dir() / "upload.bin";
    WriteFile(body,
              "--XyZ\r\nContent-Disposition: form-data; name=\"comment\"\r\n\r\nhello\r\n--XyZ\r\n"
              "Content-Disposition: form-data; name=\"comment\"; filename=\"C:\\\\a\\\\b.TXT\"\r\n"
              "Content-Type: text/plain\r\n\r\nworld\r\n--XyZ--\r\n");
    std::string output;
    ASSERT_EQ(RunInspect(body.string(), &output), 0) << output;
    EXPECT_EQ(output.rfind("{\"Multipart\": true, \"Count\": 1, \"Fields\": [{\"Name\": \"comment\", \"Count\": 2, "
                           "\"Value\": \"hello, world\", \"Items\": [",
                           0),
              0u)
        << output;
    EXPECT_NE(output.find("\"SHA256\": \"2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824\""),
              std::string::npos);
    EXPECT_NE(output.find("\"RawFileName\": \"b.TXT\", \"RawFileType\": \"TXT\""), std::string::npos);
    output.clear();
    EXPECT_EQ(RunInspect((registry.dir() / "missing").string(), &output), 1);
    EXPECT_EQ(output.rfind("{\"Error\": {\"HRESULT\": \"0x80004005\", \"Source\": \"Formix4.XForm.4\", "
                           "\"Description\": \"Unable to read file.\\n",
                           0),
              0u)
        << output;
}

// A report value is held as JSON and shown as the text it reads as: every
// kind of character survives the way there and back.
TEST(ReportValues, JsonStringsReadBackAsTheirText) {
    const std::u16string text = u"plain \"quoted\" back\\slash\n\r\t\x01 caf\u00e9 \u20ac \U0001F600 \u2028";
    std::string value;
    AppendJsonString(value, text);
    EXPECT_EQ(value,
              "\"plain \\\"quoted\\\" back\\\\slash\\u000a\\u000d\\u0009\\u0001 caf\xc3\xa9 \xe2\x82\xac "
              "\xf0\x9f\x98\x80 \\u2028\"");
    EXPECT_EQ(ReportText(value), platform::codepage::Utf16ToUtf8(text));
    // A lone surrogate is escaped, and shown as the replacement character.
    std::string lone;
    AppendJsonString(lone, u"a\xD800z");
    EXPECT_EQ(lone, "\"a\\ud800z\"");
    EXPECT_EQ(ReportText(lone), "a\xEF\xBF\xBDz");
    EXPECT_EQ(ReportText("null"), "");
    EXPECT_EQ(ReportText("12"), "12");
    // Digests and errors show as words; the texts inside them stay texts.
    EXPECT_EQ(ReportText(DigestValue(1, "ab")), "1 bytes, SHA-256 ab");
    EXPECT_EQ(ReportText(ScriptErrorFieldsJson({E_FAIL, "a \"SHA256\": b", "disk \"full\""})), "disk \"full\"");
}

// Long runs of plain ASCII are written in blocks: a character that needs
// escaping or encoding is found wherever it falls in one.
TEST(ReportValues, EveryCharacterIsFoundWhereverItFallsInALongText) {
    const std::pair<char16_t, std::string> kCharacters[] = {{u'"', "\\\""},     {u'\\', "\\\\"},
                                                            {0x1F, "\\u001f"},  {0x7F, "\x7f"},
                                                            {0x80, "\xc2\x80"}, {0xFFFF, "\xef\xbf\xbf"}};
    for (const auto& [character, written] : kCharacters)
        for (size_t at = 0; at < 40; ++at) {
            std::u16string text(40, u'x');
            text[at] = character;
            std::string value;
            AppendJsonString(value, text);
            EXPECT_EQ(value, "\"" + std::string(at, 'x') + written + std::string(39 - at, 'x') + "\"")
                << "U+" << std::hex << static_cast<int>(character) << " at " << std::dec << at;
        }
}

// An item's members are one JSON text: a value given later (a saved file's
// digest) moves the members after it, which still read as they were.
TEST(ReportValues, ItemMembersKeepTheirValuesWhenOneChanges) {
    ItemReport item;
    item.add("Data", "null");
    item.addText("Content", u"caf\u00e9 \"x\"");
    item.add("Length", "5");
    item.set("Data", DigestValue(5, "0f"));
    item.set("Length", "6");
    item.set("Missing", "1");
    EXPECT_EQ(item.json(),
              "\"Data\": {\"Length\": 5, \"SHA256\": \"0f\"}, \"Content\": \"caf\xc3\xa9 \\\"x\\\"\", \"Length\": 6");
    EXPECT_EQ(item.text("Content"), "caf\xc3\xa9 \"x\"");
    EXPECT_EQ(item.text("Data"), "5 bytes, SHA-256 0f");
    EXPECT_EQ(item.value("Length"), "6");
    EXPECT_EQ(item.value("Missing"), "");
}

// The document sent in pieces, from the report's own texts and the text
// between them, is the document made whole.
TEST(ReportValues, PiecesOfTheDocumentMakeTheWholeDocument) {
    FormReport report;
    report.multipart = true;
    report.count = 2;
    FieldReport one;
    one.name = "one \"quoted\"";
    one.count = 1;
    one.items.emplace_back();
    one.items.back().addText("Content", u"caf\u00e9");
    one.items.back().add("Length", "5");
    one.valueIsContent = true;
    one.valueCut = 3;
    FieldReport two;
    two.name = "two";
    two.count = 2;
    two.value = "null";
    for (int i = 0; i < 2; ++i) {
        two.items.emplace_back();
        two.items.back().add("Data", DigestValue(i, "ab"));
    }
    report.fields = {one, two, FieldReport{}};
    std::string between;
    std::string joined;
    for (std::string_view piece : FormReportJsonPieces(report, &between)) joined += piece;
    EXPECT_EQ(joined, FormReportJson(report));
    EXPECT_NE(joined.find("\"Value\": \"caf\xc3\xa9\", \"ValueCut\": 3, \"Items\": [{\"Content\": \"caf\xc3\xa9\""),
              std::string::npos)
        << joined;
}
