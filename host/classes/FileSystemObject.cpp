#include "classes/FileSystemObject.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <new>
#include <random>

#include "classes/DriveObject.h"
#include "classes/FileObject.h"
#include "classes/FileOperations.h"
#include "classes/FileSystemErrors.h"
#include "classes/FileSystemPaths.h"
#include "classes/FolderObject.h"
#include "classes/ObjectCollection.h"
#include "classes/TextStreamObject.h"
#include "platform/Files.h"

namespace classes {

namespace {

// GetSpecialFolder's folders on Linux.
enum SpecialFolder : LONG { kWindowsFolder = 0, kSystemFolder = 1, kTemporaryFolder = 2 };

// Without its trailing `/`s, except for the root itself.
std::string TrimSeparators(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// The last part of a path as written; "" for the root.
std::string LastPart(const std::string& path) {
    const std::string trimmed = TrimSeparators(path);
    if (trimmed == "/") return "";
    const size_t slash = trimmed.find_last_of('/');
    return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

// The folder part of a path as written: "" when it has none.
std::string FolderPart(const std::string& path) {
    const std::string trimmed = TrimSeparators(path);
    const size_t slash = trimmed.find_last_of('/');
    if (trimmed == "/" || slash == std::string::npos) return "";
    return slash == 0 ? "/" : TrimSeparators(trimmed.substr(0, slash));
}

std::string TemporaryFolder() {
    char folder[4096];
    const DWORD length = GetTempPathA(sizeof folder, folder);
    return TrimSeparators(length ? std::string(folder, length) : "/tmp");
}

// The drive root a text names, or "" when it names none.
std::string DriveRootOf(const std::string& pathPattern) {
    if (pathPattern.empty()) return "";
    const std::string root = AbsolutePath(pathPattern);
    const std::vector<std::string> roots = DriveRoots();
    return std::find(roots.begin(), roots.end(), root) != roots.end() ? root : "";
}

class FileSystemObject final : public FileSystemMembers<FileSystemObject> {
public:
    const std::vector<host::Member<FileSystemObject>>& members() const {
        using Self = FileSystemObject;
        static const std::vector<host::Member<Self>> kMembers = {
            {u"Drives", 1, host::kGet, 0, 0, &Self::drives},
            {u"BuildPath", 2, host::kCall, 2, 2, &Self::buildPath},
            {u"GetDriveName", 3, host::kCall, 1, 1, &Self::getDriveName},
            {u"GetParentFolderName", 4, host::kCall, 1, 1, &Self::getParentFolderName},
            {u"GetFileName", 5, host::kCall, 1, 1, &Self::getFileName},
            {u"GetBaseName", 6, host::kCall, 1, 1, &Self::getBaseName},
            {u"GetExtensionName", 7, host::kCall, 1, 1, &Self::getExtensionName},
            {u"GetAbsolutePathName", 8, host::kCall, 1, 1, &Self::getAbsolutePathName},
            {u"GetTempName", 9, host::kCall, 0, 0, &Self::getTempName},
            {u"DriveExists", 10, host::kCall, 1, 1, &Self::driveExists},
            {u"FileExists", 11, host::kCall, 1, 1, &Self::fileExists},
            {u"FolderExists", 12, host::kCall, 1, 1, &Self::folderExists},
            {u"GetDrive", 13, host::kCall, 1, 1, &Self::getDrive},
            {u"GetFile", 14, host::kCall, 1, 1, &Self::getFile},
            {u"GetFolder", 15, host::kCall, 1, 1, &Self::getFolder},
            {u"GetSpecialFolder", 16, host::kCall, 1, 1, &Self::getSpecialFolder},
            {u"DeleteFile", 17, host::kCall, 1, 2, &Self::deleteFile},
            {u"DeleteFolder", 18, host::kCall, 1, 2, &Self::deleteFolder},
            {u"MoveFile", 19, host::kCall, 2, 2, &Self::moveFile},
            {u"MoveFolder", 20, host::kCall, 2, 2, &Self::moveFolder},
            {u"CopyFile", 21, host::kCall, 2, 3, &Self::copyFile},
            {u"CopyFolder", 22, host::kCall, 2, 3, &Self::copyFolder},
            {u"CreateFolder", 23, host::kCall, 1, 1, &Self::createFolder},
            {u"CreateTextFile", 24, host::kCall, 1, 3, &Self::createTextFile},
            {u"OpenTextFile", 25, host::kCall, 1, 4, &Self::openTextFile},
        };
        return kMembers;
    }

private:
    // A member that gives a text made from one path argument.
    template <class Make>
    HRESULT textOfPath(const host::MemberArgs& args, VARIANT* result, Make make) {
        return guarded([&] { return host::ReturnText(result, make(PathArg(args[0]))); });
    }
    // A path argument that must name something.
    static std::string RequiredPath(const VARIANT* arg) {
        const std::string path = PathArg(arg);
        if (path.empty()) Throw(kInvalidCall);
        return path;
    }

    HRESULT drives(WORD, const host::MemberArgs&, VARIANT* result) {
        return guarded([&] {
            auto find = [](const std::string& name) {
                const std::string root = DriveRootOf(name);
                if (root.empty()) Throw(kDeviceUnavailable);
                return CreateDriveObject(root);
            };
            return host::ReturnObject(result,
                                      CreateObjectCollection(CollectionItems{DriveRoots(), CreateDriveObject, find}));
        });
    }
    HRESULT buildPath(WORD, const host::MemberArgs& args, VARIANT* result) {
        return guarded([&] {
            const std::string path = PathArg(args[0]);
            std::string name = PathArg(args[1]);
            if (path.empty()) return host::ReturnText(result, name);
            if (path.back() == '/') {
                while (!name.empty() && name[0] == '/') name.erase(0, 1);
            } else if (name.empty() || name[0] != '/') {
                name = "/" + name;
            }
            return host::ReturnText(result, path + name);
        });
    }
    // Linux has no drive letters: a path's drive is the mount point of the
    // file system that holds it.
    HRESULT getDriveName(WORD, const host::MemberArgs& args, VARIANT* result) {
        return textOfPath(args, result, [](const std::string& path) {
            return !path.empty() && path[0] == '/' ? platform::files::MountPointOf(AbsolutePath(path)) : std::string();
        });
    }
    HRESULT getParentFolderName(WORD, const host::MemberArgs& args, VARIANT* result) {
        return textOfPath(args, result, FolderPart);
    }
    HRESULT getFileName(WORD, const host::MemberArgs& args, VARIANT* result) {
        return textOfPath(args, result, LastPart);
    }
    HRESULT getBaseName(WORD, const host::MemberArgs& args, VARIANT* result) {
        return textOfPath(args, result, [](const std::string& path) { return BaseName(LastPart(path)); });
    }
    HRESULT getExtensionName(WORD, const host::MemberArgs& args, VARIANT* result) {
        return textOfPath(args, result, [](const std::string& path) { return ExtensionOf(LastPart(path)); });
    }
    HRESULT getAbsolutePathName(WORD, const host::MemberArgs& args, VARIANT* result) {
        return textOfPath(args, result, AbsolutePath);
    }
    HRESULT getTempName(WORD, const host::MemberArgs&, VARIANT* result) {
        thread_local std::mt19937 random{std::random_device{}()};
        char name[16];
        std::snprintf(name, sizeof name, "rad%05X.tmp", static_cast<unsigned>(random() & 0xFFFFF));
        return host::ReturnText(result, std::string(name));
    }
    HRESULT driveExists(WORD, const host::MemberArgs& args, VARIANT* result) {
        return guarded([&] { return host::ReturnBool(result, !DriveRootOf(PathArg(args[0])).empty()); });
    }
    HRESULT fileExists(WORD, const host::MemberArgs& args, VARIANT* result) {
        return guarded([&] {
            const std::string path = PathArg(args[0]);
            return host::ReturnBool(result, !path.empty() && KindOf(AbsolutePath(path)) == EntryKind::kFile);
        });
    }
    HRESULT folderExists(WORD, const host::MemberArgs& args, VARIANT* result) {
        return guarded([&] {
            const std::string path = PathArg(args[0]);
            return host::ReturnBool(result, !path.empty() && KindOf(AbsolutePath(path)) == EntryKind::kFolder);
        });
    }
    HRESULT getDrive(WORD, const host::MemberArgs& args, VARIANT* result) {
        return guarded([&] {
            const std::string root = DriveRootOf(RequiredPath(args[0]));
            if (root.empty()) Throw(kDeviceUnavailable);
            return host::ReturnObject(result, CreateDriveObject(root));
        });
    }
    HRESULT getFile(WORD, const host::MemberArgs& args, VARIANT* result) {
        return guarded([&] {
            const std::string path = AbsolutePath(RequiredPath(args[0]));
            if (KindOf(path) != EntryKind::kFile) Throw(kFileNotFound);
            return host::ReturnObject(result, CreateFileObject(path));
        });
    }
    HRESULT getFolder(WORD, const host::MemberArgs& args, VARIANT* result) {
        return guarded([&] {
            const std::string path = AbsolutePath(RequiredPath(args[0]));
            if (KindOf(path) != EntryKind::kFolder) Throw(kPathNotFound);
            return host::ReturnObject(result, CreateFolderObject(path));
        });
    }
    // The system's folders as a Linux server has them: 0, where the
    // system's own settings live, is /etc; 1, its shared libraries,
    // /usr/lib; 2, the temporary folder, $TMPDIR or /tmp.
    HRESULT getSpecialFolder(WORD, const host::MemberArgs& args, VARIANT* result) {
        return guarded([&] {
            switch (NumberArg(args[0], -1)) {
                case kWindowsFolder:
                    return host::ReturnObject(result, CreateFolderObject("/etc"));
                case kSystemFolder:
                    return host::ReturnObject(result, CreateFolderObject("/usr/lib"));
                case kTemporaryFolder:
                    return host::ReturnObject(result, CreateFolderObject(TemporaryFolder()));
                default:
                    Throw(kInvalidCall);
            }
        });
    }
    HRESULT deleteFile(WORD, const host::MemberArgs& args, VARIANT*) {
        return guarded([&] {
            DeleteFiles(RequiredPath(args[0]), FlagArg(args[1], false));
            return S_OK;
        });
    }
    HRESULT deleteFolder(WORD, const host::MemberArgs& args, VARIANT*) {
        return guarded([&] {
            DeleteFolders(RequiredPath(args[0]), FlagArg(args[1], false));
            return S_OK;
        });
    }
    HRESULT moveFile(WORD, const host::MemberArgs& args, VARIANT*) {
        return guarded([&] {
            MoveFiles(RequiredPath(args[0]), RequiredPath(args[1]));
            return S_OK;
        });
    }
    HRESULT moveFolder(WORD, const host::MemberArgs& args, VARIANT*) {
        return guarded([&] {
            MoveFolders(RequiredPath(args[0]), RequiredPath(args[1]));
            return S_OK;
        });
    }
    HRESULT copyFile(WORD, const host::MemberArgs& args, VARIANT*) {
        return guarded([&] {
            CopyFiles(RequiredPath(args[0]), RequiredPath(args[1]), FlagArg(args[2], true));
            return S_OK;
        });
    }
    HRESULT copyFolder(WORD, const host::MemberArgs& args, VARIANT*) {
        return guarded([&] {
            CopyFolders(RequiredPath(args[0]), RequiredPath(args[1]), FlagArg(args[2], true));
            return S_OK;
        });
    }
    HRESULT createFolder(WORD, const host::MemberArgs& args, VARIANT* result) {
        return guarded([&] {
            const std::string path = AbsolutePath(RequiredPath(args[0]));
            if (::mkdir(path.c_str(), 0777) != 0) ThrowErrno(errno, kPathNotFound);
            return host::ReturnObject(result, CreateFolderObject(path));
        });
    }
    // An omitted `overwrite` replaces an existing file.
    HRESULT createTextFile(WORD, const host::MemberArgs& args, VARIANT* result) {
        return guarded([&] {
            const std::string path = AbsolutePath(RequiredPath(args[0]));
            return host::ReturnObject(result, CreateTextStream(path, FlagArg(args[1], true), FlagArg(args[2], false)));
        });
    }
    HRESULT openTextFile(WORD, const host::MemberArgs& args, VARIANT* result) {
        return guarded([&] {
            const std::string path = AbsolutePath(RequiredPath(args[0]));
            return host::ReturnObject(result,
                                      OpenTextStream(path, NumberArg(args[1], kForReading), FlagArg(args[2], false),
                                                     NumberArg(args[3], kTristateFalse)));
        });
    }
};

}  // namespace

IDispatch* CreateFileSystemObject() { return new (std::nothrow) FileSystemObject(); }

}  // namespace classes
