// Registry operations over the REGEDIT4 files of the registry folder.
#include "platform/Registry.h"

#include <strings.h>

#include <algorithm>
#include <iterator>
#include <mutex>

#include "RegistryKeys.h"
#include "RegistryStore.h"
#include "platform/System.h"

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

LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM, void*, PHKEY result, DWORD* disposition) {
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

LONG RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, DWORD* valueNameLength, DWORD*, DWORD* type, BYTE* data,
                   DWORD* dataSize) {
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
    if (!machine.empty() && strcasecmp(machine.c_str(), LocalMachineName().c_str()) != 0 && machine != "." &&
        strcasecmp(machine.c_str(), "localhost") != 0)
        return ERROR_BAD_NETPATH;
    *result = key;
    return ERROR_SUCCESS;
}
