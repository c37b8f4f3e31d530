// TextStream: a text file open for reading, writing or appending, as
// OpenTextFile, CreateTextFile and File.OpenAsTextStream give it.
#pragma once

#include <string>

#include "platform/Com.h"

namespace classes {

enum IoMode : int { kForReading = 1, kForWriting = 2, kForAppending = 8 };
enum Tristate : int { kTristateFalse = 0, kTristateTrue = -1, kTristateUseDefault = -2 };

// Opens the file at the absolute `path`: for reading (a missing file is
// made first when `create`), for writing (a new content put in place at
// Close; a missing file only when `create`) or for appending. `format` is
// a Tristate: ANSI, Unicode, or the default (ANSI, but a Unicode file
// written with its mark is read as Unicode). Throws FileSystemError.
IDispatch* OpenTextStream(const std::string& path, int ioMode, bool create, int format);
// A new text file at `path`, refused (kFileExists) when one exists and not
// `overwrite`. The name appears at once, empty, as pages expect; the text
// appears whole at Close.
IDispatch* CreateTextStream(const std::string& path, bool overwrite, bool unicode);

}  // namespace classes
