// Requests per second the server answers, over loopback with a new
// connection per request (the server closes each), for the same server in
// one run: a trivial script page (<%= 1 %>), a page that uses the component
// (an XProgress read by name), the site's progress page (/progress, which
// reads eight members) and a static file. Every answer is checked.
//   page_bench SERVER DOCUMENT_ROOT [CLIENTS=8] [SECONDS=5]
// (the registry comes from $PLATFORM_REGISTRY_DIR; bench/run.sh sets it up)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"

using namespace bench;

namespace {

// A page's rate counts only whole 200 answers ending in `expected`.
RequestRate Measure(int port, const std::string& path, const std::string& expected, int clients, int seconds) {
    RequestRate rate = MeasureRequests(port, path, clients, seconds, [&](const std::string& answer) {
        return answer.rfind("HTTP/1.1 200", 0) == 0 &&
               answer.compare(answer.size() - std::min(answer.size(), expected.size()), expected.size(), expected) == 0;
    });
    if (rate.failures) std::fprintf(stderr, "page_bench: %s answered:\n%s\n", path.c_str(), rate.firstFailure.c_str());
    return rate;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: page_bench SERVER DOCUMENT_ROOT [CLIENTS=8] [SECONDS=5]\n");
        return 2;
    }
    const std::string server = argv[1], root = argv[2];
    const int clients = argc > 3 ? std::atoi(argv[3]) : 8;
    const int seconds = argc > 4 ? std::atoi(argv[4]) : 5;
    std::ofstream(root + "/bench-trivial.asp") << "<%= 1 %>";
    std::ofstream(root + "/bench-progress.asp")
        << "<% var p = Server.CreateObject(\"Formix4.XProgress\"); %><%= p.Note %>";
    std::ofstream(root + "/bench-static.txt") << "1";
    int port = 0;
    const pid_t pid = StartServer(server, {"--root", root}, {}, &port);
    if (port == 0) {
        std::fprintf(stderr, "page_bench: the server did not start\n");
        return 1;
    }
    struct Case {
        const char* name;
        const char* path;
        const char* expected;
    };
    const Case cases[] = {{"script page <%= 1 %>", "/bench-trivial.asp", "\r\n\r\n1"},
                          {"script page with XProgress", "/bench-progress.asp", "Connecting..."},
                          {"site page /progress", "/progress?ID=1", "}\n"},
                          {"static file", "/bench-static.txt", "\r\n\r\n1"}};
    int status = 0;
    std::printf("%-28s %10s %9s   (%d clients, %d s each)\n", "page", "req/s", "failed", clients, seconds);
    for (const Case& c : cases) {
        const RequestRate rate = Measure(port, c.path, c.expected, clients, seconds);
        std::printf("%-28s %10.0f %9ld\n", c.name, rate.perSecond, rate.failures);
        if (rate.failures) status = 1;
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    for (const char* file : {"/bench-trivial.asp", "/bench-progress.asp", "/bench-static.txt"})
        std::remove((root + file).c_str());
    return status;
}
