// The free space the upload site checks before and while saving.
#pragma once

#include <filesystem>
#include <string>

#include "platform/WinTypes.h"

// Room for an upload of `length` bytes: its copy in the temporary folder
// and its saved files (one figure when both are on one volume).
bool EnoughSpace(const std::string& documentRoot, long long length);
// A save that failed for want of space on the volume. The component gives
// the same error for a Macintosh resource fork larger than a file's
// attribute space: for a MacBinary item that is one item's failure, not a
// full disk, unless the volume has less room than the item.
bool VolumeIsFull(HRESULT hr, const std::filesystem::path& folder, long long itemLength, bool macBinary);
