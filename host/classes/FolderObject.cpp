#include "classes/FolderObject.h"

#include <dirent.h>
#include <fcntl.h>

#include <cerrno>
#include <memory>
#include <new>

#include "classes/FileObject.h"
#include "classes/FileOperations.h"
#include "classes/FileSystemEntry.h"
#include "classes/ObjectCollection.h"
#include "classes/TextStreamObject.h"
#include "platform/Files.h"

namespace classes {

namespace {

// Folder.Size walks the whole tree: past this many entries it stops with
// an error rather than hold the request (the size of "/" is no page's
// business).
constexpr size_t kMaxSizedEntries = 1000000;

// Adds the sizes of the files below `folder` (links are not followed).
void AddSizes(int folderFd, double* total, size_t* entries) {
    std::unique_ptr<DIR, int (*)(DIR*)> listing(::fdopendir(folderFd), ::closedir);
    if (!listing) {
        ::close(folderFd);
        ThrowErrno(errno, kPathNotFound);
    }
    while (const dirent* entry = ::readdir(listing.get())) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (++*entries > kMaxSizedEntries)
            throw FileSystemError{kOutOfMemory, "Out of memory: the folder holds more than 1000000 entries to size"};
        struct stat info {};
        if (::fstatat(::dirfd(listing.get()), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
            ThrowErrno(errno, kFileNotFound);
        if (S_ISREG(info.st_mode)) *total += static_cast<double>(info.st_size);
        if (!S_ISDIR(info.st_mode)) continue;
        const int child = ::openat(::dirfd(listing.get()), name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (child < 0) ThrowErrno(errno, kPathNotFound);
        AddSizes(child, total, entries);
    }
}

class FolderObject final : public EntryMembers<FolderObject> {
public:
    explicit FolderObject(std::string path) : EntryMembers(std::move(path), true) {}

    const std::vector<host::Member<FolderObject>>& members() const {
        using Self = FolderObject;
        static const std::vector<host::Member<Self>> kMembers = Table({
            {u"Size", 11, host::kGet, 0, 0, &Self::size},
            {u"Delete", 12, host::kCall, 0, 1, &Self::remove},
            {u"Copy", 13, host::kCall, 1, 2, &Self::copy},
            {u"Move", 14, host::kCall, 1, 1, &Self::move},
            {u"IsRootFolder", 15, host::kGet, 0, 0, &Self::isRootFolder},
            {u"Files", 16, host::kGet, 0, 0, &Self::files},
            {u"SubFolders", 17, host::kGet, 0, 0, &Self::subFolders},
            {u"CreateTextFile", 18, host::kCall, 1, 3, &Self::createTextFile},
        });
        return kMembers;
    }

private:
    HRESULT size(WORD, const host::MemberArgs&, VARIANT* result) {
        return guarded([&] {
            mEntry.status();
            const int fd = ::open(mEntry.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (fd < 0) ThrowErrno(errno, kPathNotFound);
            double total = 0;
            size_t entries = 0;
            AddSizes(fd, &total, &entries);
            return ReturnNumber(result, total);
        });
    }
    HRESULT remove(WORD, const host::MemberArgs& args, VARIANT*) {
        return guarded([&] {
            DeleteOneFolder(mEntry.path(), FlagArg(args[0], false));
            return S_OK;
        });
    }
    HRESULT copy(WORD, const host::MemberArgs& args, VARIANT*) {
        return guarded([&] {
            CopyFolderTo(mEntry.path(), PathArg(args[0]), FlagArg(args[1], true));
            return S_OK;
        });
    }
    HRESULT move(WORD, const host::MemberArgs& args, VARIANT*) {
        return guarded([&] {
            mEntry.movedTo(MoveFolderTo(mEntry.path(), PathArg(args[0])));
            return S_OK;
        });
    }
    // The root of its drive: a mount point (the root "/" among them).
    HRESULT isRootFolder(WORD, const host::MemberArgs&, VARIANT* result) {
        return guarded([&] {
            mEntry.status();
            return host::ReturnBool(result, platform::files::MountPointOf(mEntry.path()) == mEntry.path());
        });
    }
    HRESULT files(WORD, const host::MemberArgs&, VARIANT* result) {
        return guarded([&] { return host::ReturnObject(result, listing(EntryKind::kFile)); });
    }
    HRESULT subFolders(WORD, const host::MemberArgs&, VARIANT* result) {
        return guarded([&] { return host::ReturnObject(result, listing(EntryKind::kFolder)); });
    }
    HRESULT createTextFile(WORD, const host::MemberArgs& args, VARIANT* result) {
        return guarded([&] {
            const std::string name = PathArg(args[0]);
            if (name.empty()) Throw(kBadFileName);
            const std::string path = name[0] == '/' ? AbsolutePath(name) : AbsolutePath(Join(mEntry.path(), name));
            return host::ReturnObject(result, CreateTextStream(path, FlagArg(args[1], true), FlagArg(args[2], false)));
        });
    }

    // The folder's files or subfolders as they are now.
    IDispatch* listing(EntryKind kind) {
        mEntry.status();
        const std::string folder = mEntry.path();
        const int missing = kind == EntryKind::kFile ? kFileNotFound : kPathNotFound;
        auto make = [folder, kind](const std::string& name) {
            const std::string path = Join(folder, name);
            return kind == EntryKind::kFile ? CreateFileObject(path) : CreateFolderObject(path);
        };
        auto find = [make, folder, kind, missing](const std::string& name) {
            if (KindOf(Join(folder, name)) != kind) Throw(missing);
            return make(name);
        };
        return CreateObjectCollection(CollectionItems{ListNames(folder, kind), make, find});
    }
};

}  // namespace

IDispatch* CreateFolderObject(const std::string& path) { return new (std::nothrow) FolderObject(path); }

}  // namespace classes
