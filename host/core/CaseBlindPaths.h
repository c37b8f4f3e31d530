// Paths below the document root found without regard to letter case. The
// sites this server runs were written on file systems that ignore case: a
// page asked for as /T/ONE.ASP, an include named "INC/B.INC" and a MapPath
// of "Up/" all name the files that exist as t/one.asp, inc/b.inc and up/.
#pragma once

#include <string>

// The existing path that `path` (below `root`, both absolute and without "."
// or ".." parts) names when letter case is ignored (Unicode simple case
// folding of each name). Each name is taken as it is when it exists; else
// the folder's entry whose name differs only in case; when several do, the
// first in byte order wins, and that choice is logged once. Names from the
// first that matches nothing on are kept as given (a file about to be
// created). A path outside `root` is returned unchanged.
std::string FindWithoutCase(const std::string& root, const std::string& path);
