// The cookies a page sets through Response.Cookies: each kept as the page
// wrote it until the page has run, then sent as a Set-Cookie header.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "core/HttpText.h"
#include "platform/ComPtr.h"
#include "platform/OleAuto.h"

namespace script {

struct Cookie {
    std::string name, value, path = "/", domain, expires, sameSite;
    // A cookie of keys ("a=k1=v1&k2=v2") in the order they were set; a
    // value and keys exclude each other, the later replacing the earlier.
    std::vector<std::pair<std::string, std::string>> keys;
    bool secure = false;
    // Out of reach of the browser's scripts unless the page says otherwise.
    bool httpOnly = true;

    std::string text() const {
        if (keys.empty()) return UrlEncodeForm(value);
        std::string joined;
        for (const auto& [key, keyValue] : keys)
            joined += (joined.empty() ? "" : "&") + UrlEncodeForm(key) + "=" + UrlEncodeForm(keyValue);
        return joined;
    }
    std::string header() const {
        std::string text = UrlEncodeForm(name) + "=" + this->text() + "; Path=" + path;
        if (!domain.empty()) text += "; Domain=" + domain;
        if (!expires.empty()) text += "; Expires=" + expires;
        if (secure) text += "; Secure";
        if (httpOnly) text += "; HttpOnly";
        return sameSite.empty() ? text : text + "; SameSite=" + sameSite;
    }
    void setKey(const std::string& key, const std::string& keyValue) {
        value.clear();
        for (auto& [existing, existingValue] : keys)
            if (existing == key) {
                existingValue = keyValue;
                return;
            }
        keys.emplace_back(key, keyValue);
    }
};

// Response.Cookies(name): its value (the default member), its keys, Path,
// Domain, Expires, Secure, SameSite and HttpOnly are written. `owner` (the
// Response object that keeps `cookie`) is kept as long as this object.
IDispatch* CreateCookieObject(platform::ComPtr<IDispatch> owner, Cookie* cookie);

}  // namespace script
