// The object every kernel handle of the platform points at: files, file
// mappings, named streams and access tokens. CloseHandle deletes it.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/Files.h"

// Every kernel object handle points at one of these.
struct KernelObject {
    enum class Kind { File, Mapping, Stream, Token };
    explicit KernelObject(Kind objectKind, int descriptor = -1) : kind(objectKind), fd(descriptor) {}

    Kind kind;
    int fd = -1;
    size_t size = 0;  // mappings: the bytes to map
    // Named streams: the file, the attribute and the stream's bytes.
    std::string file;
    std::string attribute;
    std::string data;
    size_t position = 0;
    bool stored = false;  // the stream exists on disk
    bool failed = false;  // a write did not fit
    // Tokens: the account's ids, supplementary groups and name.
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;
    std::string account;
};

inline KernelObject* ObjectOf(HANDLE handle, KernelObject::Kind kind) {
    if (!handle || handle == INVALID_HANDLE_VALUE) return nullptr;
    auto* object = static_cast<KernelObject*>(handle);
    return object->kind == kind ? object : nullptr;
}
