#include "classes/FileOperations.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "classes/FileSystemErrors.h"
#include "classes/FileSystemPaths.h"
#include "classes/StagedFile.h"

namespace classes {

namespace {

constexpr size_t kCopyChunk = 1 << 20;

// The files or folders a source names, as absolute paths: those of its
// folder that match its last part, or itself. None is an error: a missing
// file is kFileNotFound, a missing folder kPathNotFound.
std::vector<std::string> Sources(const std::string& pathPattern, EntryKind kind) {
    const int missing = kind == EntryKind::kFile ? kFileNotFound : kPathNotFound;
    const std::string path = AbsolutePath(pathPattern);
    const std::string pattern = NameOf(path);
    std::vector<std::string> sources;
    if (!HasWildcards(pattern)) {
        if (KindOf(path) != kind) Throw(missing);
        sources.push_back(path);
        return sources;
    }
    const std::string folder = ParentOf(path);
    for (const std::string& name : ListNames(folder, kind))
        if (MatchesWildcard(pattern, name)) sources.push_back(Join(folder, name));
    if (sources.empty()) Throw(missing);
    return sources;
}

bool EndsWithSeparator(const std::string& pathPattern) { return !pathPattern.empty() && pathPattern.back() == '/'; }

// Where `source` goes: into the folder `destination` when asked to (which
// must exist), else to the path `destination` itself.
std::string Target(const std::string& source, const std::string& destination, bool intoFolder) {
    if (!intoFolder) return AbsolutePath(destination);
    const std::string folder = AbsolutePath(destination);
    if (KindOf(folder) != EntryKind::kFolder) Throw(kPathNotFound);
    return Join(folder, NameOf(source));
}

bool IsReadOnly(const struct stat& info) { return (info.st_mode & 0222) == 0; }

// Copies the rest of `from` into `to` by the kernel, else through a buffer.
void CopyBytes(int from, StagedFile& to) {
    for (;;) {
        const ssize_t copied = ::copy_file_range(from, nullptr, to.fd(), nullptr, kCopyChunk, 0);
        if (copied == 0) return;
        if (copied > 0) continue;
        if (errno == EINTR) continue;
        if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
            ThrowErrno(errno, kFileNotFound);
        break;
    }
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        const ssize_t got = ::read(from, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) ThrowErrno(errno, kFileNotFound);
        if (got == 0) return;
        to.write(buffer.data(), static_cast<size_t>(got));
    }
}

void CopyOneFile(const std::string& source, const std::string& target, bool overwrite) {
    const int from = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (from < 0) ThrowErrno(errno, kFileNotFound);
    std::unique_ptr<int, void (*)(int*)> closer(new int(from), [](int* fd) {
        ::close(*fd);
        delete fd;
    });
    struct stat info {};
    if (::fstat(from, &info) != 0 || !S_ISREG(info.st_mode)) Throw(kFileNotFound);
    struct stat existing {};
    if (::stat(target.c_str(), &existing) == 0) {
        if (existing.st_dev == info.st_dev && existing.st_ino == info.st_ino) Throw(kPermissionDenied);
        if (!overwrite) Throw(kFileExists);
        if (S_ISDIR(existing.st_mode) || IsReadOnly(existing)) Throw(kPermissionDenied);
    }
    StagedFile staged(target, info.st_mode & 07777);
    CopyBytes(from, staged);
    // The copy keeps its source's permissions and time of change, as
    // copies on the sites' file systems did.
    ::fchmod(staged.fd(), info.st_mode & 07777);
    const struct timespec times[2] = {info.st_atim, info.st_mtim};
    ::futimens(staged.fd(), times);
    staged.commit(overwrite);
}

// Renames without ever replacing: an existing target is kFileExists. Returns
// false when the target is on another volume (the caller copies).
bool RenameNoReplace(const std::string& source, const std::string& target, int missing) {
    if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno == EXDEV) return false;
    ThrowErrno(errno, missing);
}

// Calls `each` with the name and lstat of every entry of `folder`.
void ForEachEntry(const std::string& folder, const std::function<void(const std::string&, const struct stat&)>& each) {
    std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(folder.c_str()), ::closedir);
    if (!listing) ThrowErrno(errno, kPathNotFound);
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(listing.get())) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    listing.reset();
    for (const std::string& name : names) {
        struct stat info {};
        if (::lstat(Join(folder, name).c_str(), &info) != 0) ThrowErrno(errno, kFileNotFound);
        each(name, info);
    }
}

void CopyLink(const std::string& source, const std::string& target, bool overwrite) {
    char text[PATH_MAX];
    const ssize_t length = ::readlink(source.c_str(), text, sizeof text - 1);
    if (length < 0) ThrowErrno(errno, kFileNotFound);
    text[length] = '\0';
    if (::symlink(text, target.c_str()) == 0) return;
    if (errno != EEXIST || !overwrite) ThrowErrno(errno, kPathNotFound);
    if (::unlink(target.c_str()) != 0 || ::symlink(text, target.c_str()) != 0) ThrowErrno(errno, kPathNotFound);
}

// Copies a folder's contents into `target`, made when missing; links are
// copied as links, never followed (a link to a parent would never end).
void CopyTree(const std::string& source, const std::string& target, bool overwrite) {
    struct stat info {};
    if (::stat(source.c_str(), &info) != 0) ThrowErrno(errno, kPathNotFound);
    if (::mkdir(target.c_str(), info.st_mode & 07777) != 0 &&
        !(errno == EEXIST && KindOf(target) == EntryKind::kFolder))
        ThrowErrno(errno == EEXIST ? EEXIST : errno, kPathNotFound);
    ForEachEntry(source, [&](const std::string& name, const struct stat& entry) {
        const std::string from = Join(source, name), to = Join(target, name);
        if (S_ISDIR(entry.st_mode))
            CopyTree(from, to, overwrite);
        else if (S_ISLNK(entry.st_mode))
            CopyLink(from, to, overwrite);
        else if (S_ISREG(entry.st_mode))
            CopyOneFile(from, to, overwrite);
    });
}

void DeleteTree(const std::string& folder, bool force) {
    ForEachEntry(folder, [&](const std::string& name, const struct stat& entry) {
        const std::string path = Join(folder, name);
        if (S_ISDIR(entry.st_mode)) return DeleteTree(path, force);
        if (!force && S_ISREG(entry.st_mode) && IsReadOnly(entry)) Throw(kPermissionDenied);
        if (::unlink(path.c_str()) != 0) ThrowErrno(errno, kFileNotFound);
    });
    if (::rmdir(folder.c_str()) != 0) ThrowErrno(errno, kPathNotFound);
}

// Whether `inner` is `outer` or lies below it, after following links.
bool IsWithin(const std::string& inner, const std::string& outer) {
    char innerReal[PATH_MAX], outerReal[PATH_MAX];
    if (!::realpath(ParentOf(inner).c_str(), innerReal) || !::realpath(outer.c_str(), outerReal)) return false;
    const std::string a = Join(innerReal, NameOf(inner)), b = outerReal;
    return a == b || (a.size() > b.size() && a.compare(0, b.size(), b) == 0 && (b == "/" || a[b.size()] == '/'));
}

void CopyFileInto(const std::string& source, const std::string& destination, bool intoFolder, bool overwrite) {
    const std::string target = Target(source, destination, intoFolder);
    if (KindOf(target) == EntryKind::kFolder) Throw(kPermissionDenied);
    CopyOneFile(source, target, overwrite);
}

std::string MoveFileInto(const std::string& source, const std::string& destination, bool intoFolder) {
    const std::string target = Target(source, destination, intoFolder);
    struct stat existing {};
    if (::lstat(target.c_str(), &existing) == 0) Throw(kFileExists);
    if (RenameNoReplace(source, target, kFileNotFound)) return target;
    CopyOneFile(source, target, false);
    if (::unlink(source.c_str()) != 0) ThrowErrno(errno, kFileNotFound);
    return target;
}

void CopyFolderInto(const std::string& source, const std::string& destination, bool intoFolder, bool overwrite) {
    const std::string target = Target(source, destination, intoFolder);
    if (KindOf(ParentOf(target)) != EntryKind::kFolder) Throw(kPathNotFound);
    if (KindOf(target) == EntryKind::kFile) Throw(kFileExists);
    // A folder copied into itself would never end.
    if (IsWithin(target, source)) Throw(kPermissionDenied);
    CopyTree(source, target, overwrite);
}

std::string MoveFolderInto(const std::string& source, const std::string& destination, bool intoFolder) {
    const std::string target = Target(source, destination, intoFolder);
    struct stat existing {};
    if (::lstat(target.c_str(), &existing) == 0) Throw(kFileExists);
    if (IsWithin(target, source)) Throw(kPermissionDenied);
    if (RenameNoReplace(source, target, kPathNotFound)) return target;
    CopyTree(source, target, false);
    DeleteTree(source, true);
    return target;
}

// Calls `each` with every source and whether it goes into the folder
// `destination`: it does for a source with wildcards or a destination
// that ends with `/`.
void ForEachSource(const std::string& source, const std::string& destination, EntryKind kind,
                   const std::function<void(const std::string&, bool)>& each) {
    const bool intoFolder = HasWildcards(NameOf(AbsolutePath(source))) || EndsWithSeparator(destination);
    for (const std::string& path : Sources(source, kind)) each(path, intoFolder);
}

}  // namespace

void CopyFiles(const std::string& source, const std::string& destination, bool overwrite) {
    ForEachSource(source, destination, EntryKind::kFile, [&](const std::string& file, bool intoFolder) {
        CopyFileInto(file, destination, intoFolder, overwrite);
    });
}

void MoveFiles(const std::string& source, const std::string& destination) {
    ForEachSource(source, destination, EntryKind::kFile,
                  [&](const std::string& file, bool intoFolder) { MoveFileInto(file, destination, intoFolder); });
}

void DeleteFiles(const std::string& pathPattern, bool force) {
    for (const std::string& file : Sources(pathPattern, EntryKind::kFile)) DeleteOneFile(file, force);
}

void CopyFolders(const std::string& source, const std::string& destination, bool overwrite) {
    ForEachSource(source, destination, EntryKind::kFolder, [&](const std::string& folder, bool intoFolder) {
        CopyFolderInto(folder, destination, intoFolder, overwrite);
    });
}

void MoveFolders(const std::string& source, const std::string& destination) {
    ForEachSource(source, destination, EntryKind::kFolder,
                  [&](const std::string& folder, bool intoFolder) { MoveFolderInto(folder, destination, intoFolder); });
}

void DeleteFolders(const std::string& pathPattern, bool force) {
    for (const std::string& folder : Sources(pathPattern, EntryKind::kFolder)) DeleteOneFolder(folder, force);
}

void CopyFileTo(const std::string& source, const std::string& destination, bool overwrite) {
    CopyFileInto(source, destination, EndsWithSeparator(destination), overwrite);
}

std::string MoveFileTo(const std::string& source, const std::string& destination) {
    return MoveFileInto(source, destination, EndsWithSeparator(destination));
}

void DeleteOneFile(const std::string& path, bool force) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) ThrowErrno(errno, kFileNotFound);
    if (S_ISDIR(info.st_mode)) Throw(kFileNotFound);
    if (!force && S_ISREG(info.st_mode) && IsReadOnly(info)) Throw(kPermissionDenied);
    if (::unlink(path.c_str()) != 0) ThrowErrno(errno, kFileNotFound);
}

void CopyFolderTo(const std::string& source, const std::string& destination, bool overwrite) {
    CopyFolderInto(source, destination, EndsWithSeparator(destination), overwrite);
}

std::string MoveFolderTo(const std::string& source, const std::string& destination) {
    return MoveFolderInto(source, destination, EndsWithSeparator(destination));
}

void DeleteOneFolder(const std::string& path, bool force) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) ThrowErrno(errno, kPathNotFound);
    // A link to a folder goes itself; what it names stays.
    if (S_ISLNK(info.st_mode) && KindOf(path) == EntryKind::kFolder) {
        if (::unlink(path.c_str()) != 0) ThrowErrno(errno, kPathNotFound);
        return;
    }
    if (!S_ISDIR(info.st_mode)) Throw(kPathNotFound);
    if (!force && IsReadOnly(info)) Throw(kPermissionDenied);
    DeleteTree(path, force);
}

}  // namespace classes
