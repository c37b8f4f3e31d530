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

const char* ProcessName(int inCode) {
    switch (inCode) {
    case 0xC0: return "JPEG Process: Baseline";
    case 0xC1: return "JPEG Process: Extended sequential";
    case 0xC2: return "JPEG Process: Progressive";
    case 0xC3: return "JPEG Process: Lossless";
    case 0xC5: return "JPEG Process: Differential sequential";
    case 0xC6: return "JPEG Process: Differential progressive";
    case 0xC7: return "JPEG Process: Differential lossless";
    case 0xC9: return "JPEG Process: Extended sequential, arithmetic coding";
    case 0xCA: return "JPEG Process: Progressive, arithmetic coding";
    case 0xCB: return "JPEG Process: Lossless, arithmetic coding";
    case 0xCD: return "JPEG Process: Differential sequential, arithmetic coding";
    case 0xCE: return "JPEG Process: Differential progressive, arithmetic coding";
    default: return "JPEG Process: Differential lossless, arithmetic coding";
    }
}

bool IsStartOfFrame(int inCode) {
    return inCode >= 0xC0 && inCode <= 0xCF && inCode != 0xC4 && inCode != 0xC8 && inCode != 0xCC;
}

}  // namespace

void JpegMarkerParser::Fail(const char* inText) {
    std::snprintf(mErrorText, sizeof mErrorText, "%s", inText);
    throw WalkFailure();
}

void JpegMarkerParser::Trace(const std::string& inNote) {
    if (mTrace) std::fprintf(stderr, "%s\n", inNote.c_str());
}

uint32_t JpegMarkerParser::ReadWord() {
    const uint32_t theHigh = ReadByte();
    return (theHigh << 8) | ReadByte();
}

void JpegMarkerParser::ReadBytes(uint32_t inCount, std::string* outKept) {
    for (uint32_t i = 0; i < inCount; ++i) {
        const uint8_t theByte = ReadByte();
        if (outKept && outKept->size() < 255) outKept->push_back(static_cast<char>(theByte));
    }
}

void JpegMarkerParser::ScanTo(uint8_t inByte) {
    while (ReadByte() != inByte) {
    }
}

int JpegMarkerParser::NextMarker(bool inEntropyCoded) {
    for (;;) {
        ScanTo(0xFF);
        uint8_t theCode = ReadByte();
        while (theCode == 0xFF) theCode = ReadByte();  // fill bytes
        if (theCode == 0x00 && inEntropyCoded) continue;  // a stuffed byte in scan data
        return theCode;
    }
}

void JpegMarkerParser::SkipSegment(const char* inNote) {
    const uint32_t theLength = ReadWord();
    if (theLength < 2) Fail("Bad JPEG marker length");
    Trace(std::string(inNote) + " Length = " + std::to_string(theLength));
    ReadBytes(theLength - 2);
}

void JpegMarkerParser::ReadTextSegment(const char* inNote) {
    const uint32_t theLength = ReadWord();
    if (theLength < 2) Fail("Bad JPEG marker length");
    std::string theText;
    ReadBytes(theLength - 2, &theText);
    Trace(std::string(inNote) + " " + theText);
}

void JpegMarkerParser::ReadStartOfFrame(int inCode) {
    const uint32_t theLength = ReadWord();
    const uint32_t thePrecision = ReadByte();
    mHeight = static_cast<int32_t>(ReadWord());
    mWidth = static_cast<int32_t>(ReadWord());
    mComponents = ReadByte();
    Trace("Start of Frame");
    char theNote[160];
    std::snprintf(theNote, sizeof theNote, "JPEG image: %ld by %ld, %ld components, %ld bits per sample",
                  static_cast<long>(mWidth), static_cast<long>(mHeight), static_cast<long>(mComponents),
                  static_cast<long>(thePrecision));
    Trace(theNote);
    Trace(ProcessName(inCode));
    if (theLength != 8 + 3 * static_cast<uint32_t>(mComponents)) Fail("Bad SOF marker length");
    ReadBytes(3 * static_cast<uint32_t>(mComponents));
}

void JpegMarkerParser::ReadStartOfScan() {
    const uint32_t theLength = ReadWord();
    const uint32_t theComponents = ReadByte();
    Trace("Start of Scan");
    if (theLength != 6 + 2 * theComponents) Fail("Bad SOS marker length");
    Trace("Length = " + std::to_string(theLength) + ", Components = " + std::to_string(theComponents));
    ReadBytes(theLength - 3);
}

void JpegMarkerParser::MarkerWalk() {
    Seek(0);
    if (ReadByte() != 0xFF || ReadByte() != 0xD8) Fail("JPEG header missing");
    bool theEntropyCoded = false;
    for (;;) {
        const int theCode = NextMarker(theEntropyCoded);
        theEntropyCoded = false;
        if (theCode == 0x01) {
            Trace("Warning - Temporary Reserved Marker Used");
        } else if (IsStartOfFrame(theCode)) {
            ReadStartOfFrame(theCode);
        } else if (theCode >= 0xD0 && theCode <= 0xD7) {
            Trace("Restart");
            theEntropyCoded = true;
        } else if (theCode == 0xD9) {
            Trace("End of Image");
            return;
        } else if (theCode == 0xDA) {
            ReadStartOfScan();
            theEntropyCoded = true;
        } else if (theCode == 0xEC || theCode == 0xFE) {
            ReadTextSegment(theCode == 0xEC ? "Application 12" : "Comment");
        } else {
            const char* theNote = theCode == 0xC4 ? "DHT" : theCode == 0xD8 ? "Start of Image"
                                : theCode == 0xDB ? "DQT" : theCode == 0xED ? "Application 13" : "Unknown";
            SkipSegment(theNote);
        }
    }
}

bool MemoryJpegParser::Parse(const uint8_t* inStart, uint32_t inCount) {
    mErrorText[0] = 0;
    mStart = inStart;
    mCount = inStart ? inCount : 0;
    try {
        if (!mStart || mCount == 0) Fail("No JPEG provided");
        if (mQuickCheck && !QuickCheck()) Fail("JPEG header missing");
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
        *ioInfo = {true, fmxGIF, static_cast<int32_t>(LittleEndian16(p + 6)), static_cast<int32_t>(LittleEndian16(p + 8))};
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
        case 1: ioInfo->type = fmxJPEGgray; break;
        case 3: ioInfo->type = fmxJPEG; break;
        case 4: ioInfo->type = fmxJPEGcmyk; break;
        default: break;
        }
    }
}
