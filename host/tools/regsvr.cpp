// regsvr [-u] MODULE: loads a component module and calls its registration
// (or, with -u, unregistration) export; says what happened and exits
// non-zero on failure.
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/Registry.h"
#include "platform/System.h"

namespace {

using EntryPoint = HRESULT (*)();

int Usage() {
    std::fprintf(stderr, "usage: regsvr [-u] MODULE\n");
    return 2;
}

std::string Describe(HRESULT hr) {
    char text[512];
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        static_cast<DWORD>(hr), 0, text, sizeof text, nullptr);
    std::string result(text, length);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r')) result.pop_back();
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    bool unregister = false;
    const char* module = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-u") == 0)
            unregister = true;
        else if (!module && argv[i][0] != '-')
            module = argv[i];
        else
            return Usage();
    }
    if (!module) return Usage();
    // Registration records the module's full path, so load it by that path.
    char resolved[PATH_MAX];
    if (!realpath(module, resolved)) {
        std::fprintf(stderr, "regsvr: %s: %s\n", module, std::strerror(errno));
        return 1;
    }
    void* handle = dlopen(resolved, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        std::fprintf(stderr, "regsvr: cannot load %s: %s\n", resolved, dlerror());
        return 1;
    }
    const char* entryName = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    auto entry = reinterpret_cast<EntryPoint>(dlsym(handle, entryName));
    if (!entry) {
        std::fprintf(stderr, "regsvr: %s has no %s entry point\n", resolved, entryName);
        return 1;
    }
    const HRESULT hr = entry();
    if (FAILED(hr)) {
        std::fprintf(stderr, "regsvr: %s in %s failed with 0x%08x: %s\n", entryName, resolved,
                     static_cast<unsigned>(hr), Describe(hr).c_str());
        return 1;
    }
    std::printf("%s in %s succeeded (registry folder %s).\n", entryName, resolved,
                platform::registry::Directory().c_str());
    return 0;
}
