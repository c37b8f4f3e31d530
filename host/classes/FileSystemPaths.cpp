#include "classes/FileSystemPaths.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <memory>
#include <utility>

#include "classes/FileSystemErrors.h"
#include "platform/CodePage.h"

namespace classes {

namespace {

using platform::codepage::FoldCase;
using platform::codepage::Utf8ToUtf16;

// A listing larger than this is refused rather than held in memory.
constexpr size_t kMaxListedNames = 1000000;

std::string WorkingFolder() {
    char folder[PATH_MAX];
    return ::getcwd(folder, sizeof folder) ? folder : "/";
}

bool IsKind(int folderFd, const dirent& entry, EntryKind kind) {
    if (entry.d_type == DT_REG) return kind == EntryKind::kFile;
    if (entry.d_type == DT_DIR) return kind == EntryKind::kFolder;
    // A link (or a file system that does not say) counts as what it names.
    struct stat info {};
    if (::fstatat(folderFd, entry.d_name, &info, 0) != 0) return false;
    return kind == (S_ISDIR(info.st_mode)   ? EntryKind::kFolder
                    : S_ISREG(info.st_mode) ? EntryKind::kFile
                                            : EntryKind::kNone);
}

// `*` and `?` over folded text; a `*` that fails to match resumes from the
// last one, so matching is linear in practice.
bool Matches(const std::u16string& pattern, const std::u16string& name) {
    size_t p = 0, n = 0, star = std::u16string::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            star = p++;
            resume = n;
        } else if (star != std::u16string::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*') ++p;
    return p == pattern.size();
}

}  // namespace

std::string AbsolutePath(const std::string& path) {
    const std::string full = !path.empty() && path[0] == '/' ? path : WorkingFolder() + "/" + path;
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= full.size()) {
        size_t end = full.find('/', start);
        if (end == std::string::npos) end = full.size();
        const std::string part = full.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string result;
    for (const std::string& part : parts) result += "/" + part;
    return result.empty() ? "/" : result;
}

std::string ParentOf(const std::string& absolute) {
    if (absolute == "/") return "";
    const size_t slash = absolute.find_last_of('/');
    return slash == 0 || slash == std::string::npos ? "/" : absolute.substr(0, slash);
}

std::string NameOf(const std::string& absolute) {
    const size_t slash = absolute.find_last_of('/');
    return slash == std::string::npos ? absolute : absolute.substr(slash + 1);
}

std::string Join(const std::string& folder, const std::string& name) {
    return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string BaseName(const std::string& name) {
    const size_t dot = name.find_last_of('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string ExtensionOf(const std::string& name) {
    const size_t dot = name.find_last_of('.');
    return dot == std::string::npos ? "" : name.substr(dot + 1);
}

EntryKind KindOf(const std::string& path, struct stat* info) {
    struct stat local {};
    struct stat* target = info ? info : &local;
    if (::stat(path.c_str(), target) != 0) return EntryKind::kNone;
    return S_ISDIR(target->st_mode)   ? EntryKind::kFolder
           : S_ISREG(target->st_mode) ? EntryKind::kFile
                                      : EntryKind::kNone;
}

std::vector<std::string> ListNames(const std::string& folder, EntryKind kind) {
    std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(folder.c_str()), ::closedir);
    if (!listing) ThrowErrno(errno, kPathNotFound);
    std::vector<std::pair<std::u16string, std::string>> entries;  // folded name, name
    while (const dirent* entry = ::readdir(listing.get())) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || !IsKind(::dirfd(listing.get()), *entry, kind)) continue;
        if (entries.size() == kMaxListedNames)
            throw FileSystemError{kOutOfMemory,
                                  "Out of memory: the folder holds more than 1000000 entries of that kind"};
        entries.emplace_back(FoldCase(Utf8ToUtf16(name)), name);
    }
    std::sort(entries.begin(), entries.end());
    std::vector<std::string> names;
    names.reserve(entries.size());
    for (auto& entry : entries) names.push_back(std::move(entry.second));
    return names;
}

bool HasWildcards(const std::string& name) { return name.find_first_of("*?") != std::string::npos; }

bool MatchesWildcard(const std::string& pattern, const std::string& name) {
    if (pattern == "*.*" || pattern == "*") return true;
    return Matches(FoldCase(Utf8ToUtf16(pattern)), FoldCase(Utf8ToUtf16(name)));
}

}  // namespace classes
