// Any bytes parsed as a bookmark file give folders no deeper than the limit,
// each listed after its parent, and bookmarks with an address in a listed
// folder.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "BookmarkFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    const BookmarkFile::Contents contents = BookmarkFile::Parse(std::string(reinterpret_cast<const char*>(data), size));
    auto listed = [&](const BookmarkFile::FolderPath& folder, size_t before) {
        return folder.empty() || std::find(contents.folders.begin(), contents.folders.begin() + before, folder) !=
                                     contents.folders.begin() + before;
    };
    for (size_t i = 0; i < contents.folders.size(); ++i) {
        const BookmarkFile::FolderPath& folder = contents.folders[i];
        if (folder.empty() || folder.size() > BookmarkFile::kMaxDepth) std::abort();
        if (!listed(BookmarkFile::FolderPath(folder.begin(), folder.end() - 1), i)) std::abort();
    }
    for (const BookmarkFile::Bookmark& bookmark : contents.bookmarks)
        if (bookmark.url.empty() || !listed(bookmark.folder, contents.folders.size())) std::abort();
    return 0;
}
