#include "NamedStreams.h"

#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>
#include <new>

#include "platform/System.h"

namespace platform::files {

// "file:stream" names a stream when "file" is an existing regular file; its
// bytes live in the user attribute "user.DosStream.<stream>:$DATA" followed
// by one zero byte (the layout Samba's streams_xattr uses).
bool SplitStreamPath(const std::string& path, std::string* file, std::string* attribute) {
    const size_t slash = path.find_last_of('/');
    const size_t colon = path.find(':', slash == std::string::npos ? 0 : slash + 1);
    if (colon == std::string::npos || colon + 1 >= path.size()) return false;
    struct stat st {};
    if (::stat(path.substr(0, colon).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    *file = path.substr(0, colon);
    std::string stream = path.substr(colon + 1);
    if (stream.size() > 6 && stream.compare(stream.size() - 6, 6, ":$DATA") == 0) stream.resize(stream.size() - 6);
    *attribute = "user.DosStream." + stream + ":$DATA";
    return true;
}

// Stores a stream's bytes and its zero byte in one call, so that a stream
// that does not fit leaves nothing half-written (disk full, 112).
bool CommitStream(KernelObject* stream) {
    std::string value = stream->data;
    value.push_back('\0');
    if (::setxattr(stream->file.c_str(), stream->attribute.c_str(), value.data(), value.size(), 0) == 0) {
        stream->stored = true;
        return true;
    }
    stream->failed = true;
    SetLastError(errno == E2BIG || errno == ENOSPC || errno == ERANGE ? ERROR_DISK_FULL : Win32ErrorFromErrno(errno));
    return false;
}

HANDLE OpenStream(const std::string& file, const std::string& attribute, DWORD disposition) {
    auto* stream = new (std::nothrow) KernelObject(KernelObject::Kind::Stream);
    if (!stream) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    stream->file = file;
    stream->attribute = attribute;
    const ssize_t size = ::getxattr(file.c_str(), attribute.c_str(), nullptr, 0);
    const bool exists = size >= 0;
    if (!exists && errno != ENODATA) {
        delete stream;
        SetLastError(errno == ENOTSUP ? ERROR_NOT_SUPPORTED : Win32ErrorFromErrno(errno));
        return INVALID_HANDLE_VALUE;
    }
    if ((disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING) && !exists) {
        delete stream;
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (disposition == CREATE_NEW && exists) {
        delete stream;
        SetLastError(ERROR_FILE_EXISTS);
        return INVALID_HANDLE_VALUE;
    }
    if (exists && disposition != CREATE_ALWAYS && disposition != TRUNCATE_EXISTING) {
        stream->data.resize(static_cast<size_t>(size));
        const ssize_t read = ::getxattr(file.c_str(), attribute.c_str(), stream->data.data(), stream->data.size());
        stream->data.resize(read > 0 ? static_cast<size_t>(read) - 1 : 0);  // without the zero byte
    }
    stream->stored = exists;
    SetLastError(0);
    return stream;
}

}  // namespace platform::files
