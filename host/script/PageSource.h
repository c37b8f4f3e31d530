// Script pages as source: a page file (HTML with <% code %>, <%= expression %>,
// <%@ ... %> directives, <!-- #include --> directives, <script runat="server">
// blocks and <object runat="server"> tags) read with its includes and cut
// into blocks, in the order they run, with the origin of every byte. This
// part knows no page language: each language makes its program of the
// blocks (PageLanguages.h).
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/WinTypes.h"

namespace script {

// Where a line of a page came from.
struct SourceLine {
    std::string file;  // path below the document root, as "/dir/page.asp"
    int line = 0;
};

// A page that cannot be made into a program: what, where.
struct PageError : std::runtime_error {
    PageError(const SourceLine& where, const std::string& message) : std::runtime_error(message), where(where) {}
    SourceLine where;
};

// A stretch of the page: [begin, end) of PageParts::text, without its
// delimiters.
struct PageBlock {
    enum class Kind {
        Text,          // sent as it stands
        Expression,    // <%= ... %>: its value is written
        Code,          // <% ... %>
        ServerScript,  // <script runat="server"> ... </script>
    };
    Kind kind = Kind::Text;
    size_t begin = 0, end = 0;
    std::string language;  // the language the block is written in (its engine's name)
};

// An <object runat="server"> tag: an object the page host makes by ProgID
// and gives the page's code under `id`.
struct ObjectTag {
    std::string id;
    std::string progId;
    std::string scope;  // "page", "session" or "application", in lower case
    SourceLine where;
};

// A page read and cut into blocks.
struct PageParts {
    std::string text;                            // the page with its includes in place, as UTF-8
    std::string language;                        // the page's language (its engine's name)
    UINT codePage = 0;                           // of its CodePage directive; 0 when it names none
    std::vector<PageBlock> blocks;               // in the order they run
    std::vector<ObjectTag> objects;              // in the order they stand
    std::vector<std::filesystem::path> sources;  // the page and every file it included

    // Where the byte at `offset` of the text came from.
    SourceLine originAt(size_t offset) const;
    std::string_view of(const PageBlock& block) const {
        return std::string_view(text).substr(block.begin, block.end - block.begin);
    }

    struct Mark {
        size_t offset;
        SourceLine origin;
    };
    std::vector<Mark> marks;  // where each stretch of the text starts, and its origin
};

// Reads `page` (a file below `root`) with its includes and cuts it into
// blocks. Blocks of the page's own language in <script runat="server">
// run after the rest of the page, blocks of another language before it,
// as classic servers run them. `defaultLanguage` is the page's language
// when it names none. Throws PageError.
PageParts ReadPage(const std::filesystem::path& root, const std::filesystem::path& page,
                   const std::string& defaultLanguage);

}  // namespace script
