// Any bytes a client sends, to a running server core over loopback: every
// answer is a whole HTTP answer (an HTTP/1.x status line of the server's own,
// then a head that ends), no
// request is answered 2xx for a host the server does not serve, and the
// server goes on answering a plain request afterwards.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/WebServer.h"

namespace {

WebServer& Server() {
    static WebServer* server = [] {
        const std::filesystem::path root =
            std::filesystem::temp_directory_path() / ("request-head-fuzz-" + std::to_string(getpid()));
        std::filesystem::create_directories(root / "files");
        std::ofstream(root / "files" / "96.txt") << std::string(96, 'f');
        ServerOptions options;
        options.port = 0;
        options.threads = 8;
        options.documentRoot = root.string();
        auto* created = new WebServer(options);
        created->addPage("/page", [](const PageRequest&, Response& response) { response.body = "page"; });
        created->addPage(
            "/body", [](const PageRequest&, Response& response) { response.body = "body"; },
            PageOptions{.readsBody = true});
        created->addPage(
            "/folder/", [](const PageRequest&, Response& response) { response.body = "folder"; },
            PageOptions{.prefix = true});
        std::string error;
        if (!created->start(&error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            std::abort();
        }
        return created;
    }();
    return *server;
}

// Sends `request`, ends the sending side and reads until the server closes.
std::string Exchange(const char* request, size_t size) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(Server().port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval wait{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    // Each connection from another loopback address: tens of thousands of
    // exchanges a minute would otherwise meet their own closed connections
    // still waiting out their end on the same ports.
    static unsigned exchanges = 0;
    sockaddr_in source{};
    source.sin_family = AF_INET;
    source.sin_addr.s_addr = htonl((127u << 24) | (1u << 16) | (++exchanges & 0xffffu));
    if (bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0) {
        std::perror("bind");
        std::abort();
    }
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::perror("connect");
        std::abort();
    }
    for (size_t sent = 0; sent < size;) {
        const ssize_t n = send(fd, request + sent, size - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
    }
    shutdown(fd, SHUT_WR);
    std::string answer;
    char buffer[65536];
    ssize_t n;
    while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0) answer.append(buffer, static_cast<size_t>(n));
    close(fd);
    return answer;
}

// Whether the first request's head names one host, "evil.example", which
// the server does not serve.
bool NamesOnlyAnotherHost(const std::string& request) {
    const std::string head = request.substr(0, request.find("\r\n\r\n"));
    int hosts = 0;
    bool other = false;
    for (size_t at = head.find("\r\n"); at != std::string::npos; at = head.find("\r\n", at + 2)) {
        const std::string line = head.substr(at + 2, head.find("\r\n", at + 2) - at - 2);
        if (line.size() < 5 || strncasecmp(line.c_str(), "host:", 5) != 0) continue;
        ++hosts;
        other = line.find_first_not_of(" \t", 5) != std::string::npos &&
                line.substr(line.find_first_not_of(" \t", 5)) == "evil.example";
    }
    return hosts == 1 && other;
}

bool WholeAnswer(const std::string& answer) {
    return answer.size() >= 13 && (answer.starts_with("HTTP/1.1 ") || answer.starts_with("HTTP/1.0 ")) &&
           std::isdigit(answer[9]) && std::isdigit(answer[10]) && std::isdigit(answer[11]) && answer[12] == ' ' &&
           answer.find("\r\n\r\n") != std::string::npos && answer.find("\r\n") < answer.find(" HTTP/", 8);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 65536) return 0;
    const std::string request(reinterpret_cast<const char*>(data), size);
    const std::string answer = Exchange(request.data(), request.size());
    if (!answer.empty() && !WholeAnswer(answer)) {
        std::fprintf(stderr, "not a whole answer: %.200s\n", answer.c_str());
        std::abort();
    }
    if (answer.starts_with("HTTP/1.1 2") && NamesOnlyAnotherHost(request)) std::abort();
    const std::string plain = "GET /page HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    if (!Exchange(plain.data(), plain.size()).starts_with("HTTP/1.1 200")) std::abort();
    return 0;
}
