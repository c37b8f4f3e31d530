// A page's own objects (plain objects, arrays, functions, errors) passed
// to a member of a COM object, as JScript passes them: an IDispatch whose
// default value is the object's text (Response.Write(e) writes it), whose
// properties and methods are found by name, and which is the same script
// object again when it comes back to the page (an object kept in a
// Scripting.Dictionary). It belongs to its page's run: once the run ends,
// every use of it fails with an error, since the page's objects are gone.
#pragma once

#include "platform/Com.h"

struct duk_hthread;
typedef struct duk_hthread duk_context;

namespace script {

// The IDispatch of the script object at `index` of `context` (a run's
// thread), with one reference for the caller.
IDispatch* WrapScriptObject(duk_context* context, int index);
// Pushes the script object behind `object` when it is one of `context`'s
// run, and says so; pushes nothing otherwise.
bool PushWrappedScriptObject(duk_context* context, IDispatch* object);
// Ends the script objects of `context`'s run: their uses fail from now on.
void ForgetScriptObjects(duk_context* context);

}  // namespace script
