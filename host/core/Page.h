// A page: C++ code registered under a virtual path, run on the web server's
// worker thread with the request's object context in place. It reads what
// it needs of the request and fills the response.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/HttpText.h"

class BodyReader;

struct PageRequest {
    std::string method;
    std::string path;                            // the virtual path, without the query: the page's own
    std::string pathInfo;                        // the path as asked, with what follows the page ("/page.asp/more")
    std::string queryString;                     // undecoded
    std::map<std::string, std::string> headers;  // names in lower case
    long long contentLength = -1;
    std::string documentRoot;  // the server's, as a full path
    std::string remoteAddress;
    int remotePort = 0;
    std::string localAddress;  // the address the server listens on
    int serverPort = 0;
    std::string httpVersion = "1.1";
    // The request body as the Request object reads it for the component;
    // tells a page why a read stopped. Null for pages without a body.
    const BodyReader* body = nullptr;

    // A query parameter, URL-decoded; "" when absent.
    std::string query(const std::string& name) const { return queryValue(name).value_or(""); }
    bool hasQuery(const std::string& name) const { return queryValue(name).has_value(); }
    // The first parameter of that name, URL-decoded; none when absent.
    std::optional<std::string> queryValue(const std::string& name) const;
    std::string header(const std::string& name) const;
    // The client's address as far as this server can tell: the peer's, or,
    // when the peer is on this machine (a proxy in front), the address the
    // proxy names last in X-Forwarded-For; "" when such a peer names none
    // (then one client cannot be told from another).
    std::string clientAddress() const;
    // The value of a cookie of the request, as sent; "" when absent.
    std::string cookie(const std::string& name) const;
    // Every cookie of the request, names and values as sent.
    std::vector<std::pair<std::string, std::string>> cookies() const;
};

struct Response {
    int status = 200;
    std::string contentType = "text/html; charset=utf-8";
    std::vector<std::pair<std::string, std::string>> headers;
    // The body: `body`, then `parts` in order. A part is a text of its own,
    // or a view of text that `owners` keep alive until the answer is sent: a
    // report of tens of megabytes is sent from where it is kept, not copied
    // into one text first. Text written after a view goes into a part of its own.
    struct Part {
        std::string text;
        std::string_view view;  // when not empty, the part's bytes
        std::string_view bytes() const { return view.empty() ? std::string_view(text) : view; }
    };
    std::string body;
    std::vector<Part> parts;
    std::vector<std::shared_ptr<const void>> owners;
    // When set, the answer is this file (with range and caching support)
    // instead of `body`, sent with `contentType` and `headers`.
    std::string file;

    // Set by the server for pages that send their answer in parts: sends the
    // head (the first time) and the body so far, which it then empties.
    std::function<void(Response&)> flush;
    bool headersSent = false;
    // Set by the server: whether the client still holds its connection.
    std::function<bool()> clientConnected;

    void write(std::string_view text) {
        if (parts.empty())
            body += text;
        else if (parts.back().view.empty())
            parts.back().text += text;
        else
            parts.push_back({std::string(text), {}});
    }
    // Adds views of text that `owner` keeps, in order, at the end of the body.
    void writeViews(const std::vector<std::string_view>& views, std::shared_ptr<const void> owner) {
        parts.reserve(parts.size() + views.size());
        for (std::string_view view : views)
            if (!view.empty()) parts.push_back({{}, view});
        owners.push_back(std::move(owner));
    }
    // Replaces the whole body.
    void setBody(std::string text) {
        body = std::move(text);
        parts.clear();
        owners.clear();
    }
    size_t bodySize() const {
        size_t size = body.size();
        for (const Part& part : parts) size += part.bytes().size();
        return size;
    }
};

using Page = std::function<void(const PageRequest&, Response&)>;

// What a page accepts of a request.
struct PageOptions {
    // The page reads a request body (through the Request object); pages
    // without one refuse a body before reading any of it.
    bool readsBody = false;
    // The path names a folder whose every file this page answers.
    bool prefix = false;
};
