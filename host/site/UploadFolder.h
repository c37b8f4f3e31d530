// Where the upload site keeps an upload: a folder of its own under the
// document root's uploads/, the names its saved files get, the digests of
// those files, and the free space the site checks before and while saving.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/WinTypes.h"

// A folder of its own for each upload, named by the time and 64 random
// bits. Its files are saved into a staging folder of the same name under
// uploads/.incoming/, which is never served, and the folder appears under
// its final name only when kept, with every file whole: a server killed
// while saving leaves nothing under uploads/ that a visitor can fetch. A
// folder removes only what it created itself.
class UploadFolder {
public:
    explicit UploadFolder(const std::string& documentRoot);
    ~UploadFolder();
    UploadFolder(const UploadFolder&) = delete;
    UploadFolder& operator=(const UploadFolder&) = delete;

    // The folder's address once kept.
    const std::string& virtualPath() const { return mVirtual; }
    // Where its files are saved until it is kept.
    const std::filesystem::path& staging() const { return mStaging; }
    // Creates the staging folder, exclusively; false when it cannot be made
    // (noSpace() then tells whether the volume was full).
    bool create();
    bool noSpace() const { return mNoSpace; }
    // Puts the folder under its final name once its files are on the disk
    // (nothing when no file was saved); false when it cannot, and then the
    // folder is removed at the end.
    bool keep();
    // Removes a file of the folder (by its name, never a path that leaves it).
    void removeFile(const std::string& name);

private:
    void draw();

    std::string mDocumentRoot, mVirtual;
    std::filesystem::path mStaging;
    bool mCreated = false, mKept = false, mNoSpace = false;
};

// The staging folders of uploads that were never kept (their server ended
// while saving) once they are older than `maxAgeSeconds`. Safe while other
// servers save into the same uploads folder: a folder being saved into is
// younger than any sensible age.
void SweepAbandonedUploads(const std::string& documentRoot, long long maxAgeSeconds);

// Writes a file's or a folder's data to the disk (fsync); false when it cannot.
bool SyncToDisk(const std::filesystem::path& path);

// The name a saved file gets: its item number and the client's safe name,
// shortened in the middle so that its extension stays.
std::string SavedName(int number, std::string safeName);

// The digests of a form's saved files, made on a helper thread while the
// form's next items are read and saved; the page's own thread joins in when
// the last file is saved. Digesting is the largest part of an upload's work
// after the body has arrived, and the client's core is idle by then.
class SavedFileDigests {
public:
    ~SavedFileDigests() { finish(); }

    void add(const std::filesystem::path& saved);

    struct Digest {
        uint64_t length = 0;
        std::string sha256;
    };

    // Every file's length and digest, in the order the files were added; a
    // file that cannot be read gives those of no bytes.
    std::vector<Digest> finish();

private:
    void work();

    std::mutex mLock;
    std::condition_variable mReady;
    std::vector<std::filesystem::path> mFiles;
    std::vector<Digest> mResults;
    size_t mNext = 0;
    bool mClosed = false;
    std::thread mHelper;
};

// Room for an upload of `length` bytes: its copy in the temporary folder
// and its saved files (one figure when both are on one volume).
bool EnoughSpace(const std::string& documentRoot, long long length);
// A save that failed for want of space on the volume. The component gives
// the same error for a Macintosh resource fork larger than a file's
// attribute space: for a MacBinary item that is one item's failure, not a
// full disk, unless the volume has less room than the item.
bool VolumeIsFull(HRESULT hr, const std::filesystem::path& folder, long long itemLength, bool macBinary);
