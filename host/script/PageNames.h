// The names the page host gives a page's code: its objects (Request,
// Response, ...) ready when the page starts, and the objects the page and
// the site declare, made the first time the code uses their name.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/ComPtr.h"
#include "platform/Com.h"

namespace script {

struct PageName {
    std::string name;
    platform::ComPtr<IDispatch> object;  // ready now; else made by `make`
    // Makes the object at the first use of the name; null with the failure's text.
    std::function<platform::ComPtr<IDispatch>(std::string* error)> make;
};

using PageNames = std::vector<PageName>;

}  // namespace script
