#include "ImageInfo.h"

#include <cstdio>
#include <cstring>

namespace {

struct WalkFailure {};

uint32_t LittleEndian16(const uint8_t* p) { return p[0] | (p[1] << 8); }
uint32_t LittleEndian32(const uint8_t* p) { return LittleEndian16(p) | (LittleEndian16(p + 2) << 16); }
uint32_t BigEndian32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

bool IsStartOfFrame(int inCode) {
    return inCode >= 0xC0 && inCode <= 0xCF && inCode != 0xC4 && inCode != 0xC8 && inCode != 0xCC;
}

}  // namespace

void JpegMarkerParser::Fail(const char* inText) {
    std::snprintf(mErrorText, sizeof mErrorText, "%s", inText);
    throw WalkFailure();
}

uint32_t JpegMarkerParser::ReadWord() {
    const uint32_t theHigh = ReadByte();
    return (theHigh << 8) | ReadByte();
}

void JpegMarkerParser::ReadBytes(uint32_t inCount) {
    for (uint32_t i = 0; i < inCount; ++i) ReadByte();
}

void JpegMarkerParser::ScanTo(uint8_t inByte) {
    while (ReadByte() != inByte) {}
}

int JpegMarkerParser::NextMarker(bool inEntropyCoded) {
    for (;;) {
        ScanTo(0xFF);
        uint8_t theCode = ReadByte();
        while (theCode == 0xFF) theCode = ReadByte();     // fill bytes
        if (theCode == 0x00 && inEntropyCoded) continue;  // a stuffed byte in scan data
        return theCode;
    }
}

void JpegMarkerParser::SkipSegment() {
    const uint32_t theLength = ReadWord();
    if (theLength < 2) Fail("Bad JPEG marker length");
    ReadBytes(theLength - 2);
}

void JpegMarkerParser::ReadStartOfFrame() {
    const uint32_t theLength = ReadWord();
    ReadByte();  // the sample precision
    mHeight = static_cast<int32_t>(ReadWord());
    mWidth = static_cast<int32_t>(ReadWord());
    mComponents = ReadByte();
    if (theLength != 8 + 3 * static_cast<uint32_t>(mComponents)) Fail("Bad SOF marker length");
    ReadBytes(3 * static_cast<uint32_t>(mComponents));
}

void JpegMarkerParser::ReadStartOfScan() {
    const uint32_t theLength = ReadWord();
    const uint32_t theComponents = ReadByte();
    if (theLength != 6 + 2 * theComponents) Fail("Bad SOS marker length");
    ReadBytes(theLength - 3);
}

void JpegMarkerParser::MarkerWalk() {
    Seek(0);
    if (ReadByte() != 0xFF || ReadByte() != 0xD8) Fail("JPEG header missing");
    bool theEntropyCoded = false;
    for (;;) {
        const int theCode = NextMarker(theEntropyCoded);
        theEntropyCoded = false;
        if (IsStartOfFrame(theCode)) {
            ReadStartOfFrame();
        } else if (theCode >= 0xD0 && theCode <= 0xD7) {  // a restart marker
            theEntropyCoded = true;
        } else if (theCode == 0xD9) {  // the end of the image
            return;
        } else if (theCode == 0xDA) {
            ReadStartOfScan();
            theEntropyCoded = true;
        } else if (theCode != 0x01) {  // 0x01 stands alone, every other marker heads a segment
            SkipSegment();
        }
    }
}

bool MemoryJpegParser::Parse(const uint8_t* inStart, uint32_t inCount) {
    mErrorText[0] = 0;
    mStart = inStart;
    mCount = inStart ? inCount : 0;
    try {
        if (!mStart || mCount == 0) Fail("No JPEG provided");
        MarkerWalk();
    } catch (const WalkFailure&) {
        mStart = nullptr;  // the source is forgotten after a failure
        mCount = 0;
        return false;
    }
    return true;
}

void MemoryJpegParser::Seek(uint32_t inPosition) {
    if (inPosition > mCount) Fail("Unable to move pointer");
    mPosition = inPosition;
}

uint8_t MemoryJpegParser::ReadByte() {
    if (mPosition >= mCount) Fail("JPEG file too short");
    return mStart[mPosition++];
}

void ExamineImage(const uint8_t* p, uint32_t n, ImageInfo* ioInfo) {
    *ioInfo = ImageInfo();
    ioInfo->computed = true;
    if (!p) n = 0;
    if (n >= 14 && std::memcmp(p, "GIF8", 4) == 0 && LittleEndian16(p + 6) && LittleEndian16(p + 8)) {
        *ioInfo = {true, fmxGIF, static_cast<int32_t>(LittleEndian16(p + 6)),
                   static_cast<int32_t>(LittleEndian16(p + 8))};
        return;
    }
    static const uint8_t kPng[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (n >= 24 && std::memcmp(p, kPng, 8) == 0) {
        *ioInfo = {true, fmxPNG, static_cast<int32_t>(BigEndian32(p + 16)), static_cast<int32_t>(BigEndian32(p + 20))};
        return;
    }
    if (n >= 26 && p[0] == 'B' && p[1] == 'M') {
        int32_t theWidth, theHeight;
        if (LittleEndian32(p + 14) == 12) {
            theWidth = static_cast<int16_t>(LittleEndian16(p + 18));
            theHeight = static_cast<int16_t>(LittleEndian16(p + 20));
        } else {
            theWidth = static_cast<int32_t>(LittleEndian32(p + 18));
            theHeight = static_cast<int32_t>(LittleEndian32(p + 22));
        }
        if (theWidth > 0 && theHeight > 0) {
            *ioInfo = {true, fmxBMP, theWidth, theHeight};
            return;
        }
    }
    // What is no JPEG from its first two bytes is not walked: the walk would
    // fail there, by an exception, for every text field of a form.
    if (n < 2 || p[0] != 0xFF || p[1] != 0xD8) return;
    MemoryJpegParser theParser;
    const bool theParsed = theParser.Parse(p, n);
    ioInfo->width = theParser.Width();
    ioInfo->height = theParser.Height();
    if (theParsed) {
        switch (theParser.Components()) {
            case 1:
                ioInfo->type = fmxJPEGgray;
                break;
            case 3:
                ioInfo->type = fmxJPEG;
                break;
            case 4:
                ioInfo->type = fmxJPEGcmyk;
                break;
            default:
                break;
        }
    }
}
