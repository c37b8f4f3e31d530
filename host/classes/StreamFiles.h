// A stream's bytes from a file and into one, for LoadFromFile and
// SaveToFile.
#pragma once

#include <string>

#include "classes/StreamBytes.h"

namespace classes {

enum class FileOutcome { Done, NotOpened, TooLarge, ReadFailed, StoreFailed, AlreadyExists, WriteFailed };

// Reads the regular file at `path` (UTF-8) into `bytes`, which keep what
// they held unless the whole file was read. StoreFailed sets `storeError`
// to the errno of StreamBytes::write.
FileOutcome LoadFile(const std::string& path, StreamBytes* bytes, int* storeError);

// Writes the bytes to `path` through a temporary file in the same folder
// that takes the final name only once every byte is on the disk: a save
// that fails, or a server killed while saving, never leaves some of the
// bytes under that name (a killed save may leave the temporary file, named
// ".stream-<hex>.tmp"). Without `overwrite` an existing file is kept and
// AlreadyExists given.
FileOutcome SaveFile(const StreamBytes& bytes, const std::string& path, bool overwrite);

}  // namespace classes
