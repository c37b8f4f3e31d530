#include "core/VirtualPaths.h"

#include <vector>

#include "core/CaseBlindPaths.h"

bool MapVirtualPath(const std::string& documentRoot, const std::string& pagePath, const std::string& virtualPath,
                    std::string* physical) {
    if (virtualPath.find(':') != std::string::npos || virtualPath.find('\0') != std::string::npos) return false;
    std::vector<std::string> parts;
    auto walk = [&parts](const std::string& path) {
        size_t start = 0;
        while (start <= path.size()) {
            size_t end = path.find_first_of("/\\", start);
            if (end == std::string::npos) end = path.size();
            const std::string part = path.substr(start, end - start);
            if (part == "..") {
                if (parts.empty()) return false;  // above the document root
                parts.pop_back();
            } else if (!part.empty() && part != ".") {
                parts.push_back(part);
            }
            start = end + 1;
        }
        return true;
    };
    const bool rooted = !virtualPath.empty() && (virtualPath[0] == '/' || virtualPath[0] == '\\');
    if (!rooted) {
        const size_t slash = pagePath.find_last_of('/');
        if (slash != std::string::npos && !walk(pagePath.substr(0, slash))) return false;
    }
    if (!walk(virtualPath)) return false;
    std::string result = documentRoot;
    for (const std::string& part : parts) result += "/" + part;
    *physical = FindWithoutCase(documentRoot, result);
    return true;
}
