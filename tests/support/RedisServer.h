// A Redis server of the test's own (Debian's redis-server) on a free
// loopback port, with nothing kept on disk; it can be stopped, started
// again on the same port, and frozen to stand for one that no longer answers.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

#include "LoopbackSocket.h"
#include "TestSupport.h"
#include "platform/RedisLink.h"

class RedisServer {
public:
    RedisServer() : mPort(loopback::FreePort()) { start(); }
    ~RedisServer() {
        if (mPid > 0) kill(mPid, SIGCONT);
        stop();
    }
    RedisServer(const RedisServer&) = delete;
    RedisServer& operator=(const RedisServer&) = delete;

    int port() const { return mPort; }
    std::string url() const { return "redis://127.0.0.1:" + std::to_string(mPort) + "/0"; }
    platform::RedisAddress address() const {
        platform::RedisAddress address;
        address.host = "127.0.0.1";
        address.port = mPort;
        return address;
    }

    void start() {
        mPid = fork();
        if (mPid == 0) {
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            // Ahead of the tests that run beside it, as ./run.sh cluster runs
            // its Redis: on two busy cores its answers would otherwise miss the
            // link's 50 ms, and an outage the test did not make would begin.
            if (geteuid() == 0) setpriority(PRIO_PROCESS, 0, -10);
            const std::string port = std::to_string(mPort);
            execlp("redis-server", "redis-server", "--port", port.c_str(), "--bind", "127.0.0.1", "--save", "",
                   "--appendonly", "no", "--dir", "/tmp", "--protected-mode", "yes", static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 200; ++i) {
            if (answers()) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        throw std::runtime_error("redis-server did not start (is it installed?)");
    }
    void stop() {
        if (mPid <= 0) return;
        kill(mPid, SIGKILL);
        waitpid(mPid, nullptr, 0);
        mPid = -1;
    }
    // Freezes the server: connections stay open and nothing answers.
    void freeze() { kill(mPid, SIGSTOP); }
    void thaw() { kill(mPid, SIGCONT); }

    // A command from the test's own link (not the code under test's).
    platform::RedisReply command(const platform::RedisCommand& command) {
        platform::RedisLink link(address(), "RedisServerTest");
        platform::RedisReply reply;
        if (!link.Run(command, &reply)) throw std::runtime_error("the test's Redis does not answer");
        return reply;
    }
    // How many times Redis ran the command, from INFO commandstats.
    long long calls(const std::string& name) {
        const std::string info = command({"INFO", "commandstats"}).text;
        const std::string key = "cmdstat_" + name + ":calls=";
        const size_t at = info.find(key);
        return at == std::string::npos ? 0 : std::stoll(info.substr(at + key.size()));
    }

private:
    bool answers() {
        const int s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(mPort));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool connected = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        close(s);
        return connected;
    }

    int mPort;
    pid_t mPid = -1;
};
