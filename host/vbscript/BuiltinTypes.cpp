// The type tests (TypeName, VarType, IsEmpty...) and the array functions.
#include "platform/CodePage.h"
#include "platform/ComPtr.h"
#include "vbscript/Arrays.h"
#include "vbscript/Builtins.h"
#include "vbscript/Conversions.h"
#include "vbscript/DateValues.h"
#include "vbscript/RuntimeError.h"

namespace vbs::builtins {

namespace {

// The class name an object's type information gives; "Object" without one.
std::string ClassName(IDispatch* object) {
    if (!object) return "Nothing";
    platform::ComPtr<ITypeInfo> info;
    BSTR name = nullptr;
    if (FAILED(object->GetTypeInfo(0, 0, info.put())) || !info ||
        FAILED(info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr)) || !name)
        return "Object";
    std::string text = platform::codepage::Utf16ToUtf8(std::u16string(name, SysStringLen(name)));
    SysFreeString(name);
    // Interfaces are named I<Class>; the language shows the class.
    if (text.size() > 1 && text[0] == 'I' && text[1] >= 'A' && text[1] <= 'Z') text.erase(0, 1);
    return text.empty() ? "Object" : text;
}

const char* TypeNameOf(VARTYPE type) {
    switch (type) {
        case VT_EMPTY:
            return "Empty";
        case VT_NULL:
            return "Null";
        case VT_I2:
            return "Integer";
        case VT_I4:
            return "Long";
        case VT_R4:
            return "Single";
        case VT_R8:
            return "Double";
        case VT_CY:
            return "Currency";
        case VT_DATE:
            return "Date";
        case VT_BSTR:
            return "String";
        case VT_BOOL:
            return "Boolean";
        case VT_ERROR:
            return "Error";
        case VT_DECIMAL:
            return "Decimal";
        case VT_UI1:
            return "Byte";
        case VT_VARIANT:
            return "Variant";
        case VT_UNKNOWN:
            return "Unknown";
        default:
            return "Unknown";
    }
}

const Value& Unwrapped(const Value& value, Value* holder) {
    if (!(value.vt & VT_BYREF)) return value;
    *holder = Value::CopyOf(value);
    return *holder;
}

Value Bound(std::vector<Value>& args, bool upper) {
    const Value array = Plain(args[0]);
    if (!array.isArray()) throw RuntimeError(kTypeMismatch);
    const int32_t dimension = Given(args, 1) ? ToLong(Plain(args[1])) : 1;
    return Value::Long(ArrayBound(array, dimension, upper));
}

}  // namespace

Value TypeName(std::vector<Value>& args) {
    Value holder;
    const Value& value = Unwrapped(args[0], &holder);
    if (value.vt == VT_DISPATCH) return Value::Utf8(ClassName(value.pdispVal));
    if (value.isArray()) {
        VARTYPE element = VT_VARIANT;
        SafeArrayGetVartype(ArrayOfValue(value), &element);
        return Value::Utf8(std::string(TypeNameOf(element)) + "()");
    }
    return Value::Utf8(TypeNameOf(value.vt));
}

Value VarType(std::vector<Value>& args) {
    Value holder;
    const Value& value = Unwrapped(args[0], &holder);
    if (value.isArray()) {
        VARTYPE element = VT_VARIANT;
        SafeArrayGetVartype(ArrayOfValue(value), &element);
        return Value::Integer(static_cast<int16_t>(VT_ARRAY | element));
    }
    return Value::Integer(static_cast<int16_t>(value.vt));
}

Value IsEmpty(std::vector<Value>& args) { return Value::Bool(Value::CopyOf(args[0]).isEmpty()); }
Value IsNull(std::vector<Value>& args) { return Value::Bool(Value::CopyOf(args[0]).isNull()); }
Value IsArray(std::vector<Value>& args) { return Value::Bool(args[0].isArray()); }
Value IsObject(std::vector<Value>& args) { return Value::Bool(Value::CopyOf(args[0]).vt == VT_DISPATCH); }

Value IsNumeric(std::vector<Value>& args) {
    const Value value = Value::CopyOf(args[0]);
    if (value.isNull() || value.isArray() || value.vt == VT_DATE) return Value::Bool(false);
    if (value.vt == VT_DISPATCH) {
        if (!value.pdispVal) return Value::Bool(false);
        return Value::Bool(ReadsAsNumber(Plain(value)));
    }
    return Value::Bool(ReadsAsNumber(value));
}

Value IsDate(std::vector<Value>& args) {
    const Value value = Plain(args[0]);
    if (value.vt == VT_DATE) return Value::Bool(true);
    if (value.vt != VT_BSTR) return Value::Bool(false);
    double date = 0;
    return Value::Bool(ParseDateText(platform::codepage::Utf16ToUtf8(std::u16string(value.text())), &date));
}

Value Array(std::vector<Value>& args) {
    for (Value& arg : args)
        if (arg.vt == VT_ERROR && arg.scode == DISP_E_PARAMNOTFOUND) throw RuntimeError(kInvalidCall);
    return ArrayOf(args);
}

Value UBound(std::vector<Value>& args) { return Bound(args, true); }
Value LBound(std::vector<Value>& args) { return Bound(args, false); }

}  // namespace vbs::builtins
