// Drive: a mounted file system, known by its mount point ("/", "/home"...),
// since Linux has no drive letters.
#pragma once

#include <string>
#include <vector>

#include "platform/Com.h"

namespace classes {

// The mount points a page can reach: those of file systems that hold
// blocks (not /proc, /sys and the like) and that the server's account can
// look at, the root first.
std::vector<std::string> DriveRoots();
// The Drive of the mount point `root` (one reference for the caller).
IDispatch* CreateDriveObject(const std::string& root);

}  // namespace classes
