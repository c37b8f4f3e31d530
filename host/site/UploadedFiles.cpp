#include "site/UploadedFiles.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "core/HttpText.h"

namespace {

namespace fs = std::filesystem;

// The first bytes of the pictures the component recognises.
const char* PictureType(const std::string& path) {
    unsigned char head[8] = {};
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const ssize_t n = fd >= 0 ? read(fd, head, sizeof head) : -1;
    if (fd >= 0) close(fd);
    if (n >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) return "image/jpeg";
    if (n >= 6 && (std::memcmp(head, "GIF87a", 6) == 0 || std::memcmp(head, "GIF89a", 6) == 0)) return "image/gif";
    if (n >= 8 && std::memcmp(head, "\x89PNG\r\n\x1a\n", 8) == 0) return "image/png";
    if (n >= 2 && head[0] == 'B' && head[1] == 'M') return "image/bmp";
    return nullptr;
}

}  // namespace

void UploadedFile(const PageRequest& request, Response& response) {
    char uploads[PATH_MAX], file[PATH_MAX];
    const std::string wanted = request.documentRoot + request.path;
    struct stat st {};
    if (request.path.find("/.") != std::string::npos ||
        !realpath((request.documentRoot + "/uploads").c_str(), uploads) || !realpath(wanted.c_str(), file) ||
        std::string(file).rfind(std::string(uploads) + "/", 0) != 0 || stat(file, &st) != 0 || !S_ISREG(st.st_mode)) {
        response.status = 404;
        response.contentType = "text/plain; charset=utf-8";
        response.body = "Not found.\n";
        return;
    }
    const char* picture = PictureType(file);
    const std::string name = fs::path(file).filename().string();
    response.file = file;
    response.contentType = picture ? picture : "application/octet-stream";
    response.headers.emplace_back("Content-Disposition", std::string(picture ? "inline" : "attachment") +
                                                             "; filename*=UTF-8''" + UrlEncodePath(name));
    response.headers.emplace_back("Content-Security-Policy", "sandbox");
}
