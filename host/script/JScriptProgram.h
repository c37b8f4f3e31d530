// A page's blocks made into one JScript program: text becomes
// Response.Write calls, expressions Response.Write(expression), code stays
// as written; every line keeps its number, so that the program's line n is
// the page's line n (includes map through `lines`).
#pragma once

#include "script/PageProgram.h"

namespace script {

CompiledPage JScriptProgram(const PageParts& parts, const std::string& thenCall = "");

// Code with its assignments to calls made into calls of __assignToCall
// (Session("visits") = 1); every line end stays where it was.
std::string RewriteCallAssignments(std::string code);

}  // namespace script
