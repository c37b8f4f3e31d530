// Image type and size from an upload's first bytes: GIF, PNG and BMP by
// their fixed headers, JPEG by walking its marker segments.
#pragma once

#include <cstdint>

#include "Formix4.h"

struct ImageInfo {
    bool computed = false;
    fmxImageType type = fmxUnknown;
    int32_t width = 0;
    int32_t height = 0;
};

// Fills `ioInfo` from the bytes and marks it computed.
void ExamineImage(const uint8_t* inStart, uint32_t inCount, ImageInfo* ioInfo);

// Walks a JPEG's marker segments to its end-of-image marker.
class JpegMarkerParser {
public:
    virtual ~JpegMarkerParser() = default;
    const char* ErrorText() const { return mErrorText; }
    int32_t Width() const { return mWidth; }
    int32_t Height() const { return mHeight; }
    int32_t Components() const { return mComponents; }

protected:
    // The walk over the source; throws on failure (caught by the parse entry).
    void MarkerWalk();
    int NextMarker(bool inEntropyCoded);
    void SkipSegment();
    void ReadStartOfFrame();
    void ReadStartOfScan();
    uint32_t ReadWord();
    void ReadBytes(uint32_t inCount);
    void ScanTo(uint8_t inByte);
    virtual void Seek(uint32_t inPosition) = 0;
    virtual uint8_t ReadByte() = 0;

    [[noreturn]] void Fail(const char* inText);

    char mErrorText[256] = {};
    int32_t mWidth = 0, mHeight = 0, mComponents = 0;
};

class MemoryJpegParser final : public JpegMarkerParser {
public:
    // True when the walk reached the end-of-image marker.
    bool Parse(const uint8_t* inStart, uint32_t inCount);

protected:
    void Seek(uint32_t inPosition) override;
    uint8_t ReadByte() override;

private:
    const uint8_t* mStart = nullptr;
    uint32_t mCount = 0;
    uint32_t mPosition = 0;
};
