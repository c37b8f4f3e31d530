// What building a long string costs a script page, through the real server:
// requests per second over loopback (a new connection per request) and the
// server's peak resident memory for a trivial page (<%= 1 %>) and for a page
// that builds 1 MB with += (100 bytes at a time) and writes it, each on a
// server of its own; then the time a page takes to build 1, 2, 4, 8 and 64
// MB that way (its time limit raised to LIMIT seconds; a build still running
// then is reported as stopped). Run it on two servers to compare them.
//   string_bench SERVER [CLIENTS=4] [SECONDS=5] [LIMIT=120]
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"

using namespace bench;

namespace {

// Requests per second of `clients` asking `path` for `seconds`; an answer
// without `expected` counts as failed.
double Rate(int port, const std::string& path, const std::string& expected, int clients, int seconds, long* failures) {
    const RequestRate rate = MeasureRequests(port, path, clients, seconds, [&](const std::string& answer) {
        return answer.find(expected) != std::string::npos;
    });
    *failures = rate.failures;
    return rate.perSecond;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: string_bench SERVER [CLIENTS=4] [SECONDS=5] [LIMIT=120]\n");
        return 2;
    }
    const std::string server = argv[1];
    const int clients = argc > 2 ? std::atoi(argv[2]) : 4;
    const int seconds = argc > 3 ? std::atoi(argv[3]) : 5;
    const int limit = argc > 4 ? std::atoi(argv[4]) : 120;
    char folder[] = "/tmp/string-bench-XXXXXX";
    if (!mkdtemp(folder)) return 1;
    const std::string root = folder;
    // Readable by the account the server runs its pages as when started as root.
    std::filesystem::permissions(root,
                                 std::filesystem::perms::others_read | std::filesystem::perms::others_exec |
                                     std::filesystem::perms::group_read | std::filesystem::perms::group_exec,
                                 std::filesystem::perm_options::add);
    const std::string build =
        "var chunk = new Array(11).join('0123456789'), s = '';\n"
        "while (s.length < n) s += chunk;\n";
    std::ofstream(root + "/trivial.asp") << "<%= 1 %>";
    std::ofstream(root + "/build1mb.asp") << "<% var n = 1048576;\n" << build << "Response.Write(s); %>";
    std::ofstream(root + "/build.asp") << "<% Server.ScriptTimeout = " << limit
                                       << "; var n = Request.QueryString('mb') * 1048576, t = new Date();\n"
                                       << build
                                       << "Response.Write('built ' + s.length + ' in ' + (new Date() - t) + ' ms'); %>";
    int status = 0;
    struct Case {
        const char* name;
        const char* path;
        const char* expected;
    };
    const Case cases[] = {{"<%= 1 %>", "/trivial.asp", "\r\n\r\n1"},
                          {"1 MB built with += and written", "/build1mb.asp", "Content-Length: 1048600\r\n"}};
    std::printf("%-32s %8s %7s %14s   (%d clients, %d s each)\n", "page", "req/s", "failed", "peak RSS (MB)", clients,
                seconds);
    for (const Case& c : cases) {
        int port = 0;
        const pid_t pid = StartServer(server, {"--root", root}, {}, &port);
        if (port == 0) {
            std::fprintf(stderr, "string_bench: the server did not start\n");
            return 1;
        }
        long failures = 0;
        const double rate = Rate(port, c.path, c.expected, clients, seconds, &failures);
        std::printf("%-32s %8.0f %7ld %14.1f\n", c.name, rate, failures, StatusKb(pid, "VmHWM:") / 1024.0);
        if (failures) status = 1;
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    int port = 0;
    const pid_t pid = StartServer(server, {"--root", root}, {}, &port);
    for (int mb : {1, 2, 4, 8, 64}) {
        const auto start = std::chrono::steady_clock::now();
        const std::string answer = GetOnce(port, "/build.asp?mb=" + std::to_string(mb));
        const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const size_t built = answer.find("built ");
        if (built != std::string::npos)
            std::printf("%3d MB: %s (%.2f s for the request)\n", mb, answer.c_str() + built, took);
        else
            std::printf("%3d MB: not built, stopped after %.0f s\n", mb, took);
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    std::filesystem::remove_all(root);
    return status;
}
