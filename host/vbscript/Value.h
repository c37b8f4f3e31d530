// A VBScript value: a VARIANT owned by the interpreter, copied and moved
// as the language copies values (a string is copied, an object's reference
// is added, an array is copied whole).
#pragma once

#include <string>
#include <utility>

#include "platform/CodePage.h"
#include "platform/OleAuto.h"

namespace vbs {

class Value : public VARIANT {
public:
    Value() { VariantInit(this); }
    ~Value() { VariantClear(this); }
    Value(const Value& other) : Value() { VariantCopy(this, &other); }
    Value(Value&& other) noexcept : VARIANT(other) { other.vt = VT_EMPTY; }
    Value& operator=(const Value& other) {
        if (this != &other) {
            Value copy(other);
            swap(copy);
        }
        return *this;
    }
    Value& operator=(Value&& other) noexcept {
        if (this != &other) {
            VariantClear(this);
            static_cast<VARIANT&>(*this) = other;
            other.vt = VT_EMPTY;
        }
        return *this;
    }
    // A copy of any VARIANT, with one level of VT_BYREF taken away.
    static Value CopyOf(const VARIANT& v) {
        Value out;
        VariantCopyInd(&out, &v);
        return out;
    }
    // Takes over the VARIANT, which is left empty.
    static Value Take(VARIANT* v) {
        Value out;
        static_cast<VARIANT&>(out) = *v;
        v->vt = VT_EMPTY;
        return out;
    }

    static Value Null() {
        Value v;
        v.vt = VT_NULL;
        return v;
    }
    static Value Bool(bool b) {
        Value v;
        v.vt = VT_BOOL;
        v.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
        return v;
    }
    static Value Byte(BYTE b) {
        Value v;
        v.vt = VT_UI1;
        v.bVal = b;
        return v;
    }
    static Value Integer(int16_t i) {
        Value v;
        v.vt = VT_I2;
        v.iVal = i;
        return v;
    }
    static Value Long(int32_t i) {
        Value v;
        v.vt = VT_I4;
        v.lVal = i;
        return v;
    }
    static Value Single(float f) {
        Value v;
        v.vt = VT_R4;
        v.fltVal = f;
        return v;
    }
    static Value Double(double d) {
        Value v;
        v.vt = VT_R8;
        v.dblVal = d;
        return v;
    }
    static Value Date(double d) {
        Value v;
        v.vt = VT_DATE;
        v.date = d;
        return v;
    }
    static Value Currency(int64_t tenThousandths) {
        Value v;
        v.vt = VT_CY;
        v.cyVal.int64 = tenThousandths;
        return v;
    }
    static Value String(const std::u16string& text) {
        Value v;
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return v;
    }
    static Value Utf8(const std::string& text) { return String(platform::codepage::Utf8ToUtf16(text)); }
    // The object, its reference added; null is Nothing.
    static Value Object(IDispatch* object) {
        Value v;
        v.vt = VT_DISPATCH;
        v.pdispVal = object;
        if (object) object->AddRef();
        return v;
    }
    // A missing optional argument, as IDispatch expects it.
    static Value Missing() {
        Value v;
        v.vt = VT_ERROR;
        v.scode = DISP_E_PARAMNOTFOUND;
        return v;
    }

    void swap(Value& other) noexcept { std::swap(static_cast<VARIANT&>(*this), static_cast<VARIANT&>(other)); }
    void clear() { VariantClear(this); }
    // Hands the VARIANT to a caller that will clear it.
    VARIANT release() {
        VARIANT out = *this;
        vt = VT_EMPTY;
        return out;
    }

    VARTYPE type() const { return vt; }
    bool isEmpty() const { return vt == VT_EMPTY; }
    bool isNull() const { return vt == VT_NULL; }
    bool isObject() const { return vt == VT_DISPATCH || vt == VT_UNKNOWN; }
    bool isArray() const { return (vt & VT_ARRAY) != 0; }
    bool isString() const { return vt == VT_BSTR; }
    // The string's characters (empty for a null BSTR).
    std::u16string_view text() const {
        return bstrVal ? std::u16string_view(bstrVal, SysStringLen(bstrVal)) : std::u16string_view();
    }
};

}  // namespace vbs
