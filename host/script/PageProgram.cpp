#include "script/PageProgram.h"

#include <algorithm>

#include "script/JScriptProgram.h"
#include "script/PageLanguages.h"

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
    CompiledPage page = JScriptProgram(parts, thenCall);
    page.language = parts.language;
    page.sources = std::move(parts.sources);
    page.objects = std::move(parts.objects);
    page.codePage = parts.codePage;
    return page;
}

CompiledPage CompilePage(const std::filesystem::path& root, const std::filesystem::path& page) {
    return MakeProgram(ReadPage(root, page, kDefaultPageLanguage));
}

}  // namespace script
