// Where the page language's built-ins answer differently in JScript, the
// language the pages were written for, a page gets JScript's answer.
#pragma once

#include <duktape.h>

namespace script {

// Puts JScript's versions into the global object on top of `context`'s
// stack: its dates, errors, global functions and RegExp statics.
void InstallJScriptBuiltins(duk_context* context);

}  // namespace script
