#include "site/HealthPage.h"

#include <unistd.h>

#include <string>

void Health(const WebServer& server, const PageRequest& request, Response& response) {
    const std::string uploads = request.documentRoot + "/uploads";
    const char* problem = server.draining()                    ? "draining\n"
                          : access(uploads.c_str(), W_OK) != 0 ? "the uploads folder cannot be written\n"
                                                               : nullptr;
    response.status = problem ? 503 : 200;
    response.contentType = "text/plain; charset=utf-8";
    response.headers.emplace_back("Cache-Control", "no-store");
    response.body = problem ? problem : "ready\n";
}
