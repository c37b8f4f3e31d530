// Bookmark files in the HTML form browsers export ("NETSCAPE-Bookmark-file-1"):
// folders are <H3> headings followed by a <DL> list, bookmarks are <A HREF>
// links, <DD> descriptions are ignored. Plain C++ so that any bytes can be
// fuzzed; malformed files give whatever bookmarks can be recognised.
#pragma once

#include <string>
#include <vector>

namespace BookmarkFile {

using FolderPath = std::vector<std::string>;  // folder names from the top

struct Bookmark {
    FolderPath folder;
    std::string title;  // entities decoded, blanks collapsed
    std::string url;    // entities decoded
};

struct Contents {
    std::vector<FolderPath> folders;  // every folder, parents before children
    std::vector<Bookmark> bookmarks;  // in file order
};

// Folders nest at most this deep; deeper lists join the folder at the limit.
inline constexpr size_t kMaxDepth = 32;

Contents Parse(const std::string& html);

// Decodes character references (every named one of HTML, &#N; and &#xH;)
// to UTF-8; unknown ones stay as written.
std::string DecodeEntities(const std::string& text);

}  // namespace BookmarkFile
