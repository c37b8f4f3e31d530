// JScript's VBArray: reads a SAFEARRAY a COM object gave, by index or as a
// script array.
#pragma once

struct duk_hthread;
typedef struct duk_hthread duk_context;

namespace script {

// Puts the constructor VBArray into the object at the top of the stack
// (a run's global object).
void InstallVBArray(duk_context* context);

}  // namespace script
