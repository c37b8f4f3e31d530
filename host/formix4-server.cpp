// formix4-server [--bind ADDR] [--port N] [--root DIR] [--threads N]
// Serves the component's pages and the document root's files until it is
// interrupted. With --port 0 it picks a free port; the first line it prints
// names the address it listens on.
#include <malloc.h>
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "Pages.h"
#include "SitePages.h"
#include "WebServer.h"

namespace {
int Usage() {
    std::fprintf(stderr, "usage: formix4-server [--bind ADDR] [--port N] [--root DIR] [--threads N]\n");
    return 2;
}
}  // namespace

int main(int argc, char** argv) {
    ServerOptions options;
    options.documentRoot = FORMIX4_DEFAULT_ROOT;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) return Usage();
        const std::string value = argv[++i];
        try {
            if (arg == "--bind") options.bindAddress = value;
            else if (arg == "--port") options.port = std::stoi(value);
            else if (arg == "--root") options.documentRoot = value;
            else if (arg == "--threads") options.threads = std::stoi(value);
            else return Usage();
        } catch (const std::exception&) {
            return Usage();
        }
    }
    // Large blocks (a byte array a page asks for) always come from and go
    // back to the system, so the server's memory returns to where it was
    // after the uploads, whatever sizes they had.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    mallopt(M_TRIM_THRESHOLD, 4 << 20);

    // Signals are taken by this thread only; the workers never see them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    WebServer server(options);
    AddFormixPages(server);
    AddSitePages(server);
    std::string error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "formix4-server: %s\n", error.c_str());
        return 1;
    }
    std::printf("formix4-server listening on http://%s:%d/ (document root %s)\n", options.bindAddress.c_str(),
                server.port(), server.documentRoot().c_str());
    std::fflush(stdout);
    int received = 0;
    sigwait(&stopSignals, &received);
    server.stop();
    return 0;
}
