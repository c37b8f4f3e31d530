// The errors COM objects give a page: an Error whose number is the HRESULT.
#pragma once

#include <string>

#include "platform/OleAuto.h"

struct duk_hthread;
typedef struct duk_hthread duk_context;

namespace script {

// Throws the Error a failing member gives: number the HRESULT as a signed
// 32-bit integer, description and message the error's text, and source
// the failing object's name when it gave one.
[[noreturn]] void ThrowComError(duk_context* context, HRESULT hr, const std::string& description,
                                const std::string& source = "");
// The text of an HRESULT without error information.
std::string ErrorText(HRESULT hr);

}  // namespace script
