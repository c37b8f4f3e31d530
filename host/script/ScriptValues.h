// Script values as VARIANTs and back: what a page passes to a COM object's
// members and what it gets from them, dates and text included.
#pragma once

#include <string>

#include "platform/OleAuto.h"

struct duk_hthread;
typedef struct duk_hthread duk_context;

namespace script {

// Pushes the script value of `value`, taking what it owns (an object's
// reference, an array): `value` is left empty.
void PushVariant(duk_context* context, VARIANT& value);

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

}  // namespace script
