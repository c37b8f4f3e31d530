// Answers written by the server: status lines and heads, bodies sent in
// gathered writes, refusals and unsatisfiable ranges.
#include "core/HttpAnswers.h"

#include <sys/stat.h>

#include <civetweb.h>

#include <string>

#include "core/HttpText.h"
#include "core/WebServer.h"

namespace {

const char* StatusText(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 303:
            return "See Other";
        case 400:
            return "Bad Request";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 408:
            return "Request Timeout";
        case 411:
            return "Length Required";
        case 413:
            return "Payload Too Large";
        case 500:
            return "Internal Server Error";
        case 503:
            return "Service Unavailable";
        case 507:
            return "Insufficient Storage";
        default:
            return "Status";
    }
}

}  // namespace

// Sends a response's body and then its parts. Parts smaller than a write are
// gathered first: a report of 10,000 items goes out in writes of 256 KB,
// not one per item, and is never copied whole into one text.
void SendBody(mg_connection* connection, const Response& response) {
    constexpr size_t kWriteBytes = 256 * 1024;
    mg_write(connection, response.body.data(), response.body.size());
    std::string gathered;
    for (const Response::Part& part : response.parts) {
        const std::string_view bytes = part.bytes();
        if (!gathered.empty() && gathered.size() + bytes.size() > kWriteBytes) {
            mg_write(connection, gathered.data(), gathered.size());
            gathered.clear();
        }
        if (bytes.size() >= kWriteBytes) {
            mg_write(connection, bytes.data(), bytes.size());
        } else {
            if (gathered.empty()) gathered.reserve(kWriteBytes);
            gathered += bytes;
        }
    }
    if (!gathered.empty()) mg_write(connection, gathered.data(), gathered.size());
}

void WebServer::closeAfterAnswer(mg_connection* connection) { mg_disable_connection_keep_alive(connection); }

// Written whole here rather than by the library's error answer, which
// after an interim "100 Continue" takes the head for sent and writes the
// text alone.
void WebServer::SendRefusal(mg_connection* connection, int status, const char* reason, const std::string& text) {
    const std::string body = "Error " + std::to_string(status) + ": " + text;
    mg_printf(connection,
              "HTTP/1.1 %d %s\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: %zu\r\n"
              "Cache-Control: no-store\r\n%s\r\nConnection: close\r\n\r\n%s",
              status, reason, body.size(), kNoSniff, body.c_str());
}

bool WebServer::refuseRange(mg_connection* connection, const std::string& file) {
    const char* range = mg_get_header(connection, "Range");
    struct stat st {};
    if (!range || stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || RangeSatisfiable(range, st.st_size))
        return false;
    closeAfterAnswer(connection);
    mg_printf(connection,
              "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */%lld\r\nContent-Length: 0\r\n"
              "Connection: close\r\n\r\n",
              static_cast<long long>(st.st_size));
    return true;
}

std::string WebServer::Head(const Response& response, long long contentLength, bool keepOpen) {
    std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " + StatusText(response.status) +
                       "\r\nContent-Type: " + response.contentType +
                       (keepOpen ? "\r\nConnection: keep-alive\r\n" : "\r\nConnection: close\r\n");
    bool ownPolicy = false;
    for (const auto& [name, value] : response.headers) {
        head += name + ": " + value + "\r\n";
        ownPolicy = ownPolicy || Lower(name) == "content-security-policy";
    }
    // A page that sends a policy of its own (a site whose pages hold inline
    // scripts) has that one instead of the server's.
    head += std::string(kNoSniff) + "\r\n" + (ownPolicy ? "" : std::string(kSecurityPolicy) + "\r\n");
    if (contentLength >= 0) head += "Content-Length: " + std::to_string(contentLength) + "\r\n";
    return head + "\r\n";
}
