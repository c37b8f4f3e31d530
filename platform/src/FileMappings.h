// Read-only mappings of files and their views. Internal to the file
// functions.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace platform::files {

// Copies bytes of a mapped file into `target` at its position, in the
// kernel; the count copied, which is less than asked when the kernel cannot
// copy between these files (then the caller writes the rest), or -1 with
// errno on a failure of the target (a full disk).
ssize_t CopyFromView(int target, const void* buffer, size_t count);

}  // namespace platform::files
