// formix4-test-server [--port N] [--root DIR] [--threads N] [--max-upload BYTES]
// The server the tests start: the test pages on the server core, as root
// when started as root (impersonation tests need it), no field cap. The
// first line it prints names the address it listens on.

#include <cstdio>
#include <string>

#include "TestPages.h"
#include "core/StopSignals.h"
#include "core/WebServer.h"

int main(int argc, char** argv) {
    ServerOptions options;
    options.documentRoot = ".";
    options.threads = 16;
    options.body.maxFields = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i], value = argv[i + 1];
        if (arg == "--port")
            options.port = std::stoi(value);
        else if (arg == "--root")
            options.documentRoot = value;
        else if (arg == "--threads")
            options.threads = std::stoi(value);
        else if (arg == "--max-upload")
            options.maxBodyBytes = std::stoll(value);
        else
            return 2;
    }
    StopSignals stopSignals;

    WebServer server(options);
    AddTestPages(server);
    std::string error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "formix4-test-server: %s\n", error.c_str());
        return 1;
    }
    std::printf("formix4-test-server listening on http://127.0.0.1:%d/ (document root %s)\n", server.port(),
                server.documentRoot().c_str());
    std::fflush(stdout);
    stopSignals.wait();
    server.stop();
    return 0;
}
