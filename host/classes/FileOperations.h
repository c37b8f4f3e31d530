// Copying, moving and deleting files and folders as the file system object
// does: the last part of a source may hold the wildcards `*` and `?`; a
// destination that ends with `/` (or `\`), or the destination of a source
// with wildcards, is an existing folder to put the sources in. Every
// function throws FileSystemError; with several sources, those before the
// failing one are done. A copied file appears under its name only whole.
#pragma once

#include <string>

namespace classes {

void CopyFiles(const std::string& source, const std::string& destination, bool overwrite);
void MoveFiles(const std::string& source, const std::string& destination);
// A read-only file (no write permission for anyone) is deleted only with `force`.
void DeleteFiles(const std::string& pathPattern, bool force);

// A folder copied onto an existing one adds to it, replacing its files
// only with `overwrite`.
void CopyFolders(const std::string& source, const std::string& destination, bool overwrite);
void MoveFolders(const std::string& source, const std::string& destination);
void DeleteFolders(const std::string& pathPattern, bool force);

// What a File or Folder object does to itself: the same for one source
// named as it is (a name may hold `*` or `?` on Linux). A move gives the
// new path.
void CopyFileTo(const std::string& source, const std::string& destination, bool overwrite);
std::string MoveFileTo(const std::string& source, const std::string& destination);
void DeleteOneFile(const std::string& path, bool force);
void CopyFolderTo(const std::string& source, const std::string& destination, bool overwrite);
std::string MoveFolderTo(const std::string& source, const std::string& destination);
void DeleteOneFolder(const std::string& path, bool force);

}  // namespace classes
