// The language's named constants (vbCrLf, vbTextCompare, vbString...),
// which the parser makes literals of.
#pragma once

#include <string>

#include "vbscript/Value.h"

namespace vbs {

// False when the lower-case name is none of them.
bool FindConstant(const std::string& lowerName, Value* value);

}  // namespace vbs
