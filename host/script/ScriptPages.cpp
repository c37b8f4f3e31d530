#include "script/ScriptPages.h"

#include <duktape.h>

#include <chrono>
#include <utility>

#include "classes/StandardClasses.h"
#include "core/HostObjects.h"
#include "core/HttpText.h"
#include "core/ServerLog.h"
#include "core/SiteErrorPage.h"
#include "core/WebServer.h"
#include "platform/Asp.h"
#include "platform/CodePage.h"
#include "platform/ComPtr.h"
#include "platform/EventLog.h"
#include "script/ComBridge.h"
#include "script/JScriptBuiltins.h"
#include "script/JScriptDateText.h"
#include "script/LocalTime.h"
#include "script/PageCalls.h"
#include "script/ScriptEngine.h"

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

}  // namespace

ScriptPages::ScriptPages(std::string documentRoot, size_t maxSessions)
    : mRoot(std::move(documentRoot)), mSessions(maxSessions) {}

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
            if (name.starts_with(".") || (mServedByPages && mServedByPages(virtualPath + "/"))) it.disable_recursion_pending();
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
    LogServerEvent(EVENTLOG_ERROR_TYPE, "The script page " + request.path + " failed at " + Place(request, where) + ": " + text);
}

void ScriptPages::fail(const PageRequest& request, Response& response, const SourceLine& where, const std::string& text) {
    const std::string place = Place(request, where);
    logFailure(request, where, text);
    if (response.headersSent) return;  // the part already sent stays the answer
    response.status = 500;
    response.contentType = "text/html; charset=utf-8";
    response.headers.clear();
    response.setBody("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>The page failed</title>\n"
                     "</head>\n<body>\n<h1>The page failed</h1>\n<p>" + HtmlEscape(place) + "</p>\n<pre>" +
                     HtmlEscape(text) + "</pre>\n</body>\n</html>\n");
}

void ScriptPages::addAlias(WebServer& server, const std::string& path, const std::string& pagePath,
                           PageOptions options) {
    std::weak_ptr<ScriptPages> pages = weak_from_this();
    server.addPage(path, [pages, pagePath](const PageRequest& request, Response& response) {
        if (auto alive = pages.lock()) alive->serve(request, response, pagePath);
    }, options);
}

void ScriptPages::serve(const PageRequest& request, Response& response, const std::string& pagePath) {
    std::string physical;
    std::error_code error;
    if (!MapVirtualPath(mRoot, "/", pagePath.empty() ? request.path : pagePath, &physical) || !fs::is_regular_file(physical, error)) {
        response.status = 404;
        response.contentType = "text/plain; charset=utf-8";
        response.body = "Not found.\n";
        return;
    }

    // The page's other objects join Request and Server in the request's
    // object context, so that a component finds the same objects the page has.
    bool ended = false;
    {
        platform::ComPtr<IDispatch> session(CreateSessionObject(mSessions, request, response));
        IDispatch* sessionObject = session.get();  // lives as long as the run, which the hook does not outlast
        platform::ComPtr<IDispatch> responseObject(CreateResponseObject(
            response, {.ended = [&ended] { ended = true; },
                       .writeDate = [](double date) { return JScriptDateText(MsFromOleDate(date)); },
                       .beforeHeadersSent = [sessionObject] { ClaimSession(sessionObject); },
                       .heldSession = [sessionObject] { return HeldSession(sessionObject); }}));
        platform::ComPtr<IDispatch> application(CreateApplicationObject(mApplication));
        platform::ComPtr<IObjectContext> context;
        if (FAILED(GetObjectContext(context.put())) || !AddContextObject(context.get(), u"Response", responseObject.get()) ||
            !AddContextObject(context.get(), u"Application", application.get()) ||
            !AddContextObject(context.get(), u"Session", session.get()))
            return fail(request, response, {}, "The page has no request context.");
    }
    const std::pair<const char*, platform::ComPtr<IDispatch>> objects[] = {
        {"Request", ContextObject(u"Request")},
        {"Response", ContextObject(u"Response")},
        {"Server", ContextObject(u"Server")},
        {"Application", ContextObject(u"Application")},
        {"Session", ContextObject(u"Session")}};
    platform::ComPtr<IServer> server;
    platform::ComPtr<IRequest> requestObject;
    for (const auto& [name, object] : objects)
        if (!object) return fail(request, response, {}, "The page has no request context.");
    if (FAILED(objects[2].second->QueryInterface(IID_IServer, server.putVoid())) ||
        FAILED(objects[0].second->QueryInterface(IID_IRequest, requestObject.putVoid())))
        return fail(request, response, {}, "The page has no request context.");

    // Every page the request runs (Server.Execute, Server.Transfer, the
    // site's error page) runs in an engine of its own, with the same
    // objects and the same deadline.
    const auto start = std::chrono::steady_clock::now();
    LONG timeout = 90;
    std::function<bool()> stopNow;
    bool firstPage = true;
    PageCalls calls(mRoot, [&](const fs::path& file) {
        const bool first = std::exchange(firstPage, false);
        std::shared_ptr<const CompiledPage> page;
        try {
            page = compiled(file);
        } catch (const PageError& failure) {
            return RunOutcome{.ok = false, .where = failure.where, .error = failure.what(),
                              .description = failure.what(), .category = "Script page"};
        }
        // The request's page names the answer's code page; the pages it
        // runs write in the one that stands.
        if (first) SetDirectiveCodePage(objects[1].second.get(), page->codePage);
        EngineLease engine = ScriptEngine::Borrow();
        return engine->Run(*page, stopNow, [&](duk_context* context) {
            InstallComTypes(context);
            InstallJScriptBuiltins(context);
            for (const auto& [name, object] : objects) {
                PushObject(context, object.get());
                duk_put_prop_string(context, -2, name);
            }
        });
    }, objects[1].second.get());
    stopNow = [&] {
        server->get_ScriptTimeout(&timeout);
        return ended || calls.stopped() || std::chrono::steady_clock::now() - start >= std::chrono::seconds(timeout);
    };
    SetServerPageHooks(server.get(), calls.hooks());
    // A form posted from a page in another code page comes in that code page.
    IDispatch* responseObject = objects[1].second.get();
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

    const RunOutcome outcome = calls.runFirst(physical.substr(mRoot.size()), physical);
    const bool answered = !ended && !outcome.ok && !outcome.timedOut && showErrorPage(calls, request, response, outcome, ended);
    FinishResponseObject(objects[1].second.get());
    if (ended || answered) return;  // Response.End, Redirect, Transfer or the site's error page: that answer stands
    if (outcome.timedOut)
        return fail(request, response, outcome.where,
                    "The page ran longer than its ScriptTimeout of " + std::to_string(timeout) +
                        " seconds and was stopped.");
    if (!outcome.ok) fail(request, response, outcome.where, outcome.error);
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
    server.addPageSuffix(kPageSuffix, [pages](const PageRequest& request, Response& response) {
        pages->serve(request, response);
    }, PageOptions{.readsBody = true});
    server.hideFiles([pages](const std::string& path) { return pages->isSource(path); });
    pages->skipFoldersWhere([&server](const std::string& folder) { return server.pageServesFolder(folder); });
    return pages;
}

}  // namespace script
