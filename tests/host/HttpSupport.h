// Server processes for tests (the product's formix4-server and the test
// server with the test pages), and plain HTTP over loopback.
#pragma once

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "LoopbackSocket.h"

namespace http_support {

class ServerProcess {
public:
    // Starts `program` (the test server unless given) on a free port with the
    // given extra environment and arguments. `launcher` (a program and its
    // arguments) runs the server when given.
    explicit ServerProcess(const std::map<std::string, std::string>& environment = {},
                           const std::string& documentRoot = "", const std::vector<std::string>& launcher = {},
                           int threads = 0, const std::string& program = FORMIX4_TEST_SERVER_PATH,
                           const std::vector<std::string>& arguments = {}) {
        int out[2];
        if (pipe(out) != 0) return;
        mPid = fork();
        if (mPid == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
            std::vector<const char*> args;
            for (const std::string& part : launcher) args.push_back(part.c_str());
            args.insert(args.end(), {program.c_str(), "--port", "0"});
            for (const std::string& argument : arguments) args.push_back(argument.c_str());
            if (!documentRoot.empty()) args.insert(args.end(), {"--root", documentRoot.c_str()});
            const std::string threadCount = std::to_string(threads);
            if (threads > 0) args.insert(args.end(), {"--threads", threadCount.c_str()});
            args.push_back(nullptr);
            execvp(args[0], const_cast<char* const*>(args.data()));
            _exit(127);
        }
        close(out[1]);
        mPort = loopback::ReadStartedPort(out[0]);
    }
    // A test's server has no balancer to wait for: a second SIGTERM ends
    // its drain at once, which saves every test three seconds.
    ~ServerProcess() {
        if (mPid <= 0) return;
        kill(mPid, SIGTERM);
        for (int waited = 0; waitForExit(50) < 0 && mPid > 0; waited += 50)
            if (waited < 2000) kill(mPid, SIGTERM);
    }
    void stop(int signal) {
        if (mPid <= 0) return;
        kill(mPid, signal);
        waitpid(mPid, nullptr, 0);
        mPid = -1;
    }
    int port() const { return mPort; }
    pid_t pid() const { return mPid; }
    // Waits up to `milliseconds` for the server to end by itself; its wait
    // status, or -1 when it has not ended.
    int waitForExit(int milliseconds) {
        int status = -1;
        for (int waited = 0; mPid > 0 && waited <= milliseconds; waited += 20) {
            if (waitpid(mPid, &status, WNOHANG) == mPid) {
                mPid = -1;
                return status;
            }
            usleep(20000);
        }
        return -1;
    }

    // Open descriptors and mappings of the server that name an fmx cache file.
    int cacheHandles() const {
        int n = 0;
        const std::string proc = "/proc/" + std::to_string(mPid);
        for (const auto& entry : std::filesystem::directory_iterator(proc + "/fd")) {
            std::error_code ignored;
            n += std::filesystem::read_symlink(entry.path(), ignored).string().find("/fmx") != std::string::npos;
        }
        FILE* maps = fopen((proc + "/maps").c_str(), "r");
        char line[1024];
        while (maps && fgets(line, sizeof line, maps)) n += std::strstr(line, "/fmx") != nullptr;
        if (maps) fclose(maps);
        return n;
    }

private:
    pid_t mPid = -1;
    int mPort = 0;
};

using loopback::Connect;
using loopback::SendAll;

struct HttpResult {
    int status = 0;
    std::string head;  // the status line and header lines
    std::string body;

    // A header's value ("" when absent); names compare without case.
    std::string header(const std::string& name) const {
        std::string lowerHead = head, lowerName = name + ":";
        for (char& c : lowerHead) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        for (char& c : lowerName) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const size_t at = lowerHead.find("\r\n" + lowerName);
        if (at == std::string::npos) return "";
        const size_t start = head.find_first_not_of(' ', at + 2 + lowerName.size());
        return head.substr(start, head.find("\r\n", start) - start);
    }
};

// Reads one response: the head, then as many body bytes as it announces
// (the server may still be reading what the client sent).
inline HttpResult ReadResponse(int fd) {
    std::string text;
    char buffer[65536];
    ssize_t n;
    size_t wanted = SIZE_MAX;
    while (text.size() < wanted && (n = recv(fd, buffer, sizeof buffer, 0)) > 0) {
        text.append(buffer, static_cast<size_t>(n));
        const size_t start = text.compare(0, 12, "HTTP/1.1 100") == 0 ? text.find("\r\n\r\n") : 0;
        if (start == std::string::npos) continue;
        const size_t headEnd = text.find("\r\n\r\n", start + 1);
        if (headEnd == std::string::npos) continue;
        // Header names in any case: a balancer may send them in lower case.
        std::string head = text.substr(start, headEnd - start);
        for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const size_t length = head.find("\r\ncontent-length:");
        if (length != std::string::npos) wanted = headEnd + 4 + std::strtoul(head.c_str() + length + 17, nullptr, 10);
    }
    HttpResult result;
    // A "100 Continue" answer comes before the response itself.
    while (text.compare(0, 12, "HTTP/1.1 100") == 0 && text.find("\r\n\r\n") != std::string::npos)
        text.erase(0, text.find("\r\n\r\n") + 4);
    if (text.compare(0, 9, "HTTP/1.1 ") == 0) result.status = std::atoi(text.c_str() + 9);
    const size_t bodyStart = text.find("\r\n\r\n");
    if (bodyStart != std::string::npos) {
        result.head = text.substr(0, bodyStart);
        result.body = text.substr(bodyStart + 4);
    }
    return result;
}

inline std::string Head(const std::string& method, const std::string& target, size_t contentLength,
                        const std::string& contentType = "multipart/form-data; boundary=XyZ") {
    return method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: " + contentType +
           "\r\nContent-Length: " + std::to_string(contentLength) + "\r\nConnection: close\r\n\r\n";
}

// Sends `request` as it stands and reads the response; with `untilClosed`,
// returns only when the server has closed the connection, that is, when it
// is done with the request (its clean-up after the answer included).
inline HttpResult Exchange(int port, const std::string& request, bool untilClosed = false) {
    const int fd = Connect(port);
    if (fd < 0) return {};
    SendAll(fd, request.data(), request.size());
    HttpResult result = ReadResponse(fd);
    char rest[4096];
    while (untilClosed && recv(fd, rest, sizeof rest, 0) > 0) {}
    close(fd);
    return result;
}

// Sends a whole request and reads the response.
inline HttpResult Request(int port, const std::string& method, const std::string& target, const std::string& body = "",
                          const std::string& contentType = "multipart/form-data; boundary=XyZ") {
    const int fd = Connect(port);
    if (fd < 0) return {};
    const std::string head = Head(method, target, body.size(), contentType);
    SendAll(fd, head.data(), head.size());
    SendAll(fd, body.data(), body.size());
    HttpResult result = ReadResponse(fd);
    close(fd);
    return result;
}

// A value of a flat JSON document: a number, true/false, or a string's text.
inline std::string JsonValue(const std::string& json, const std::string& key) {
    const std::string marker = "\"" + key + "\": ";
    const size_t at = json.find(marker);
    if (at == std::string::npos) return "<missing>";
    size_t start = at + marker.size();
    if (json[start] == '"') {
        std::string text;
        for (size_t i = start + 1; i < json.size() && json[i] != '"'; ++i) {
            if (json[i] == '\\' && i + 1 < json.size()) {
                const char next = json[++i];
                text += next == 'n' ? '\n' : next == 'r' ? '\r' : next == 't' ? '\t' : next;
            } else {
                text += json[i];
            }
        }
        return text;
    }
    const size_t end = json.find_first_of(",}", start);
    return json.substr(start, end - start);
}

// Registers the built component into the registry folder in force.
inline bool RegisterComponent() {
    return std::system((std::string(REGSVR_PATH) + " " + FORMIX4_MODULE + " >/dev/null").c_str()) == 0;
}

// A multipart/form-data body built part by part.
class MultipartBody {
public:
    explicit MultipartBody(const std::string& boundary) : mDelimiter("--" + boundary) {}
    MultipartBody& field(const std::string& name, const std::string& value) {
        mBody += mDelimiter + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
        return *this;
    }
    // A file part; no Content-Type line when `type` is empty.
    MultipartBody& file(const std::string& name, const std::string& fileName, const std::string& content,
                        const std::string& type = "") {
        mBody +=
            mDelimiter + "\r\nContent-Disposition: form-data; name=\"" + name + "\"; filename=\"" + fileName + "\"";
        if (!type.empty()) mBody += "\r\nContent-Type: " + type;
        mBody += "\r\n\r\n" + content + "\r\n";
        return *this;
    }
    // The body with its closing delimiter.
    std::string str() const { return mBody + mDelimiter + "--\r\n"; }

private:
    std::string mDelimiter;
    std::string mBody;
};

// Runs formix4-inspect with `arguments`; its standard output goes to
// `output`. Returns the exit status.
inline int RunInspect(const std::string& arguments, std::string* output) {
    FILE* pipe = popen((std::string(FORMIX4_INSPECT_PATH) + " " + arguments).c_str(), "r");
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output->append(buffer, n);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace http_support
