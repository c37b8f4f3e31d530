#include "core/WebServer.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <poll.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <malloc.h>

#include <civetweb.h>
#include <limits.h>
#include <stdlib.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <limits>

#include "core/CaseBlindPaths.h"
#include "core/ObjectContext.h"
#include "core/RequestObject.h"
#include "core/ServerObject.h"
#include "platform/Asp.h"
#include "platform/ComPtr.h"
#include "platform/Security.h"

namespace {

// The kernel holds a new connection until its first bytes arrive, for up to
// this long, before the listener takes it: a connection that stays silent
// costs no worker meanwhile. One that is still open and silent after it is
// taken, and waits the head's timeout.
constexpr int kDeferAcceptSeconds = 30;

// The process's sockets, each offered to `visit` until it answers true:
// the library opens the server's sockets and does not give them out, so
// they are found by what they are bound to.
void ForEachSocket(const std::function<bool(int fd)>& visit) {
    DIR* fds = opendir("/proc/self/fd");
    if (!fds) return;
    while (const dirent* entry = readdir(fds)) {
        const int fd = std::atoi(entry->d_name);
        if (fd > 2 && visit(fd)) break;
    }
    closedir(fds);
}

int PortOf(const sockaddr_storage& address) {
    return address.ss_family == AF_INET6 ? ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port)
                                         : ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
}

std::string HostOf(const sockaddr_storage& address) {
    char text[INET6_ADDRSTRLEN] = "";
    if (address.ss_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&address)->sin6_addr, text, sizeof text);
    else
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&address)->sin_addr, text, sizeof text);
    return text;
}

// Sets the deferral on the server's listening socket: the one listening on `port`.
void DeferAcceptUntilData(int port) {
    ForEachSocket([port](int fd) {
        int listening = 0;
        socklen_t size = sizeof listening;
        sockaddr_storage address{};
        socklen_t addressSize = sizeof address;
        if (getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) != 0 || !listening ||
            getsockname(fd, reinterpret_cast<sockaddr*>(&address), &addressSize) != 0 || PortOf(address) != port)
            return false;
        setsockopt(fd, IPPROTO_TCP, TCP_DEFER_ACCEPT, &kDeferAcceptSeconds, sizeof kDeferAcceptSeconds);
        return true;
    });
}

// Whether the client of `request` still holds its connection: its socket,
// found by its two ends, has not been hung up on.
bool ClientStillConnected(const PageRequest& request) {
    bool connected = false;
    ForEachSocket([&](int fd) {
        sockaddr_storage local{}, peer{};
        socklen_t localSize = sizeof local, peerSize = sizeof peer;
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localSize) != 0 || PortOf(local) != request.serverPort ||
            getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerSize) != 0 || PortOf(peer) != request.remotePort ||
            HostOf(peer) != request.remoteAddress)
            return false;
        pollfd check{fd, POLLRDHUP, 0};
        connected = poll(&check, 1, 0) == 0 || !(check.revents & (POLLRDHUP | POLLHUP | POLLERR));
        return true;
    });
    return connected;
}

// Every answer forbids guessing a type other than the one sent; pages and
// the site's files load scripts, styles and pictures from the site only.
const char kNoSniff[] = "X-Content-Type-Options: nosniff";
const char kSecurityPolicy[] =
    "Content-Security-Policy: default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
    "connect-src 'self'; form-action 'self'; base-uri 'none'; frame-ancestors 'none'";

const char* StatusText(int status) {
    switch (status) {
    case 200: return "OK";
    case 303: return "See Other";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 411: return "Length Required";
    case 413: return "Payload Too Large";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    case 507: return "Insufficient Storage";
    default: return "Status";
    }
}

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
long AnonymousResidentBytes() {
    FILE* statm = std::fopen("/proc/self/statm", "re");
    if (!statm) return -1;
    long size = 0, resident = 0, shared = 0;
    const bool read = std::fscanf(statm, "%ld %ld %ld", &size, &resident, &shared) == 3;
    std::fclose(statm);
    return read ? (resident - shared) * sysconf(_SC_PAGESIZE) : -1;
}

// Sends a response's body and then its parts. Parts smaller than a write are
// gathered first: a report of 10,000 items goes out in writes of 256 KB,
// not one per item, and is never copied whole into one text.
void SendBody(mg_connection* connection, const Response& response) {
    constexpr size_t kWriteBytes = 256 * 1024;
    mg_write(connection, response.body.data(), response.body.size());
    std::string gathered;
    for (const Response::Part& part : response.parts) {
        const std::string_view bytes = part.bytes();
        if (!gathered.empty() && gathered.size() + bytes.size() > kWriteBytes) {
            mg_write(connection, gathered.data(), gathered.size());
            gathered.clear();
        }
        if (bytes.size() >= kWriteBytes) {
            mg_write(connection, bytes.data(), bytes.size());
        } else {
            if (gathered.empty()) gathered.reserve(kWriteBytes);
            gathered += bytes;
        }
    }
    if (!gathered.empty()) mg_write(connection, gathered.data(), gathered.size());
}

// Gives the heap's free memory back to the system when the server holds more
// than it keeps. Under the address sanitizer another allocator owns the heap
// and the C library's trim would walk arenas that were never set up, so
// there is nothing to give back.
void ReturnFreedHeap(long keptBytes) {
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

std::optional<std::string> PageRequest::queryValue(const std::string& name) const {
    size_t start = 0;
    while (start <= queryString.size()) {
        size_t end = queryString.find('&', start);
        if (end == std::string::npos) end = queryString.size();
        const std::string pair = queryString.substr(start, end - start);
        const size_t equals = pair.find('=');
        if (UrlDecode(pair.substr(0, equals)) == name)
            return equals == std::string::npos ? std::string() : UrlDecode(pair.substr(equals + 1));
        start = end + 1;
    }
    return std::nullopt;
}

std::string PageRequest::header(const std::string& name) const {
    auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
}

std::string PageRequest::clientAddress() const {
    const bool local = remoteAddress.starts_with("127.") || remoteAddress == "::1" ||
                       remoteAddress.starts_with("::ffff:127.");
    if (!local) return remoteAddress;
    // The proxy appends the address it took the request from to what the
    // client sent: only that last entry is the proxy's own word.
    const std::string forwarded = header("x-forwarded-for");
    const size_t comma = forwarded.rfind(',');
    std::string last = forwarded.substr(comma == std::string::npos ? 0 : comma + 1);
    last.erase(0, last.find_first_not_of(" \t"));
    last.erase(last.find_last_not_of(" \t") + 1);
    return last;
}

std::vector<std::pair<std::string, std::string>> PageRequest::cookies() const {
    std::vector<std::pair<std::string, std::string>> result;
    const std::string text = header("cookie");
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(';', start);
        if (end == std::string::npos) end = text.size();
        const size_t first = text.find_first_not_of(' ', start);
        const size_t equals = text.find('=', first);
        if (first < end && equals < end)
            result.emplace_back(text.substr(first, equals - first), text.substr(equals + 1, end - equals - 1));
        start = end + 1;
    }
    return result;
}

std::string PageRequest::cookie(const std::string& name) const {
    for (const auto& [cookieName, value] : cookies())
        if (cookieName == name) return value;
    return {};
}

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
    const char* options[] = {"listening_ports", ports.c_str(),
                             "document_root", mOptions.documentRoot.c_str(),
                             "num_threads", threads.c_str(),
                             "request_timeout_ms", headerTimeout.c_str(),
                             "enable_keep_alive", "yes",
                             "keep_alive_timeout_ms", keepAlive.c_str(),
                             "enable_directory_listing", "no",
                             "access_control_allow_origin", "",
                             "access_control_allow_methods", "",
                             "access_control_allow_headers", "",
                             "additional_header", staticHeaders.c_str(),
                             "max_request_size", "16384",
                             "listen_backlog", "4096",
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

// Every error answer the library would make (a request it cannot read, a
// file it cannot send, the refusals of dispatch) is written here instead:
// the library's own names, in the status line, the version text the client
// sent, and a request line of more than three parts brings the client's
// header lines into the answer's head with it.
int WebServer::ErrorAnswer(mg_connection* connection, int status, const char* message) {
    closeAfterAnswer(connection);
    const char* reason = mg_get_response_code_text(connection, status);
    SendRefusal(connection, status, reason ? reason : "Error", message ? message : "");
    return 0;
}

// The library closes a connection without any answer when the request's
// target is "*" or a URL of another server, as a server that is no proxy.
// Such a request is answered here, as the connection closes, when it was
// the connection's first: nothing was written to it before, so the short
// answer cannot wait on a client that does not read (the library's lock is
// held here).
void WebServer::ConnectionClosing(const mg_connection* connection) {
    const mg_request_info* info = mg_get_request_info(connection);
    if (mg_get_user_connection_data(connection) || !info || !info->request_method || !info->request_uri ||
        info->local_uri)
        return;
    const std::string target = info->request_uri;
    const std::string scheme = Lower(target.substr(0, target.find("://") + 1));
    auto* writable = const_cast<mg_connection*>(connection);
    if (target == "*" && std::string(info->request_method) == "OPTIONS")
        SendRefusal(writable, 405, "Method Not Allowed", "Only GET, HEAD and POST are answered here.");
    else if (target == "*")
        SendRefusal(writable, 400, "Bad Request", "The request names no path.");
    else if (scheme == "http:" || scheme == "https:" || scheme == "ws:" || scheme == "wss:")
        SendRefusal(writable, 400, "Bad Request", "This server does not answer for that host name.");
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

void WebServer::closeAfterAnswer(mg_connection* connection) { mg_disable_connection_keep_alive(connection); }

// Written whole here rather than by the library's error answer, which
// after an interim "100 Continue" takes the head for sent and writes the
// text alone.
void WebServer::SendRefusal(mg_connection* connection, int status, const char* reason, const std::string& text) {
    const std::string body = "Error " + std::to_string(status) + ": " + text;
    mg_printf(connection,
              "HTTP/1.1 %d %s\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: %zu\r\n"
              "Cache-Control: no-store\r\n%s\r\nConnection: close\r\n\r\n%s",
              status, reason, body.size(), kNoSniff, body.c_str());
}

bool WebServer::refuseRange(mg_connection* connection, const std::string& file) {
    const char* range = mg_get_header(connection, "Range");
    struct stat st{};
    if (!range || stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || RangeSatisfiable(range, st.st_size))
        return false;
    closeAfterAnswer(connection);
    mg_printf(connection,
              "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */%lld\r\nContent-Length: 0\r\n"
              "Connection: close\r\n\r\n",
              static_cast<long long>(st.st_size));
    return true;
}

const WebServer::PageEntry* WebServer::findPage(const std::string& path) const {
    const std::string lower = Lower(path);
    auto exact = mPages.find(lower);
    if (exact != mPages.end()) return &exact->second;
    for (const auto& [pagePath, entry] : mPages)
        if (entry.options.prefix && lower.size() > pagePath.size() && lower.compare(0, pagePath.size(), pagePath) == 0 &&
            pagePath.back() == '/')
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

bool WebServer::hostAllowed(const char* host) const {
    if (!host) return false;
    const std::string name = HostName(host);
    for (const std::string& allowed : mOptions.hosts)
        if (name == allowed) return true;
    return false;
}

int WebServer::refusal(mg_connection* connection, const PageEntry* page, std::string* text) const {
    const mg_request_info* info = mg_get_request_info(connection);
    if (info->num_headers >= MG_MAX_HEADERS) {
        *text = "The request has too many header lines (at most " + std::to_string(MG_MAX_HEADERS - 1) + ").";
        return 431;
    }
    // One host, one length: a request that says two things is refused
    // rather than read one way here and another way by a proxy in front.
    int hosts = 0;
    std::string firstLength;
    for (int i = 0; i < info->num_headers; ++i) {
        const std::string name = Lower(info->http_headers[i].name ? info->http_headers[i].name : "");
        const std::string value = info->http_headers[i].value ? info->http_headers[i].value : "";
        if (name == "host") ++hosts;
        if (name != "content-length") continue;
        if (!firstLength.empty() && value != firstLength) {
            *text = "The request gives two different lengths.";
            return 400;
        }
        firstLength = value;
    }
    const char* host = mg_get_header(connection, "Host");
    if (hosts > 1 || (host && !WellFormedHost(host))) {
        *text = "The request must name one well-formed host.";
        return 400;
    }
    // Only the names this site is reached by, so that a page of another
    // site cannot rebind its own name to this server.
    if (!hostAllowed(host)) {
        *text = "This server does not answer for that host name.";
        return 400;
    }
    const std::string method = info->request_method ? info->request_method : "";
    if (method != "GET" && method != "HEAD" && method != "POST") {
        *text = "Only GET, HEAD and POST are answered here.";
        return 405;
    }
    // The component needs a body's length before its first byte.
    if (mg_get_header(connection, "Transfer-Encoding")) {
        *text = "Send the request body with a Content-Length; chunked bodies are not accepted.";
        return 411;
    }
    const char* lengthHeader = mg_get_header(connection, "Content-Length");
    long long length = 0;
    if (lengthHeader) {
        const std::string digits(lengthHeader);
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) {
            *text = "The Content-Length is not a number.";
            return 400;
        }
        // Any length of more than 15 digits is over every limit.
        length = digits.size() > 15 ? std::numeric_limits<long long>::max() : std::stoll(digits);
    }
    const long long limit = std::min<long long>(mOptions.maxBodyBytes, 0x7FFFFFFF);
    if (length > limit) {
        *text = "The request body is larger than this server takes (" + std::to_string(limit) + " bytes).";
        return 413;
    }
    const bool readsBody = page && page->options.readsBody && method == "POST";
    if (length > 0 && !readsBody) {
        *text = "This address takes no request body.";
        return 413;
    }
    if (readsBody && !lengthHeader) {
        *text = "Send the request body with a Content-Length.";
        return 411;
    }
    const char* expect = mg_get_header(connection, "Expect");
    if (expect && Lower(expect) != "100-continue") {
        *text = "Only the expectation 100-continue is understood.";
        return 417;
    }
    return 0;
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
        struct stat st{};
        if (file != asked && file.find("/.", mOptions.documentRoot.size()) == std::string::npos && stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
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
        body = std::make_unique<BodyReader>(connection, info->content_length, mOptions.body,
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

std::string WebServer::Head(const Response& response, long long contentLength, bool keepOpen) {
    std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " + StatusText(response.status) +
                       "\r\nContent-Type: " + response.contentType +
                       (keepOpen ? "\r\nConnection: keep-alive\r\n" : "\r\nConnection: close\r\n");
    bool ownPolicy = false;
    for (const auto& [name, value] : response.headers) {
        head += name + ": " + value + "\r\n";
        ownPolicy = ownPolicy || Lower(name) == "content-security-policy";
    }
    // A page that sends a policy of its own (a site whose pages hold inline
    // scripts) has that one instead of the server's.
    head += std::string(kNoSniff) + "\r\n" + (ownPolicy ? "" : std::string(kSecurityPolicy) + "\r\n");
    if (contentLength >= 0) head += "Content-Length: " + std::to_string(contentLength) + "\r\n";
    return head + "\r\n";
}
