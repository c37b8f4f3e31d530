// A page's blocks made into one VBScript program and parsed: text becomes
// Response.Write "..." statements, <%= expression %> Response.Write(expression),
// code stays as written; every line keeps its number, so that the
// program's line n is the page's line n (includes map through `lines`).
#pragma once

#include "script/PageProgram.h"

namespace script {

// Throws PageError, with the page's file and line, for a program the
// language cannot compile.
CompiledPage VBScriptProgram(const PageParts& parts, const std::string& thenCall = "");

}  // namespace script
