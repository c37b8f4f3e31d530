#include <algorithm>
#include <unordered_map>

#include "vbscript/Builtins.h"
#include "vbscript/RuntimeError.h"

namespace vbs {

namespace {

using namespace builtins;

constexpr int kAny = 1 << 20;

constexpr Builtin kBuiltins[] = {
    {"len", 1, 1, Len},
    {"left", 2, 2, Left},
    {"right", 2, 2, Right},
    {"mid", 2, 3, Mid},
    {"instr", 2, 4, InStr},
    {"instrrev", 2, 4, InStrRev},
    {"replace", 3, 6, Replace},
    {"split", 1, 4, Split},
    {"join", 1, 2, Join},
    {"lcase", 1, 1, LCase},
    {"ucase", 1, 1, UCase},
    {"trim", 1, 1, Trim},
    {"ltrim", 1, 1, LTrim},
    {"rtrim", 1, 1, RTrim},
    {"space", 1, 1, Space},
    {"string", 2, 2, String},
    {"strreverse", 1, 1, StrReverse},
    {"strcomp", 2, 3, StrComp},
    {"asc", 1, 1, Asc},
    {"ascw", 1, 1, AscW},
    {"chr", 1, 1, Chr},
    {"chrw", 1, 1, ChrW},
    {"cint", 1, 1, CInt},
    {"clng", 1, 1, CLng},
    {"cdbl", 1, 1, CDbl},
    {"csng", 1, 1, CSng},
    {"cstr", 1, 1, CStr},
    {"cbool", 1, 1, CBool},
    {"cbyte", 1, 1, CByte},
    {"ccur", 1, 1, CCur},
    {"cdate", 1, 1, CDate},
    {"hex", 1, 1, Hex},
    {"oct", 1, 1, Oct},
    {"abs", 1, 1, Abs},
    {"int", 1, 1, Int},
    {"fix", 1, 1, Fix},
    {"round", 1, 2, Round},
    {"sqr", 1, 1, Sqr},
    {"sgn", 1, 1, Sgn},
    {"typename", 1, 1, TypeName},
    {"vartype", 1, 1, VarType},
    {"isempty", 1, 1, IsEmpty},
    {"isnull", 1, 1, IsNull},
    {"isnumeric", 1, 1, IsNumeric},
    {"isarray", 1, 1, IsArray},
    {"isobject", 1, 1, IsObject},
    {"isdate", 1, 1, IsDate},
    {"array", 0, kAny, Array},
    {"ubound", 1, 2, UBound},
    {"lbound", 1, 2, LBound},
};

}  // namespace

const Builtin* FindBuiltin(const std::string& lowerName) {
    static const std::unordered_map<std::string, const Builtin*> kByName = [] {
        std::unordered_map<std::string, const Builtin*> byName;
        for (const Builtin& builtin : kBuiltins) byName[builtin.name] = &builtin;
        return byName;
    }();
    auto it = kByName.find(lowerName);
    return it == kByName.end() ? nullptr : it->second;
}

Value CallBuiltin(const Builtin& builtin, std::vector<Value>& args) {
    const int count = static_cast<int>(args.size());
    if (count < builtin.minArgs || count > builtin.maxArgs) throw RuntimeError(kWrongArguments, builtin.name);
    for (int n = 0; n < builtin.minArgs; ++n)
        if (args[n].vt == VT_ERROR && args[n].scode == DISP_E_PARAMNOTFOUND)
            throw RuntimeError(kArgumentNotOptional, builtin.name);
    return builtin.call(args);
}

}  // namespace vbs
