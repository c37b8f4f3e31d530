// The registry, kept as text files in the REGEDIT4 format: one file per root
// key (HKEY_LOCAL_MACHINE.reg, HKEY_CLASSES_ROOT.reg, HKEY_CURRENT_USER.reg)
// in the folder named by PLATFORM_REGISTRY_DIR (default kDefaultRegistryDir).
//
// Several processes may share the folder: writers hold an flock on a separate
// lock file, write a temporary file and rename it over the old one; readers
// reload a file whenever it has changed since their last read. A file that
// does not parse makes every operation on its root fail with ERROR_BADDB and
// is never overwritten, so no write can lose the keys it holds.
#pragma once

#include <string>

#include "platform/WinTypes.h"

struct RegistryKey;
using HKEY = RegistryKey*;
using PHKEY = HKEY*;
using REGSAM = DWORD;

#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000000u)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000002u)))

constexpr DWORD REG_NONE = 0, REG_SZ = 1, REG_EXPAND_SZ = 2, REG_BINARY = 3, REG_DWORD = 4, REG_MULTI_SZ = 7,
                REG_QWORD = 11;
constexpr REGSAM KEY_QUERY_VALUE = 0x1, KEY_SET_VALUE = 0x2, KEY_CREATE_SUB_KEY = 0x4, KEY_ENUMERATE_SUB_KEYS = 0x8,
                 KEY_READ = 0x20019, KEY_WRITE = 0x20006, KEY_ALL_ACCESS = 0xF003F;
constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1, REG_OPENED_EXISTING_KEY = 2;

inline constexpr const char* kDefaultRegistryDir = "/var/lib/platform/registry";

// All functions return a Windows error code (ERROR_SUCCESS on success).
// Strings are in the system ANSI code page; REG_SZ data include their NUL.
LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options, REGSAM access,
                     void* security, PHKEY result, DWORD* disposition);
LONG RegCloseKey(HKEY key);
LONG RegQueryValueExA(HKEY key, LPCSTR valueName, DWORD* reserved, DWORD* type, BYTE* data, DWORD* dataSize);
LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD dataSize);
LONG RegDeleteValueA(HKEY key, LPCSTR valueName);
// Deletes a key that has no subkeys.
LONG RegDeleteKeyA(HKEY key, LPCSTR subKey);
// Deletes a key with all its subkeys (subKey null or empty: the key's contents).
LONG RegDeleteTreeA(HKEY key, LPCSTR subKey);
LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, DWORD* nameLength, DWORD* reserved, LPSTR keyClass,
                   DWORD* classLength, void* lastWriteTime);
LONG RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, DWORD* valueNameLength, DWORD* reserved, DWORD* type,
                   BYTE* data, DWORD* dataSize);
LONG RegQueryInfoKeyA(HKEY key, LPSTR keyClass, DWORD* classLength, DWORD* reserved, DWORD* subKeys,
                      DWORD* maxSubKeyLength, DWORD* maxClassLength, DWORD* values, DWORD* maxValueNameLength,
                      DWORD* maxValueLength, DWORD* securityDescriptor, void* lastWriteTime);
// Only the local machine is reachable: a null, empty or own host name.
LONG RegConnectRegistryA(LPCSTR machineName, HKEY key, PHKEY result);

namespace platform::registry {
// The folder in use and the file that holds a root key.
std::string Directory();
std::string FileOf(HKEY root);
// A description of the last parse failure seen in this process ("" if none).
std::string LastParseError();
}  // namespace platform::registry
