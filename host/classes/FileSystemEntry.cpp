#include "classes/FileSystemEntry.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>

#include "classes/DriveObject.h"
#include "classes/FolderObject.h"
#include "platform/Files.h"

namespace classes {

struct stat EntryCommon::status() const {
    struct stat info {};
    const int missing = mFolder ? kPathNotFound : kFileNotFound;
    if (::stat(mPath.c_str(), &info) != 0) ThrowErrno(errno, missing);
    if (S_ISDIR(info.st_mode) != mFolder) Throw(missing);
    return info;
}

LONG EntryCommon::attributes() const {
    const struct stat info = status();
    LONG attributes = 0;
    if ((info.st_mode & 0222) == 0) attributes |= kReadOnly;
    if (NameOf(mPath).rfind('.', 0) == 0) attributes |= kHidden;
    if (mFolder) attributes |= kDirectory;
    struct stat link {};
    if (::lstat(mPath.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) attributes |= kAlias;
    return attributes;
}

// Only ReadOnly can be changed: it takes every write permission away, and
// clearing it gives the owner's back. The other bits follow from the name
// and the kind of entry and are left as they are.
void EntryCommon::setAttributes(LONG attributes) const {
    const struct stat info = status();
    mode_t mode = info.st_mode & 07777;
    if (attributes & kReadOnly)
        mode &= ~mode_t{0222};
    else if ((mode & 0222) == 0)
        mode |= S_IWUSR;
    if (mode != (info.st_mode & 07777) && ::chmod(mPath.c_str(), mode) != 0) ThrowErrno(errno, kFileNotFound);
}

// "TXT File" as the sites' systems named a type they did not know.
std::string EntryCommon::typeName() const {
    status();
    if (mFolder) return "File folder";
    std::string extension = ExtensionOf(NameOf(mPath));
    if (extension.empty()) return "File";
    for (char& c : extension) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return extension + " File";
}

void EntryCommon::rename(const std::string& newName) {
    if (newName.empty() || newName.find('/') != std::string::npos || newName == "." || newName == "..")
        Throw(kInvalidCall);
    status();
    const std::string target = Join(ParentOf(mPath), newName);
    if (::renameat2(AT_FDCWD, mPath.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0)
        ThrowErrno(errno, mFolder ? kPathNotFound : kFileNotFound);
    mPath = target;
}

struct timespec EntryCommon::created() const {
    struct statx info {};
    if (::statx(AT_FDCWD, mPath.c_str(), 0, STATX_BTIME | STATX_CTIME, &info) != 0)
        ThrowErrno(errno, mFolder ? kPathNotFound : kFileNotFound);
    const struct statx_timestamp& when = (info.stx_mask & STATX_BTIME) ? info.stx_btime : info.stx_ctime;
    return {when.tv_sec, when.tv_nsec};
}

IDispatch* EntryCommon::parentFolder() const {
    status();
    const std::string parent = ParentOf(mPath);
    return parent.empty() ? nullptr : CreateFolderObject(parent);
}

IDispatch* EntryCommon::drive() const { return CreateDriveObject(platform::files::MountPointOf(mPath)); }

}  // namespace classes
