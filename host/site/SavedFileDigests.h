#pragma once

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The digests of a form's saved files, made on a helper thread while the
// form's next items are read and saved, and the files written to the disk;
// the page's own thread joins in when the last file is saved. Digesting is
// the largest part of an upload's work after the body has arrived, and the
// client's core is idle by then.
class SavedFileDigests {
public:
    ~SavedFileDigests() { finish(); }

    void add(const std::filesystem::path& saved);

    struct Digest {
        uint64_t length = 0;
        std::string sha256;
        // Whether its data was written to the disk (fsync): a failed sync is
        // told apart from none, since the kernel reports a write error once.
        enum class Sync { NotTried, OnDisk, Failed } sync = Sync::NotTried;
    };

    // Every file's length and digest, in the order the files were added; a
    // file that cannot be read gives those of no bytes.
    std::vector<Digest> finish();

private:
    void work();
    void digest(size_t number);
    void sync(size_t number);

    std::mutex mLock;
    std::condition_variable mReady;
    std::vector<std::filesystem::path> mFiles;
    std::vector<Digest> mResults;
    size_t mNext = 0;      // the next file to digest
    size_t mNextSync = 0;  // the next digested file to sync
    bool mClosed = false;
    std::thread mHelper;
};
