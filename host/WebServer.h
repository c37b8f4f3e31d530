// The embedded HTTP server: thread-per-request workers, pages registered by
// virtual path, static files from the document root for every other path.
#pragma once

#include <map>
#include <string>

#include "Page.h"

struct mg_context;
struct mg_connection;

struct ServerOptions {
    std::string bindAddress = "127.0.0.1";
    int port = 8080;  // 0: any free port
    std::string documentRoot;
    int threads = 16;
};

class WebServer {
public:
    explicit WebServer(ServerOptions options);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    void addPage(const std::string& virtualPath, Page page);
    // Starts listening; false with a message when the server cannot start.
    bool start(std::string* error);
    void stop();
    int port() const { return mPort; }
    const std::string& documentRoot() const { return mOptions.documentRoot; }

private:
    static int HandleRequest(mg_connection* connection, void* page);
    void serve(mg_connection* connection, const Page& page);

    ServerOptions mOptions;
    std::map<std::string, Page> mPages;
    mg_context* mContext = nullptr;
    int mPort = 0;
};
