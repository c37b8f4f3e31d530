// The process's view of the registry folder: each root key's file, read
// when it has changed and written under the folder's lock. Internal to the
// registry functions.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <mutex>
#include <string>

#include "RegistryFile.h"
#include "platform/Registry.h"
#include "platform/System.h"

namespace platform::registry {

inline constexpr const char* kRootNames[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"};
inline constexpr int kRootCount = 3;

struct FileIdentity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    bool operator==(const FileIdentity& o) const {
        return exists == o.exists && device == o.device && inode == o.inode && size == o.size &&
               modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec;
    }
};

struct RootFile {
    bool loaded = false;
    FileIdentity identity;
    std::unique_ptr<Key> tree;
    std::string parseError;  // non-empty: the file is corrupt
};

// The process's view of the registry folder. One mutex serialises the
// process's own operations; the lock file serialises writers across processes.
class Store {
public:
    std::mutex mutex;

    // Makes the cached tree of `root` current: ERROR_SUCCESS, ERROR_BADDB
    // when the file is corrupt, ERROR_CANTREAD when it cannot be read.
    LONG refresh(int root);

    Key* tree(int root) { return mFiles[root].tree.get(); }

    // Runs `change` on the current tree of `root` under the folder's write
    // lock and stores the result; the change returns a Windows error code.
    template <class Change>
    LONG write(int root, Change change);

private:
    void useDirectory();

    static std::string filePath(int root) { return Directory() + "/" + kRootNames[root] + ".reg"; }

    static std::unique_ptr<Key> emptyTree(int root);
    static FileIdentity identityOf(const std::string& path);

    // Reads the file and takes the identity of what was actually read.
    static bool readAll(const std::string& path, std::string* text, FileIdentity* id);
    static bool makeDirectories(const std::string& dir);
    LONG save(int root);
    void reportCorruption(const std::string& description);

public:
    const std::string& lastParseError() const { return mLastParseError; }

private:
    std::string mLastParseError;
    std::string mDirectory;
    RootFile mFiles[kRootCount];
};

Store& TheStore();

template <class Change>
LONG Store::write(int root, Change change) {
    const std::string dir = Directory();
    if (!makeDirectories(dir)) return static_cast<LONG>(Win32ErrorFromErrno(errno));
    const int lockFd = ::open((dir + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lockFd < 0) return static_cast<LONG>(Win32ErrorFromErrno(errno));
    while (::flock(lockFd, LOCK_EX) != 0 && errno == EINTR) {}
    LONG result = refresh(root);
    if (result == ERROR_SUCCESS) {
        result = change(*mFiles[root].tree);
        if (result == ERROR_SUCCESS) result = save(root);
        if (result != ERROR_SUCCESS) mFiles[root].loaded = false;  // drop the unsaved change
    }
    ::close(lockFd);  // releases the lock
    return result;
}

}  // namespace platform::registry
