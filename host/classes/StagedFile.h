// A file written beside its final name and put in place whole: nobody sees
// it half-written under that name. It is an unnamed file of the target's
// folder (O_TMPFILE), so a server stopped while writing leaves nothing
// behind; on a file system without unnamed files, a hidden ".name.XXXXXX"
// beside the target, removed unless put in place.
#pragma once

#include <sys/types.h>

#include <string>

namespace classes {

class StagedFile {
public:
    // Opens the staged file for `finalPath` in its folder with `mode`
    // (before the umask). Throws FileSystemError: the folder is missing or
    // cannot be written.
    StagedFile(std::string finalPath, mode_t mode);
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    int fd() const { return mFd; }
    const std::string& finalPath() const { return mFinalPath; }
    // Writes all of `size` bytes; throws (disk full...).
    void write(const void* bytes, size_t size);
    // Puts the file under its final name: replacing what is there, or, when
    // `replace` is false, failing with kFileExists when the name exists.
    // Closes the file either way.
    void commit(bool replace);

private:
    // The hidden fallback file; -1 when none could be made.
    int openNamed(mode_t mode);
    void discard();

    std::string mFinalPath;
    std::string mNamedPath;  // the fallback's path; "" for an unnamed file
    int mFd = -1;
};

}  // namespace classes
