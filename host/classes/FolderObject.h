// Folder: one folder by its absolute path (GetFolder, SubFolders,
// ParentFolder, Drive.RootFolder, GetSpecialFolder).
#pragma once

#include <string>

#include "platform/Com.h"

namespace classes {

// The Folder of `path` without looking at it (one reference for the caller).
IDispatch* CreateFolderObject(const std::string& path);

}  // namespace classes
