#include "script/GlobalFile.h"

#include <algorithm>

#include "core/CaseBlindPaths.h"
#include "core/HttpText.h"
#include "script/PageLanguages.h"

namespace script {

namespace fs = std::filesystem;

namespace {

bool IsBlank(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; });
}

// global.asa cut into its declarations; its text between the tags is
// nothing, and code outside a <script> block is refused.
std::shared_ptr<GlobalDeclarations> Declarations(const fs::path& root, const fs::path& file) {
    auto read = std::make_shared<GlobalDeclarations>();
    read->parts = ReadPage(root, file, kDefaultPageLanguage);
    std::vector<PageBlock> scripts;
    for (const PageBlock& block : read->parts.blocks) {
        if (block.kind == PageBlock::Kind::ServerScript)
            scripts.push_back(block);
        else if (block.kind != PageBlock::Kind::Text || !IsBlank(read->parts.of(block)))
            throw PageError(
                read->parts.originAt(block.begin),
                "global.asa holds only <script runat=\"server\"> blocks and <object runat=\"server\"> tags.");
    }
    read->parts.blocks = std::move(scripts);
    // global.asa names no language of its own: its blocks' is its.
    if (!read->parts.blocks.empty()) read->parts.language = read->parts.blocks.front().language;
    std::string code;
    for (const PageBlock& block : read->parts.blocks) code += Lower(std::string(read->parts.of(block))) + "\n";
    for (SiteEvent event :
         {SiteEvent::ApplicationStart, SiteEvent::ApplicationEnd, SiteEvent::SessionStart, SiteEvent::SessionEnd})
        read->handled[static_cast<size_t>(event)] = code.find(Lower(ProcedureOf(event))) != std::string::npos;
    for (const ObjectTag& tag : read->parts.objects) {
        if (tag.scope == "application")
            read->applicationObjects.push_back(tag);
        else if (tag.scope == "session")
            read->sessionObjects.push_back(tag);
        else
            throw PageError(tag.where,
                            "The object " + tag.id + " of global.asa needs the scope Application or Session.");
    }
    return read;
}

}  // namespace

const char* ProcedureOf(SiteEvent event) {
    switch (event) {
        case SiteEvent::ApplicationStart:
            return "Application_OnStart";
        case SiteEvent::ApplicationEnd:
            return "Application_OnEnd";
        case SiteEvent::SessionStart:
            return "Session_OnStart";
        case SiteEvent::SessionEnd:
            return "Session_OnEnd";
    }
    return "";
}

CompiledPage GlobalDeclarations::program(SiteEvent event) const { return MakeProgram(parts, ProcedureOf(event)); }

std::shared_ptr<const GlobalDeclarations> GlobalFile::current() {
    std::lock_guard<std::mutex> guard(mMutex);
    bool fresh = mRead || mAbsent;
    for (const auto& [source, stamp] : mStamps) {
        std::error_code error;
        if (fs::last_write_time(source, error) != stamp || error) fresh = false;
    }
    const fs::path file = FindWithoutCase(mRoot.string(), (mRoot / kName).string());
    std::error_code error;
    const bool exists = fs::is_regular_file(file, error);
    if (fresh && exists != mAbsent) return mRead;
    mRead = nullptr;
    mStamps.clear();
    mAbsent = !exists;
    if (mAbsent) return nullptr;
    auto read = Declarations(mRoot, file);
    for (const fs::path& source : read->parts.sources) mStamps.emplace_back(source, fs::last_write_time(source, error));
    mRead = std::move(read);
    return mRead;
}

}  // namespace script
