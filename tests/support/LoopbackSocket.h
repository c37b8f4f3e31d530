// Plain TCP over loopback and the port line a starting server prints, for
// the HTTP tests and the benchmarks alike.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace loopback {

// A loopback port that was free a moment ago, for servers that must be
// told their port; 0 when no socket could be bound.
inline int FreePort() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) return 0;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    const bool bound = bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                       getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) == 0;
    close(s);
    return bound ? ntohs(a.sin_port) : 0;
}

// A connection to 127.0.0.1:port; -1 when refused.
inline int Connect(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

inline bool SendAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Reads the first line a server started with "--port 0" writes to `fd` and
// closes `fd`; the port that line names ("...:PORT/ (...)"), 0 when none.
inline int ReadStartedPort(int fd) {
    std::string line;
    char c;
    while (read(fd, &c, 1) == 1 && c != '\n') line += c;
    close(fd);
    const size_t colon = line.rfind(':', line.find("/ ("));
    return colon == std::string::npos ? 0 : std::atoi(line.c_str() + colon + 1);
}

}  // namespace loopback
