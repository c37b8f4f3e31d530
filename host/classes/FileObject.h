// File: one file by its absolute path (GetFile, Files).
#pragma once

#include <string>

#include "platform/Com.h"

namespace classes {

// The File of `path` without looking at it (one reference for the caller).
IDispatch* CreateFileObject(const std::string& path);

}  // namespace classes
