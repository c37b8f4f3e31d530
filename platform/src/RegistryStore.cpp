// The registry folder's files as the process sees them: reading, parsing
// and replacing each root key's file, and the folder in use.
#include "RegistryStore.h"

#include <syslog.h>

#include <cstdlib>

#include "RegistryKeys.h"

namespace platform::registry {

// Makes the cached tree of `root` current; false when the file is corrupt.
LONG Store::refresh(int root) {
    useDirectory();
    RootFile& file = mFiles[root];
    const std::string path = filePath(root);
    FileIdentity now = identityOf(path);
    if (file.loaded && now == file.identity) return file.parseError.empty() ? ERROR_SUCCESS : ERROR_BADDB;
    std::string text;
    if (now.exists && !readAll(path, &text, &now)) return ERROR_CANTREAD;
    file.loaded = true;
    file.identity = now;
    file.parseError.clear();
    if (!now.exists) {
        file.tree = emptyTree(root);
        return ERROR_SUCCESS;
    }
    std::string error;
    file.tree = ParseRegFile(text, kRootNames[root], &error);
    if (!file.tree) {
        file.parseError = path + ": " + error;
        reportCorruption(file.parseError);
        return ERROR_BADDB;
    }
    return ERROR_SUCCESS;
}

void Store::useDirectory() {
    const std::string dir = Directory();
    if (dir != mDirectory) {
        mDirectory = dir;
        for (RootFile& f : mFiles) f = RootFile();
    }
}

std::unique_ptr<Key> Store::emptyTree(int root) {
    auto tree = std::make_unique<Key>();
    tree->name = kRootNames[root];
    return tree;
}

FileIdentity Store::identityOf(const std::string& path) {
    struct stat st {};
    FileIdentity id;
    if (::stat(path.c_str(), &st) != 0) return id;
    id.exists = true;
    id.device = st.st_dev;
    id.inode = st.st_ino;
    id.size = st.st_size;
    id.modified = st.st_mtim;
    return id;
}

// Reads the file and takes the identity of what was actually read.
bool Store::readAll(const std::string& path, std::string* text, FileIdentity* id) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            *id = FileIdentity();
            return true;
        }
        return false;
    }
    struct stat st {};
    ::fstat(fd, &st);
    id->exists = true;
    id->device = st.st_dev;
    id->inode = st.st_ino;
    id->size = st.st_size;
    id->modified = st.st_mtim;
    // Read into the string itself: registry calls also run on the small
    // stacks of web server threads.
    text->resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < text->size()) {
        const ssize_t n = ::read(fd, text->data() + done, text->size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return false;
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    text->resize(done);
    ::close(fd);
    return true;
}

bool Store::makeDirectories(const std::string& dir) {
    for (size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos == dir.size() || dir[pos] == '/') {
            const std::string part = dir.substr(0, pos);
            if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
        }
    }
    return true;
}

LONG Store::save(int root) {
    const std::string path = filePath(root);
    std::string tempPath = path + ".XXXXXX";
    const int fd = ::mkstemp(tempPath.data());
    if (fd < 0) return static_cast<LONG>(Win32ErrorFromErrno(errno));
    const std::string text = FormatRegFile(*mFiles[root].tree, kRootNames[root]);
    size_t done = 0;
    int error = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            error = errno;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (!error && ::fchmod(fd, 0644) != 0) error = errno;
    if (!error && ::fdatasync(fd) != 0) error = errno;
    struct stat st {};
    ::fstat(fd, &st);
    ::close(fd);
    if (!error && ::rename(tempPath.c_str(), path.c_str()) != 0) error = errno;
    if (error) {
        ::unlink(tempPath.c_str());
        return static_cast<LONG>(Win32ErrorFromErrno(error));
    }
    FileIdentity& id = mFiles[root].identity;
    id.exists = true;
    id.device = st.st_dev;
    id.inode = st.st_ino;
    id.size = st.st_size;
    id.modified = st.st_mtim;
    return ERROR_SUCCESS;
}

void Store::reportCorruption(const std::string& description) {
    mLastParseError = description;
    syslog(LOG_ERR, "registry file is corrupt, its keys are not used: %s", description.c_str());
}

Store& TheStore() {
    static Store* store = new Store;  // never destroyed: used until the process ends
    return *store;
}

std::string Directory() {
    const char* dir = std::getenv("PLATFORM_REGISTRY_DIR");
    return dir && *dir ? dir : kDefaultRegistryDir;
}

std::string FileOf(HKEY root) {
    const int index = PredefinedRoot(root);
    return index < 0 ? std::string() : Directory() + "/" + kRootNames[index] + ".reg";
}

std::string LastParseError() {
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.mutex);
    return store.lastParseError();
}

}  // namespace platform::registry
