// Volumes: the file system a path lies on, and its mount point.
#include <limits.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "FileErrors.h"
#include "platform/Files.h"
#include "platform/System.h"

using platform::files::Fail;

BOOL GetVolumeInformationA(LPCSTR root, LPSTR, DWORD, DWORD* serial, DWORD* maxComponent, DWORD* flags,
                           LPSTR fileSystemName, DWORD fileSystemNameSize) {
    struct statfs info {};
    if (!root || ::statfs(root, &info) != 0) return Fail(root ? errno : ENOENT);
    std::string name;
    // A file system that keeps user attributes keeps named streams: it answers as NTFS does.
    const ssize_t probe = ::getxattr(root, "user.DosStream.probe:$DATA", nullptr, 0);
    if (probe >= 0 || errno == ENODATA || errno == ERANGE) {
        name = "NTFS";
    } else {
        switch (static_cast<unsigned long>(info.f_type)) {
            case 0x4d44:
                name = "vfat";
                break;
            case 0x01021994:
                name = "tmpfs";
                break;
            case 0xEF53:
                name = "ext4";
                break;
            case 0x58465342:
                name = "xfs";
                break;
            case 0x9123683E:
                name = "btrfs";
                break;
            case 0x794c7630:
                name = "overlay";
                break;
            case 0x6969:
                name = "nfs";
                break;
            default:
                name = "unknown";
                break;
        }
    }
    if (serial) *serial = static_cast<DWORD>(info.f_fsid.__val[0]);
    if (maxComponent) *maxComponent = static_cast<DWORD>(info.f_namelen);
    if (flags) *flags = 0;
    if (fileSystemName) {
        if (fileSystemNameSize <= name.size()) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        std::memcpy(fileSystemName, name.c_str(), name.size() + 1);
    }
    return TRUE;
}

namespace platform::files {
std::string MountPointOf(const std::string& path) {
    // A relative path is relative to the process's current folder; from an
    // absolute path every step up removes one "/" part, so the walk ends.
    std::string current = path;
    if (current.empty() || current[0] != '/') {
        char folder[PATH_MAX];
        current = std::string(::getcwd(folder, sizeof folder) ? folder : "/") + "/" + current;
    }
    struct stat st {};
    // The nearest existing folder, then up while the device stays the same.
    while (!current.empty() && ::stat(current.c_str(), &st) != 0)
        current = current.substr(0, current.find_last_of('/'));
    if (current.empty()) current = "/";
    const dev_t device = st.st_dev;
    while (current != "/") {
        const size_t slash = current.find_last_of('/');
        const std::string parent = slash == 0 ? "/" : current.substr(0, slash);
        struct stat up {};
        if (::stat(parent.c_str(), &up) != 0 || up.st_dev != device) break;
        current = parent;
    }
    return current;
}
}  // namespace platform::files
