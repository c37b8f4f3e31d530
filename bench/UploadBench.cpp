// Uploads over loopback to formix4-server and reports throughput and the
// server's memory: peak resident size, and the peak of its anonymous
// (heap) memory, which must not grow with the upload's size.
//   upload_bench [MEGABYTES...]   (default 100 1024)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

long StatusKb(pid_t pid, const char* field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
    return 0;
}

pid_t StartServer(int* port) {
    int out[2];
    if (pipe(out) != 0) std::abort();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        execl(FORMIX4_SERVER_PATH, FORMIX4_SERVER_PATH, "--port", "0", nullptr);
        _exit(127);
    }
    close(out[1]);
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
    const size_t colon = line.rfind(':', line.find("/ ("));
    *port = std::atoi(line.c_str() + colon + 1);
    return pid;
}

void Upload(int port, size_t fileBytes, pid_t server) {
    const std::string head = "--B\r\nContent-Disposition: form-data; name=\"file\"; filename=\"big.bin\"\r\n\r\n";
    const std::string tail = "\r\n--B--\r\n";
    const size_t total = head.size() + fileBytes + tail.size();
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) std::abort();
    const std::string request = "POST /intake?MaxUploadSize=2000000000 HTTP/1.1\r\nHost: x\r\nContent-Length: " +
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
    send(fd, request.data(), request.size(), 0);
    std::string chunk(1 << 20, 'x');
    for (size_t sent = 0; sent < fileBytes;) {
        const size_t n = std::min(chunk.size(), fileBytes - sent);
        if (send(fd, chunk.data(), n, MSG_NOSIGNAL) != static_cast<ssize_t>(n)) std::abort();
        sent += n;
    }
    send(fd, tail.data(), tail.size(), 0);
    std::string response;
    char buffer[4096];
    ssize_t n;
    while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0) response.append(buffer, static_cast<size_t>(n));
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
    signal(SIGPIPE, SIG_IGN);
    for (int i = 1; i <= (argc > 1 ? argc - 1 : 2); ++i) {
        const size_t megabytes = argc > 1 ? std::strtoul(argv[i], nullptr, 10) : (i == 1 ? 100 : 1024);
        int port = 0;
        const pid_t server = StartServer(&port);  // a fresh process for each size
        Upload(port, megabytes << 20, server);
        kill(server, SIGTERM);
        waitpid(server, nullptr, 0);
    }
    return 0;
}
