#include "site/UploadFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>

#include "core/HttpText.h"

namespace fs = std::filesystem;

namespace {

// Client names are kept to this many bytes in saved names, so that a name
// fits any volume (255 bytes) and leaves room for the folder.
constexpr size_t kMaxSavedNameBytes = 100;

// Where uploads are saved until they are kept, under uploads/; the site
// never serves a path with a segment that starts with a dot.
constexpr const char* kStagingFolder = ".incoming";

// Cuts UTF-8 text to at most `bytes` bytes without splitting a character.
std::string CutUtf8(const std::string& text, size_t bytes) {
    if (text.size() <= bytes) return text;
    size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

// Writes a file's or a folder's data to the disk (fsync); false when it cannot.
bool SyncToDisk(const fs::path& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = fsync(fd) == 0;
    close(fd);
    return synced;
}

}  // namespace

UploadFolder::UploadFolder(const std::string& documentRoot) : mDocumentRoot(documentRoot) { draw(); }

void UploadFolder::draw() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &utc);
    uint64_t bits = 0;
    RandomBytes(&bits, sizeof bits);
    const std::string name = std::string(stamp) + "-" + HexText(&bits, sizeof bits);
    mVirtual = "/uploads/" + name;
    mStaging = fs::path(mDocumentRoot) / "uploads" / kStagingFolder / name;
}

UploadFolder::~UploadFolder() {
    std::error_code ignored;
    if (mCreated && !mKept) fs::remove_all(mStaging, ignored);
}

bool UploadFolder::create() {
    if (mCreated) return true;
    std::error_code ignored;
    fs::create_directories(mStaging.parent_path(), ignored);
    // A name already taken (by another server sharing the folder) is drawn again.
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (mkdir(mStaging.c_str(), 0755) == 0) return mCreated = true;
        if (errno != EEXIST) {
            mNoSpace = errno == ENOSPC || errno == EDQUOT;
            return false;
        }
        draw();
    }
    return false;
}

bool UploadFolder::keep() {
    if (!mCreated) return mKept = true;
    // Every file, and the folder, on the disk before the folder appears: a
    // visitor is never told of an upload that a power cut could take back.
    std::error_code error;
    for (fs::directory_iterator entry(mStaging, error), end; !error && entry != end; entry.increment(error))
        if (const auto synced = mSynced.find(entry->path().filename().string()); synced != mSynced.end()) {
            if (!synced->second) return false;
        } else if (!SyncToDisk(entry->path())) {
            return false;
        }
    const fs::path final = fs::path(mDocumentRoot) / mVirtual.substr(1);
    if (error || !SyncToDisk(mStaging) ||
        renameat2(AT_FDCWD, mStaging.c_str(), AT_FDCWD, final.c_str(), RENAME_NOREPLACE) != 0 ||
        !SyncToDisk(final.parent_path()))
        return false;
    return mKept = true;
}

void UploadFolder::removeFile(const std::string& name) {
    std::error_code ignored;
    mSynced.erase(fs::path(name).filename().string());
    if (mCreated) fs::remove(mStaging / fs::path(name).filename(), ignored);
}

void SweepAbandonedUploads(const std::string& documentRoot, long long maxAgeSeconds) {
    std::error_code error;
    const fs::path staging = fs::path(documentRoot) / "uploads" / kStagingFolder;
    const auto oldest = fs::file_time_type::clock::now() - std::chrono::seconds(maxAgeSeconds);
    // Links are never followed: only folders this site made are removed.
    if (!fs::is_directory(fs::symlink_status(staging, error))) return;
    for (fs::directory_iterator entry(staging, error), end; !error && entry != end; entry.increment(error)) {
        std::error_code ignored;
        if (fs::is_directory(entry->symlink_status(ignored)) && entry->last_write_time(ignored) < oldest)
            fs::remove_all(entry->path(), ignored);
    }
}

std::string SavedName(int number, std::string safeName) {
    for (char& c : safeName)
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 32) c = '_';
    if (safeName.empty() || safeName == "." || safeName == "..") safeName = "file";
    if (safeName.size() > kMaxSavedNameBytes) {
        const size_t dot = safeName.rfind('.');
        const std::string extension =
            dot != std::string::npos && safeName.size() - dot <= 16 ? safeName.substr(dot) : std::string();
        safeName =
            CutUtf8(safeName.substr(0, safeName.size() - extension.size()), kMaxSavedNameBytes - extension.size()) +
            extension;
    }
    return std::to_string(number) + "-" + safeName;
}
