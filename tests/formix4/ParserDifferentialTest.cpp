// The parser against a plain reading of the same rules, on bodies put
// together at random from the pieces real and broken forms are made of.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "Multipart.h"
#include "ReferenceParser.h"
#include "TestSupport.h"

using namespace testing_support;

namespace {

class BodyMaker {
public:
    explicit BodyMaker(uint32_t seed) : mRandom(seed) {}

    std::string Multipart() {
        const std::string boundary = Pick({"--XyZ", "----WebKitFormBoundary7MA4YWxkTrZu0gW", "--a", "--"});
        std::string body = Chance(4) ? "preamble\r\n" : "";
        const int parts = Number(12);
        for (int p = 0; p < parts; ++p) {
            body += boundary + (Chance(20) ? "" : "\r\n");
            body += Pick({"Content-Disposition: form-data; name=\"", "content-disposition: form-data; name=",
                          "Content-Disposition: form-data; filename=\"x\"; name=\"",
                          "X-Other: 1\r\nContent-Disposition: name=\""});
            body += Name() + "\"";
            if (Chance(2)) body += "; filename=\"" + FileName() + "\"";
            body += "\r\n";
            if (Chance(2))
                body += Pick({"Content-Type: text/plain\r\n", "Content-Type:image/png\r\n",
                              "CONTENT-TYPE: application/octet-stream\r\n"});
            body += Chance(25) ? "" : "\r\n";
            body += Text(Number(80)) + "\r\n";
        }
        if (Chance(3)) body += boundary + "--\r\n";
        return body;
    }

    std::string UrlEncoded() {
        std::string body;
        const int pairs = Number(30);
        for (int p = 0; p < pairs; ++p) {
            if (p) body += Chance(15) ? "" : "&";
            body += Encoded(Name());
            if (!Chance(10)) body += "=" + Encoded(Text(Number(40)));
        }
        return body;
    }

private:
    bool Chance(int oneIn) { return mRandom() % static_cast<uint32_t>(oneIn) == 0; }
    int Number(int below) { return static_cast<int>(mRandom() % static_cast<uint32_t>(below)); }
    std::string Pick(std::initializer_list<const char*> choices) {
        return *(choices.begin() + Number(static_cast<int>(choices.size())));
    }

    std::string Name() {
        // Few names, in several letter cases, some not ASCII, some long.
        std::string name =
            Pick({"file", "File", "FILE", "comment", "caf\xc3\xa9", "CAF\xc3\x89", "\xff\xfe", "", "a&b"});
        if (Chance(30)) name += std::string(300, 'n');
        return name;
    }

    std::string FileName() {
        return Pick({"C:\\Docs\\Report.DOC", "photo.jpg", "%41%42.txt", "&#233;t&#233;.txt", "d\xc3\xa9j\xc3\xa0.txt",
                     "..\\..\\x", ""});
    }

    std::string Text(int length) {
        static const char kBytes[] = "ab-=&%+\r\n\"0F";
        std::string text;
        for (int i = 0; i < length; ++i)
            text += Chance(50) ? '\0' : kBytes[Number(static_cast<int>(sizeof kBytes - 1))];
        return text;
    }

    std::string Encoded(const std::string& text) {
        std::string out;
        for (char c : text) {
            if (Chance(4)) {
                static const char kHex[] = "0123456789ABCDEFabcdefg";
                out += '%';
                out += kHex[Number(static_cast<int>(sizeof kHex - 1))];
                if (!Chance(8)) out += kHex[Number(static_cast<int>(sizeof kHex - 1))];
            } else {
                out += c == ' ' ? '+' : c;
            }
        }
        return out;
    }

    std::mt19937 mRandom;
};

class ParserDifferentialTest : public ::testing::Test {
protected:
    // `arrivalChunk`: the body is parsed as one that arrived in chunks of
    // that many bytes, its boundaries found as they came.
    void ExpectSameParse(const std::string& body, uint32_t arrivalChunk = 0) {
        // The body in a block of its own size, so that a read past it shows.
        std::vector<uint8_t> block(body.begin(), body.end());
        if (arrivalChunk)
            mEngine.ParseArrivedBlock(block.data(), static_cast<int32_t>(block.size()), arrivalChunk);
        else
            mEngine.ParseBlock(block.data(), static_cast<int32_t>(block.size()));
        EXPECT_EQ(reference::Difference(mEngine, block.data(), block.size()), "")
            << ::testing::PrintToString(body) << " arriving in chunks of " << arrivalChunk;
        mEngine.Clear();
    }

    TempRegistry mRegistry;
    Multipart mEngine;
};

}  // namespace

TEST_F(ParserDifferentialTest, RandomMultipartBodies) {
    for (uint32_t seed = 1; seed <= 3000 && !HasFailure(); ++seed) ExpectSameParse(BodyMaker(seed).Multipart());
}

TEST_F(ParserDifferentialTest, RandomMultipartBodiesParsedFromTheBoundariesFoundAsTheyArrived) {
    // Chunks shorter than a boundary, so that boundaries (and the false ones
    // of the texts) straddle one or several chunk edges.
    for (uint32_t seed = 1; seed <= 3000 && !HasFailure(); ++seed)
        ExpectSameParse(BodyMaker(seed).Multipart(), 1 + seed % 41);
}

TEST_F(ParserDifferentialTest, ABoundaryLineWithAZeroByteParsesTheSameAsItArrives) {
    // The content's end is searched for up to the boundary's zero byte.
    static const char kBody[] =
        "; n!\x80\0\0--\0\0\0\0\xfa"
        "f\r\n\r\n!--_\n--\0x\r\n";
    const std::string body(kBody, sizeof kBody - 1);
    for (uint32_t chunk = 1; chunk <= body.size() && !HasFailure(); ++chunk) ExpectSameParse(body, chunk);
}

TEST_F(ParserDifferentialTest, RandomUrlEncodedBodies) {
    for (uint32_t seed = 1; seed <= 3000 && !HasFailure(); ++seed) ExpectSameParse(BodyMaker(seed).UrlEncoded());
}

TEST_F(ParserDifferentialTest, EscapesCutByTheEndOfTheirText) {
    // Escapes that run into "=", "&", a zero byte or the end of the body, at
    // every position of the sixteen-byte blocks the decoder reads.
    for (size_t pad = 0; pad < 40 && !HasFailure(); ++pad) {
        const std::string run(pad, 'x');
        for (const char* tail : {"%", "%4", "%41", "%4=", "%=", "+", "%4&", "%&", "%%41"}) {
            ExpectSameParse(run + tail);
            ExpectSameParse(run + tail + "=v");
            ExpectSameParse("n=" + run + tail);
            ExpectSameParse("n=" + run + tail + "&m=" + run);
            ExpectSameParse(std::string("n=") + run + tail + std::string(1, '\0') + "&m=1");
        }
    }
}
