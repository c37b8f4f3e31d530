#include "script/PageProgram.h"

#include <algorithm>

#include "script/JScriptProgram.h"
#include "script/PageLanguages.h"
#include "script/VBScriptProgram.h"

namespace script {

SourceLine CompiledPage::origin(int programLine) const {
    if (programLine < 1 || lines.empty()) return {};
    return lines[std::min(static_cast<size_t>(programLine), lines.size()) - 1];
}

CompiledPage MakeProgram(PageParts parts, const std::string& thenCall) {
    for (const PageBlock& block : parts.blocks)
        if (block.language != parts.language)
            throw PageError(parts.originAt(block.begin), "A " + block.language + " block cannot run in a " +
                                                             parts.language + " page on this server.");
    CompiledPage page =
        parts.language == "VBScript" ? VBScriptProgram(parts, thenCall) : JScriptProgram(parts, thenCall);
    page.language = parts.language;
    page.sources = std::move(parts.sources);
    page.objects = std::move(parts.objects);
    page.codePage = parts.codePage;
    return page;
}

CompiledPage CompilePage(const std::filesystem::path& root, const std::filesystem::path& page) {
    CompiledPage compiled = MakeProgram(ReadPage(root, page, kDefaultPageLanguage));
    for (const ObjectTag& tag : compiled.objects)
        if (tag.scope != "page")
            throw PageError(tag.where, "The object " + tag.id + " has the scope " + tag.scope +
                                           ", which only global.asa declares; a page's objects are its own.");
    return compiled;
}

}  // namespace script
