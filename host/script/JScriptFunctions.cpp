#include "script/JScriptFunctions.h"

#include <string>

#include "script/ComBridge.h"
#include "script/JScriptInstall.h"

namespace script {

namespace {

// The version JScript pages test for: the last of the classic engine's.
constexpr int kMajorVersion = 5;
constexpr int kMinorVersion = 8;
constexpr int kBuildVersion = 1;

duk_ret_t ScriptEngineName(duk_context* context) {
    duk_push_string(context, "JScript");
    return 1;
}

template <int kVersion>
duk_ret_t Version(duk_context* context) {
    duk_push_int(context, kVersion);
    return 1;
}

// The language's "Automation server can't create object" (429).
[[noreturn]] void CannotCreate(duk_context* context, const char* why) {
    ThrowComError(context, static_cast<HRESULT>(0x800A01ADu),
                  std::string("Automation server can't create object: ") + why);
}

// new ActiveXObject(progId): the object Server.CreateObject makes, through
// the page's own Server (the server's classes first, then the registry's).
duk_ret_t ActiveXObject(duk_context* context) {
    if (!duk_is_string(context, 0)) CannotCreate(context, "a class name (ProgID) is expected");
    duk_get_global_string(context, "Server");
    if (!duk_is_object(context, -1)) CannotCreate(context, "the page has no Server object");
    duk_get_prop_string(context, -1, "CreateObject");
    duk_swap_top(context, -2);  // CreateObject called on Server
    duk_dup(context, 0);
    if (duk_pcall_method(context, 1) != DUK_EXEC_SUCCESS) {
        const std::string why = duk_safe_to_string(context, -1);
        CannotCreate(context, why.c_str());
    }
    return 1;
}

// GetObject("", progId) makes a new object of the class; an object kept in
// a file or named by a moniker is not something this server can open.
duk_ret_t GetObject(duk_context* context) {
    const bool path = duk_is_string(context, 0) && duk_get_length(context, 0) > 0;
    if (path || !duk_is_string(context, 1)) CannotCreate(context, "only GetObject(\"\", \"ProgID\") is offered");
    duk_remove(context, 0);
    duk_set_top(context, 1);
    return ActiveXObject(context);
}

}  // namespace

void InstallJScriptFunctions(duk_context* context) {
    const duk_idx_t global = duk_normalize_index(context, -1);
    PutFunction(context, global, "ScriptEngine", ScriptEngineName, 0);
    PutFunction(context, global, "ScriptEngineMajorVersion", Version<kMajorVersion>, 0);
    PutFunction(context, global, "ScriptEngineMinorVersion", Version<kMinorVersion>, 0);
    PutFunction(context, global, "ScriptEngineBuildVersion", Version<kBuildVersion>, 0);
    PutFunction(context, global, "ActiveXObject", ActiveXObject, 1);
    PutFunction(context, global, "GetObject", GetObject, 2);
}

}  // namespace script
