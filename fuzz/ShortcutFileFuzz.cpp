// Any bytes read as a shortcut file give an address without line breaks; and
// any one-line address written as a shortcut reads back unchanged.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ShortcutFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    if (ShortcutFile::Url(bytes).find_first_of("\r\n") != std::string::npos) std::abort();

    const bool oneLine = bytes.find_first_of("\r\n") == std::string::npos;
    const bool blankEnds = !bytes.empty() && (bytes.front() == ' ' || bytes.front() == '\t' || bytes.back() == ' ' ||
                                              bytes.back() == '\t');
    const bool quoted =
        bytes.size() >= 2 && (bytes.front() == '"' || bytes.front() == '\'') && bytes.back() == bytes.front();
    if (oneLine && !blankEnds && !quoted && ShortcutFile::Url(ShortcutFile::Text(bytes)) != bytes) std::abort();
    return 0;
}
