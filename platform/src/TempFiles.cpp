// The temporary folder and unique temporary file names.
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "FileErrors.h"
#include "platform/Files.h"
#include "platform/System.h"

using platform::files::Fail;

DWORD GetTempPathA(DWORD size, LPSTR buffer) {
    const char* dir = std::getenv("TMPDIR");
    std::string path = dir && *dir ? dir : "/tmp";
    if (path.back() != '/') path += '/';
    if (!buffer || size <= path.size()) return static_cast<DWORD>(path.size() + 1);
    std::memcpy(buffer, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
}

UINT GetTempFileNameA(LPCSTR dir, LPCSTR prefix, UINT, LPSTR out) {
    if (!dir || !out) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string pattern = dir;
    if (!pattern.empty() && pattern.back() != '/') pattern += '/';
    pattern += std::string(prefix ? prefix : "").substr(0, 3) + "XXXXXX.tmp";
    if (pattern.size() >= 260) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    const int fd = ::mkstemps(pattern.data(), 4);
    if (fd < 0) {
        Fail(errno);
        return 0;
    }
    ::close(fd);
    std::memcpy(out, pattern.c_str(), pattern.size() + 1);
    return 1;
}
