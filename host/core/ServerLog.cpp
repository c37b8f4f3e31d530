#include "core/ServerLog.h"

#include <cstdio>

#include "platform/EventLog.h"

void LogServerEvent(WORD type, const std::string& text) {
    static HANDLE log = RegisterEventSourceA(nullptr, "formix4-server");
    const char* strings[] = {text.c_str()};
    if (log) ReportEventA(log, type, 0, 1, nullptr, 1, 0, strings, nullptr);
    std::fprintf(stderr, "formix4-server: %s\n", text.c_str());
}
