// Helpers for tests: a registry folder of their own, the event log file,
// text conversions, child processes and free ports.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "platform/EventLog.h"
#include "platform/Registry.h"
#include "platform/RegistryValues.h"

namespace testing_support {

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// A fresh registry folder for one test, with the event log's "File" value
// pointing at a log file inside it.
class TempRegistry {
public:
    TempRegistry() {
        char pattern[] = "/tmp/platform-test-XXXXXX";
        mDir = mkdtemp(pattern);
        setenv("PLATFORM_REGISTRY_DIR", (mDir / "registry").c_str(), 1);
        platform::registry::WriteString(HKEY_LOCAL_MACHINE, kEventLogApplicationKey, "File", logPath().string());
    }
    ~TempRegistry() {
        std::error_code ignored;
        std::filesystem::remove_all(mDir, ignored);
    }
    std::filesystem::path dir() const { return mDir; }
    std::filesystem::path registryDir() const { return mDir / "registry"; }
    std::filesystem::path logPath() const { return mDir / "events.log"; }
    std::string file(const char* root) const { return ReadFile(registryDir() / (std::string(root) + ".reg")); }

    // The event log entries as lines of tab-separated fields.
    std::vector<std::vector<std::string>> events() const {
        std::vector<std::vector<std::string>> rows;
        std::istringstream lines(ReadFile(logPath()));
        std::string line;
        while (std::getline(lines, line)) {
            std::vector<std::string> fields;
            std::istringstream parts(line);
            std::string field;
            while (std::getline(parts, field, '\t')) fields.push_back(field);
            rows.push_back(fields);
        }
        return rows;
    }

private:
    std::filesystem::path mDir;
};

// Runs `body` in a forked child and returns its exit status (or 128 + signal).
inline int RunInChild(const std::function<int()>& body) {
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

inline std::string Narrow(const char16_t* text) { return platform::codepage::Utf16ToUtf8(text ? text : u""); }

}  // namespace testing_support
