// The global functions JScript gives pages beyond the standard's:
// ScriptEngine() and its version functions, ActiveXObject and GetObject
// (which make the classes the server has, as Server.CreateObject does).
#pragma once

#include <duktape.h>

namespace script {

// Installs them in the global object on top of `context`'s stack.
void InstallJScriptFunctions(duk_context* context);

}  // namespace script
