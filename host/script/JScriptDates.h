// Dates as JScript writes and reads them: the text of a Date is JScript's
// ("Thu Jul 15 12:30:05 UTC+0200 2021"), and Date.parse and new Date(text)
// read the forms JScript documents ("Jan 5, 1996 08:47:00", "7/20/96",
// "Thu, 15 Jul 2021 10:30:05 GMT", JScript's own text) besides ISO 8601.
#pragma once

#include <duktape.h>

namespace script {

// Installs JScript's Date constructor, Date.parse, the Date texts and
// getYear in the global object on top of `context`'s stack.
void InstallJScriptDates(duk_context* context);

}  // namespace script
