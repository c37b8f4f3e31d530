// What putting JScript's versions of built-ins into a page's global object
// takes, shared by the parts that do it.
#pragma once

#include <duktape.h>

namespace script {

// Sets `object[name]` to a native function of `args` arguments.
void PutFunction(duk_context* context, duk_idx_t object, const char* name, duk_c_function function, duk_idx_t args);

// Makes `constructor` the global `name` in place of the standard one, which
// it finds as its own `standardKey`: it shares the standard's prototype (so
// that instanceof and the objects the engine makes stay as they are), and
// the prototype names it as its constructor. Leaves the new constructor on
// the stack for further members.
void ReplaceConstructor(duk_context* context, duk_idx_t global, const char* name, duk_c_function constructor,
                        const char* standardKey);

// Pushes a native constructor of `args` arguments whose prototype holds `methods`.
void PushConstructor(duk_context* context, duk_c_function construct, duk_idx_t args,
                     const duk_function_list_entry* methods);

}  // namespace script
