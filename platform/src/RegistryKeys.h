// Registry keys as handles name them: a root and a path below it, found in
// the root's current tree; and the copying of names and data to callers'
// buffers. Internal to the registry functions.
#pragma once

#include <string>
#include <vector>

#include "RegistryStore.h"

struct RegistryKey {
    int root;
    std::vector<std::string> path;  // components below the root
};

namespace platform::registry {

// The index of a predefined root key (HKEY_CLASSES_ROOT...), or -1.
int PredefinedRoot(HKEY key);

// Resolves a handle plus subkey into a root and a full path.
LONG Resolve(HKEY key, LPCSTR subKey, int* root, std::vector<std::string>* path);

Key* Find(Key* tree, const std::vector<std::string>& path);

// Finds the key a handle and subkey name, refreshing the root first. A
// handle whose own key has gone gives ERROR_KEY_DELETED.
LONG FindKey(Store& store, HKEY key, LPCSTR subKey, Key** found, int* root = nullptr,
             std::vector<std::string>* path = nullptr);

HKEY NewHandle(int root, std::vector<std::string> path);

// Copies `bytes` into a caller's buffer with the registry's size rules.
LONG CopyOut(const std::vector<BYTE>& bytes, BYTE* data, DWORD* dataSize);

LONG CopyName(const std::string& name, LPSTR buffer, DWORD* length);

}  // namespace platform::registry
