#include "core/ServerSockets.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstdlib>
#include <functional>
#include <string>

namespace {

// The kernel holds a new connection until its first bytes arrive, for up to
// this long, before the listener takes it: a connection that stays silent
// costs no worker meanwhile. One that is still open and silent after it is
// taken, and waits the head's timeout.
constexpr int kDeferAcceptSeconds = 30;

// The process's sockets, each offered to `visit` until it answers true:
// the library opens the server's sockets and does not give them out, so
// they are found by what they are bound to.
void ForEachSocket(const std::function<bool(int fd)>& visit) {
    DIR* fds = opendir("/proc/self/fd");
    if (!fds) return;
    while (const dirent* entry = readdir(fds)) {
        const int fd = std::atoi(entry->d_name);
        if (fd > 2 && visit(fd)) break;
    }
    closedir(fds);
}

int PortOf(const sockaddr_storage& address) {
    return address.ss_family == AF_INET6 ? ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port)
                                         : ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
}

std::string HostOf(const sockaddr_storage& address) {
    char text[INET6_ADDRSTRLEN] = "";
    if (address.ss_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&address)->sin6_addr, text, sizeof text);
    else
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&address)->sin_addr, text, sizeof text);
    return text;
}

}  // namespace

// Sets the deferral on the server's listening socket: the one listening on `port`.
void DeferAcceptUntilData(int port) {
    ForEachSocket([port](int fd) {
        int listening = 0;
        socklen_t size = sizeof listening;
        sockaddr_storage address{};
        socklen_t addressSize = sizeof address;
        if (getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) != 0 || !listening ||
            getsockname(fd, reinterpret_cast<sockaddr*>(&address), &addressSize) != 0 || PortOf(address) != port)
            return false;
        setsockopt(fd, IPPROTO_TCP, TCP_DEFER_ACCEPT, &kDeferAcceptSeconds, sizeof kDeferAcceptSeconds);
        return true;
    });
}

// Whether the client of `request` still holds its connection: its socket,
// found by its two ends, has not been hung up on.
bool ClientStillConnected(const PageRequest& request) {
    bool connected = false;
    ForEachSocket([&](int fd) {
        sockaddr_storage local{}, peer{};
        socklen_t localSize = sizeof local, peerSize = sizeof peer;
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localSize) != 0 ||
            PortOf(local) != request.serverPort ||
            getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerSize) != 0 || PortOf(peer) != request.remotePort ||
            HostOf(peer) != request.remoteAddress)
            return false;
        pollfd check{fd, POLLRDHUP, 0};
        connected = poll(&check, 1, 0) == 0 || !(check.revents & (POLLRDHUP | POLLHUP | POLLERR));
        return true;
    });
    return connected;
}
