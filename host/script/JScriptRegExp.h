// RegExp's static properties, which JScript pages read after a match:
// RegExp.$1 ... RegExp.$9, lastMatch, leftContext, rightContext, input,
// index and lastIndex, set by every successful exec, test and
// String.prototype.match with a regular expression that is not global.
#pragma once

#include <duktape.h>

namespace script {

// Installs them in the global object on top of `context`'s stack.
void InstallJScriptRegExp(duk_context* context);

}  // namespace script
