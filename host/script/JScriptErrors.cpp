#include "script/JScriptErrors.h"

#include <cstdint>
#include <string>

#include "core/RuntimeErrors.h"
#include "script/JScriptInstall.h"

namespace script {

namespace {

constexpr const char* kStandardError = DUK_HIDDEN_SYMBOL("standardError");

// The number of one of the language's run-time errors: HRESULT facility
// 0x0A (the script engines') and the error's code, as a signed 32-bit value.
double LanguageErrorNumber(int code) {
    return static_cast<double>(static_cast<int32_t>(host::RuntimeError(static_cast<unsigned>(code))));
}

// The number JScript gives the errors the engine raises, by their kind:
// what pages test (`e.number & 0xFFFF`) to tell an undefined name from a
// call on null. Errors a page makes itself have 0 unless it says otherwise.
double NumberOfEngineError(const std::string& name, const std::string& message) {
    if (name == "ReferenceError") return LanguageErrorNumber(5009);  // 'x' is undefined
    if (name == "TypeError")
        return LanguageErrorNumber(
            message.find("not callable") != std::string::npos ? 5002 : 5007);  // Function / Object expected
    if (name == "SyntaxError") return LanguageErrorNumber(1002);
    if (name == "RangeError") return LanguageErrorNumber(5029);
    if (name == "URIError") return LanguageErrorNumber(5024);
    return 0;
}

// The engine's "identifier 'x' undefined" in JScript's words, which pages
// show and compare: "'x' is undefined".
std::string JScriptMessage(const std::string& name, const std::string& message) {
    const std::string prefix = "identifier '";
    const std::string suffix = "' undefined";
    if (name == "ReferenceError" && message.size() > prefix.size() + suffix.size() && message.starts_with(prefix) &&
        message.ends_with(suffix))
        return message.substr(prefix.size() - 1, message.size() - prefix.size() - suffix.size() + 2) + " is undefined";
    return message;
}

std::string StringProperty(duk_context* context, duk_idx_t object, const char* key) {
    duk_get_prop_string(context, object, key);
    std::string value = duk_is_string(context, -1) ? duk_get_string(context, -1) : "";
    duk_pop(context);
    return value;
}

// Defines the value on top of the stack as `object`'s own `key`.
void DefineValue(duk_context* context, duk_idx_t object, const char* key) {
    object = duk_normalize_index(context, object);
    duk_push_string(context, key);
    duk_insert(context, -2);
    duk_def_prop(context, object, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_SET_WRITABLE | DUK_DEFPROP_SET_CONFIGURABLE);
}

// Called by the engine for every error made, by the engine or by a page,
// before anyone sees it: gives it its number and JScript's message.
duk_ret_t OnErrorCreated(duk_context* context) {
    if (!duk_is_object(context, 0) || duk_has_prop_string(context, 0, "number")) return 1;
    const std::string name = StringProperty(context, 0, "name");
    const std::string message = StringProperty(context, 0, "message");
    const std::string jscriptMessage = JScriptMessage(name, message);
    if (jscriptMessage != message) {
        duk_push_string(context, jscriptMessage.c_str());
        DefineValue(context, 0, "message");
    }
    duk_push_number(context, NumberOfEngineError(name, message));
    DefineValue(context, 0, "number");
    duk_dup(context, 0);
    return 1;
}

// new Error(), new Error(number), new Error(number, description), and the
// standard's new Error(description): a single argument that is not a
// number is the description, as JScript reads it.
duk_ret_t ErrorConstructor(duk_context* context) {
    const duk_idx_t count = duk_get_top(context);
    const bool numbered = count >= 2 || (count == 1 && duk_is_number(context, 0));
    const duk_idx_t description = numbered ? 1 : 0;
    const double number = numbered ? duk_to_number(context, 0) : 0;
    duk_push_current_function(context);
    duk_get_prop_string(context, -1, kStandardError);
    if (description < count && !duk_is_undefined(context, description)) {
        duk_dup(context, description);
        duk_to_string(context, -1);
    } else {
        duk_push_string(context, "");
    }
    duk_new(context, 1);
    duk_push_number(context, number);
    DefineValue(context, -2, "number");
    return 1;
}

// Error.prototype.description: the message under JScript's older name.
duk_ret_t GetDescription(duk_context* context) {
    duk_push_this(context);
    duk_get_prop_string(context, -1, "message");
    return 1;
}

duk_ret_t SetDescription(duk_context* context) {
    duk_push_this(context);
    duk_dup(context, 0);
    duk_put_prop_string(context, -2, "message");
    return 0;
}

}  // namespace

void InstallJScriptErrors(duk_context* context) {
    const duk_idx_t global = duk_normalize_index(context, -1);
    duk_get_prop_string(context, global, "Duktape");
    duk_push_c_function(context, OnErrorCreated, 1);
    duk_put_prop_string(context, -2, "errCreate");
    duk_pop(context);

    duk_get_prop_string(context, global, "Error");
    duk_get_prop_string(context, -1, "prototype");
    duk_push_string(context, "description");
    duk_push_c_function(context, GetDescription, 0);
    duk_push_c_function(context, SetDescription, 1);
    duk_def_prop(context, -4, DUK_DEFPROP_HAVE_GETTER | DUK_DEFPROP_HAVE_SETTER | DUK_DEFPROP_SET_CONFIGURABLE);
    duk_pop_2(context);

    ReplaceConstructor(context, global, "Error", ErrorConstructor, kStandardError);
    duk_pop(context);
}

}  // namespace script
