// Client file names: the raw bytes of a part's filename= value decoded into
// the client path, and the Windows-safe and URL-safe names made from it.
#pragma once

#include <string>
#include <string_view>

struct ClientFileNames {
    std::u16string rawPath;
    std::u16string safeName;
    std::u16string urlSafeName;
};

inline constexpr size_t kMaxNameUnits = 259;

// The four decoders in their order: percent escapes, numeric character
// references, the code page (0: the system ANSI code page), byte widening.
std::u16string DecodeClientPath(const char* inRawName, int inCodePage);
std::u16string SafeFileName(const std::u16string& inPath);
std::u16string UrlSafeFileName(const std::u16string& inPath);
ClientFileNames BuildClientFileNames(const char* inRawName, int inDetectCodePage, int inCodePage);

// The text after the last backslash (the whole path without one).
std::u16string_view RawFileName(std::u16string_view inRawPath);
// The text after the last period that no backslash follows; "" without one.
std::u16string_view RawFileType(std::u16string_view inRawPath);
