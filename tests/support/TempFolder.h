// A folder of its own for one test, removed with everything in it.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

class TempFolder {
public:
    explicit TempFolder(const std::string& prefix) {
        std::string pattern = "/tmp/" + prefix + "-XXXXXX";
        mPath = mkdtemp(pattern.data());
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(mPath, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return mPath; }

private:
    std::filesystem::path mPath;
};
