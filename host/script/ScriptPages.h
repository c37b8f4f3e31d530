// Script pages served: a request for a file ending in ".asp" under the
// document root runs that page with Request, Response, Server, Application
// and Session, in the worker thread's engine. Pages are compiled once and
// compiled again when the page or a file it includes changes. A page that
// cannot be compiled, throws, or runs past Server.ScriptTimeout is answered
// with a 500 page naming the file and line, and logged; the worker goes on
// to the next request.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/Page.h"
#include "script/PageObjects.h"
#include "script/PageProgram.h"

class WebServer;

namespace script {

class PageCalls;
struct RunOutcome;

class ScriptPages : public std::enable_shared_from_this<ScriptPages> {
public:
    // At most `maxSessions` sessions are kept (see SessionStore).
    ScriptPages(std::string documentRoot, size_t maxSessions);

    // Runs the page of the request's path, or `pagePath` when given.
    void serve(const PageRequest& request, Response& response, const std::string& pagePath = "");
    // Serves the page `pagePath` at `path` too (an address kept for a page
    // that moved), taking a request body only when `options` says so.
    void addAlias(WebServer& server, const std::string& path, const std::string& pagePath, PageOptions options);
    // Session values kept in Redis from now on, for every server of the site.
    void shareSessionsThrough(std::shared_ptr<platform::RedisLink> link) { mSessions.shareThrough(std::move(link)); }
    // Whether a request path names a script page.
    static bool IsPagePath(const std::string& path);
    // Whether a request path names a page's source or an include file,
    // which are never sent as they are. The first call reads every page
    // below the root, outside the folders `servedByPages` names, for the
    // files they include, so that no include is sent before the page that
    // includes it has run.
    bool isSource(const std::string& path) const;
    void skipFoldersWhere(std::function<bool(const std::string&)> servedByPages) {
        mServedByPages = std::move(servedByPages);
    }

private:
    struct Compiled {
        std::shared_ptr<const CompiledPage> page;
        std::vector<std::pair<std::filesystem::path, std::filesystem::file_time_type>> stamps;
    };

    // The page's program, compiled again when a source changed. Throws PageError.
    std::shared_ptr<const CompiledPage> compiled(const std::filesystem::path& file);
    void fail(const PageRequest& request, Response& response, const SourceLine& where, const std::string& text);
    void logFailure(const PageRequest& request, const SourceLine& where, const std::string& text);
    // Answers a failed page with the site's error page (ErrorPage500) when
    // the site has one and nothing was sent yet; false when it did not answer.
    bool showErrorPage(PageCalls& calls, const PageRequest& request, Response& response, const RunOutcome& failure,
                       const bool& ended);
    // Reads the pages below the root for their includes.
    void learnIncludes() const;
    // Caller holds mMutex.
    void rememberIncludes(const CompiledPage& page) const;

    std::string mRoot;
    mutable std::mutex mMutex;
    std::map<std::filesystem::path, Compiled> mCache;
    mutable std::set<std::filesystem::path> mIncluded;
    mutable std::once_flag mLearned;
    std::function<bool(const std::string&)> mServedByPages;
    std::shared_ptr<host::ValueStore> mApplication = std::make_shared<host::ValueStore>();
    SessionStore mSessions;
};

// Serves the script pages of the server's document root and hides their
// sources, and registers the helper classes pages create (StandardClasses.h);
// returns the pages' server-wide state.
std::shared_ptr<ScriptPages> AddScriptPages(WebServer& server, size_t maxSessions = 100000);

}  // namespace script
