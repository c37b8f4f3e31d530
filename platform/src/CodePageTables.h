// Tables of the Windows single-byte code pages.
#pragma once

namespace platform::codepage {
// The characters of bytes 0x80-0xFF of a Windows single-byte code page
// (1250-1258), or nullptr for any other page.
const char16_t* SingleByteHighTable(unsigned codePage);
}  // namespace platform::codepage
