// The language's operators over values: arithmetic with the type of the
// result chosen as the language chooses it (Integer + Integer is an
// Integer that becomes a Long, then a Double, when it overflows), & and
// its text, comparisons of numbers, texts and both, Null propagation, and
// the logical operators, which are bitwise on numbers.
#pragma once

#include "vbscript/Ast.h"
#include "vbscript/Value.h"

namespace vbs {

// A binary operator other than Is. `leftLiteral`/`rightLiteral` tell a
// comparison which side was written as a constant: a text compared with a
// number constant is read as a number, a text compared with a number
// variable is greater than it.
Value Apply(Op op, const Value& left, const Value& right, bool leftLiteral = false, bool rightLiteral = false);
// Negate, Plus, Not.
Value ApplyUnary(Op op, const Value& operand);
// -1, 0 or 1 as the comparisons see the two values; 2 when one is Null.
int Compare(const Value& left, const Value& right, bool leftLiteral = false, bool rightLiteral = false);

}  // namespace vbs
