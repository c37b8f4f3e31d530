// reg add KEY /v NAME /t REG_DWORD|REG_SZ /d DATA
// reg query KEY /v NAME
// Sets or shows one value of the registry folder in force
// ($PLATFORM_REGISTRY_DIR), as the administrator's tool of the same name
// does: KEY starts with HKLM, HKCU or HKCR (or the root's full name).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/RegistryValues.h"
#include "platform/System.h"

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: reg add KEY /v NAME /t REG_DWORD|REG_SZ /d DATA\n"
                 "       reg query KEY /v NAME\n");
    return 2;
}

bool SplitKey(const std::string& key, HKEY* root, std::string* path) {
    const size_t slash = key.find('\\');
    const std::string head = key.substr(0, slash);
    *path = slash == std::string::npos ? "" : key.substr(slash + 1);
    if (head == "HKLM" || head == "HKEY_LOCAL_MACHINE")
        *root = HKEY_LOCAL_MACHINE;
    else if (head == "HKCU" || head == "HKEY_CURRENT_USER")
        *root = HKEY_CURRENT_USER;
    else if (head == "HKCR" || head == "HKEY_CLASSES_ROOT")
        *root = HKEY_CLASSES_ROOT;
    else
        return false;
    return true;
}

int Failed(LONG status) {
    char text[512];
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        static_cast<DWORD>(status), 0, text, sizeof text, nullptr);
    std::fprintf(stderr, "reg: error %ld: %.*s", static_cast<long>(status), static_cast<int>(length), text);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string verb = argv[1];
    HKEY root = nullptr;
    std::string path, name, type = "REG_SZ", data;
    if (!SplitKey(argv[2], &root, &path)) return Usage();
    for (int i = 3; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "/v")
            name = argv[i + 1];
        else if (option == "/t")
            type = argv[i + 1];
        else if (option == "/d")
            data = argv[i + 1];
        else
            return Usage();
    }
    if (name.empty()) return Usage();
    if (verb == "query") {
        HKEY key = nullptr;
        LONG status = RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key);
        if (status != ERROR_SUCCESS) return Failed(status);
        BYTE value[4096];
        DWORD size = sizeof value - 1, kind = 0;
        status = RegQueryValueExA(key, name.c_str(), nullptr, &kind, value, &size);
        RegCloseKey(key);
        if (status != ERROR_SUCCESS) return Failed(status);
        if (kind == REG_DWORD)
            std::printf("%s\tREG_DWORD\t0x%x\n", name.c_str(), *reinterpret_cast<DWORD*>(value));
        else
            std::printf("%s\tREG_SZ\t%.*s\n", name.c_str(), static_cast<int>(size), reinterpret_cast<char*>(value));
        return 0;
    }
    if (verb != "add") return Usage();
    LONG status;
    if (type == "REG_DWORD") {
        char* end = nullptr;
        const unsigned long number = std::strtoul(data.c_str(), &end, 0);
        if (data.empty() || *end || number > 0xFFFFFFFFul) return Usage();
        status = platform::registry::WriteDword(root, path, name.c_str(), static_cast<DWORD>(number));
    } else if (type == "REG_SZ") {
        status = platform::registry::WriteString(root, path, name.c_str(), data);
    } else {
        return Usage();
    }
    return status == ERROR_SUCCESS ? 0 : Failed(status);
}
