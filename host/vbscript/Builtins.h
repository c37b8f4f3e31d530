// The language's function library and constants, by lower-case name:
// strings, conversions, maths, type tests and arrays. Each function takes
// its arguments as they were evaluated (objects as objects: TypeName and
// IsObject need them so); an argument left out is VT_ERROR.
#pragma once

#include <string>
#include <vector>

#include "vbscript/Value.h"

namespace vbs {

struct Builtin {
    const char* name;  // in lower case
    int minArgs, maxArgs;
    Value (*call)(std::vector<Value>& args);
};

const Builtin* FindBuiltin(const std::string& lowerName);
// Calls it; 450 when the number of arguments is not one it takes.
Value CallBuiltin(const Builtin& builtin, std::vector<Value>& args);

// Whether the argument at `n` was given.
inline bool Given(const std::vector<Value>& args, size_t n) { return args.size() > n && args[n].vt != VT_ERROR; }

// The functions, by group (BuiltinStrings.cpp, BuiltinConversions.cpp, BuiltinTypes.cpp).
namespace builtins {
Value Len(std::vector<Value>&);
Value Left(std::vector<Value>&);
Value Right(std::vector<Value>&);
Value Mid(std::vector<Value>&);
Value InStr(std::vector<Value>&);
Value InStrRev(std::vector<Value>&);
Value Replace(std::vector<Value>&);
Value Split(std::vector<Value>&);
Value Join(std::vector<Value>&);
Value LCase(std::vector<Value>&);
Value UCase(std::vector<Value>&);
Value Trim(std::vector<Value>&);
Value LTrim(std::vector<Value>&);
Value RTrim(std::vector<Value>&);
Value Space(std::vector<Value>&);
Value String(std::vector<Value>&);
Value StrReverse(std::vector<Value>&);
Value StrComp(std::vector<Value>&);
Value Asc(std::vector<Value>&);
Value AscW(std::vector<Value>&);
Value Chr(std::vector<Value>&);
Value ChrW(std::vector<Value>&);
Value CInt(std::vector<Value>&);
Value CLng(std::vector<Value>&);
Value CDbl(std::vector<Value>&);
Value CSng(std::vector<Value>&);
Value CStr(std::vector<Value>&);
Value CBool(std::vector<Value>&);
Value CByte(std::vector<Value>&);
Value CCur(std::vector<Value>&);
Value CDate(std::vector<Value>&);
Value Hex(std::vector<Value>&);
Value Oct(std::vector<Value>&);
Value Abs(std::vector<Value>&);
Value Int(std::vector<Value>&);
Value Fix(std::vector<Value>&);
Value Round(std::vector<Value>&);
Value Sqr(std::vector<Value>&);
Value Sgn(std::vector<Value>&);
Value TypeName(std::vector<Value>&);
Value VarType(std::vector<Value>&);
Value IsEmpty(std::vector<Value>&);
Value IsNull(std::vector<Value>&);
Value IsNumeric(std::vector<Value>&);
Value IsArray(std::vector<Value>&);
Value IsObject(std::vector<Value>&);
Value IsDate(std::vector<Value>&);
Value Array(std::vector<Value>&);
Value UBound(std::vector<Value>&);
Value LBound(std::vector<Value>&);
}  // namespace builtins

}  // namespace vbs
