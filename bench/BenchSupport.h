// What the benchmarks that talk to formix4-server share: starting it, plain
// HTTP over loopback (on the sockets the HTTP tests use too), and reading
// its memory from /proc.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackSocket.h"

namespace bench {

// A field of /proc/PID/status in kB ("VmRSS:", "RssAnon:", "VmHWM:").
inline long StatusKb(pid_t pid, const char* field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
    return 0;
}

// Starts `server --port 0 ARGUMENTS...` with the extra environment; it ends
// with this process. Sets `*port` from the line it prints (0 on failure).
inline pid_t StartServer(const std::string& server, const std::vector<std::string>& arguments,
                         const std::map<std::string, std::string>& environment, int* port) {
    int out[2];
    if (pipe(out) != 0) std::abort();
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        dup2(out[1], STDOUT_FILENO);
        for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
        std::vector<const char*> argv = {server.c_str(), "--port", "0"};
        for (const std::string& argument : arguments) argv.push_back(argument.c_str());
        argv.push_back(nullptr);
        execv(server.c_str(), const_cast<char* const*>(argv.data()));
        _exit(127);
    }
    close(out[1]);
    *port = loopback::ReadStartedPort(out[0]);
    return pid;
}

using loopback::Connect;
using loopback::FreePort;
using loopback::SendAll;

// Everything the peer sends until it closes.
inline std::string ReadAll(int fd) {
    std::string response;
    char buffer[16384];
    ssize_t n;
    while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0) response.append(buffer, static_cast<size_t>(n));
    return response;
}

// Whole answers to "GET path" on a connection of its own: "" when none came.
inline std::string GetOnce(int port, const std::string& path) {
    const int fd = Connect(port);
    if (fd < 0) return {};
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    std::string answer;
    if (SendAll(fd, request.data(), request.size())) answer = ReadAll(fd);
    close(fd);
    return answer;
}

struct RequestRate {
    double perSecond = 0;
    long failures = 0;
    std::string firstFailure;  // the first answer `right` refused
};

// Right answers per second of `clients` asking `path` over and over for
// `seconds`, each request on a connection of its own.
inline RequestRate MeasureRequests(int port, const std::string& path, int clients, int seconds,
                                   const std::function<bool(const std::string&)>& right) {
    std::atomic<long> done{0}, failures{0};
    std::atomic<bool> stop{false};
    std::mutex firstMutex;
    std::string first;
    std::vector<std::thread> threads;
    const auto start = std::chrono::steady_clock::now();
    for (int c = 0; c < clients; ++c)
        threads.emplace_back([&] {
            while (!stop) {
                const std::string answer = GetOnce(port, path);
                if (right(answer)) {
                    ++done;
                } else if (failures++ == 0) {
                    std::lock_guard<std::mutex> guard(firstMutex);
                    first = answer;
                }
            }
        });
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    stop = true;
    for (std::thread& thread : threads) thread.join();
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return {static_cast<double>(done) / elapsed, failures.load(), first};
}

}  // namespace bench
