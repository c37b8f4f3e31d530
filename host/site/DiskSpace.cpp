#include "site/DiskSpace.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <climits>
#include <cstdlib>

namespace fs = std::filesystem;

namespace {

// The component's ERROR_DISK_FULL.
constexpr HRESULT kDiskFull = static_cast<HRESULT>(0x80040070);

// The bytes a folder's volume has free for the server, and its device;
// false when the folder cannot be examined.
bool FreeSpace(const std::string& folder, long long* freeBytes, dev_t* device) {
    struct statvfs volume {};
    struct stat place {};
    if (statvfs(folder.c_str(), &volume) != 0 || stat(folder.c_str(), &place) != 0) return false;
    const unsigned long long bytes = static_cast<unsigned long long>(volume.f_bavail) * volume.f_frsize;
    *freeBytes = bytes > static_cast<unsigned long long>(LLONG_MAX) ? LLONG_MAX : static_cast<long long>(bytes);
    *device = place.st_dev;
    return true;
}

}  // namespace

bool EnoughSpace(const std::string& documentRoot, long long length) {
    const char* tmp = std::getenv("TMPDIR");
    long long tempFree = 0, uploadsFree = 0;
    dev_t tempDevice = 0, uploadsDevice = 0;
    if (!FreeSpace(tmp && *tmp ? tmp : "/tmp", &tempFree, &tempDevice) ||
        !FreeSpace(documentRoot + "/uploads", &uploadsFree, &uploadsDevice))
        return true;  // nothing known: the upload tells
    if (tempDevice == uploadsDevice) return tempFree >= 2 * length;
    return tempFree >= length && uploadsFree >= length;
}

bool VolumeIsFull(HRESULT hr, const fs::path& folder, long long itemLength, bool macBinary) {
    if (hr != kDiskFull) return false;
    if (!macBinary) return true;
    long long freeBytes = 0;
    dev_t device = 0;
    return FreeSpace(folder.string(), &freeBytes, &device) && freeBytes < itemLength;
}
