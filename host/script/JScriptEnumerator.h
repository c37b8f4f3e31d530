// JScript's Enumerator: walks a COM collection item by item.
#pragma once

struct duk_hthread;
typedef struct duk_hthread duk_context;

namespace script {

// Puts the constructor Enumerator into the object at the top of the stack
// (a run's global object).
void InstallEnumerator(duk_context* context);

}  // namespace script
