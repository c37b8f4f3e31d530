#include "classes/DictionaryKeys.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>

#include "platform/CodePage.h"
#include "platform/ComPtr.h"

namespace classes {

namespace {

enum class Kind { Empty, Null, Boolean, Number, Date, Text, Object, Other };

// A key's kind and content, read from its VARIANT without copying.
struct KeyValue {
    Kind kind = Kind::Other;
    double number = 0;  // Boolean, Number, Date
    const char16_t* text = nullptr;
    size_t length = 0;
    const void* identity = nullptr;  // Object
    uint64_t bits = 0;               // Other: the value's bytes, with its type
};

double Canonical(double number) {
    if (std::isnan(number)) return std::nan("");
    return number == 0 ? 0.0 : number;  // -0 is 0
}

const void* IdentityOf(IUnknown* object) {
    if (!object) return nullptr;
    platform::ComPtr<IUnknown> identity;
    if (FAILED(object->QueryInterface(IID_IUnknown, identity.putVoid()))) return object;
    // The key holds a reference to the object, so the address stays its own.
    return identity.get();
}

KeyValue Classify(const VARIANT& key) {
    KeyValue value;
    switch (key.vt) {
        case VT_EMPTY:
            value.kind = Kind::Empty;
            break;
        case VT_NULL:
            value.kind = Kind::Null;
            break;
        case VT_BOOL:
            value.kind = Kind::Boolean, value.number = key.boolVal ? 1 : 0;
            break;
        case VT_I1:
            value.kind = Kind::Number, value.number = static_cast<int8_t>(key.bVal);
            break;
        case VT_UI1:
            value.kind = Kind::Number, value.number = key.bVal;
            break;
        case VT_I2:
            value.kind = Kind::Number, value.number = key.iVal;
            break;
        case VT_UI2:
            value.kind = Kind::Number, value.number = key.uiVal;
            break;
        case VT_I4:
        case VT_INT:
            value.kind = Kind::Number, value.number = key.lVal;
            break;
        case VT_UI4:
        case VT_UINT:
            value.kind = Kind::Number, value.number = key.ulVal;
            break;
        case VT_I8:
            value.kind = Kind::Number, value.number = static_cast<double>(key.llVal);
            break;
        case VT_UI8:
            value.kind = Kind::Number, value.number = static_cast<double>(key.ullVal);
            break;
        case VT_R4:
            value.kind = Kind::Number, value.number = key.fltVal;
            break;
        case VT_R8:
            value.kind = Kind::Number, value.number = key.dblVal;
            break;
        case VT_CY:
            value.kind = Kind::Number, value.number = static_cast<double>(key.cyVal.int64) / 10000.0;
            break;
        case VT_DATE:
            value.kind = Kind::Date, value.number = key.date;
            break;
        case VT_BSTR:
            value.kind = Kind::Text;
            value.text = key.bstrVal ? key.bstrVal : u"";
            value.length = key.bstrVal ? SysStringLen(key.bstrVal) : 0;
            break;
        case VT_DISPATCH:
        case VT_UNKNOWN:
            value.kind = Kind::Object, value.identity = IdentityOf(key.punkVal);
            break;
        default:
            value.kind = Kind::Other;
            std::memcpy(&value.bits, &key.llVal, sizeof value.bits);
            value.bits ^= static_cast<uint64_t>(key.vt) << 48;
            break;
    }
    value.number = Canonical(value.number);
    return value;
}

size_t HashText(const char16_t* text, size_t length, bool fold) {
    uint64_t hash = 1469598103934665603ull;  // FNV-1a
    for (size_t i = 0; i < length; ++i) {
        hash ^= fold ? platform::codepage::FoldUnit(text[i]) : text[i];
        hash *= 1099511628211ull;
    }
    return static_cast<size_t>(hash);
}

bool SameText(const KeyValue& a, const KeyValue& b, bool fold) {
    if (a.length != b.length) return false;
    if (!fold) return std::memcmp(a.text, b.text, a.length * sizeof(char16_t)) == 0;
    for (size_t i = 0; i < a.length; ++i)
        if (a.text[i] != b.text[i] &&
            platform::codepage::FoldUnit(a.text[i]) != platform::codepage::FoldUnit(b.text[i]))
            return false;
    return true;
}

}  // namespace

bool CanBeKey(const VARIANT& key) { return !(key.vt & (VT_ARRAY | VT_BYREF)); }

size_t KeyHash::operator()(const VARIANT* key) const {
    const KeyValue value = Classify(*key);
    const size_t kind = static_cast<size_t>(value.kind) * 0x9E3779B97F4A7C15ull;
    switch (value.kind) {
        case Kind::Text:
            return HashText(value.text, value.length, *textMode) ^ kind;
        case Kind::Object:
            return std::hash<const void*>()(value.identity) ^ kind;
        case Kind::Other:
            return std::hash<uint64_t>()(value.bits) ^ kind;
        default:
            return std::hash<double>()(value.number) ^ kind;
    }
}

bool KeyEqual::operator()(const VARIANT* a, const VARIANT* b) const {
    const KeyValue x = Classify(*a), y = Classify(*b);
    if (x.kind != y.kind) return false;
    switch (x.kind) {
        case Kind::Text:
            return SameText(x, y, *textMode);
        case Kind::Object:
            return x.identity == y.identity;
        case Kind::Other:
            return x.bits == y.bits;
        default:
            return x.number == y.number || (std::isnan(x.number) && std::isnan(y.number));
    }
}

size_t HeldBytes(const VARIANT& value) {
    if (value.vt == VT_BSTR) return value.bstrVal ? SysStringByteLen(value.bstrVal) : 0;
    if (!(value.vt & VT_ARRAY) || !value.parray) return 0;
    SAFEARRAY* array = value.parray;
    size_t count = 1;
    for (UINT d = 0; d < array->cDims; ++d) count *= array->rgsabound[d].cElements;
    size_t bytes = count * array->cbElements;
    const VARTYPE type = static_cast<VARTYPE>(value.vt & VT_TYPEMASK);
    for (size_t i = 0; i < count && (type == VT_VARIANT || type == VT_BSTR); ++i) {
        const char* element = static_cast<const char*>(array->pvData) + i * array->cbElements;
        if (type == VT_VARIANT)
            bytes += HeldBytes(*reinterpret_cast<const VARIANT*>(element));
        else if (BSTR text = *reinterpret_cast<const BSTR*>(element))
            bytes += SysStringByteLen(text);
    }
    return bytes;
}

}  // namespace classes
