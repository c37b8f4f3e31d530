// What a page reads of its request: query values, headers, the client's
// address and cookies.
#include "core/Page.h"

#include "core/HttpText.h"

std::optional<std::string> PageRequest::queryValue(const std::string& name) const {
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
    return std::nullopt;
}

std::string PageRequest::header(const std::string& name) const {
    auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
}

std::string PageRequest::clientAddress() const {
    const bool local =
        remoteAddress.starts_with("127.") || remoteAddress == "::1" || remoteAddress.starts_with("::ffff:127.");
    if (!local) return remoteAddress;
    // The proxy appends the address it took the request from to what the
    // client sent: only that last entry is the proxy's own word.
    const std::string forwarded = header("x-forwarded-for");
    const size_t comma = forwarded.rfind(',');
    std::string last = forwarded.substr(comma == std::string::npos ? 0 : comma + 1);
    last.erase(0, last.find_first_not_of(" \t"));
    last.erase(last.find_last_not_of(" \t") + 1);
    return last;
}

std::vector<std::pair<std::string, std::string>> PageRequest::cookies() const {
    std::vector<std::pair<std::string, std::string>> result;
    const std::string text = header("cookie");
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(';', start);
        if (end == std::string::npos) end = text.size();
        const size_t first = text.find_first_not_of(' ', start);
        const size_t equals = text.find('=', first);
        if (first < end && equals < end)
            result.emplace_back(text.substr(first, equals - first), text.substr(equals + 1, end - equals - 1));
        start = end + 1;
    }
    return result;
}

std::string PageRequest::cookie(const std::string& name) const {
    for (const auto& [cookieName, value] : cookies())
        if (cookieName == name) return value;
    return {};
}
