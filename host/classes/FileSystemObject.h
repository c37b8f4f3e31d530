// Scripting.FileSystemObject: files, folders and drives for pages, on the
// server's own file system with the server account's permissions.
#pragma once

#include "platform/Com.h"

namespace classes {

// A new file system object (one reference for the caller).
IDispatch* CreateFileSystemObject();

}  // namespace classes
