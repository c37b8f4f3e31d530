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

#include <condition_variable>
#include <deque>
#include <thread>

#include "core/Page.h"
#include "script/GlobalFile.h"
#include "script/PageNames.h"
#include "script/ApplicationObject.h"
#include "script/ResponseObject.h"
#include "script/SessionObject.h"
#include "script/PageProgram.h"

class WebServer;

namespace script {

class PageCalls;
struct RunOutcome;

class ScriptPages : public std::enable_shared_from_this<ScriptPages> {
public:
    // At most `maxSessions` sessions are kept (see SessionStore).
    ScriptPages(std::string documentRoot, size_t maxSessions);
    ~ScriptPages();

    // The application's end: the site's Application_OnEnd runs (when the
    // application started). Called once the server has stopped serving.
    void endApplication();

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
    // serve() on the stack pages run on.
    void servePage(const PageRequest& request, Response& response, const std::string& pagePath);

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
    // Runs a page's program (or an event's) in a borrowed engine, with
    // `names` and the page's own objects.
    RunOutcome run(const CompiledPage& page, const PageNames& names, const std::function<bool()>& stopNow);
    // The site's global.asa as it is now (null: none), its declarations
    // given to the stores that keep their objects. Throws PageError.
    std::shared_ptr<const GlobalDeclarations> siteDeclarations();
    // Runs the site's procedure for `event`; a failure is logged, and
    // returned.
    RunOutcome runEvent(const GlobalDeclarations& global, SiteEvent event, const PageNames& names,
                        const std::function<bool()>& stopNow);
    // The events before a request's page: Application_OnStart at the
    // server's first request, Session_OnStart at a session's first. `names`
    // begin with the five page objects.
    RunOutcome startEvents(const GlobalDeclarations& global, const PageNames& names,
                           const std::function<bool()>& stopNow);
    // Application_OnStart, run by the first request; the others wait for it.
    RunOutcome startApplication(const GlobalDeclarations& global, IDispatch* application, IDispatch* server);
    // A session has ended: its Session_OnEnd runs now, or on the sweeper's
    // thread (see the .cpp).
    void endSession(const std::shared_ptr<SessionStore::Session>& session);
    // Runs Session_OnEnd for the session and lets its objects go.
    void finishSession(const std::shared_ptr<SessionStore::Session>& session);
    // Runs an event that belongs to no request (the ends), with the objects
    // it has: Application, Server, and the session that `ended` (if any).
    void runOutsideRequests(SiteEvent event, const std::shared_ptr<SessionStore::Session>& ended);
    // Ends idle sessions as they time out, while the site has a Session_OnEnd.
    void sweepSessions();
    std::shared_ptr<StaticObjects> applicationObjects();
    // Adds the names every page of the site has beside the page objects:
    // the application's and the session's declared objects.
    void addSiteNames(PageNames& names, const GlobalDeclarations* global, IDispatch* session);
    // The names of an event's run: its objects (Session only when given) and the site's.
    PageNames eventNames(const GlobalDeclarations& global, IDispatch* application, IDispatch* server,
                         IDispatch* session = nullptr);
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

    GlobalFile mGlobal;
    std::mutex mEventsMutex;                              // held while the application starts
    std::shared_ptr<const GlobalDeclarations> mDeclared;  // the reading the stores were given
    std::shared_ptr<StaticObjects> mApplicationObjects;
    bool mStarted = false;  // Application_OnStart has run
    bool mEnded = false;
    std::thread mSweeper;  // started when the site first has a Session_OnEnd
    std::deque<std::shared_ptr<SessionStore::Session>> mEndingSessions;  // for the sweeper to end
    std::condition_variable mSweeperWake;
    bool mStopping = false;
};

// Serves the script pages of the server's document root and hides their
// sources, and registers the helper classes pages create (StandardClasses.h);
// returns the pages' server-wide state.
std::shared_ptr<ScriptPages> AddScriptPages(WebServer& server, size_t maxSessions = 100000);

}  // namespace script
