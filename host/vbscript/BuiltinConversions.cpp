// The conversion functions (CInt rounds halves to even, as CLng and CByte
// do), Hex and Oct, and the maths.
#include <cmath>
#include <cstdio>

#include "platform/CodePage.h"
#include "vbscript/Builtins.h"
#include "vbscript/Conversions.h"
#include "vbscript/DateValues.h"
#include "vbscript/Operators.h"
#include "vbscript/RuntimeError.h"

namespace vbs::builtins {

namespace {

// The argument's value; Null cannot be converted.
Value Convertible(const Value& value) {
    Value plain = Plain(value);
    if (plain.isNull()) throw RuntimeError(kInvalidUseOfNull);
    return plain;
}

// Hex and Oct: an Integer (or Byte, Boolean, Empty) shows 16 bits, others 32.
Value InBase(const Value& value, const char* format) {
    const Value plain = Plain(value);
    if (plain.isNull()) return Value::Null();
    const int32_t number = ToLong(plain);
    const bool narrow = plain.vt == VT_I2 || plain.vt == VT_UI1 || plain.vt == VT_BOOL || plain.vt == VT_EMPTY;
    char text[24];
    std::snprintf(text, sizeof text, format,
                  narrow ? static_cast<uint32_t>(static_cast<uint16_t>(number)) : static_cast<uint32_t>(number));
    return Value::Utf8(text);
}

// A number function's argument: Null stays Null (false), a text reads as a Double.
bool Numeric(const Value& value, Value* out) {
    *out = Plain(value);
    if (out->isNull()) return false;
    if (out->vt == VT_BSTR || out->vt == VT_EMPTY || out->vt == VT_BOOL) {
        const double number = ToDouble(*out);
        *out = out->vt == VT_BSTR ? Value::Double(number) : Value::Integer(static_cast<int16_t>(number));
    }
    return true;
}

bool IsWhole(VARTYPE type) { return type == VT_I2 || type == VT_I4 || type == VT_UI1; }

}  // namespace

Value CInt(std::vector<Value>& args) { return Value::Integer(ToInteger(Convertible(args[0]))); }
Value CLng(std::vector<Value>& args) { return Value::Long(ToLong(Convertible(args[0]))); }
Value CByte(std::vector<Value>& args) { return Value::Byte(ToByte(Convertible(args[0]))); }
Value CDbl(std::vector<Value>& args) { return Value::Double(ToDouble(Convertible(args[0]))); }
Value CBool(std::vector<Value>& args) { return Value::Bool(ToBool(Convertible(args[0]))); }
Value CStr(std::vector<Value>& args) { return Value::String(ToText(Convertible(args[0]))); }

Value CSng(std::vector<Value>& args) {
    const double number = ToDouble(Convertible(args[0]));
    if (std::fabs(number) > 3.402823466e38) throw RuntimeError(kOverflow);
    return Value::Single(static_cast<float>(number));
}

Value CCur(std::vector<Value>& args) {
    const double number = ToDouble(Convertible(args[0]));
    if (std::fabs(number) >= 922337203685477.0) throw RuntimeError(kOverflow);
    return Value::Currency(static_cast<int64_t>(std::nearbyint(number * 10000.0)));
}

Value CDate(std::vector<Value>& args) {
    const Value value = Convertible(args[0]);
    if (value.vt == VT_BSTR) {
        double date = 0;
        if (!ParseDateText(platform::codepage::Utf16ToUtf8(std::u16string(value.text())), &date))
            throw RuntimeError(kTypeMismatch);
        return Value::Date(date);
    }
    const double number = ToDouble(value);
    if (number < -657434.0 || number >= 2958466.0) throw RuntimeError(kOverflow);
    return Value::Date(number);
}

Value Hex(std::vector<Value>& args) { return InBase(args[0], "%X"); }
Value Oct(std::vector<Value>& args) { return InBase(args[0], "%o"); }

Value Abs(std::vector<Value>& args) {
    Value value;
    if (!Numeric(args[0], &value)) return Value::Null();
    return ToDouble(value) < 0 ? ApplyUnary(Op::Negate, value) : value;
}

Value Int(std::vector<Value>& args) {
    Value value;
    if (!Numeric(args[0], &value)) return Value::Null();
    if (IsWhole(value.vt)) return value;
    const double result = std::floor(ToDouble(value));
    return value.vt == VT_R4     ? Value::Single(static_cast<float>(result))
           : value.vt == VT_DATE ? Value::Date(result)
                                 : Value::Double(result);
}

Value Fix(std::vector<Value>& args) {
    Value value;
    if (!Numeric(args[0], &value)) return Value::Null();
    if (IsWhole(value.vt)) return value;
    const double result = std::trunc(ToDouble(value));
    return value.vt == VT_R4     ? Value::Single(static_cast<float>(result))
           : value.vt == VT_DATE ? Value::Date(result)
                                 : Value::Double(result);
}

Value Round(std::vector<Value>& args) {
    Value value;
    if (!Numeric(args[0], &value)) return Value::Null();
    const int32_t places = Given(args, 1) ? ToLong(Plain(args[1])) : 0;
    if (places < 0) throw RuntimeError(kInvalidCall);
    if (IsWhole(value.vt)) return value;
    const double number = ToDouble(value);
    const double scale = std::pow(10.0, std::min(places, 22));
    // Halves go to the even neighbour, as the reference rounds.
    const double result = std::nearbyint(number * scale) / scale;
    return value.vt == VT_R4 ? Value::Single(static_cast<float>(result)) : Value::Double(result);
}

Value Sqr(std::vector<Value>& args) {
    const double number = ToDouble(Convertible(args[0]));
    if (number < 0) throw RuntimeError(kInvalidCall);
    return Value::Double(std::sqrt(number));
}

Value Sgn(std::vector<Value>& args) {
    const double number = ToDouble(Convertible(args[0]));
    return Value::Integer(static_cast<int16_t>(number > 0 ? 1 : number < 0 ? -1 : 0));
}

}  // namespace vbs::builtins
