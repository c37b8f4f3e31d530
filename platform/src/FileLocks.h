// Locks on files: byte ranges and Windows share modes, both as
// open-file-description locks. Internal to the file functions.
#pragma once

#include "platform/Files.h"

namespace platform::files {

// Marks the handle's access and refusals (share modes) and fails when
// another handle, of any process, conflicts with them.
bool TakeShareLock(int fd, DWORD access, DWORD share);

}  // namespace platform::files
