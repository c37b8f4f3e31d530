// Named streams of files ("file:stream"), kept as user extended attributes.
// Internal to the file functions.
#pragma once

#include <string>

#include "KernelObject.h"

namespace platform::files {

// "file:stream" names a stream when "file" is an existing regular file; its
// bytes live in the user attribute "user.DosStream.<stream>:$DATA" followed
// by one zero byte (the layout Samba's streams_xattr uses).
bool SplitStreamPath(const std::string& path, std::string* file, std::string* attribute);

// Stores a stream's bytes and its zero byte in one call, so that a stream
// that does not fit leaves nothing half-written (disk full, 112).
bool CommitStream(KernelObject* stream);

// Opens the stream `attribute` of `file` as CreateFile's disposition asks;
// INVALID_HANDLE_VALUE with the last error set when it cannot.
HANDLE OpenStream(const std::string& file, const std::string& attribute, DWORD disposition);

}  // namespace platform::files
