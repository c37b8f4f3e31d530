// Uploads over loopback to the site's upload page, as ./run.sh serves it
// (the component registered with the site's settings, the files saved), and
// reports throughput and the server's memory: peak resident size, and the
// peak of its anonymous (heap) memory, which must not grow with the upload's
// size.
//   upload_bench DOCUMENT_ROOT [MEGABYTES...]   one file of each size (default 100 1024)
//   upload_bench DOCUMENT_ROOT --bodies BOUNDARY FILE...
//                                               each body file as it stands, best of three
//   upload_bench DOCUMENT_ROOT --repeat N BOUNDARY FILE
//                                               the body N times in a row: the
//                                               server's anonymous memory after the
//                                               first and after the last
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
#include <iterator>
#include <sstream>
#include <string>
#include <thread>

#include "BenchSupport.h"

using namespace bench;

namespace {

// Sends one request whose body is `head`, then `fileBytes` bytes of 'x',
// then `tail`; returns the seconds until the whole response was read, and
// the response. Samples the server's anonymous memory meanwhile.
double Post(int port, const std::string& contentType, const std::string& head, size_t fileBytes,
            const std::string& tail, pid_t server, long* anonPeak, std::string* response) {
    const size_t total = head.size() + fileBytes + tail.size();
    const int fd = Connect(port);
    if (fd < 0) std::abort();
    const std::string request =
        "POST /upload HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: application/json\r\n"
        "Content-Type: " +
        contentType + "\r\nContent-Length: " + std::to_string(total) + "\r\nConnection: close\r\n\r\n";
    std::atomic<bool> running{true};
    std::thread sampler([&] {
        while (running) {
            *anonPeak = std::max(*anonPeak, StatusKb(server, "RssAnon:"));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    const auto start = std::chrono::steady_clock::now();
    // A server that refuses the body answers before it is all sent: the
    // answer is read all the same.
    bool sending = SendAll(fd, request.data(), request.size()) && SendAll(fd, head.data(), head.size());
    const std::string chunk(1 << 20, 'x');
    for (size_t sent = 0; sending && sent < fileBytes;) {
        const size_t n = std::min(chunk.size(), fileBytes - sent);
        sending = SendAll(fd, chunk.data(), n);
        sent += n;
    }
    if (sending) SendAll(fd, tail.data(), tail.size());
    *response = ReadAll(fd);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    running = false;
    sampler.join();
    close(fd);
    return seconds;
}

std::string Outcome(const std::string& response) {
    if (response.find("\"Multipart\": true") != std::string::npos) return "parsed";
    const size_t body = response.find("\r\n\r\n");
    return "FAILED: " + response.substr(body == std::string::npos ? 0 : body + 4, 300);
}

std::string ReadBody(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void EmptyUploads(const std::string& root) {
    for (const auto& entry : std::filesystem::directory_iterator(root + "/uploads"))
        std::filesystem::remove_all(entry.path());
}

void Upload(int port, size_t fileBytes, pid_t server) {
    const std::string head = "--B\r\nContent-Disposition: form-data; name=\"file\"; filename=\"big.bin\"\r\n\r\n";
    const std::string tail = "\r\n--B--\r\n";
    long anonPeak = 0;
    std::string response;
    const double seconds =
        Post(port, "multipart/form-data; boundary=B", head, fileBytes, tail, server, &anonPeak, &response);
    const size_t total = head.size() + fileBytes + tail.size();
    std::printf("upload %6zu MB: %7.1f MB/s  server peak RSS %7.1f MB  peak anonymous (heap) %6.1f MB  %s\n",
                fileBytes >> 20, (total / 1048576.0) / seconds, StatusKb(server, "VmHWM:") / 1024.0, anonPeak / 1024.0,
                Outcome(response).c_str());
}

// A whole body file, sent three times; the best time counts.
void UploadBody(int port, const std::string& boundary, const std::string& path, pid_t server, const std::string& root) {
    const std::string body = ReadBody(path);
    double best = 1e30;
    long anonPeak = 0;
    std::string response;
    for (int round = 0; round < 3; ++round) {
        best = std::min(
            best, Post(port, "multipart/form-data; boundary=" + boundary, body, 0, "", server, &anonPeak, &response));
        EmptyUploads(root);
    }
    std::printf("%-24s %7.1f MB: %7.1f MB/s  peak anonymous (heap) %6.1f MB  %s\n",
                std::filesystem::path(path).filename().c_str(), body.size() / 1048576.0, body.size() / 1048576.0 / best,
                anonPeak / 1024.0, Outcome(response).c_str());
}

// The same body again and again, one request after another, as a busy site
// sees them land on its worker threads in turn.
void UploadRepeatedly(int port, int times, const std::string& boundary, const std::string& path, pid_t server,
                      const std::string& root) {
    const std::string body = ReadBody(path);
    long afterFirst = 0, anonPeak = 0;
    for (int i = 1; i <= times; ++i) {
        std::string response;
        Post(port, "multipart/form-data; boundary=" + boundary, body, 0, "", server, &anonPeak, &response);
        if (Outcome(response) != "parsed") std::printf("upload %d: %s\n", i, Outcome(response).c_str());
        EmptyUploads(root);
        if (i == 1) afterFirst = StatusKb(server, "RssAnon:");
    }
    const long afterLast = StatusKb(server, "RssAnon:");
    std::printf(
        "%s %d times: server anonymous memory peak %.1f MB; after the first %.1f MB, after the last %.1f MB "
        "(%.2fx)\n",
        std::filesystem::path(path).filename().c_str(), times, anonPeak / 1024.0, afterFirst / 1024.0,
        afterLast / 1024.0, static_cast<double>(afterLast) / static_cast<double>(afterFirst));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: upload_bench DOCUMENT_ROOT [MEGABYTES...]\n"
                     "       upload_bench DOCUMENT_ROOT --bodies BOUNDARY FILE...\n"
                     "       upload_bench DOCUMENT_ROOT --repeat N BOUNDARY FILE\n");
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    const std::string root = argv[1];
    int port = 0;
    if (argc >= 4 && std::strcmp(argv[2], "--bodies") == 0) {
        const pid_t server = StartServer(FORMIX4_SERVER_PATH, {"--root", root}, {}, &port);
        for (int i = 4; i < argc; ++i) UploadBody(port, argv[3], argv[i], server, root);
        kill(server, SIGTERM);
        waitpid(server, nullptr, 0);
        return 0;
    }
    if (argc == 6 && std::strcmp(argv[2], "--repeat") == 0) {
        const pid_t server = StartServer(FORMIX4_SERVER_PATH, {"--root", root}, {}, &port);
        UploadRepeatedly(port, std::atoi(argv[3]), argv[4], argv[5], server, root);
        kill(server, SIGTERM);
        waitpid(server, nullptr, 0);
        return 0;
    }
    for (int i = 2; i <= (argc > 2 ? argc - 1 : 3); ++i) {
        const size_t megabytes = argc > 2 ? std::strtoul(argv[i], nullptr, 10) : (i == 2 ? 100 : 1024);
        // A fresh process for each size.
        const pid_t server = StartServer(FORMIX4_SERVER_PATH, {"--root", root}, {}, &port);
        Upload(port, megabytes << 20, server);
        kill(server, SIGTERM);
        waitpid(server, nullptr, 0);
        EmptyUploads(root);
    }
    return 0;
}
