// The script object of a COM object: a proxy whose properties and methods
// are found by name at each use, and that calls the object's default
// member when it is called itself.
#pragma once

#include "platform/OleAuto.h"

struct duk_hthread;
typedef struct duk_hthread duk_context;

namespace script {

// Pushes `object` as a script object (null for none); adds its own reference.
void PushObject(duk_context* context, IDispatch* object);

// Puts __assignToCall, what a page's `target(arguments) = value` calls,
// into the object at the top of the stack (a run's global object).
void InstallAssignToCall(duk_context* context);

}  // namespace script
