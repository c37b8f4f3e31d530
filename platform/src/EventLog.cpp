// The Application event log over syslog and an optional plain log file.
#include "platform/EventLog.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <string>

#include "platform/Registry.h"
#include "platform/System.h"

namespace {

struct EventSource {
    std::string name;
};

const char* TypeName(WORD type) {
    switch (type) {
        case EVENTLOG_ERROR_TYPE:
            return "Error";
        case EVENTLOG_WARNING_TYPE:
            return "Warning";
        case EVENTLOG_INFORMATION_TYPE:
            return "Information";
        case EVENTLOG_AUDIT_SUCCESS:
            return "Audit Success";
        case EVENTLOG_AUDIT_FAILURE:
            return "Audit Failure";
        default:
            return "Success";
    }
}

int SyslogPriority(WORD type) {
    switch (type) {
        case EVENTLOG_ERROR_TYPE:
        case EVENTLOG_AUDIT_FAILURE:
            return LOG_ERR;
        case EVENTLOG_WARNING_TYPE:
            return LOG_WARNING;
        case EVENTLOG_AUDIT_SUCCESS:
            return LOG_NOTICE;
        default:
            return LOG_INFO;
    }
}

// Sends one RFC 3164 message to the local syslog socket with the source as
// ident. Writing the datagram ourselves keeps the process-wide openlog()
// state untouched, so concurrent sources need no lock.
void SendToSyslog(const std::string& ident, WORD type, const std::string& text) {
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, "/dev/log", sizeof address.sun_path - 1);
    char stamp[32];
    const time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    strftime(stamp, sizeof stamp, "%b %e %H:%M:%S", &local);
    char header[160];
    std::snprintf(header, sizeof header, "<%d>%s %s[%d]: ", LOG_USER | SyslogPriority(type), stamp, ident.c_str(),
                  static_cast<int>(getpid()));
    const std::string message = header + text;
    ::sendto(fd, message.data(), message.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::close(fd);
}

// The file named by the Application log's "File" value, or "".
std::string LogFilePath() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kEventLogApplicationKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
    char path[4096];
    DWORD size = sizeof path - 1;
    DWORD type = 0;
    const LONG status = RegQueryValueExA(key, "File", nullptr, &type, reinterpret_cast<BYTE*>(path), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return {};
    path[size] = 0;
    return path;
}

bool AppendLine(const std::string& path, const std::string& line) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    // One write with O_APPEND keeps concurrent entries whole.
    const ssize_t n = ::write(fd, line.data(), line.size());
    ::close(fd);
    return n == static_cast<ssize_t>(line.size());
}

std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r' || c == '\t') c = ' ';
    return text;
}

}  // namespace

HANDLE RegisterEventSourceA(LPCSTR server, LPCSTR source) {
    HKEY machine = nullptr;
    const LONG status = RegConnectRegistryA(server, HKEY_LOCAL_MACHINE, &machine);
    if (status != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(status));
        return nullptr;
    }
    if (!source || !*source) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto* handle = new (std::nothrow) EventSource{source};
    if (!handle) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return handle;
}

BOOL DeregisterEventSource(HANDLE log) {
    if (!log) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete static_cast<EventSource*>(log);
    return TRUE;
}

BOOL ReportEventA(HANDLE log, WORD type, WORD category, DWORD eventId, void*, WORD numStrings, DWORD, LPCSTR* strings,
                  void*) {
    if (!log) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (numStrings && !strings) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto* source = static_cast<EventSource*>(log);
    std::string text;
    for (WORD i = 0; i < numStrings; ++i) {
        if (i) text += ' ';
        text += strings[i] ? strings[i] : "";
    }
    SendToSyslog(source->name, type, text);
    const std::string path = LogFilePath();
    if (!path.empty()) {
        char stamp[32];
        const time_t now = time(nullptr);
        tm utc{};
        gmtime_r(&now, &utc);
        strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
        const std::string line = std::string(stamp) + "\t" + TypeName(type) + "\t" + OneLine(source->name) + "\t" +
                                 std::to_string(category) + "\t" + std::to_string(eventId) + "\t" + OneLine(text) +
                                 "\n";
        if (!AppendLine(path, line)) {
            SetLastError(Win32ErrorFromErrno(errno));
            return FALSE;
        }
    }
    return TRUE;
}
