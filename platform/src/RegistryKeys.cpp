// Registry keys by handle: predefined roots, handles and paths resolved in
// the current tree, and names and data copied out to callers.
#include "RegistryKeys.h"

#include <cstring>
#include <new>

namespace platform::registry {

namespace {

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

}  // namespace

int PredefinedRoot(HKEY key) {
    const auto value = reinterpret_cast<uintptr_t>(key);
    if (value >= 0x80000000u && value < 0x80000000u + kRootCount) return static_cast<int>(value - 0x80000000u);
    return -1;
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
LONG FindKey(Store& store, HKEY key, LPCSTR subKey, Key** found, int* root, std::vector<std::string>* path) {
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

}  // namespace platform::registry
