// A page: C++ code registered under a virtual path, run on the web server's
// worker thread with the request's object context in place. It reads what
// it needs of the request and fills the response.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

struct PageRequest {
    std::string method;
    std::string path;         // the virtual path, without the query
    std::string queryString;  // undecoded
    std::map<std::string, std::string> headers;  // names in lower case
    long long contentLength = -1;
    std::string documentRoot;  // the server's, as a full path

    // A query parameter, URL-decoded; "" when absent.
    std::string query(const std::string& name) const;
    std::string header(const std::string& name) const;
};

struct Response {
    int status = 200;
    std::string contentType = "text/html; charset=utf-8";
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    void write(const std::string& text) { body += text; }
};

using Page = std::function<void(const PageRequest&, Response&)>;

std::string UrlDecode(const std::string& text);
// Text for HTML element content and attribute values.
std::string HtmlEscape(const std::string& text);
std::string JsonString(const std::string& utf8);
// A JSON string of UTF-16 text: controls, a NUL and lone surrogates as \u escapes.
std::string JsonString(const std::u16string& text);
