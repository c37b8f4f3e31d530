// A page's program: the page's blocks made into one program of its
// language, with a map from the program's lines back to the files and lines
// they came from, and the objects the page host makes for it.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "script/PageSource.h"

namespace vbs {
struct Program;
}

namespace script {

struct CompiledPage {
    std::string language;  // the engine that runs it
    std::string program;
    std::vector<SourceLine> lines;                 // lines[n - 1]: origin of the program's line n
    std::vector<std::filesystem::path> sources;    // the page and every file it included
    std::vector<ObjectTag> objects;                // its <object runat="server"> tags
    UINT codePage = 0;                             // of its CodePage directive; 0 when it names none
    std::shared_ptr<const vbs::Program> vbscript;  // a VBScript page's parsed program
    std::string thenCall;                          // VBScript: the procedure run after the program, when it has it
    SourceLine origin(int programLine) const;
};

// Reads `page` (a file below `root`) with its includes and makes the program
// of its language. Throws PageError.
CompiledPage CompilePage(const std::filesystem::path& root, const std::filesystem::path& page);

// The program of a page already read; with `thenCall`, the program calls
// the procedure of that name at its end when the page has one (the site's
// events). Throws PageError when no engine makes programs of the page's
// language.
CompiledPage MakeProgram(PageParts parts, const std::string& thenCall = "");

}  // namespace script
