#include <algorithm>
#include <unordered_map>

#include "vbscript/Builtins.h"
#include "vbscript/RuntimeError.h"

namespace vbs {

namespace {

using namespace builtins;

constexpr int kAny = 1 << 20;

constexpr Builtin kBuiltins[] = {
    {"len", 1, 1, Len}, {"left", 2, 2, Left}, {"right", 2, 2, Right}, {"mid", 2, 3, Mid},
    {"instr", 2, 4, InStr}, {"instrrev", 2, 4, InStrRev}, {"replace", 3, 6, Replace}, {"split", 1, 4, Split},
    {"join", 1, 2, Join}, {"lcase", 1, 1, LCase}, {"ucase", 1, 1, UCase}, {"trim", 1, 1, Trim},
    {"ltrim", 1, 1, LTrim}, {"rtrim", 1, 1, RTrim}, {"space", 1, 1, Space}, {"string", 2, 2, String},
    {"strreverse", 1, 1, StrReverse}, {"strcomp", 2, 3, StrComp}, {"asc", 1, 1, Asc}, {"ascw", 1, 1, AscW},
    {"chr", 1, 1, Chr}, {"chrw", 1, 1, ChrW},
    {"cint", 1, 1, CInt}, {"clng", 1, 1, CLng}, {"cdbl", 1, 1, CDbl}, {"csng", 1, 1, CSng},
    {"cstr", 1, 1, CStr}, {"cbool", 1, 1, CBool}, {"cbyte", 1, 1, CByte}, {"ccur", 1, 1, CCur},
    {"cdate", 1, 1, CDate}, {"hex", 1, 1, Hex}, {"oct", 1, 1, Oct},
    {"abs", 1, 1, Abs}, {"int", 1, 1, Int}, {"fix", 1, 1, Fix}, {"round", 1, 2, Round}, {"sqr", 1, 1, Sqr},
    {"sgn", 1, 1, Sgn},
    {"typename", 1, 1, TypeName}, {"vartype", 1, 1, VarType}, {"isempty", 1, 1, IsEmpty}, {"isnull", 1, 1, IsNull},
    {"isnumeric", 1, 1, IsNumeric}, {"isarray", 1, 1, IsArray}, {"isobject", 1, 1, IsObject},
    {"isdate", 1, 1, IsDate}, {"array", 0, kAny, Array}, {"ubound", 1, 2, UBound}, {"lbound", 1, 2, LBound},
};

struct Constant {
    const char* name;
    int number;        // when text is null
    const char16_t* text;
};

constexpr Constant kConstants[] = {
    {"vbcr", 0, u"\r"}, {"vblf", 0, u"\n"}, {"vbcrlf", 0, u"\r\n"}, {"vbnewline", 0, u"\r\n"}, {"vbtab", 0, u"\t"},
    {"vbnullstring", 0, u""}, {"vbformfeed", 0, u"\f"}, {"vbverticaltab", 0, u"\v"},
    {"vbbinarycompare", 0, nullptr}, {"vbtextcompare", 1, nullptr}, {"vbdatabasecompare", 2, nullptr},
    {"vbempty", 0, nullptr}, {"vbnull", 1, nullptr}, {"vbinteger", 2, nullptr}, {"vblong", 3, nullptr},
    {"vbsingle", 4, nullptr}, {"vbdouble", 5, nullptr}, {"vbcurrency", 6, nullptr}, {"vbdate", 7, nullptr},
    {"vbstring", 8, nullptr}, {"vbobject", 9, nullptr}, {"vberror", 10, nullptr}, {"vbboolean", 11, nullptr},
    {"vbvariant", 12, nullptr}, {"vbdataobject", 13, nullptr}, {"vbdecimal", 14, nullptr}, {"vbbyte", 17, nullptr},
    {"vbarray", 8192, nullptr}, {"vbusedefault", -2, nullptr}, {"vbtrue", -1, nullptr}, {"vbfalse", 0, nullptr},
    {"vbobjecterror", static_cast<int>(0x80040000u), nullptr},
    {"vbsunday", 1, nullptr}, {"vbmonday", 2, nullptr}, {"vbtuesday", 3, nullptr}, {"vbwednesday", 4, nullptr},
    {"vbthursday", 5, nullptr}, {"vbfriday", 6, nullptr}, {"vbsaturday", 7, nullptr},
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
        if (args[n].vt == VT_ERROR && args[n].scode == DISP_E_PARAMNOTFOUND) throw RuntimeError(kArgumentNotOptional, builtin.name);
    return builtin.call(args);
}

bool FindConstant(const std::string& lowerName, Value* value) {
    if (lowerName.size() < 3 || lowerName[0] != 'v' || lowerName[1] != 'b') return false;
    for (const Constant& constant : kConstants) {
        if (lowerName != constant.name) continue;
        if (constant.text) *value = Value::String(constant.text);
        else if (lowerName == "vbobjecterror") *value = Value::Long(constant.number);
        else *value = Value::Integer(static_cast<int16_t>(constant.number));
        return true;
    }
    return false;
}

}  // namespace vbs
