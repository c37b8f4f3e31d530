// The failure of a file function: the thread's last error from an errno.
// Internal to the file functions.
#pragma once

#include "platform/Files.h"
#include "platform/System.h"

namespace platform::files {

// Sets the last error from `error` and gives FALSE, for `return Fail(errno);`.
inline bool Fail(int error) {
    SetLastError(Win32ErrorFromErrno(error));
    return false;
}

}  // namespace platform::files
