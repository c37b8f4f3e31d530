// formix4-server: serves the upload site until it is interrupted. See
// Usage() for the options. With --port 0 it picks a free port; the first
// line it prints names the address it listens on.
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include <cstdio>
#include <cstring>
#include <string>

#include "core/HttpText.h"
#include "core/Privileges.h"
#include "core/StopSignals.h"
#include "core/WebServer.h"
#include "script/ScriptPages.h"
#include "site/SitePages.h"

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: formix4-server [--bind ADDR] [--port N] [--root DIR] [--threads N] [--host NAME]...\n"
                 "                      [--max-upload BYTES] [--max-fields N] [--idle-timeout SECONDS]\n"
                 "                      [--kept-memory MEGABYTES] [--abandoned-after SECONDS]\n"
                 "                      [--drain-seconds SECONDS] [--max-sessions N]\n"
                 "                      [--user NAME | --impersonation]\n");
    return 2;
}

struct Settings {
    ServerOptions server;
    SiteOptions site;
    std::string user = "formix4";
    bool userGiven = false;
    bool impersonation = false;
    long long drainSeconds = 60;
    long long maxSessions = 100000;
};

bool Parse(int argc, char** argv, Settings* settings) {
    ServerOptions& server = settings->server;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--impersonation") {
            settings->impersonation = true;
            continue;
        }
        if (i + 1 >= argc) return false;
        const std::string value = argv[++i];
        long long number = 0;
        const bool numeric = ParseDigits(value, &number);
        if (arg == "--bind")
            server.bindAddress = value;
        else if (arg == "--root")
            server.documentRoot = value;
        else if (arg == "--host")
            server.hosts.push_back(value);
        else if (arg == "--user")
            settings->user = value, settings->userGiven = true;
        else if (!numeric)
            return false;
        else if (arg == "--port" && number <= 65535)
            server.port = static_cast<int>(number);
        else if (arg == "--threads" && number >= 2 && number <= 1024)
            server.threads = static_cast<int>(number);
        else if (arg == "--max-upload" && number > 0)
            server.maxBodyBytes = settings->site.maxUpload = number;
        else if (arg == "--max-fields")
            server.body.maxFields = number;
        else if (arg == "--idle-timeout" && number > 0)
            server.body.idleTimeout = std::chrono::seconds(number);
        else if (arg == "--kept-memory" && number <= 1024)
            server.keptMemoryBytes = static_cast<long>(number) << 20;
        else if (arg == "--abandoned-after" && number >= 60)
            settings->site.abandonedUploadSeconds = number;
        else if (arg == "--drain-seconds")
            settings->drainSeconds = number;
        else if (arg == "--max-sessions" && number > 0)
            settings->maxSessions = number;
        else
            return false;
    }
    return !(settings->impersonation && settings->userGiven);
}

// Once draining is over, how long the workers have to finish.
constexpr unsigned kStopSeconds = 5;

// A balancer checking /health every second takes a server out after two
// failed checks: until then it may still send requests, which a server
// that had already stopped would reset.
constexpr auto kLeastDrain = std::chrono::seconds(3);

// After the first stop signal: the server says it is draining, answers what
// reaches it and ends once no connection has been open for a moment (a
// connection the listener took but no worker yet would be seen by then) and
// the balancer has had time to notice, or at the deadline, or at a second
// signal.
void Drain(WebServer& server, StopSignals& signals, long long seconds) {
    server.beginDrain();
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + std::chrono::seconds(seconds);
    int idleChecks = 0;
    while ((idleChecks < 3 || std::chrono::steady_clock::now() < start + kLeastDrain) &&
           std::chrono::steady_clock::now() < deadline) {
        if (signals.waitFor(100)) return;
        idleChecks = server.idle() ? idleChecks + 1 : 0;
    }
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    settings.server.documentRoot = FORMIX4_DEFAULT_ROOT;
    if (!Parse(argc, argv, &settings)) return Usage();
    // Large blocks (a byte array a page asks for) always come from and go
    // back to the system, so the server's memory returns to where it was
    // after the uploads, whatever sizes they had. Below 4 MB they come from
    // the heap, where the next request finds them already in memory: the
    // lists of a form of 10,000 fields are a few megabytes, and new pages
    // cost a fault each, every time.
    mallopt(M_MMAP_THRESHOLD, 4 << 20);
    mallopt(M_TRIM_THRESHOLD, static_cast<int>(settings.server.keptMemoryBytes));
    // One heap for every thread: each heap keeps a remainder of the largest
    // request it served, even trimmed after each request, and a form served
    // from a second heap (made of mapped blocks of 64 MB) took a third more
    // time than from the first. Each thread's own cache of small blocks
    // keeps the threads from waiting on each other.
    mallopt(M_ARENA_MAX, 1);

    StopSignals stopSignals;

    ForbidNewPrivileges();
    WebServer server(settings.server);
    const auto pages = script::AddScriptPages(server, static_cast<size_t>(settings.maxSessions));
    AddSitePages(server, settings.site, *pages);
    std::string error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "formix4-server: %s\n", error.c_str());
        return 1;
    }
    // The port is bound: the pages run without root, unless the site needs
    // XForm.SetUser, which changes a worker's identity and so needs root.
    if (!settings.impersonation && !RunAsUser(settings.user, settings.userGiven, &error)) {
        std::fprintf(stderr, "formix4-server: %s\n", error.c_str());
        return 1;
    }
    std::printf("formix4-server listening on http://%s:%d/ (document root %s)\n", settings.server.bindAddress.c_str(),
                server.port(), server.documentRoot().c_str());
    std::fflush(stdout);
    stopSignals.wait();
    Drain(server, stopSignals, settings.drainSeconds);
    // Stopping waits for the workers; a page that still runs (a page only
    // stops at its script timeout) would hold the process past what a
    // supervisor waits for: the process ends 5 s later whatever runs.
    alarm(kStopSeconds);
    server.stop();
    pages->endApplication();  // within the same 5 s
    return 0;
}
