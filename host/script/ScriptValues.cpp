#include "script/ScriptValues.h"

#include <duktape.h>

#include <cmath>
#include <cstdint>

#include "platform/ComPtr.h"
#include "script/ComHolders.h"
#include "script/ComProxy.h"
#include "script/LocalTime.h"
#include "script/ScriptObjects.h"

namespace script {

namespace {

using platform::ComPtr;

void AppendCesu(std::string& out, char16_t unit) {
    if (unit < 0x80) {
        out += static_cast<char>(unit);
    } else if (unit < 0x800) {
        out += static_cast<char>(0xC0 | (unit >> 6));
        out += static_cast<char>(0x80 | (unit & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (unit >> 12));
        out += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (unit & 0x3F));
    }
}

std::u16string DecodeEngineText(const unsigned char* text, size_t length) {
    std::u16string result;
    result.reserve(length);
    for (size_t i = 0; i < length;) {
        const unsigned char lead = text[i];
        const size_t extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
        if (i + extra >= length) {  // a cut sequence: the engine never makes one
            result += u'\uFFFD';
            break;
        }
        uint32_t code = extra == 0 ? lead : lead & (0x3F >> extra);
        for (size_t k = 1; k <= extra; ++k) code = (code << 6) | (text[i + k] & 0x3F);
        i += extra + 1;
        if (code > 0xFFFF) {
            code -= 0x10000;
            result += static_cast<char16_t>(0xD800 | (code >> 10));
            result += static_cast<char16_t>(0xDC00 | (code & 0x3FF));
        } else {
            result += static_cast<char16_t>(code);
        }
    }
    return result;
}

bool IsDate(duk_context* context, duk_idx_t index) {
    if (!duk_is_object(context, index)) return false;
    duk_get_global_string(context, "Date");
    const bool date = duk_instanceof(context, index, -1);
    duk_pop(context);
    return date;
}

duk_ret_t FinalizeUnknown(duk_context* context) { return ReleaseUnknown(context, kUnknownKey); }

duk_ret_t FinalizeArray(duk_context* context) {
    if (auto* array = HiddenPointer<SAFEARRAY>(context, 0, kArrayKey)) {
        duk_push_pointer(context, nullptr);
        duk_put_prop_string(context, 0, kArrayKey);
        SafeArrayDestroy(array);
    }
    return 0;
}

// Pushes an object that owns `array`; the language sees it as an opaque
// value that members take back and VBArray reads.
void PushArray(duk_context* context, SAFEARRAY* array) {
    duk_push_object(context);
    duk_push_pointer(context, array);
    duk_put_prop_string(context, -2, kArrayKey);
    duk_push_c_function(context, FinalizeArray, 1);
    duk_set_finalizer(context, -2);
}

}  // namespace

void PushVariant(duk_context* context, VARIANT& value) {
    if (value.vt & VT_BYREF) {
        platform::Variant plain;
        if (FAILED(VariantCopyInd(&plain, &value))) plain.vt = VT_EMPTY;
        VariantClear(&value);
        PushVariant(context, plain);
        return;
    }
    if (value.vt & VT_ARRAY) {
        SAFEARRAY* array = value.parray;
        value.vt = VT_EMPTY;  // the holder owns it now
        if (!array)
            duk_push_null(context);
        else
            PushArray(context, array);
        return;
    }
    switch (value.vt) {
        case VT_EMPTY:
            duk_push_undefined(context);
            break;
        case VT_NULL:
            duk_push_null(context);
            break;
        case VT_BOOL:
            duk_push_boolean(context, value.boolVal != VARIANT_FALSE);
            break;
        case VT_I1:
            duk_push_int(context, value.cVal);
            break;
        case VT_UI1:
            duk_push_uint(context, value.bVal);
            break;
        case VT_I2:
            duk_push_int(context, value.iVal);
            break;
        case VT_UI2:
            duk_push_uint(context, value.uiVal);
            break;
        case VT_I4:
        case VT_INT:
            duk_push_int(context, value.lVal);
            break;
        case VT_UI4:
        case VT_UINT:
            duk_push_uint(context, value.ulVal);
            break;
        case VT_I8:
            duk_push_number(context, static_cast<double>(value.llVal));
            break;
        case VT_UI8:
            duk_push_number(context, static_cast<double>(value.ullVal));
            break;
        case VT_R4:
            duk_push_number(context, value.fltVal);
            break;
        case VT_R8:
            duk_push_number(context, value.dblVal);
            break;
        case VT_BSTR:
            PushScriptString(context, value.bstrVal, SysStringLen(value.bstrVal));
            break;
        case VT_DATE:
            duk_get_global_string(context, "Date");
            duk_push_number(context, MsFromOleDate(value.date));
            duk_new(context, 1);
            break;
        case VT_ERROR:
            // A parameter left out reads as undefined; other codes as numbers.
            if (value.scode == DISP_E_PARAMNOTFOUND)
                duk_push_undefined(context);
            else
                duk_push_int(context, value.scode);
            break;
        case VT_DISPATCH:
            if (!PushWrappedScriptObject(context, value.pdispVal)) PushObject(context, value.pdispVal);
            break;
        case VT_UNKNOWN: {
            ComPtr<IDispatch> object;
            if (value.punkVal && SUCCEEDED(value.punkVal->QueryInterface(IID_IDispatch, object.putVoid()))) {
                PushObject(context, object.get());
            } else if (value.punkVal) {
                duk_push_object(context);
                value.punkVal->AddRef();
                duk_push_pointer(context, value.punkVal);
                duk_put_prop_string(context, -2, kUnknownKey);
                duk_push_c_function(context, FinalizeUnknown, 1);
                duk_set_finalizer(context, -2);
            } else {
                duk_push_null(context);
            }
            break;
        }
        default: {
            platform::Variant number;
            if (SUCCEEDED(VariantChangeType(&number, &value, 0, VT_R8)))
                duk_push_number(context, number.dblVal);
            else
                duk_push_undefined(context);
        }
    }
    VariantClear(&value);
}

void ToArgument(duk_context* context, int index, VARIANT* value) {
    VariantInit(value);
    switch (duk_get_type(context, index)) {
        case DUK_TYPE_UNDEFINED:
        case DUK_TYPE_NONE:
            return;
        case DUK_TYPE_NULL:
            value->vt = VT_NULL;
            return;
        case DUK_TYPE_BOOLEAN:
            value->vt = VT_BOOL;
            value->boolVal = duk_get_boolean(context, index) ? VARIANT_TRUE : VARIANT_FALSE;
            return;
        case DUK_TYPE_NUMBER: {
            // Whole numbers in range go as VT_I4, as the language passes them.
            const double number = duk_get_number(context, index);
            if (std::floor(number) == number && number >= -2147483648.0 && number <= 2147483647.0 &&
                !(number == 0 && std::signbit(number))) {
                value->vt = VT_I4;
                value->lVal = static_cast<LONG>(number);
            } else {
                value->vt = VT_R8;
                value->dblVal = number;
            }
            return;
        }
        case DUK_TYPE_STRING: {
            const std::u16string text = ScriptString(context, index);
            value->vt = VT_BSTR;
            value->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
            return;
        }
        default:
            break;
    }
    if (IDispatch* object = DispatchOf(context, index)) {
        object->AddRef();
        value->vt = VT_DISPATCH;
        value->pdispVal = object;
        return;
    }
    if (auto* array = HiddenPointer<SAFEARRAY>(context, index, kArrayKey)) {
        VARTYPE type = VT_VARIANT;
        SafeArrayGetVartype(array, &type);
        value->vt = static_cast<VARTYPE>(VT_ARRAY | type);
        value->parray = array;  // lent: ClearArgument gives it back untouched
        return;
    }
    if (auto* unknown = HiddenPointer<IUnknown>(context, index, kUnknownKey)) {
        unknown->AddRef();
        value->vt = VT_UNKNOWN;
        value->punkVal = unknown;
        return;
    }
    if (IsDate(context, index)) {
        duk_get_prop_string(context, index, "getTime");
        duk_dup(context, index);
        duk_call_method(context, 0);
        value->vt = VT_DATE;
        value->date = OleDateFromMs(duk_get_number(context, -1));
        duk_pop(context);
        return;
    }
    // A script object, array or function goes as an object, as JScript
    // passes its own.
    value->vt = VT_DISPATCH;
    value->pdispVal = WrapScriptObject(context, index);
}

void ClearArgument(VARIANT* value) {
    if (value->vt & VT_ARRAY) {
        VariantInit(value);
        return;
    }
    VariantClear(value);
}

std::u16string ScriptString(duk_context* context, int index) {
    duk_size_t length = 0;
    const char* text = duk_is_string(context, index) ? duk_get_lstring(context, index, &length) : nullptr;
    if (!text) {
        duk_dup(context, index);
        text = duk_safe_to_lstring(context, -1, &length);
        std::u16string result = DecodeEngineText(reinterpret_cast<const unsigned char*>(text), length);
        duk_pop(context);
        return result;
    }
    return DecodeEngineText(reinterpret_cast<const unsigned char*>(text), length);
}

void PushScriptString(duk_context* context, const char16_t* text, size_t length) {
    std::string encoded;
    encoded.reserve(length);
    for (size_t i = 0; i < length; ++i) AppendCesu(encoded, text[i]);
    duk_push_lstring(context, encoded.data(), encoded.size());
}

}  // namespace script
