// Convenience reads and writes of single registry values.
#pragma once

#include <string>

#include "platform/Registry.h"

namespace platform::registry {

// Reads a REG_SZ or REG_EXPAND_SZ value (without its NUL) of root\path.
bool ReadString(HKEY root, const std::string& path, const char* valueName, std::string* out);
// Reads a REG_DWORD value of root\path.
bool ReadDword(HKEY root, const std::string& path, const char* valueName, DWORD* out);
// Creates root\path as needed and sets a REG_SZ value; a Windows error code.
LONG WriteString(HKEY root, const std::string& path, const char* valueName, const std::string& value);
LONG WriteDword(HKEY root, const std::string& path, const char* valueName, DWORD value);

}  // namespace platform::registry
