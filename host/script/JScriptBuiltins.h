// Where the page language's built-ins answer differently in JScript, the
// language the pages were written for, a page gets JScript's answer.
#pragma once

#include <duktape.h>

namespace script {

// Puts JScript's versions into the global object on top of `context`'s
// stack: Date.prototype.getYear gives the full year outside 1900-1999 (the
// standard's gives the year less 1900: 121 for 2021).
void InstallJScriptBuiltins(duk_context* context);

}  // namespace script
