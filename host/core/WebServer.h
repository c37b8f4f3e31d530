// The embedded HTTP server: thread-per-request workers, pages registered by
// virtual path, static files from the document root for every other path.
// It owns the HTTP edges: the hosts it answers for, the methods, bodies
// announced by length only, "100 Continue", size limits before any body
// byte is read, time limits for slow clients, and the headers every answer
// carries.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/BodyReader.h"
#include "core/Page.h"

struct mg_context;
struct mg_connection;

struct ServerOptions {
    std::string bindAddress = "127.0.0.1";
    int port = 8080;  // 0: any free port
    std::string documentRoot;
    int threads = 64;
    // Host header values answered (without a port); empty: the bound
    // address and "localhost".
    std::vector<std::string> hosts;
    long long maxBodyBytes = 2000000000;
    // A request's head must arrive within this time of a worker taking the
    // connection; it is also how long one read of a body waits before the
    // body limits are checked again.
    int headerTimeoutMs = 500;
    // A connection kept open after an answer waits this long for the next
    // request before it closes.
    int keepAliveMs = 2000;
    // Anonymous memory the server may keep resident between requests. Up to
    // it, what a request freed stays in the heap for the next one: giving it
    // back and faulting it in again cost a form of 10,000 fields a third of
    // its time, and each core's heap keeps about 35 MB for such a form.
    // Above it everything free goes back after each request with a body, so
    // that a server at rest stays under it whatever forms it served. The
    // heap must not give back less on its own (the C library's trim
    // threshold, which the server sets to it).
    long keptMemoryBytes = 128L << 20;
    BodyLimits body;
};

class WebServer {
public:
    explicit WebServer(ServerOptions options);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    void addPage(const std::string& virtualPath, Page page, PageOptions options = {});
    // A page for every path ending in `suffix` (in any case) that no page
    // added by path answers.
    void addPageSuffix(const std::string& suffix, Page page, PageOptions options = {});
    // Whether a page added with `prefix` answers every path in `folder`
    // (a virtual path ending in "/").
    bool pageServesFolder(const std::string& folder) const;
    // Files whose paths `hidden` names are never sent as static files (404).
    void hideFiles(std::function<bool(const std::string&)> hidden) { mHidden = std::move(hidden); }
    // Starts listening; false with a message when the server cannot start.
    bool start(std::string* error);
    // Draining: the server still answers every request that reaches it, but
    // closes each connection after its answer, and says it is draining
    // (draining()) so that a balancer in front stops sending it requests.
    void beginDrain() { mDraining = true; }
    bool draining() const { return mDraining || mStopping; }
    // No connection is open (none is being answered or kept for a next request).
    bool idle() const { return mOpenConnections.load() == 0; }
    // Stops: reads of request bodies end at once, and it returns once every
    // worker has finished the page it runs.
    void stop();
    int port() const { return mPort; }
    const ServerOptions& options() const { return mOptions; }
    const std::string& documentRoot() const { return mOptions.documentRoot; }

private:
    struct PageEntry {
        Page page;
        PageOptions options;
    };

    static int BeginRequest(mg_connection* connection);
    static int ConnectionOpened(const mg_connection* connection, void** data);
    static void ConnectionClosed(const mg_connection* connection);
    // Writes the library's error answers (see the .cpp).
    static int ErrorAnswer(mg_connection* connection, int status, const char* message);
    // Answers a request the library drops without a word (see the .cpp).
    static void ConnectionClosing(const mg_connection* connection);
    int dispatch(mg_connection* connection);
    // The status and text of a request refused at the edge; 0 when it passes.
    int refusal(mg_connection* connection, const PageEntry* page, std::string* text) const;
    bool hostAllowed(const char* host) const;
    const PageEntry* findPage(const std::string& path) const;
    void serve(mg_connection* connection, const PageEntry& page);
    // The status line and headers of a page's answer; without a length when
    // the page sends its body in parts (the connection's end ends it).
    static std::string Head(const Response& response, long long contentLength, bool keepOpen);
    // Whether the connection may stay open for another request after this
    // answer: the client wants it, and half the workers are still free for
    // other connections (a kept connection holds its worker while it waits).
    bool mayKeepOpen(mg_connection* connection) const;
    // Ends the connection after this answer.
    static void closeAfterAnswer(mg_connection* connection);
    // A refusal after the page has started reading the body, as a complete
    // answer; the connection closes after it.
    static void SendRefusal(mg_connection* connection, int status, const char* reason, const std::string& text);
    // Answers 416 to a Range the file cannot satisfy (true), which the
    // static file sender would answer with a negative length.
    static bool refuseRange(mg_connection* connection, const std::string& file);
    // Answers up to this long are sent with their head in one write.
    static constexpr size_t kOneWriteBytes = 64 * 1024;
    bool busy() const { return mBusyWorkers.load() >= mOptions.threads - 1; }

    ServerOptions mOptions;
    std::map<std::string, PageEntry> mPages;
    std::vector<std::pair<std::string, PageEntry>> mSuffixPages;
    std::function<bool(const std::string&)> mHidden;
    mg_context* mContext = nullptr;
    int mPort = 0;
    std::atomic<int> mBusyWorkers{0};
    std::atomic<int> mOpenConnections{0};
    std::atomic<bool> mDraining{false};
    // Stopping: reads of request bodies end at once.
    std::atomic<bool> mStopping{false};
};
