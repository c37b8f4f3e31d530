// The site's global.asa, at the document root: the procedures the server
// runs when the application and each session start and end
// (Application_OnStart, Application_OnEnd, Session_OnStart, Session_OnEnd),
// and the objects it declares for the application and for each session.
// It holds only <script runat="server"> blocks and <object runat="server">
// tags (and includes). It is read again when it or an include changes; the
// events after that run its new procedures.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "script/PageProgram.h"

namespace script {

// The events of the site, by their procedures' names.
enum class SiteEvent { ApplicationStart, ApplicationEnd, SessionStart, SessionEnd };
const char* ProcedureOf(SiteEvent event);

// One reading of global.asa.
struct GlobalDeclarations {
    PageParts parts;
    std::vector<ObjectTag> applicationObjects, sessionObjects;
    // Whether its scripts mention the event's procedure (the procedure may
    // still be missing: calling it is then nothing). Found once, when the
    // file is read: every request asks.
    bool handles(SiteEvent event) const { return handled[static_cast<size_t>(event)]; }
    bool handled[4] = {};
    // The program that runs the event's procedure. Throws PageError.
    CompiledPage program(SiteEvent event) const;
};

class GlobalFile {
public:
    static constexpr const char* kName = "global.asa";

    explicit GlobalFile(std::filesystem::path root) : mRoot(std::move(root)) {}

    // The file as it is now; null when the site has none. Throws PageError
    // when it cannot be read or holds what it may not.
    std::shared_ptr<const GlobalDeclarations> current();

private:
    std::filesystem::path mRoot;
    std::mutex mMutex;
    std::shared_ptr<const GlobalDeclarations> mRead;
    std::vector<std::pair<std::filesystem::path, std::filesystem::file_time_type>> mStamps;
    bool mAbsent = false;
};

}  // namespace script
