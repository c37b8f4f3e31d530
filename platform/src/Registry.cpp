// Registry operations over the REGEDIT4 files of the registry folder.
#include "platform/Registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <iterator>
#include <new>

#include "RegistryFile.h"
#include "platform/System.h"

struct RegistryKey {
    int root;
    std::vector<std::string> path;  // components below the root
};

namespace platform::registry {
namespace {

constexpr const char* kRootNames[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"};
constexpr int kRootCount = 3;

int PredefinedRoot(HKEY key) {
    const auto value = reinterpret_cast<uintptr_t>(key);
    if (value >= 0x80000000u && value < 0x80000000u + kRootCount) return static_cast<int>(value - 0x80000000u);
    return -1;
}

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

    // Makes the cached tree of `root` current; false when the file is corrupt.
    LONG refresh(int root) {
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

    Key* tree(int root) { return mFiles[root].tree.get(); }

    // Runs `change` on the current tree of `root` under the folder's write
    // lock and stores the result; the change returns a Windows error code.
    template <class Change>
    LONG write(int root, Change change) {
        const std::string dir = Directory();
        if (!makeDirectories(dir)) return static_cast<LONG>(Win32ErrorFromErrno(errno));
        const int lockFd = ::open((dir + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (lockFd < 0) return static_cast<LONG>(Win32ErrorFromErrno(errno));
        while (::flock(lockFd, LOCK_EX) != 0 && errno == EINTR) {
        }
        LONG result = refresh(root);
        if (result == ERROR_SUCCESS) {
            result = change(*mFiles[root].tree);
            if (result == ERROR_SUCCESS) result = save(root);
            if (result != ERROR_SUCCESS) mFiles[root].loaded = false;  // drop the unsaved change
        }
        ::close(lockFd);  // releases the lock
        return result;
    }

private:
    void useDirectory() {
        const std::string dir = Directory();
        if (dir != mDirectory) {
            mDirectory = dir;
            for (RootFile& f : mFiles) f = RootFile();
        }
    }

    static std::string filePath(int root) { return Directory() + "/" + kRootNames[root] + ".reg"; }

    static std::unique_ptr<Key> emptyTree(int root) {
        auto tree = std::make_unique<Key>();
        tree->name = kRootNames[root];
        return tree;
    }

    static FileIdentity identityOf(const std::string& path) {
        struct stat st{};
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
    static bool readAll(const std::string& path, std::string* text, FileIdentity* id) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            if (errno == ENOENT) {
                *id = FileIdentity();
                return true;
            }
            return false;
        }
        struct stat st{};
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

    static bool makeDirectories(const std::string& dir) {
        for (size_t pos = 1; pos <= dir.size(); ++pos) {
            if (pos == dir.size() || dir[pos] == '/') {
                const std::string part = dir.substr(0, pos);
                if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
            }
        }
        return true;
    }

    LONG save(int root) {
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
        struct stat st{};
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

    void reportCorruption(const std::string& description) {
        mLastParseError = description;
        syslog(LOG_ERR, "registry file is corrupt, its keys are not used: %s", description.c_str());
    }

public:
    const std::string& lastParseError() const { return mLastParseError; }

private:
    std::string mLastParseError;
    std::string mDirectory;
    RootFile mFiles[kRootCount];
};

Store& TheStore() {
    static Store* store = new Store;  // never destroyed: used until the process ends
    return *store;
}

// Splits a subkey path at backslashes; empty components are skipped.
bool SplitPath(LPCSTR subKey, std::vector<std::string>* parts) {
    if (!subKey) return true;
    std::string text = subKey;
    if (!text.empty() && text[0] == '\\') return false;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\\', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) parts->push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return true;
}

// Resolves a handle plus subkey into a root and a full path.
LONG Resolve(HKEY key, LPCSTR subKey, int* root, std::vector<std::string>* path) {
    const int predefined = PredefinedRoot(key);
    if (predefined >= 0) {
        *root = predefined;
        path->clear();
    } else if (key) {
        *root = key->root;
        *path = key->path;
    } else {
        return ERROR_INVALID_HANDLE;
    }
    return SplitPath(subKey, path) ? ERROR_SUCCESS : static_cast<LONG>(ERROR_INVALID_PARAMETER);
}

Key* Find(Key* tree, const std::vector<std::string>& path) {
    Key* key = tree;
    for (const std::string& part : path) {
        if (!key) return nullptr;
        key = key->child(part);
    }
    return key;
}

// Finds the key a handle and subkey name, refreshing the root first. A
// handle whose own key has gone gives ERROR_KEY_DELETED.
LONG FindKey(Store& store, HKEY key, LPCSTR subKey, Key** found, int* root = nullptr,
             std::vector<std::string>* path = nullptr) {
    int rootIndex = 0;
    std::vector<std::string> parts;
    LONG result = Resolve(key, subKey, &rootIndex, &parts);
    if (result != ERROR_SUCCESS) return result;
    result = store.refresh(rootIndex);
    if (result != ERROR_SUCCESS) return result;
    *found = Find(store.tree(rootIndex), parts);
    if (!*found)
        return static_cast<LONG>(PredefinedRoot(key) < 0 && (!subKey || !*subKey) ? ERROR_KEY_DELETED
                                                                                  : ERROR_FILE_NOT_FOUND);
    if (root) *root = rootIndex;
    if (path) *path = std::move(parts);
    return ERROR_SUCCESS;
}

HKEY NewHandle(int root, std::vector<std::string> path) {
    return new (std::nothrow) RegistryKey{root, std::move(path)};
}

// Copies `bytes` into a caller's buffer with the registry's size rules.
LONG CopyOut(const std::vector<BYTE>& bytes, BYTE* data, DWORD* dataSize) {
    if (!dataSize) return data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    const DWORD needed = static_cast<DWORD>(bytes.size());
    if (data && *dataSize < needed) {
        *dataSize = needed;
        return ERROR_MORE_DATA;
    }
    if (data && needed) std::memcpy(data, bytes.data(), needed);
    *dataSize = needed;
    return ERROR_SUCCESS;
}

LONG CopyName(const std::string& name, LPSTR buffer, DWORD* length) {
    if (!buffer || !length) return ERROR_INVALID_PARAMETER;
    if (*length <= name.size()) return ERROR_MORE_DATA;
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    *length = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

}  // namespace

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

using namespace platform::registry;

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM, PHKEY result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.mutex);
    int root = 0;
    std::vector<std::string> path;
    Key* found = nullptr;
    const LONG status = FindKey(store, key, subKey, &found, &root, &path);
    if (status != ERROR_SUCCESS) return status;
    *result = NewHandle(root, std::move(path));
    return *result ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
}

LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM, void*, PHKEY result,
                     DWORD* disposition) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    int root = 0;
    std::vector<std::string> path;
    LONG status = Resolve(key, subKey, &root, &path);
    if (status != ERROR_SUCCESS) return status;
    for (const std::string& part : path)
        if (!IsStorableName(part, true)) return ERROR_INVALID_PARAMETER;
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.mutex);
    const size_t ownDepth = PredefinedRoot(key) >= 0 ? 0 : key->path.size();
    bool created = false;
    status = store.write(root, [&](Key& tree) -> LONG {
        Key* k = &tree;
        for (size_t i = 0; i < path.size(); ++i) {
            Key* next = k->child(path[i]);
            if (!next) {
                if (i < ownDepth) return ERROR_KEY_DELETED;
                next = k->addChild(path[i]);
                created = true;
            }
            k = next;
        }
        return ERROR_SUCCESS;
    });
    if (status != ERROR_SUCCESS) return status;
    if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *result = NewHandle(root, std::move(path));
    return *result ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
}

LONG RegCloseKey(HKEY key) {
    if (!key) return ERROR_INVALID_HANDLE;
    if (PredefinedRoot(key) < 0) delete key;
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, DWORD*, DWORD* type, BYTE* data, DWORD* dataSize) {
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.mutex);
    Key* found = nullptr;
    LONG status = FindKey(store, key, nullptr, &found);
    if (status != ERROR_SUCCESS) return status;
    const Value* value = found->value(valueName ? valueName : "");
    if (!value) return ERROR_FILE_NOT_FOUND;
    if (type) *type = value->type;
    return CopyOut(value->data, data, dataSize);
}

LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD dataSize) {
    const std::string name = valueName ? valueName : "";
    if (!IsStorableName(name, false) || (!data && dataSize)) return ERROR_INVALID_PARAMETER;
    int root = 0;
    std::vector<std::string> path;
    const LONG status = Resolve(key, nullptr, &root, &path);
    if (status != ERROR_SUCCESS) return status;
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.mutex);
    return store.write(root, [&](Key& tree) -> LONG {
        Key* k = Find(&tree, path);
        if (!k) return ERROR_KEY_DELETED;
        Value fresh{name, type, std::vector<BYTE>(data, data + dataSize)};
        if (Value* existing = k->value(name)) {
            existing->type = type;
            existing->data = std::move(fresh.data);
        } else {
            k->values.push_back(std::move(fresh));
        }
        return ERROR_SUCCESS;
    });
}

LONG RegDeleteValueA(HKEY key, LPCSTR valueName) {
    int root = 0;
    std::vector<std::string> path;
    const LONG status = Resolve(key, nullptr, &root, &path);
    if (status != ERROR_SUCCESS) return status;
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.mutex);
    return store.write(root, [&](Key& tree) -> LONG {
        Key* k = Find(&tree, path);
        if (!k) return ERROR_KEY_DELETED;
        return k->removeValue(valueName ? valueName : "") ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    });
}

namespace {

LONG DeleteKey(HKEY key, LPCSTR subKey, bool wholeTree) {
    int root = 0;
    std::vector<std::string> path;
    LONG status = Resolve(key, subKey, &root, &path);
    if (status != ERROR_SUCCESS) return status;
    const bool contentsOnly = wholeTree && (!subKey || !*subKey);
    if (path.empty() && !contentsOnly) return ERROR_ACCESS_DENIED;  // a root key cannot be deleted
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.mutex);
    return store.write(root, [&](Key& tree) -> LONG {
        if (contentsOnly) {
            Key* k = Find(&tree, path);
            if (!k) return ERROR_KEY_DELETED;
            k->children.clear();
            k->values.clear();
            return ERROR_SUCCESS;
        }
        std::vector<std::string> parentPath(path.begin(), path.end() - 1);
        Key* parent = Find(&tree, parentPath);
        Key* target = parent ? parent->child(path.back()) : nullptr;
        if (!target) return ERROR_FILE_NOT_FOUND;
        if (!wholeTree && !target->children.empty()) return ERROR_ACCESS_DENIED;
        parent->children.erase(FoldName(path.back()));
        return ERROR_SUCCESS;
    });
}

}  // namespace

LONG RegDeleteKeyA(HKEY key, LPCSTR subKey) { return DeleteKey(key, subKey, false); }

LONG RegDeleteTreeA(HKEY key, LPCSTR subKey) { return DeleteKey(key, subKey, true); }

LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, DWORD* nameLength, DWORD*, LPSTR, DWORD*, void*) {
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.mutex);
    Key* found = nullptr;
    LONG status = FindKey(store, key, nullptr, &found);
    if (status != ERROR_SUCCESS) return status;
    if (index >= found->children.size()) return ERROR_NO_MORE_ITEMS;
    auto it = found->children.begin();
    std::advance(it, index);
    return CopyName(it->second->name, name, nameLength);
}

LONG RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, DWORD* valueNameLength, DWORD*, DWORD* type,
                   BYTE* data, DWORD* dataSize) {
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.mutex);
    Key* found = nullptr;
    LONG status = FindKey(store, key, nullptr, &found);
    if (status != ERROR_SUCCESS) return status;
    if (index >= found->values.size()) return ERROR_NO_MORE_ITEMS;
    const Value& value = found->values[index];
    status = CopyName(value.name, valueName, valueNameLength);
    if (status != ERROR_SUCCESS) return status;
    if (type) *type = value.type;
    return CopyOut(value.data, data, dataSize);
}

LONG RegQueryInfoKeyA(HKEY key, LPSTR, DWORD* classLength, DWORD*, DWORD* subKeys, DWORD* maxSubKeyLength,
                      DWORD* maxClassLength, DWORD* values, DWORD* maxValueNameLength, DWORD* maxValueLength,
                      DWORD* securityDescriptor, void*) {
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.mutex);
    Key* found = nullptr;
    LONG status = FindKey(store, key, nullptr, &found);
    if (status != ERROR_SUCCESS) return status;
    DWORD longestKey = 0, longestName = 0, longestData = 0;
    for (const auto& [folded, child] : found->children)
        longestKey = std::max<DWORD>(longestKey, static_cast<DWORD>(child->name.size()));
    for (const Value& v : found->values) {
        longestName = std::max<DWORD>(longestName, static_cast<DWORD>(v.name.size()));
        longestData = std::max<DWORD>(longestData, static_cast<DWORD>(v.data.size()));
    }
    if (classLength) *classLength = 0;
    if (maxClassLength) *maxClassLength = 0;
    if (securityDescriptor) *securityDescriptor = 0;
    if (subKeys) *subKeys = static_cast<DWORD>(found->children.size());
    if (maxSubKeyLength) *maxSubKeyLength = longestKey;
    if (values) *values = static_cast<DWORD>(found->values.size());
    if (maxValueNameLength) *maxValueNameLength = longestName;
    if (maxValueLength) *maxValueLength = longestData;
    return ERROR_SUCCESS;
}

LONG RegConnectRegistryA(LPCSTR machineName, HKEY key, PHKEY result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    if (PredefinedRoot(key) < 0) return ERROR_INVALID_HANDLE;
    std::string machine = machineName ? machineName : "";
    while (!machine.empty() && machine[0] == '\\') machine.erase(0, 1);
    if (!machine.empty() && strcasecmp(machine.c_str(), LocalMachineName().c_str()) != 0 &&
        machine != "." && strcasecmp(machine.c_str(), "localhost") != 0)
        return ERROR_BAD_NETPATH;
    *result = key;
    return ERROR_SUCCESS;
}
