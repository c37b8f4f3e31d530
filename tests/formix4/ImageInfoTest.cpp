#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ImageInfo.h"

namespace {

using Bytes = std::vector<uint8_t>;

ImageInfo Examine(const Bytes& bytes) {
    ImageInfo info;
    ExamineImage(bytes.data(), static_cast<uint32_t>(bytes.size()), &info);
    return info;
}

void Le(Bytes& b, size_t at, uint32_t v, int size) {
    for (int i = 0; i < size; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

Bytes Gif(uint16_t width, uint16_t height) {
    Bytes b = {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, 0, 0, 0, 0};
    Le(b, 6, width, 2);
    Le(b, 8, height, 2);
    return b;
}

Bytes Bmp(int32_t width, int32_t height, bool os2) {
    Bytes b(54, 0);
    b[0] = 'B';
    b[1] = 'M';
    Le(b, 14, os2 ? 12 : 40, 4);
    if (os2) {
        Le(b, 18, static_cast<uint32_t>(width), 2);
        Le(b, 20, static_cast<uint32_t>(height), 2);
    } else {
        Le(b, 18, static_cast<uint32_t>(width), 4);
        Le(b, 22, static_cast<uint32_t>(height), 4);
    }
    return b;
}

// A JPEG: SOI, an EXIF segment, a comment, DQT, SOF, SOS, scan data with a
// stuffed byte and a restart marker, EOI.
Bytes Jpeg(int components, uint16_t width, uint16_t height, bool end = true, int sofLengthDelta = 0) {
    Bytes b = {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x08, 'E',  'x',  'i',  'f',  0, 0, 0xFF,
               0xFE, 0x00, 0x05, 'h',  'i',  '!',  0xFF, 0xDB, 0x00, 0x04, 1, 2};
    const uint16_t sofLength = static_cast<uint16_t>(8 + 3 * components + sofLengthDelta);
    const Bytes sof = {0xFF,
                       0xC0,
                       static_cast<uint8_t>(sofLength >> 8),
                       static_cast<uint8_t>(sofLength),
                       8,
                       static_cast<uint8_t>(height >> 8),
                       static_cast<uint8_t>(height),
                       static_cast<uint8_t>(width >> 8),
                       static_cast<uint8_t>(width),
                       static_cast<uint8_t>(components)};
    b.insert(b.end(), sof.begin(), sof.end());
    for (int c = 0; c < components; ++c) b.insert(b.end(), {static_cast<uint8_t>(c + 1), 0x11, 0});
    const uint16_t sosLength = static_cast<uint16_t>(6 + 2 * components);
    b.insert(b.end(), {0xFF, 0xDA, static_cast<uint8_t>(sosLength >> 8), static_cast<uint8_t>(sosLength),
                       static_cast<uint8_t>(components)});
    for (int c = 0; c < components; ++c) b.insert(b.end(), {static_cast<uint8_t>(c + 1), 0});
    b.insert(b.end(), {0, 63, 0});
    b.insert(b.end(), {0x12, 0xFF, 0x00, 0x34, 0xFF, 0xD0, 0x56, 0x78});
    if (end) b.insert(b.end(), {0xFF, 0xD9});
    return b;
}

}  // namespace

TEST(ImageInfo, FixedHeaders) {
    ImageInfo gif = Examine(Gif(100, 50));
    EXPECT_TRUE(gif.computed);
    EXPECT_EQ(gif.type, fmxGIF);
    EXPECT_EQ(gif.width, 100);
    EXPECT_EQ(gif.height, 50);
    EXPECT_EQ(Examine(Gif(0, 50)).type, fmxUnknown);

    Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13,
                 'I',  'H', 'D', 'R', 0,    0,    2,    128,  0, 0, 1, 224};
    ImageInfo pngInfo = Examine(png);
    EXPECT_EQ(pngInfo.type, fmxPNG);
    EXPECT_EQ(pngInfo.width, 640);
    EXPECT_EQ(pngInfo.height, 480);
    png.pop_back();
    EXPECT_EQ(Examine(png).type, fmxUnknown);

    ImageInfo bmp = Examine(Bmp(32, 16, false));
    EXPECT_EQ(bmp.type, fmxBMP);
    EXPECT_EQ(bmp.width, 32);
    EXPECT_EQ(Examine(Bmp(32, -16, false)).type, fmxUnknown);  // top-down
    ImageInfo os2 = Examine(Bmp(10, 20, true));
    EXPECT_EQ(os2.type, fmxBMP);
    EXPECT_EQ(os2.height, 20);
    const std::string text = "just some text, not a picture";
    EXPECT_EQ(Examine(Bytes(text.begin(), text.end())).type, fmxUnknown);
}

TEST(ImageInfo, JpegMarkerWalk) {
    ImageInfo colour = Examine(Jpeg(3, 800, 600));
    EXPECT_EQ(colour.type, fmxJPEG);
    EXPECT_EQ(colour.width, 800);
    EXPECT_EQ(colour.height, 600);
    EXPECT_EQ(Examine(Jpeg(1, 8, 8)).type, fmxJPEGgray);
    EXPECT_EQ(Examine(Jpeg(4, 8, 8)).type, fmxJPEGcmyk);
    ImageInfo cut = Examine(Jpeg(3, 800, 600, false));
    EXPECT_EQ(cut.type, fmxUnknown);
    EXPECT_EQ(cut.width, 800);
    EXPECT_EQ(cut.height, 600);
    ImageInfo badFrame = Examine(Jpeg(3, 800, 600, true, 1));
    EXPECT_EQ(badFrame.type, fmxUnknown);
    EXPECT_EQ(badFrame.width, 800);

    MemoryJpegParser parser;
    EXPECT_FALSE(parser.Parse(nullptr, 0));
    EXPECT_STREQ(parser.ErrorText(), "No JPEG provided");
    const Bytes notJpeg = {0xFF, 0xD9, 0};
    EXPECT_FALSE(parser.Parse(notJpeg.data(), 3));
    EXPECT_STREQ(parser.ErrorText(), "JPEG header missing");
    const Bytes cutJpeg = Jpeg(3, 8, 8, false);
    EXPECT_FALSE(parser.Parse(cutJpeg.data(), static_cast<uint32_t>(cutJpeg.size())));
    EXPECT_STREQ(parser.ErrorText(), "JPEG file too short");
    const Bytes badLength = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x01};
    EXPECT_FALSE(parser.Parse(badLength.data(), static_cast<uint32_t>(badLength.size())));
    EXPECT_STREQ(parser.ErrorText(), "Bad JPEG marker length");
}
