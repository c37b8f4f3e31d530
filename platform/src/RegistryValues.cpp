#include "platform/RegistryValues.h"

#include <vector>

namespace platform::registry {

bool ReadString(HKEY root, const std::string& path, const char* valueName, std::string* out) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    DWORD type = 0, size = 0;
    LONG status = RegQueryValueExA(key, valueName, nullptr, &type, nullptr, &size);
    std::vector<BYTE> data(size + 1);
    if (status == ERROR_SUCCESS) status = RegQueryValueExA(key, valueName, nullptr, &type, data.data(), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
    out->assign(reinterpret_cast<const char*>(data.data()), size);
    while (!out->empty() && out->back() == '\0') out->pop_back();
    return true;
}

bool ReadDword(HKEY root, const std::string& path, const char* valueName, DWORD* out) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    DWORD type = 0, value = 0, size = sizeof value;
    const LONG status = RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value) return false;
    *out = value;
    return true;
}

namespace {
LONG WriteValue(HKEY root, const std::string& path, const char* valueName, DWORD type, const BYTE* data, DWORD size) {
    HKEY key = nullptr;
    LONG status =
        RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) return status;
    status = RegSetValueExA(key, valueName, 0, type, data, size);
    RegCloseKey(key);
    return status;
}
}  // namespace

LONG WriteString(HKEY root, const std::string& path, const char* valueName, const std::string& value) {
    return WriteValue(root, path, valueName, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                      static_cast<DWORD>(value.size() + 1));
}

LONG WriteDword(HKEY root, const std::string& path, const char* valueName, DWORD value) {
    return WriteValue(root, path, valueName, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

}  // namespace platform::registry
