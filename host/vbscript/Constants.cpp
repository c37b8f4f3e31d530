#include "vbscript/Constants.h"

namespace vbs {

namespace {

struct Constant {
    const char* name;
    int number;  // when text is null
    const char16_t* text;
};

constexpr Constant kConstants[] = {
    {"vbcr", 0, u"\r"},
    {"vblf", 0, u"\n"},
    {"vbcrlf", 0, u"\r\n"},
    {"vbnewline", 0, u"\r\n"},
    {"vbtab", 0, u"\t"},
    {"vbnullstring", 0, u""},
    {"vbformfeed", 0, u"\f"},
    {"vbverticaltab", 0, u"\v"},
    {"vbbinarycompare", 0, nullptr},
    {"vbtextcompare", 1, nullptr},
    {"vbdatabasecompare", 2, nullptr},
    {"vbempty", 0, nullptr},
    {"vbnull", 1, nullptr},
    {"vbinteger", 2, nullptr},
    {"vblong", 3, nullptr},
    {"vbsingle", 4, nullptr},
    {"vbdouble", 5, nullptr},
    {"vbcurrency", 6, nullptr},
    {"vbdate", 7, nullptr},
    {"vbstring", 8, nullptr},
    {"vbobject", 9, nullptr},
    {"vberror", 10, nullptr},
    {"vbboolean", 11, nullptr},
    {"vbvariant", 12, nullptr},
    {"vbdataobject", 13, nullptr},
    {"vbdecimal", 14, nullptr},
    {"vbbyte", 17, nullptr},
    {"vbarray", 8192, nullptr},
    {"vbusedefault", -2, nullptr},
    {"vbtrue", -1, nullptr},
    {"vbfalse", 0, nullptr},
    {"vbobjecterror", static_cast<int>(0x80040000u), nullptr},
    {"vbsunday", 1, nullptr},
    {"vbmonday", 2, nullptr},
    {"vbtuesday", 3, nullptr},
    {"vbwednesday", 4, nullptr},
    {"vbthursday", 5, nullptr},
    {"vbfriday", 6, nullptr},
    {"vbsaturday", 7, nullptr},
};

}  // namespace

bool FindConstant(const std::string& lowerName, Value* value) {
    if (lowerName.size() < 3 || lowerName[0] != 'v' || lowerName[1] != 'b') return false;
    for (const Constant& constant : kConstants) {
        if (lowerName != constant.name) continue;
        if (constant.text)
            *value = Value::String(constant.text);
        else if (lowerName == "vbobjecterror")
            *value = Value::Long(constant.number);
        else
            *value = Value::Integer(static_cast<int16_t>(constant.number));
        return true;
    }
    return false;
}

}  // namespace vbs
