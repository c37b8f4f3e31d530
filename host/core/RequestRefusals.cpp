// The HTTP edges: requests refused before any page runs or any body byte is
// read, and the library's own error answers written the server's way.
#include <civetweb.h>

#include <algorithm>
#include <limits>
#include <string>

#include "core/HttpAnswers.h"
#include "core/HttpText.h"
#include "core/WebServer.h"

// Every error answer the library would make (a request it cannot read, a
// file it cannot send, the refusals of dispatch) is written here instead:
// the library's own names, in the status line, the version text the client
// sent, and a request line of more than three parts brings the client's
// header lines into the answer's head with it.
int WebServer::ErrorAnswer(mg_connection* connection, int status, const char* message) {
    closeAfterAnswer(connection);
    const char* reason = mg_get_response_code_text(connection, status);
    SendRefusal(connection, status, reason ? reason : "Error", message ? message : "");
    return 0;
}

// The library closes a connection without any answer when the request's
// target is "*" or a URL of another server, as a server that is no proxy.
// Such a request is answered here, as the connection closes, when it was
// the connection's first: nothing was written to it before, so the short
// answer cannot wait on a client that does not read (the library's lock is
// held here).
void WebServer::ConnectionClosing(const mg_connection* connection) {
    const mg_request_info* info = mg_get_request_info(connection);
    if (mg_get_user_connection_data(connection) || !info || !info->request_method || !info->request_uri ||
        info->local_uri)
        return;
    const std::string target = info->request_uri;
    const std::string scheme = Lower(target.substr(0, target.find("://") + 1));
    auto* writable = const_cast<mg_connection*>(connection);
    if (target == "*" && std::string(info->request_method) == "OPTIONS")
        SendRefusal(writable, 405, "Method Not Allowed", "Only GET, HEAD and POST are answered here.");
    else if (target == "*")
        SendRefusal(writable, 400, "Bad Request", "The request names no path.");
    else if (scheme == "http:" || scheme == "https:" || scheme == "ws:" || scheme == "wss:")
        SendRefusal(writable, 400, "Bad Request", "This server does not answer for that host name.");
}

bool WebServer::hostAllowed(const char* host) const {
    if (!host) return false;
    const std::string name = HostName(host);
    for (const std::string& allowed : mOptions.hosts)
        if (name == allowed) return true;
    return false;
}

int WebServer::refusal(mg_connection* connection, const PageEntry* page, std::string* text) const {
    const mg_request_info* info = mg_get_request_info(connection);
    if (info->num_headers >= MG_MAX_HEADERS) {
        *text = "The request has too many header lines (at most " + std::to_string(MG_MAX_HEADERS - 1) + ").";
        return 431;
    }
    // One host, one length: a request that says two things is refused
    // rather than read one way here and another way by a proxy in front.
    int hosts = 0;
    std::string firstLength;
    for (int i = 0; i < info->num_headers; ++i) {
        const std::string name = Lower(info->http_headers[i].name ? info->http_headers[i].name : "");
        const std::string value = info->http_headers[i].value ? info->http_headers[i].value : "";
        if (name == "host") ++hosts;
        if (name != "content-length") continue;
        if (!firstLength.empty() && value != firstLength) {
            *text = "The request gives two different lengths.";
            return 400;
        }
        firstLength = value;
    }
    const char* host = mg_get_header(connection, "Host");
    if (hosts > 1 || (host && !WellFormedHost(host))) {
        *text = "The request must name one well-formed host.";
        return 400;
    }
    // Only the names this site is reached by, so that a page of another
    // site cannot rebind its own name to this server.
    if (!hostAllowed(host)) {
        *text = "This server does not answer for that host name.";
        return 400;
    }
    const std::string method = info->request_method ? info->request_method : "";
    if (method != "GET" && method != "HEAD" && method != "POST") {
        *text = "Only GET, HEAD and POST are answered here.";
        return 405;
    }
    // The component needs a body's length before its first byte.
    if (mg_get_header(connection, "Transfer-Encoding")) {
        *text = "Send the request body with a Content-Length; chunked bodies are not accepted.";
        return 411;
    }
    const char* lengthHeader = mg_get_header(connection, "Content-Length");
    long long length = 0;
    if (lengthHeader) {
        const std::string digits(lengthHeader);
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) {
            *text = "The Content-Length is not a number.";
            return 400;
        }
        // Any length of more than 15 digits is over every limit.
        length = digits.size() > 15 ? std::numeric_limits<long long>::max() : std::stoll(digits);
    }
    const long long limit = std::min<long long>(mOptions.maxBodyBytes, 0x7FFFFFFF);
    if (length > limit) {
        *text = "The request body is larger than this server takes (" + std::to_string(limit) + " bytes).";
        return 413;
    }
    const bool readsBody = page && page->options.readsBody && method == "POST";
    if (length > 0 && !readsBody) {
        *text = "This address takes no request body.";
        return 413;
    }
    if (readsBody && !lengthHeader) {
        *text = "Send the request body with a Content-Length.";
        return 411;
    }
    const char* expect = mg_get_header(connection, "Expect");
    if (expect && Lower(expect) != "100-continue") {
        *text = "Only the expectation 100-continue is understood.";
        return 417;
    }
    return 0;
}
