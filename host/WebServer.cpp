#include "WebServer.h"

#include <civetweb.h>
#include <limits.h>
#include <stdlib.h>

#include <cctype>
#include <cstdio>

#include "HostObjects.h"
#include "platform/Asp.h"
#include "platform/CodePage.h"
#include "platform/ComPtr.h"
#include "platform/Security.h"

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

const char* StatusText(int status) {
    switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 413: return "Payload Too Large";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

struct PageEntry {
    WebServer* server;
    const Page* page;
};

}  // namespace

std::string HtmlEscape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string UrlDecode(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string JsonString(const std::string& utf8) {
    std::string out = "\"";
    for (unsigned char c : utf8) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

std::string JsonString(const std::u16string& text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        const bool high = c >= 0xD800 && c <= 0xDBFF, low = c >= 0xDC00 && c <= 0xDFFF;
        if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            out += platform::codepage::Utf16ToUtf8(text.substr(i, 2));
            ++i;
        } else if (high || low || c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else if (c == u'"' || c == u'\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else {
            out += platform::codepage::Utf16ToUtf8(std::u16string(1, c));
        }
    }
    return out + "\"";
}

std::string PageRequest::query(const std::string& name) const {
    size_t start = 0;
    while (start <= queryString.size()) {
        size_t end = queryString.find('&', start);
        if (end == std::string::npos) end = queryString.size();
        const std::string pair = queryString.substr(start, end - start);
        const size_t equals = pair.find('=');
        if (UrlDecode(pair.substr(0, equals)) == name)
            return equals == std::string::npos ? std::string() : UrlDecode(pair.substr(equals + 1));
        start = end + 1;
    }
    return {};
}

std::string PageRequest::header(const std::string& name) const {
    auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
}

WebServer::WebServer(ServerOptions options) : mOptions(std::move(options)) {
    char resolved[PATH_MAX];
    if (realpath(mOptions.documentRoot.c_str(), resolved)) mOptions.documentRoot = resolved;
}

WebServer::~WebServer() { stop(); }

void WebServer::addPage(const std::string& virtualPath, Page page) { mPages[virtualPath] = std::move(page); }

bool WebServer::start(std::string* error) {
    mg_init_library(0);
    const std::string ports = mOptions.bindAddress + ":" + std::to_string(mOptions.port);
    const std::string threads = std::to_string(mOptions.threads);
    const char* options[] = {"listening_ports", ports.c_str(),
                             "document_root", mOptions.documentRoot.c_str(),
                             "num_threads", threads.c_str(),
                             "request_timeout_ms", "120000",
                             "enable_keep_alive", "no",
                             nullptr};
    mg_callbacks callbacks{};
    mContext = mg_start(&callbacks, this, options);
    if (!mContext) {
        *error = "cannot listen on " + ports;
        return false;
    }
    mg_server_port ports_info[4];
    const int count = mg_get_server_ports(mContext, 4, ports_info);
    mPort = count > 0 ? ports_info[0].port : mOptions.port;
    // "$" makes CivetWeb match the path exactly; without it "/upload" would
    // also take "/uploads/..." and "/upload.txt".
    for (auto& [path, page] : mPages)
        mg_set_request_handler(mContext, (path + "$").c_str(), &WebServer::HandleRequest, new PageEntry{this, &page});
    return true;
}

void WebServer::stop() {
    if (mContext) {
        mg_stop(mContext);
        mContext = nullptr;
    }
}

int WebServer::HandleRequest(mg_connection* connection, void* data) {
    auto* entry = static_cast<PageEntry*>(data);
    entry->server->serve(connection, *entry->page);
    return 1;
}

void WebServer::serve(mg_connection* connection, const Page& page) {
    const mg_request_info* info = mg_get_request_info(connection);
    PageRequest request;
    request.method = info->request_method ? info->request_method : "";
    request.path = info->local_uri ? info->local_uri : "/";
    request.queryString = info->query_string ? info->query_string : "";
    request.contentLength = info->content_length;
    request.documentRoot = mOptions.documentRoot;
    for (int i = 0; i < info->num_headers; ++i) {
        std::string name = info->http_headers[i].name;
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        request.headers[name] = info->http_headers[i].value;
    }

    // The request's object context, for this thread while the page runs.
    platform::ComPtr<IRequest> requestObject(CreateRequestObject(connection, info->content_length));
    platform::ComPtr<IServer> serverObject(CreateServerObject(mOptions.documentRoot, request.path));
    platform::ComPtr<IObjectContext> context(CreateObjectContext(requestObject.get(), serverObject.get()));
    Response response;
    platform::SetThreadObjectContext(context.get());
    try {
        page(request, response);
    } catch (const std::exception& e) {
        response = Response();
        response.status = 500;
        response.body = std::string("Page failed: ") + e.what();
    }
    platform::SetThreadObjectContext(nullptr);
    // The worker thread leaves every page as the process, whatever the page
    // left behind (a leaked form keeps its impersonation otherwise), so the
    // next request, page or file, starts as the process.
    RevertToSelf();

    mg_printf(connection, "HTTP/1.1 %d %s\r\nContent-Type: %s\r\nContent-Length: %zu\r\nConnection: close\r\n",
              response.status, StatusText(response.status), response.contentType.c_str(), response.body.size());
    for (const auto& [name, value] : response.headers) mg_printf(connection, "%s: %s\r\n", name.c_str(), value.c_str());
    mg_printf(connection, "\r\n");
    mg_write(connection, response.body.data(), response.body.size());
}
