// COM objects in the page language, as pages written for them expect: an
// IDispatch object is a script object whose properties and methods are
// found by name at each use; calling the object itself calls its default
// member; SAFEARRAYs pass through as they are; Enumerator and VBArray walk
// collections and arrays; a failing member throws an Error whose number is
// the HRESULT.
#pragma once

#include "script/ComErrors.h"
#include "script/ComProxy.h"
#include "script/ScriptValues.h"

struct duk_hthread;
typedef struct duk_hthread duk_context;

namespace script {

// Puts the constructors Enumerator and VBArray, and __assignToCall, into the
// object at the top of the stack (a run's global object).
void InstallComTypes(duk_context* context);

}  // namespace script
