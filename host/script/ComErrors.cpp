#include "script/ComErrors.h"

#include <duktape.h>

#include <cstdint>
#include <cstdio>
#include <stdexcept>

#include "platform/MessageText.h"
#include "platform/System.h"

namespace script {

void ThrowComError(duk_context* context, HRESULT hr, const std::string& description, const std::string& source) {
    // No C file and line: the error is placed at the page's line that called the member.
    duk_push_error_object_raw(context, DUK_ERR_ERROR, nullptr, 0, "%s", description.c_str());
    if (!source.empty()) {
        duk_push_string(context, source.c_str());
        duk_put_prop_string(context, -2, "source");
    }
    duk_push_int(context, static_cast<duk_int_t>(static_cast<int32_t>(hr)));
    duk_put_prop_string(context, -2, "number");
    duk_push_string(context, description.c_str());
    duk_put_prop_string(context, -2, "description");
    (void)duk_throw(context);
    throw std::logic_error("unreachable");  // duk_throw does not return
}

std::string ErrorText(HRESULT hr) {
    std::string message = platform::SystemMessageText(hr);
    if (!message.empty()) return message;
    char code[32];
    std::snprintf(code, sizeof code, "Error 0x%08X", static_cast<unsigned>(hr));
    return code;
}

}  // namespace script
