// Uploads over loopback to the site's upload page, as ./run.sh serves it
// (the component registered with the site's settings, the file saved), and
// reports throughput and the server's memory: peak resident size, and the
// peak of its anonymous (heap) memory, which must not grow with the upload's
// size.
//   upload_bench DOCUMENT_ROOT [MEGABYTES...]   (default 100 1024)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "BenchSupport.h"

using namespace bench;

namespace {

void Upload(int port, size_t fileBytes, pid_t server) {
    const std::string head = "--B\r\nContent-Disposition: form-data; name=\"file\"; filename=\"big.bin\"\r\n\r\n";
    const std::string tail = "\r\n--B--\r\n";
    const size_t total = head.size() + fileBytes + tail.size();
    const int fd = Connect(port);
    if (fd < 0) std::abort();
    const std::string request = "POST /upload HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: application/json\r\n"
                                "Content-Type: multipart/form-data; boundary=B\r\nContent-Length: " +
                                std::to_string(total) + "\r\nConnection: close\r\n\r\n" + head;
    std::atomic<bool> running{true};
    long anonPeak = 0;
    std::thread sampler([&] {
        while (running) {
            anonPeak = std::max(anonPeak, StatusKb(server, "RssAnon:"));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    const auto start = std::chrono::steady_clock::now();
    if (!SendAll(fd, request.data(), request.size())) std::abort();
    std::string chunk(1 << 20, 'x');
    for (size_t sent = 0; sent < fileBytes;) {
        const size_t n = std::min(chunk.size(), fileBytes - sent);
        if (!SendAll(fd, chunk.data(), n)) std::abort();
        sent += n;
    }
    if (!SendAll(fd, tail.data(), tail.size())) std::abort();
    const std::string response = ReadAll(fd);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    running = false;
    sampler.join();
    close(fd);
    const bool ok = response.find("\"Multipart\": true") != std::string::npos;
    std::printf("upload %6zu MB: %7.1f MB/s  server peak RSS %7.1f MB  peak anonymous (heap) %6.1f MB  %s\n",
                fileBytes >> 20, (total / 1048576.0) / seconds, StatusKb(server, "VmHWM:") / 1024.0, anonPeak / 1024.0,
                ok ? "parsed" : ("FAILED: " + response.substr(response.find("\r\n\r\n") + 4)).c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: upload_bench DOCUMENT_ROOT [MEGABYTES...]\n");
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    const std::string root = argv[1];
    for (int i = 2; i <= (argc > 2 ? argc - 1 : 3); ++i) {
        const size_t megabytes = argc > 2 ? std::strtoul(argv[i], nullptr, 10) : (i == 2 ? 100 : 1024);
        int port = 0;
        // A fresh process for each size.
        const pid_t server = StartServer(FORMIX4_SERVER_PATH, {"--root", root}, {}, &port);
        Upload(port, megabytes << 20, server);
        kill(server, SIGTERM);
        waitpid(server, nullptr, 0);
        for (const auto& entry : std::filesystem::directory_iterator(root + "/uploads"))
            std::filesystem::remove_all(entry.path());
    }
    return 0;
}
