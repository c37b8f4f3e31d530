// Runs a VBScript page's program with the page's objects, reporting an
// uncaught error with its page file and line, its number and text, as the
// page host reports JScript errors.
#pragma once

#include <functional>

#include "script/PageNames.h"
#include "script/PageProgram.h"
#include "script/ScriptEngine.h"

namespace script {

// `names` are the request's objects and the site's, `declared` the page's
// own <object> tags; `stopNow` is asked every so many statements and
// after each call of an object.
RunOutcome RunVBScript(const CompiledPage& page, const PageNames& names, const PageNames& declared,
                       const std::function<bool()>& stopNow);

}  // namespace script
