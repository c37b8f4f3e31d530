// A page: C++ code registered under a virtual path, run on the web server's
// worker thread with the request's object context in place. It reads what
// it needs of the request and fills the response.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/HttpText.h"

class BodyReader;

struct PageRequest {
    std::string method;
    std::string path;         // the virtual path, without the query
    std::string queryString;  // undecoded
    std::map<std::string, std::string> headers;  // names in lower case
    long long contentLength = -1;
    std::string documentRoot;  // the server's, as a full path
    std::string remoteAddress;
    int serverPort = 0;
    // The request body as the Request object reads it for the component;
    // tells a page why a read stopped. Null for pages without a body.
    const BodyReader* body = nullptr;

    // A query parameter, URL-decoded; "" when absent.
    std::string query(const std::string& name) const { return queryValue(name).value_or(""); }
    bool hasQuery(const std::string& name) const { return queryValue(name).has_value(); }
    // The first parameter of that name, URL-decoded; none when absent.
    std::optional<std::string> queryValue(const std::string& name) const;
    std::string header(const std::string& name) const;
    // The value of a cookie of the request, as sent; "" when absent.
    std::string cookie(const std::string& name) const;
    // Every cookie of the request, names and values as sent.
    std::vector<std::pair<std::string, std::string>> cookies() const;
};

struct Response {
    int status = 200;
    std::string contentType = "text/html; charset=utf-8";
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // When set, the answer is this file (with range and caching support)
    // instead of `body`, sent with `contentType` and `headers`.
    std::string file;

    // Set by the server for pages that send their answer in parts: sends the
    // head (the first time) and the body so far, which it then empties.
    std::function<void(Response&)> flush;
    bool headersSent = false;

    void write(const std::string& text) { body += text; }
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
