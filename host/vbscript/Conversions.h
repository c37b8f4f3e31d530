// The language's conversions of values: to numbers, Booleans and text, as
// expressions, the conversion functions (CInt, CStr...) and comparisons
// use them. Objects give their default member's value; Null cannot be
// converted (94); a text that is no number is a type mismatch (13).
#pragma once

#include <string>
#include <string_view>

#include "vbscript/Value.h"

namespace vbs {

// Whether the value is a number, or a text that reads as one (IsNumeric).
bool ReadsAsNumber(const Value& value);
// The number a text reads as: spaces around it, a sign, digits with a
// point and an exponent, or &H / &O; false when it is none.
bool ParseNumber(std::u16string_view text, double* number);

double ToDouble(const Value& value);
// Rounded to even (CLng(2.5) is 2); 6 Overflow outside the type's range.
int32_t ToLong(const Value& value);
int16_t ToInteger(const Value& value);
BYTE ToByte(const Value& value);
bool ToBool(const Value& value);
std::u16string ToText(const Value& value);
std::string ToUtf8(const Value& value);

// A double written as the language writes it: at most 15 significant
// digits, an exponent from 1E+15 and below 1E-04 ("1E-05").
std::u16string NumberText(double number, int digits = 15);

// The value with an object replaced by its default member's value and a
// number-like text left as it is.
Value Plain(const Value& value);

// Whether the type is one of the numbers (Empty and Boolean included).
bool IsNumberType(VARTYPE type);

}  // namespace vbs
