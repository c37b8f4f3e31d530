// The embedded HTTP server: starting and stopping it, the library's
// callbacks, pages by path, and the serving of one request by its page.
#include "core/WebServer.h"

#include <sys/stat.h>

#include <malloc.h>

#include <civetweb.h>
#include <limits.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <exception>

#include "core/CaseBlindPaths.h"
#include "core/HttpAnswers.h"
#include "core/ObjectContext.h"
#include "core/RequestObject.h"
#include "core/ServerObject.h"
#include "core/ServerSockets.h"
#include "platform/Asp.h"
#include "platform/ComPtr.h"
#include "platform/Security.h"

namespace {

// Resets the thread's request state however the page ends.
class RequestScope {
public:
    explicit RequestScope(IObjectContext* context, std::atomic<int>& busy) : mBusy(busy) {
        ++mBusy;
        platform::SetThreadObjectContext(context);
    }
    ~RequestScope() {
        platform::SetThreadObjectContext(nullptr);
        // The worker thread leaves every page as the process, whatever the
        // page left behind (a leaked form keeps its impersonation otherwise),
        // so the next request, page or file, starts as the process.
        RevertToSelf();
        --mBusy;
    }
    RequestScope(const RequestScope&) = delete;
    RequestScope& operator=(const RequestScope&) = delete;

private:
    std::atomic<int>& mBusy;
};

// Resident pages that no file backs: /proc/self/statm's resident less its
// shared (file and shared memory) pages; -1 when unknown.
[[maybe_unused]] long AnonymousResidentBytes() {
    FILE* statm = std::fopen("/proc/self/statm", "re");
    if (!statm) return -1;
    long size = 0, resident = 0, shared = 0;
    const bool read = std::fscanf(statm, "%ld %ld %ld", &size, &resident, &shared) == 3;
    std::fclose(statm);
    return read ? (resident - shared) * sysconf(_SC_PAGESIZE) : -1;
}

// Gives the heap's free memory back to the system when the server holds more
// than it keeps. Under the address sanitizer another allocator owns the heap
// and the C library's trim would walk arenas that were never set up, so
// there is nothing to give back.
void ReturnFreedHeap([[maybe_unused]] long keptBytes) {
#if !defined(__SANITIZE_ADDRESS__)
    const long anonymous = AnonymousResidentBytes();
    if (anonymous < 0 || anonymous > keptBytes) malloc_trim(0);
#endif
}

// Where the page ends in an address that goes on past it ("/a/page.asp/more"
// is /a/page.asp with /more after it, as classic servers run it); npos when
// `lowerPath` names no page of `suffix` that way.
size_t PageWithMorePath(const std::string& lowerPath, const std::string& suffix) {
    const size_t at = lowerPath.find(suffix + "/");
    return at == std::string::npos || at == 0 || lowerPath[at - 1] == '/' ? std::string::npos : at + suffix.size();
}

}  // namespace

WebServer::WebServer(ServerOptions options) : mOptions(std::move(options)) {
    char resolved[PATH_MAX];
    if (realpath(mOptions.documentRoot.c_str(), resolved)) mOptions.documentRoot = resolved;
    // The bound address and localhost are always answered (a balancer's
    // health check and local tools use them; a rebinding attack cannot send
    // them), besides every --host name.
    mOptions.hosts.insert(mOptions.hosts.end(), {mOptions.bindAddress, "localhost"});
    for (std::string& host : mOptions.hosts) host = HostName(host);
}

WebServer::~WebServer() { stop(); }

void WebServer::addPage(const std::string& virtualPath, Page page, PageOptions options) {
    // Addresses are found without regard to letter case, as the sites' file
    // systems found their pages.
    mPages[Lower(virtualPath)] = PageEntry{std::move(page), options};
}

void WebServer::addPageSuffix(const std::string& suffix, Page page, PageOptions options) {
    mSuffixPages.emplace_back(Lower(suffix), PageEntry{std::move(page), options});
}

bool WebServer::start(std::string* error) {
    mg_init_library(0);
    const std::string ports = mOptions.bindAddress + ":" + std::to_string(mOptions.port);
    const std::string threads = std::to_string(mOptions.threads);
    const std::string headerTimeout = std::to_string(mOptions.headerTimeoutMs);
    const std::string keepAlive = std::to_string(mOptions.keepAliveMs);
    const std::string staticHeaders = std::string(kNoSniff) + "\r\n" + kSecurityPolicy;
    const char* options[] = {
        "listening_ports", ports.c_str(), "document_root", mOptions.documentRoot.c_str(), "num_threads",
        threads.c_str(), "request_timeout_ms", headerTimeout.c_str(), "enable_keep_alive", "yes",
        "keep_alive_timeout_ms", keepAlive.c_str(), "enable_directory_listing", "no", "access_control_allow_origin", "",
        "access_control_allow_methods", "", "access_control_allow_headers", "", "additional_header",
        staticHeaders.c_str(), "max_request_size", "16384", "listen_backlog", "4096",
        // A request whose target is a URL (absolute form)
        // is this server's when it names this host and port.
        "authentication_domain", (mOptions.hosts.empty() ? mOptions.bindAddress : mOptions.hosts.front()).c_str(),
        nullptr};
    mg_callbacks callbacks{};
    callbacks.begin_request = &WebServer::BeginRequest;
    callbacks.init_connection = &WebServer::ConnectionOpened;
    callbacks.connection_close = &WebServer::ConnectionClosing;
    callbacks.http_error = &WebServer::ErrorAnswer;
    callbacks.connection_closed = &WebServer::ConnectionClosed;
    mContext = mg_start(&callbacks, this, options);
    if (!mContext) {
        *error = "cannot listen on " + ports;
        return false;
    }
    mg_server_port ports_info[4];
    const int count = mg_get_server_ports(mContext, 4, ports_info);
    mPort = count > 0 ? ports_info[0].port : mOptions.port;
    DeferAcceptUntilData(mPort);
    return true;
}

void WebServer::stop() {
    mStopping = true;
    if (mContext) {
        mg_stop(mContext);
        mContext = nullptr;
    }
}

int WebServer::BeginRequest(mg_connection* connection) {
    auto* server = static_cast<WebServer*>(mg_get_user_data(mg_get_context(connection)));
    // Marks the connection as having had a request passed on (and perhaps an
    // answer written): see ConnectionClosing.
    mg_set_user_connection_data(connection, connection);
    return server->dispatch(connection);
}

int WebServer::ConnectionOpened(const mg_connection* connection, void**) {
    auto* server = static_cast<WebServer*>(mg_get_user_data(mg_get_context(connection)));
    ++server->mOpenConnections;
    return 0;
}

void WebServer::ConnectionClosed(const mg_connection* connection) {
    auto* server = static_cast<WebServer*>(mg_get_user_data(mg_get_context(connection)));
    --server->mOpenConnections;
}

bool WebServer::mayKeepOpen(mg_connection* connection) const {
    const mg_request_info* info = mg_get_request_info(connection);
    const char* header = mg_get_header(connection, "Connection");
    const std::string wish = Lower(header ? header : "");
    // HTTP/1.1 keeps a connection unless told to close it; HTTP/1.0 only when asked to keep it.
    const bool wanted = info->http_version && std::string(info->http_version) == "1.1"
                            ? wish.find("close") == std::string::npos
                            : wish.find("keep-alive") != std::string::npos;
    return wanted && !draining() && mOpenConnections.load() <= mOptions.threads / 2;
}

const WebServer::PageEntry* WebServer::findPage(const std::string& path) const {
    const std::string lower = Lower(path);
    auto exact = mPages.find(lower);
    if (exact != mPages.end()) return &exact->second;
    for (const auto& [pagePath, entry] : mPages)
        if (entry.options.prefix && lower.size() > pagePath.size() &&
            lower.compare(0, pagePath.size(), pagePath) == 0 && pagePath.back() == '/')
            return &entry;
    for (const auto& [suffix, entry] : mSuffixPages)
        if (lower.size() > suffix.size() && lower.compare(lower.size() - suffix.size(), suffix.size(), suffix) == 0)
            return &entry;
    for (const auto& [suffix, entry] : mSuffixPages)
        if (PageWithMorePath(lower, suffix) != std::string::npos) return &entry;
    return nullptr;
}

bool WebServer::pageServesFolder(const std::string& folder) const {
    for (const auto& [pagePath, entry] : mPages)
        if (entry.options.prefix && pagePath.back() == '/' && folder.starts_with(pagePath)) return true;
    return false;
}

int WebServer::dispatch(mg_connection* connection) {
    const mg_request_info* info = mg_get_request_info(connection);
    const PageEntry* page = findPage(info->local_uri ? info->local_uri : "/");
    std::string text;
    if (const int status = refusal(connection, page, &text)) {
        // The connection closes after the answer, so a body announced but
        // refused is never read.
        closeAfterAnswer(connection);
        mg_send_http_error(connection, status, "%s", text.c_str());
        return status;
    }
    if (!page) {
        const std::string path = info->local_uri ? info->local_uri : "/";
        if (!mayKeepOpen(connection)) closeAfterAnswer(connection);
        if (mHidden && mHidden(path)) {
            mg_send_http_error(connection, 404, "%s", "Not found.");
            return 404;
        }
        const std::string asked = mOptions.documentRoot + path;
        const std::string file = FindWithoutCase(mOptions.documentRoot, asked);
        if (refuseRange(connection, file)) return 416;
        struct stat st {};
        if (file != asked && file.find("/.", mOptions.documentRoot.size()) == std::string::npos &&
            stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            // The library looks the file up by the asked name, so one found
            // under other letter case is sent from here; never a hidden one.
            mg_send_mime_file2(connection, file.c_str(), nullptr, nullptr);
            return 200;
        }
        return 0;  // a static file
    }
    const char* expect = mg_get_header(connection, "Expect");
    if (expect && info->content_length > 0) mg_printf(connection, "HTTP/1.1 100 Continue\r\n\r\n");
    serve(connection, *page);
    // What the page took from this thread's heap goes back to the system
    // beyond a bound: otherwise each worker keeps the largest heap any
    // request made on it, and a busy server holds that many times the
    // largest form.
    if (page->options.readsBody && info->content_length > 0) ReturnFreedHeap(mOptions.keptMemoryBytes);
    return 200;
}

void WebServer::serve(mg_connection* connection, const PageEntry& entry) {
    const mg_request_info* info = mg_get_request_info(connection);
    PageRequest request;
    request.method = info->request_method;
    request.path = info->local_uri ? info->local_uri : "/";
    request.pathInfo = request.path;
    for (const auto& [suffix, suffixEntry] : mSuffixPages)
        if (&suffixEntry == &entry) {
            const size_t end = PageWithMorePath(Lower(request.path), suffix);
            if (end != std::string::npos) request.path.resize(end);
        }
    request.queryString = info->query_string ? info->query_string : "";
    request.contentLength = info->content_length;
    request.documentRoot = mOptions.documentRoot;
    request.remoteAddress = info->remote_addr;
    request.remotePort = info->remote_port;
    request.localAddress = mOptions.bindAddress;
    // The port this connection came in on: the server's own port is known
    // only once it listens, after the workers may have started serving.
    request.serverPort = info->server_port;
    if (info->http_version) request.httpVersion = info->http_version;
    for (int i = 0; i < info->num_headers; ++i)
        request.headers[Lower(info->http_headers[i].name)] = info->http_headers[i].value;

    std::unique_ptr<BodyReader> body;
    if (entry.options.readsBody && info->content_length > 0) {
        body = std::make_unique<BodyReader>(
            connection, info->content_length, mOptions.body,
            BodyReader::ServerState{[this] { return busy(); }, [this] { return mStopping.load(); }});
        request.body = body.get();
    }
    platform::ComPtr<IRequest> requestObject(CreateRequestObject(request, body.get()));
    platform::ComPtr<IServer> serverObject(CreateServerObject(mOptions.documentRoot, request.path));
    platform::ComPtr<IObjectContext> context(CreateObjectContext(requestObject.get(), serverObject.get()));
    Response response;
    response.clientConnected = [&request] { return ClientStillConnected(request); };
    response.flush = [&](Response& parts) {
        if (!parts.headersSent) {
            // Without a length, the connection's end ends the answer.
            closeAfterAnswer(connection);
            const std::string head = Head(parts, -1, false);
            mg_write(connection, head.data(), head.size());
        }
        parts.headersSent = true;
        if (request.method != "HEAD") SendBody(connection, parts);
        parts.setBody("");
    };
    {
        RequestScope scope(context.get(), mBusyWorkers);
        // No failure of a page may end the worker: it is answered and logged.
        std::string failure;
        try {
            entry.page(request, response);
        } catch (const std::exception& e) {
            failure = e.what();
        } catch (...) {
            failure = "an unknown exception";
        }
        if (!failure.empty()) {
            std::fprintf(stderr, "formix4-server: page %s failed: %s\n", request.path.c_str(), failure.c_str());
            if (response.headersSent) return;  // the connection's end tells the client
            response = Response();
            response.status = 500;
            response.body = "The page failed.\n";
        }
    }

    // A body the server stopped reading is answered by the server, and the
    // connection closes without reading the rest of it.
    if (body && body->stop() != BodyReader::Stop::None) {
        closeAfterAnswer(connection);
        if (body->stop() == BodyReader::Stop::TooManyFields)
            SendRefusal(connection, 413, "Payload Too Large",
                        "The form has more fields than this server takes (" + std::to_string(body->maxFields()) + ").");
        else
            SendRefusal(connection, 408, "Request Timeout", "The request body was sent too slowly or not at all.");
        return;
    }
    // A body the page left unread would be taken for the next request.
    const bool keepOpen = mayKeepOpen(connection) && (!body || body->remaining() == 0);
    if (!keepOpen) closeAfterAnswer(connection);
    std::string headers;
    for (const auto& [name, value] : response.headers) headers += name + ": " + value + "\r\n";
    if (!response.file.empty()) {
        if (refuseRange(connection, response.file)) return;
        // The server adds the headers of static files (nosniff, the policy).
        if (!headers.empty()) headers.erase(headers.size() - 2);  // the call ends the last line itself
        mg_send_mime_file2(connection, response.file.c_str(), response.contentType.c_str(), headers.c_str());
        return;
    }
    const bool withBody = request.method != "HEAD";
    if (response.headersSent) {
        if (withBody) SendBody(connection, response);
        return;
    }
    // A short answer goes out in one write, head and body together: one
    // segment, not two.
    const size_t bodySize = response.bodySize();
    std::string head = Head(response, static_cast<long long>(bodySize), keepOpen);
    if (withBody && bodySize <= kOneWriteBytes) {
        head += response.body;
        for (const Response::Part& part : response.parts) head += part.bytes();
        mg_write(connection, head.data(), head.size());
        return;
    }
    mg_write(connection, head.data(), head.size());
    if (withBody) SendBody(connection, response);
}
