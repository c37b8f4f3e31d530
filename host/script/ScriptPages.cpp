#include "script/ScriptPages.h"

#include <duktape.h>

#include <chrono>
#include <utility>

#include "classes/StandardClasses.h"
#include "core/HttpText.h"
#include "core/ObjectContext.h"
#include "core/RequestObject.h"
#include "core/ServerLog.h"
#include "core/ServerObject.h"
#include "core/SiteErrorPage.h"
#include "core/StackRoom.h"
#include "core/VirtualPaths.h"
#include "core/WebServer.h"
#include "platform/Asp.h"
#include "platform/CodePage.h"
#include "platform/ComPtr.h"
#include "platform/EventLog.h"
#include "script/ComBridge.h"
#include "script/JScriptBuiltins.h"
#include "script/JScriptDateText.h"
#include "script/JScriptGlobals.h"
#include "script/LocalTime.h"
#include "script/PageCalls.h"
#include "script/ScriptEngine.h"
#include "script/VBScriptRun.h"
#include "vbscript/DateValues.h"

namespace script {

namespace fs = std::filesystem;

namespace {

constexpr const char* kPageSuffix = ".asp";
// Files that only ever hold script: never sent, whoever asks.
constexpr const char* kSourceSuffixes[] = {".asp", ".inc", ".asa"};

bool EndsWithNoCase(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() && Lower(text.substr(text.size() - suffix.size())) == suffix;
}

// The request's object of that name in the thread's object context.
platform::ComPtr<IDispatch> ContextObject(const char16_t* name) {
    platform::ComPtr<IObjectContext> context;
    platform::ComPtr<IGetContextProperties> properties;
    platform::Variant value;
    platform::Bstr key(name);
    if (FAILED(GetObjectContext(context.put())) ||
        FAILED(context->QueryInterface(IID_IGetContextProperties, properties.putVoid())) ||
        FAILED(properties->GetProperty(key.get(), &value)) || value.vt != VT_DISPATCH)
        return {};
    value.pdispVal->AddRef();
    return platform::ComPtr<IDispatch>(value.pdispVal);
}

// The page objects, first in a request's names, in this order.
constexpr const char16_t* kPageObjects[] = {u"Request", u"Response", u"Server", u"Application", u"Session"};
enum PageObjectIndex { kRequest, kResponse, kServer, kApplication, kSession };

// A name for an object the caller holds: the name takes a reference of its own.
PageName Ready(const char* name, IDispatch* object) {
    if (object) object->AddRef();
    return {name, platform::ComPtr<IDispatch>(object), {}};
}

// An event outside a request runs for as long as a page may by default.
constexpr auto kEventTimeout = std::chrono::seconds(90);
std::function<bool()> EventDeadline() {
    const auto deadline = std::chrono::steady_clock::now() + kEventTimeout;
    return [deadline] { return std::chrono::steady_clock::now() >= deadline; };
}

// How often idle sessions are looked for while the site has a Session_OnEnd.
constexpr auto kSweepEvery = std::chrono::seconds(15);

}  // namespace

ScriptPages::ScriptPages(std::string documentRoot, size_t maxSessions)
    : mRoot(std::move(documentRoot)), mSessions(maxSessions), mGlobal(mRoot) {
    mSessions.onEnd([this](const std::shared_ptr<SessionStore::Session>& session) { endSession(session); });
}

ScriptPages::~ScriptPages() {
    {
        std::lock_guard<std::mutex> guard(mEventsMutex);
        mStopping = true;
    }
    mSweeperWake.notify_all();
    if (mSweeper.joinable()) mSweeper.join();
}

bool ScriptPages::IsPagePath(const std::string& path) { return EndsWithNoCase(path, kPageSuffix); }

bool ScriptPages::isSource(const std::string& path) const {
    for (const char* suffix : kSourceSuffixes)
        if (EndsWithNoCase(path, suffix)) return true;
    std::call_once(mLearned, [this] { learnIncludes(); });
    {
        std::lock_guard<std::mutex> guard(mMutex);
        if (mIncluded.empty()) return false;  // a site without includes: no file looked up
    }
    std::string physical;
    if (!MapVirtualPath(mRoot, "/", path, &physical)) return false;
    std::error_code error;
    const fs::path resolved = fs::weakly_canonical(physical, error);
    std::lock_guard<std::mutex> guard(mMutex);
    return mIncluded.count(resolved) > 0;
}

std::shared_ptr<const CompiledPage> ScriptPages::compiled(const fs::path& file) {
    {
        std::lock_guard<std::mutex> guard(mMutex);
        auto it = mCache.find(file);
        if (it != mCache.end()) {
            bool fresh = true;
            for (const auto& [source, stamp] : it->second.stamps) {
                std::error_code error;
                if (fs::last_write_time(source, error) != stamp || error) fresh = false;
            }
            if (fresh) return it->second.page;
        }
    }
    Compiled entry;
    entry.page = std::make_shared<const CompiledPage>(CompilePage(mRoot, file));
    for (const fs::path& source : entry.page->sources) {
        std::error_code error;
        entry.stamps.emplace_back(source, fs::last_write_time(source, error));
    }
    std::lock_guard<std::mutex> guard(mMutex);
    rememberIncludes(*entry.page);
    mCache[file] = entry;
    return entry.page;
}

void ScriptPages::rememberIncludes(const CompiledPage& page) const {
    for (size_t i = 1; i < page.sources.size(); ++i) {
        std::error_code error;
        mIncluded.insert(fs::weakly_canonical(page.sources[i], error));
    }
}

void ScriptPages::learnIncludes() const {
    std::error_code error;
    const fs::path root = fs::weakly_canonical(mRoot, error);
    fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, error), end;
    for (; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        const std::string virtualPath = "/" + it->path().lexically_relative(root).generic_string();
        std::error_code typeError;
        if (it->is_directory(typeError)) {
            // Hidden folders and folders whose every path a page answers
            // (saved uploads) hold no page of the site.
            if (name.starts_with(".") || (mServedByPages && mServedByPages(virtualPath + "/")))
                it.disable_recursion_pending();
            continue;
        }
        if (!EndsWithNoCase(name, kPageSuffix) && !EndsWithNoCase(name, ".asa")) continue;
        try {
            const CompiledPage page = CompilePage(mRoot, it->path());
            std::lock_guard<std::mutex> guard(mMutex);
            rememberIncludes(page);
        } catch (const std::exception&) {
            // A page that does not compile (or cannot be read) includes nothing yet.
        }
    }
}

namespace {
std::string Place(const PageRequest& request, const SourceLine& where) {
    return where.file.empty() ? request.path : where.file + (where.line ? ", line " + std::to_string(where.line) : "");
}
}  // namespace

void ScriptPages::logFailure(const PageRequest& request, const SourceLine& where, const std::string& text) {
    LogServerEvent(EVENTLOG_ERROR_TYPE,
                   "The script page " + request.path + " failed at " + Place(request, where) + ": " + text);
}

void ScriptPages::fail(const PageRequest& request, Response& response, const SourceLine& where,
                       const std::string& text) {
    const std::string place = Place(request, where);
    logFailure(request, where, text);
    if (response.headersSent) return;  // the part already sent stays the answer
    response.status = 500;
    response.contentType = "text/html; charset=utf-8";
    response.headers.clear();
    response.setBody(
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>The page failed</title>\n"
        "</head>\n<body>\n<h1>The page failed</h1>\n<p>" +
        HtmlEscape(place) + "</p>\n<pre>" + HtmlEscape(text) + "</pre>\n</body>\n</html>\n");
}

void ScriptPages::addAlias(WebServer& server, const std::string& path, const std::string& pagePath,
                           PageOptions options) {
    std::weak_ptr<ScriptPages> pages = weak_from_this();
    server.addPage(
        path,
        [pages, pagePath](const PageRequest& request, Response& response) {
            if (auto alive = pages.lock()) alive->serve(request, response, pagePath);
        },
        options);
}

void ScriptPages::serve(const PageRequest& request, Response& response, const std::string& pagePath) {
    // Pages run one another and nest: on the workers' small stacks an eighth
    // Server.Execute would overflow.
    host::RunOnOwnStack([&] { servePage(request, response, pagePath); });
}

void ScriptPages::servePage(const PageRequest& request, Response& response, const std::string& pagePath) {
    std::string physical;
    std::error_code error;
    if (!MapVirtualPath(mRoot, "/", pagePath.empty() ? request.path : pagePath, &physical) ||
        !fs::is_regular_file(physical, error)) {
        response.status = 404;
        response.contentType = "text/plain; charset=utf-8";
        response.body = "Not found.\n";
        return;
    }
    std::shared_ptr<const GlobalDeclarations> global;
    try {
        global = siteDeclarations();
    } catch (const PageError& failure) {
        return fail(request, response, failure.where, failure.what());
    }

    // The page's other objects join Request and Server in the request's
    // object context, so that a component finds the same objects the page has.
    bool ended = false;
    bool writesVBScript = false;  // the page running now is VBScript's: Response.Write writes its dates its way
    {
        platform::ComPtr<IDispatch> session(CreateSessionObject(mSessions, request, response));
        IDispatch* sessionObject = session.get();  // lives as long as the run, which the hook does not outlast
        platform::ComPtr<IDispatch> responseObject(CreateResponseObject(
            response, {.ended = [&ended] { ended = true; },
                       .writeDate =
                           [&writesVBScript](double date) {
                               return writesVBScript ? vbs::DateText(date) : JScriptDateText(MsFromOleDate(date));
                           },
                       .beforeHeadersSent = [sessionObject] { ClaimSession(sessionObject); },
                       .heldSession = [sessionObject] { return HeldSession(sessionObject); }}));
        platform::ComPtr<IDispatch> application(CreateApplicationObject(mApplication, applicationObjects()));
        platform::ComPtr<IObjectContext> context;
        if (FAILED(GetObjectContext(context.put())) ||
            !AddContextObject(context.get(), u"Response", responseObject.get()) ||
            !AddContextObject(context.get(), u"Application", application.get()) ||
            !AddContextObject(context.get(), u"Session", session.get()))
            return fail(request, response, {}, "The page has no request context.");
    }
    PageNames names;
    for (const char16_t* name : kPageObjects) {
        platform::ComPtr<IDispatch> object = ContextObject(name);
        if (!object) return fail(request, response, {}, "The page has no request context.");
        names.push_back({platform::codepage::Utf16ToUtf8(name), std::move(object), {}});
    }
    IDispatch* responseObject = names[kResponse].object.get();
    platform::ComPtr<IServer> server;
    platform::ComPtr<IRequest> requestObject;
    if (FAILED(names[kServer].object->QueryInterface(IID_IServer, server.putVoid())) ||
        FAILED(names[kRequest].object->QueryInterface(IID_IRequest, requestObject.putVoid())))
        return fail(request, response, {}, "The page has no request context.");
    addSiteNames(names, global.get(), names[kSession].object.get());

    // Every page the request runs (Server.Execute, Server.Transfer, the
    // site's error page, the site's events) runs in an engine of its own,
    // with the same objects and the same deadline.
    const auto start = std::chrono::steady_clock::now();
    LONG timeout = 90;
    std::function<bool()> stopNow;
    bool firstPage = true;
    PageCalls calls(
        mRoot,
        [&](const fs::path& file) {
            const bool first = std::exchange(firstPage, false);
            try {
                const std::shared_ptr<const CompiledPage> page = compiled(file);
                // The request's page names the answer's code page; the pages it
                // runs write in the one that stands.
                if (first) SetDirectiveCodePage(responseObject, page->codePage);
                const bool outer = std::exchange(writesVBScript, page->vbscript != nullptr);
                RunOutcome outcome = run(*page, names, stopNow);
                writesVBScript = outer;
                return outcome;
            } catch (const PageError& failure) {
                return RunOutcome{.ok = false,
                                  .where = failure.where,
                                  .error = failure.what(),
                                  .description = failure.what(),
                                  .category = "Script page"};
            }
        },
        responseObject);
    stopNow = [&] {
        server->get_ScriptTimeout(&timeout);
        return ended || calls.stopped() || std::chrono::steady_clock::now() - start >= std::chrono::seconds(timeout);
    };
    SetServerPageHooks(server.get(), calls.hooks());
    // A form posted from a page in another code page comes in that code page.
    SetRequestCodePage(requestObject.get(), [responseObject] { return ResponseCodePage(responseObject); });
    struct Unhook {
        IServer* server;
        IRequest* request;
        ~Unhook() {
            // The hooks reach `calls` and the page's objects, which go with this call.
            SetServerPageHooks(server, {});
            SetRequestCodePage(request, nullptr);
        }
    } unhook{server.get(), requestObject.get()};

    RunOutcome outcome = global ? startEvents(*global, names, stopNow) : RunOutcome{};
    if (outcome.ok && !ended) outcome = calls.runFirst(physical.substr(mRoot.size()), physical);
    const bool answered =
        !ended && !outcome.ok && !outcome.timedOut && showErrorPage(calls, request, response, outcome, ended);
    FinishResponseObject(responseObject);
    GiveSessionBack(names[kSession].object.get());
    if (ended || answered) return;  // Response.End, Redirect, Transfer or the site's error page: that answer stands
    if (outcome.timedOut)
        return fail(
            request, response, outcome.where,
            "The page ran longer than its ScriptTimeout of " + std::to_string(timeout) + " seconds and was stopped.");
    if (!outcome.ok) fail(request, response, outcome.where, outcome.error);
}

RunOutcome ScriptPages::run(const CompiledPage& page, const PageNames& names, const std::function<bool()>& stopNow) {
    // The page's own <object runat="server"> tags: made when the page first uses them.
    PageNames declared;
    for (const ObjectTag& tag : page.objects)
        declared.push_back({tag.id, {}, [&tag](std::string* error) { return MakeDeclaredObject(tag, error); }});
    if (page.vbscript) return RunVBScript(page, names, declared, stopNow);
    EngineLease engine = ScriptEngine::Borrow();
    return engine->Run(page, stopNow, [&](duk_context* context) {
        InstallComTypes(context);
        InstallJScriptBuiltins(context);
        PutPageNames(context, names);
        PutPageNames(context, declared);
    });
}

std::shared_ptr<const GlobalDeclarations> ScriptPages::siteDeclarations() {
    std::shared_ptr<const GlobalDeclarations> global = mGlobal.current();
    {
        std::lock_guard<std::mutex> guard(mMutex);
        if (global == mDeclared && mApplicationObjects) return global;
        mDeclared = global;
        mApplicationObjects =
            std::make_shared<StaticObjects>(global ? global->applicationObjects : std::vector<ObjectTag>{});
        mSessions.declareObjects(global ? global->sessionObjects : std::vector<ObjectTag>{});
    }
    if (global && global->handles(SiteEvent::SessionEnd)) {
        std::lock_guard<std::mutex> guard(mEventsMutex);
        if (!mSweeper.joinable() && !mStopping) mSweeper = std::thread([this] { sweepSessions(); });
    }
    return global;
}

std::shared_ptr<StaticObjects> ScriptPages::applicationObjects() {
    std::lock_guard<std::mutex> guard(mMutex);
    return mApplicationObjects;
}

void ScriptPages::addSiteNames(PageNames& names, const GlobalDeclarations* global, IDispatch* session) {
    if (!global) return;
    const std::shared_ptr<StaticObjects> application = applicationObjects();
    for (size_t n = 0; application && n < application->declared().size(); ++n)
        names.push_back({application->declared()[n].id, {}, [application, n](std::string* error) {
                             return application->get(n, error);
                         }});
    for (const ObjectTag& tag : session ? global->sessionObjects : std::vector<ObjectTag>{})
        names.push_back({tag.id, {}, [session, id = tag.id](std::string* error) {
                             const std::shared_ptr<StaticObjects> objects = SessionObjects(session);
                             const size_t n = objects ? objects->find(platform::codepage::Utf8ToUtf16(id)) : 0;
                             if (objects && n < objects->declared().size()) return objects->get(n, error);
                             *error = "The session began before the site declared its object " + id + ".";
                             return platform::ComPtr<IDispatch>();
                         }});
}

PageNames ScriptPages::eventNames(const GlobalDeclarations& global, IDispatch* application, IDispatch* server,
                                  IDispatch* session) {
    PageNames names;
    if (session) names.push_back(Ready("Session", session));
    names.push_back(Ready("Application", application));
    names.push_back(Ready("Server", server));
    addSiteNames(names, &global, session);
    return names;
}

RunOutcome ScriptPages::runEvent(const GlobalDeclarations& global, SiteEvent event, const PageNames& names,
                                 const std::function<bool()>& stopNow) {
    RunOutcome outcome;
    try {
        outcome = run(global.program(event), names, stopNow);
    } catch (const PageError& failure) {
        outcome = RunOutcome{.ok = false,
                             .where = failure.where,
                             .error = failure.what(),
                             .description = failure.what(),
                             .category = "Script page"};
    }
    if (outcome.timedOut) outcome.error = "It ran longer than its time and was stopped.";
    if (!outcome.ok || outcome.timedOut)
        LogServerEvent(EVENTLOG_ERROR_TYPE, std::string("The site's ") + ProcedureOf(event) + " failed at " +
                                                outcome.where.file + ", line " + std::to_string(outcome.where.line) +
                                                ": " + outcome.error);
    return outcome;
}

RunOutcome ScriptPages::startEvents(const GlobalDeclarations& global, const PageNames& names,
                                    const std::function<bool()>& stopNow) {
    const RunOutcome started = startApplication(global, names[kApplication].object.get(), names[kServer].object.get());
    if (!started.ok) return started;
    // A site that keeps something per session starts one for each visitor
    // before the visitor's first page runs, as classic servers do.
    const bool startsSessions = global.handles(SiteEvent::SessionStart) || !global.sessionObjects.empty();
    if (startsSessions && ClaimSession(names[kSession].object.get()) && global.handles(SiteEvent::SessionStart))
        return runEvent(global, SiteEvent::SessionStart, names, stopNow);
    return {};
}

RunOutcome ScriptPages::startApplication(const GlobalDeclarations& global, IDispatch* application, IDispatch* server) {
    std::lock_guard<std::mutex> guard(mEventsMutex);
    if (mStarted) return {};
    mStarted = true;
    if (!global.handles(SiteEvent::ApplicationStart)) return {};
    // The application starts with its own objects only: no request, response or session is its.
    return runEvent(global, SiteEvent::ApplicationStart, eventNames(global, application, server), EventDeadline());
}

void ScriptPages::endApplication() {
    {
        std::lock_guard<std::mutex> guard(mEventsMutex);
        if (!mStarted || mEnded) return;
        mEnded = true;
    }
    runOutsideRequests(SiteEvent::ApplicationEnd, nullptr);
}

void ScriptPages::endSession(const std::shared_ptr<SessionStore::Session>& session) {
    // A session its own request abandoned ends on that request's thread,
    // once its page is done. Sessions that time out or are pushed out may
    // end by the thousand in one look: they end on the sweeper's thread,
    // never on the thread of a visitor who happened to look.
    if (!session->abandoned) {
        std::lock_guard<std::mutex> guard(mEventsMutex);
        if (mSweeper.joinable() && !mStopping) {
            mEndingSessions.push_back(session);
            mSweeperWake.notify_all();
            return;
        }
    }
    finishSession(session);
}

void ScriptPages::finishSession(const std::shared_ptr<SessionStore::Session>& session) {
    runOutsideRequests(SiteEvent::SessionEnd, session);
    if (session->objects) session->objects->clear();
}

void ScriptPages::runOutsideRequests(SiteEvent event, const std::shared_ptr<SessionStore::Session>& ended) {
    std::shared_ptr<const GlobalDeclarations> global;
    try {
        global = siteDeclarations();
    } catch (const PageError& failure) {
        LogServerEvent(EVENTLOG_ERROR_TYPE,
                       std::string("The site's ") + ProcedureOf(event) + " did not run: " + failure.what());
    }
    if (!global || !global->handles(event)) return;
    PageRequest request;
    request.documentRoot = mRoot;
    Response response;
    platform::ComPtr<IDispatch> session(ended ? CreateEndedSessionObject(mSessions, ended, request, response)
                                              : nullptr);
    platform::ComPtr<IDispatch> server(CreateServerObject(mRoot, std::string("/") + GlobalFile::kName));
    platform::ComPtr<IDispatch> application(CreateApplicationObject(mApplication, applicationObjects()));
    runEvent(*global, event, eventNames(*global, application.get(), server.get(), session.get()), EventDeadline());
}

void ScriptPages::sweepSessions() {
    std::unique_lock<std::mutex> guard(mEventsMutex);
    auto lastSweep = std::chrono::steady_clock::now();
    while (!mStopping) {
        if (mEndingSessions.empty()) mSweeperWake.wait_for(guard, kSweepEvery);
        if (mStopping) break;
        std::deque<std::shared_ptr<SessionStore::Session>> ending;
        ending.swap(mEndingSessions);
        guard.unlock();
        for (const auto& session : ending) finishSession(session);
        if (std::chrono::steady_clock::now() - lastSweep >= kSweepEvery) {
            lastSweep = std::chrono::steady_clock::now();
            mSessions.sweep();  // what ends comes back through endSession, onto the queue
        }
        guard.lock();
    }
}

bool ScriptPages::showErrorPage(PageCalls& calls, const PageRequest& request, Response& response,
                                const RunOutcome& failure, const bool& ended) {
    const std::string errorPage = SiteErrorPage500();
    if (errorPage.empty() || response.headersSent) return false;
    response.setBody("");  // the error page answers alone
    response.status = 500;
    const std::optional<RunOutcome> shown = calls.runErrorPage(errorPage, failure);
    if (!shown) return false;
    if (shown->ok || ended) {
        logFailure(request, failure.where, failure.error);
        return true;
    }
    logFailure(request, shown->where, "the site's error page " + errorPage + " failed too: " + shown->error);
    return false;
}

std::shared_ptr<ScriptPages> AddScriptPages(WebServer& server, size_t maxSessions) {
    classes::RegisterStandardClasses();
    auto pages = std::make_shared<ScriptPages>(server.documentRoot(), maxSessions);
    server.addPageSuffix(
        kPageSuffix, [pages](const PageRequest& request, Response& response) { pages->serve(request, response); },
        PageOptions{.readsBody = true});
    server.hideFiles([pages](const std::string& path) { return pages->isSource(path); });
    pages->skipFoldersWhere([&server](const std::string& folder) { return server.pageServesFolder(folder); });
    return pages;
}

}  // namespace script
