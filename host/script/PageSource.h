// Script pages as source: a page file (HTML with <% code %>, <%= expression %>,
// the <%@ Language="..." %> directive and <!-- #include --> directives) turned
// into one program of the page language, with a map from the program's lines
// back to the files and lines they came from.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/WinTypes.h"

namespace script {

// Where a line of the program came from.
struct SourceLine {
    std::string file;  // path below the document root, as "/dir/page.asp"
    int line = 0;
};

struct CompiledPage {
    std::string program;
    std::vector<SourceLine> lines;                // lines[n - 1]: origin of the program's line n
    std::vector<std::filesystem::path> sources;   // the page and every file it included
    UINT codePage = 0;                            // its <%@ CodePage=N %> directive's; 0: none
    SourceLine origin(int programLine) const;
};

// A page that cannot be made into a program: what, where.
struct PageError : std::runtime_error {
    PageError(const SourceLine& where, const std::string& message)
        : std::runtime_error(message), where(where) {}
    SourceLine where;
};

// The languages a page may name in its directive.
const std::vector<std::string>& SupportedLanguages();

// Reads `page` (a file below `root`) with its includes and makes the program:
// text becomes Response.Write calls, expressions Response.Write(expression),
// code stays as written; every line keeps its number, so that the program's
// line n is the page's line n (includes map through `lines`). Throws
// PageError.
CompiledPage CompilePage(const std::filesystem::path& root, const std::filesystem::path& page);

}  // namespace script
