// COM objects in the page language, as pages written for them expect: an
// IDispatch object is a script object whose properties and methods are
// found by name at each use; calling the object itself calls its default
// member; SAFEARRAYs pass through as they are; Enumerator and VBArray walk
// collections and arrays; a failing member throws an Error whose number is
// the HRESULT.
#pragma once

#include <string>

#include "platform/OleAuto.h"

struct duk_hthread;
typedef struct duk_hthread duk_context;

namespace script {

// Puts the constructors Enumerator and VBArray into the object at the top
// of the stack (a run's global object).
void InstallComTypes(duk_context* context);

// Pushes the script value of `value`, taking what it owns (an object's
// reference, an array): `value` is left empty.
void PushVariant(duk_context* context, VARIANT& value);
// Pushes `object` as a script object (null for none); adds its own reference.
void PushObject(duk_context* context, IDispatch* object);

// The VARIANT a script value passes to a member. Objects and arrays are
// lent, not copied: `value` is valid while the script value lives and must
// be cleared with ClearArgument. The page's own objects and functions go as
// objects of their run (ScriptObjects.h).
void ToArgument(duk_context* context, int index, VARIANT* value);
void ClearArgument(VARIANT* value);

// A script string as UTF-16 and back: the language's strings are UTF-16
// code units, kept by the engine in CESU-8.
std::u16string ScriptString(duk_context* context, int index);
void PushScriptString(duk_context* context, const char16_t* text, size_t length);

// Throws the Error a failing member gives: number the HRESULT as a signed
// 32-bit integer, description and message the error's text, and source
// the failing object's name when it gave one.
[[noreturn]] void ThrowComError(duk_context* context, HRESULT hr, const std::string& description,
                                const std::string& source = "");
// The text of an HRESULT without error information.
std::string ErrorText(HRESULT hr);

}  // namespace script
