#include "classes/DriveObject.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <new>
#include <sstream>

#include "classes/FileSystemErrors.h"
#include "classes/FolderObject.h"

namespace classes {

namespace {

enum DriveType : LONG { kUnknownType = 0, kRemovable = 1, kFixed = 2, kNetwork = 3, kCdRom = 4, kRamDisk = 5 };

// "/mnt/a\040b" as /proc/self/mounts writes "/mnt/a b".
std::string Unescape(const std::string& field) {
    std::string text;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && std::isdigit(static_cast<unsigned char>(field[i + 1]))) {
            text.push_back(static_cast<char>(std::stoi(field.substr(i + 1, 3), nullptr, 8)));
            i += 3;
        } else {
            text.push_back(field[i]);
        }
    }
    return text;
}

struct Mount {
    std::string root;
    std::string type;
};

std::vector<Mount> Mounts() {
    std::vector<Mount> mounts;
    std::ifstream table("/proc/self/mounts");
    std::string line;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string device, root, type;
        if (fields >> device >> root >> type) mounts.push_back({Unescape(root), type});
    }
    return mounts;
}

// The file system type of a mount point (the last mount there shows).
std::string TypeOf(const std::string& root) {
    std::string type;
    for (const Mount& mount : Mounts())
        if (mount.root == root) type = mount.type;
    return type;
}

LONG DriveTypeOf(const std::string& type) {
    if (type == "tmpfs" || type == "ramfs") return kRamDisk;
    if (type == "iso9660" || type == "udf") return kCdRom;
    if (type == "nfs" || type == "nfs4" || type == "cifs" || type == "smb3" || type == "fuse.sshfs" || type == "9p")
        return kNetwork;
    if (type == "vfat" || type == "exfat") return kRemovable;
    return type.empty() ? kUnknownType : kFixed;
}

class DriveObject final : public FileSystemMembers<DriveObject> {
public:
    explicit DriveObject(std::string root) : mRoot(std::move(root)) {}

    const std::vector<host::Member<DriveObject>>& members() const {
        using Self = DriveObject;
        static const std::vector<host::Member<Self>> kMembers = {
            {u"Path", DISPID_VALUE, host::kGet, 0, 0, &Self::path},
            {u"DriveLetter", 1, host::kGet, 0, 0, &Self::noText},
            {u"ShareName", 2, host::kGet, 0, 0, &Self::noText},
            {u"DriveType", 3, host::kGet, 0, 0, &Self::driveType},
            {u"RootFolder", 4, host::kGet, 0, 0, &Self::rootFolder},
            {u"AvailableSpace", 5, host::kGet, 0, 0, &Self::availableSpace},
            {u"FreeSpace", 6, host::kGet, 0, 0, &Self::freeSpace},
            {u"TotalSize", 7, host::kGet, 0, 0, &Self::totalSize},
            {u"VolumeName", 8, host::kGet, 0, 0, &Self::noText},
            {u"FileSystem", 9, host::kGet, 0, 0, &Self::fileSystem},
            {u"SerialNumber", 10, host::kGet, 0, 0, &Self::serialNumber},
            {u"IsReady", 11, host::kGet, 0, 0, &Self::isReady},
        };
        return kMembers;
    }

private:
    struct statvfs volume() const {
        struct statvfs info {};
        if (::statvfs(mRoot.c_str(), &info) != 0) ThrowErrno(errno, kPathNotFound);
        return info;
    }

    HRESULT path(WORD, const host::MemberArgs&, VARIANT* result) { return host::ReturnText(result, mRoot); }
    // No drive letter, share or volume label on Linux.
    HRESULT noText(WORD, const host::MemberArgs&, VARIANT* result) { return host::ReturnText(result, std::string()); }
    HRESULT driveType(WORD, const host::MemberArgs&, VARIANT* result) {
        return ReturnLong(result, DriveTypeOf(TypeOf(mRoot)));
    }
    HRESULT fileSystem(WORD, const host::MemberArgs&, VARIANT* result) {
        return host::ReturnText(result, TypeOf(mRoot));
    }
    HRESULT rootFolder(WORD, const host::MemberArgs&, VARIANT* result) {
        return host::ReturnObject(result, CreateFolderObject(mRoot));
    }
    HRESULT availableSpace(WORD, const host::MemberArgs&, VARIANT* result) {
        return guarded([&] {
            const struct statvfs info = volume();
            return ReturnNumber(result, static_cast<double>(info.f_bavail) * static_cast<double>(info.f_frsize));
        });
    }
    HRESULT freeSpace(WORD, const host::MemberArgs&, VARIANT* result) {
        return guarded([&] {
            const struct statvfs info = volume();
            return ReturnNumber(result, static_cast<double>(info.f_bfree) * static_cast<double>(info.f_frsize));
        });
    }
    HRESULT totalSize(WORD, const host::MemberArgs&, VARIANT* result) {
        return guarded([&] {
            const struct statvfs info = volume();
            return ReturnNumber(result, static_cast<double>(info.f_blocks) * static_cast<double>(info.f_frsize));
        });
    }
    HRESULT serialNumber(WORD, const host::MemberArgs&, VARIANT* result) {
        return guarded([&] { return ReturnLong(result, static_cast<LONG>(static_cast<uint32_t>(volume().f_fsid))); });
    }
    HRESULT isReady(WORD, const host::MemberArgs&, VARIANT* result) {
        struct statvfs info {};
        return host::ReturnBool(result, ::statvfs(mRoot.c_str(), &info) == 0);
    }

    std::string mRoot;
};

// The system's own mounts (devices, kernel state) are no drives for pages.
bool IsSystemMount(const std::string& root) {
    for (const char* folder : {"/dev", "/proc", "/sys", "/run"})
        if (root.rfind(folder, 0) == 0 && (root.size() == std::strlen(folder) || root[std::strlen(folder)] == '/'))
            return true;
    return false;
}

}  // namespace

std::vector<std::string> DriveRoots() {
    std::vector<std::string> roots{"/"};
    for (const Mount& mount : Mounts()) {
        struct statvfs info {};
        if (IsSystemMount(mount.root) || std::find(roots.begin(), roots.end(), mount.root) != roots.end()) continue;
        if (::statvfs(mount.root.c_str(), &info) == 0 && info.f_blocks > 0) roots.push_back(mount.root);
    }
    return roots;
}

IDispatch* CreateDriveObject(const std::string& root) { return new (std::nothrow) DriveObject(root); }

}  // namespace classes
