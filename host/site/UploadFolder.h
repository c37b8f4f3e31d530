// Where the upload site keeps an upload: a folder of its own under the
// document root's uploads/, and the names its saved files get.
#pragma once

#include <filesystem>
#include <map>
#include <string>

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
    // Tells how a sync of a file of the folder (by its name) went: one on
    // the disk is not synced again when the folder is kept, and one whose
    // sync failed keeps the folder from being kept (a second sync could
    // succeed without writing: the kernel reports a write error once).
    void fileSynced(const std::string& name, bool onDisk) { mSynced[name] = onDisk; }
    // Removes a file of the folder (by its name, never a path that leaves it),
    // and what its sync told.
    void removeFile(const std::string& name);

private:
    void draw();

    std::string mDocumentRoot, mVirtual;
    std::filesystem::path mStaging;
    std::map<std::string, bool> mSynced;  // by name: on the disk, or its sync failed
    bool mCreated = false, mKept = false, mNoSpace = false;
};

// The staging folders of uploads that were never kept (their server ended
// while saving) once they are older than `maxAgeSeconds`. Safe while other
// servers save into the same uploads folder: a folder being saved into is
// younger than any sensible age.
void SweepAbandonedUploads(const std::string& documentRoot, long long maxAgeSeconds);

// The name a saved file gets: its item number and the client's safe name,
// shortened in the middle so that its extension stays.
std::string SavedName(int number, std::string safeName);
