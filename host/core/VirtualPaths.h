// Virtual paths of a site as paths in its document root.
#pragma once

#include <string>

// The file system path of a virtual path, or false when it would leave the
// root; its names are found without regard to letter case (FindWithoutCase).
bool MapVirtualPath(const std::string& documentRoot, const std::string& pagePath, const std::string& virtualPath,
                    std::string* physical);
