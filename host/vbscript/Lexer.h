// VBScript source cut into tokens: names, numbers (decimal, &H hex, &O
// octal), strings with doubled quotes, #dates#, operators, line ends and
// ':'; comments ("'" and Rem) and line continuations (" _" at a line's end)
// are dropped. Any bytes are accepted: what is not VBScript is a
// CompileError with its line.
#pragma once

#include <string_view>
#include <vector>

#include "vbscript/Token.h"

namespace vbs {

std::vector<Token> Tokenize(std::string_view source);

}  // namespace vbs
