// The pages one request runs: the page its address names, the pages it
// runs with Server.Execute and Server.Transfer, and the site's error page
// after a failure. The page language gives the way to run one page file;
// this finds the pages (relative to the running page's folder, without
// regard to letter case, never outside the site), bounds how deep they run
// one another, and keeps the request's failure for Server.GetLastError.
// Every page of the request shares its Request, Response, Session,
// Application and Server objects; each has its own program and globals.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/AspErrorObject.h"
#include "core/ServerObject.h"
#include "script/ScriptEngine.h"

namespace script {

class PageCalls {
public:
    // Pages run one another at most this deep, the first page counting as
    // one: deep enough for pages built of parts, and a page that runs itself
    // fails after a few engines' worth of memory and stack.
    static constexpr int kMaxDepth = 8;
    // Runs one page file with the request's objects (its compile failure as
    // a failed outcome).
    using RunFile = std::function<RunOutcome(const std::filesystem::path& file)>;

    // `responseObject` (the request's Response, which outlives this) is
    // ended after a transfer.
    PageCalls(std::string root, RunFile runFile, IDispatch* responseObject);

    // Runs the request's page, at `virtualPath`. A failure of a page it ran
    // is the request's failure, in place of the page's own.
    RunOutcome runFirst(const std::string& virtualPath, const std::filesystem::path& file);
    // Runs the site's error page at `virtualPath` for the request's failure
    // (GetLastError describes it there); nothing when no such page exists.
    std::optional<RunOutcome> runErrorPage(const std::string& virtualPath, const RunOutcome& failure);
    // What the request's Server object calls.
    ServerPageHooks hooks();
    // A page run by another failed: every page of the request stops.
    bool stopped() const { return mFailure.has_value(); }

private:
    HRESULT run(const std::string& path, bool transfer, std::string* error);
    RunOutcome runAt(const std::string& virtualPath, const std::filesystem::path& file);
    void endResponse();

    std::string mRoot;
    RunFile mRunFile;
    IDispatch* mResponse;
    std::vector<std::string> mRunning;  // virtual paths of the pages running, the innermost last
    std::optional<RunOutcome> mFailure;
    AspErrorInfo mLastError;
};

}  // namespace script
