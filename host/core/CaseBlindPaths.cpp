#include "core/CaseBlindPaths.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <set>
#include <unordered_map>
#include <vector>

#include "core/ServerLog.h"
#include "platform/CodePage.h"
#include "platform/EventLog.h"

namespace {

// A folder's names by their folded form, each list in byte order. Read again
// when the folder changes.
struct Listing {
    timespec modified{};
    bool tooLarge = false;  // names in it are taken only as they are
    std::unordered_map<std::u16string, std::vector<std::string>> byFolded;
};

// Folders are listed only when a name is not found as it is: a site whose
// links match its files never lists one. The listings kept are bounded, so
// that requests for made-up paths cannot grow them.
constexpr size_t kMaxListings = 256;
// A folder is listed again after each change: one that holds many files (a
// folder uploads are saved to) would make every save read all its names.
constexpr size_t kMaxNames = 4096;

std::mutex gMutex;
std::unordered_map<std::string, std::shared_ptr<const Listing>> gListings;
std::set<std::string> gReported;

std::u16string Folded(const std::string& name) {
    return platform::codepage::FoldCase(platform::codepage::Utf8ToUtf16(name));
}

std::shared_ptr<const Listing> ListFolder(const std::string& folder, const timespec& modified) {
    auto listing = std::make_shared<Listing>();
    listing->modified = modified;
    if (DIR* dir = opendir(folder.c_str())) {
        size_t count = 0;
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..") continue;
            if (++count > kMaxNames) {
                listing->tooLarge = true;
                listing->byFolded.clear();
                break;
            }
            listing->byFolded[Folded(name)].push_back(name);
        }
        closedir(dir);
    }
    for (auto& [folded, names] : listing->byFolded) std::sort(names.begin(), names.end());
    return listing;
}

std::shared_ptr<const Listing> Listed(const std::string& folder) {
    struct stat st {};
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return nullptr;
    {
        std::lock_guard<std::mutex> guard(gMutex);
        auto known = gListings.find(folder);
        if (known != gListings.end() && known->second->modified.tv_sec == st.st_mtim.tv_sec &&
            known->second->modified.tv_nsec == st.st_mtim.tv_nsec)
            return known->second;
    }
    auto listing = ListFolder(folder, st.st_mtim);
    std::lock_guard<std::mutex> guard(gMutex);
    if (gListings.size() >= kMaxListings) gListings.clear();
    gListings[folder] = listing;
    return listing;
}

// The name of `folder` that `name` stands for, or "" when none does.
std::string MatchInFolder(const std::string& folder, const std::string& name) {
    const auto listing = Listed(folder);
    if (!listing) return "";
    if (listing->tooLarge) {
        std::lock_guard<std::mutex> guard(gMutex);
        if (gReported.insert(folder).second)
            LogServerEvent(EVENTLOG_WARNING_TYPE, "The folder " + folder + " holds more than " +
                                                      std::to_string(kMaxNames) +
                                                      " names; names in it are found only in their exact letter case.");
        return "";
    }
    const auto found = listing->byFolded.find(Folded(name));
    if (found == listing->byFolded.end()) return "";
    const std::vector<std::string>& names = found->second;
    if (names.size() > 1) {
        std::string others;
        for (size_t i = 1; i < names.size(); ++i) others += (i > 1 ? ", " : "") + ("\"" + names[i] + "\"");
        const std::string text = "In the folder " + folder + ", \"" + names[0] + "\" and " + others +
                                 " differ only in letter case; \"" + name + "\" is taken as \"" + names[0] + "\".";
        std::lock_guard<std::mutex> guard(gMutex);
        if (gReported.insert(folder + "/" + names[0]).second) LogServerEvent(EVENTLOG_WARNING_TYPE, text);
    }
    return names[0];
}

bool Exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

}  // namespace

std::string FindWithoutCase(const std::string& root, const std::string& path) {
    const bool below = path.size() > root.size() && path.compare(0, root.size(), root) == 0 && path[root.size()] == '/';
    if (!below || Exists(path)) return path;
    std::string found = root;
    size_t start = root.size() + 1;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        const std::string name = path.substr(start, end - start);
        start = end + 1;
        if (name.empty()) continue;
        const std::string asGiven = found + "/" + name;
        if (Exists(asGiven)) {
            found = asGiven;
            continue;
        }
        const std::string match = MatchInFolder(found, name);
        if (match.empty()) {
            // Nothing matches from here on: the rest stays as it was asked.
            found = asGiven;
            if (end < path.size()) found += path.substr(end);
            return found;
        }
        found += "/" + match;
    }
    return found;
}
