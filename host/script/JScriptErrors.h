// Errors as JScript pages read them: every error has a `number` (an
// HRESULT, facility 0x0A for the language's own errors) and a
// `description` (the message), and `new Error(number, description)` makes
// an error of that number.
#pragma once

#include <duktape.h>

namespace script {

// Installs JScript's Error constructor, the number every new error gets
// and `description`, in the global object on top of `context`'s stack.
void InstallJScriptErrors(duk_context* context);

}  // namespace script
