// VARIANT lifetime and the type conversions that script arguments need.
#include <strings.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "platform/CodePage.h"
#include "platform/OleAuto.h"

void VariantInit(VARIANT* v) {
    if (!v) return;
    std::memset(v, 0, sizeof *v);
    v->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* v) {
    if (!v) return E_INVALIDARG;
    HRESULT hr = S_OK;
    if (!(v->vt & VT_BYREF)) {
        if (v->vt & VT_ARRAY) {
            hr = SafeArrayDestroy(v->parray);
            if (FAILED(hr)) return hr;
        } else {
            switch (v->vt & VT_TYPEMASK) {
                case VT_BSTR:
                    SysFreeString(v->bstrVal);
                    break;
                case VT_UNKNOWN:
                case VT_DISPATCH:
                    if (v->punkVal) v->punkVal->Release();
                    break;
                default:
                    break;
            }
        }
    }
    VariantInit(v);
    return hr;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* source) {
    if (!dest || !source) return E_INVALIDARG;
    if (dest == source) return S_OK;
    VARIANT copy;
    VariantInit(&copy);
    copy = *source;
    if (!(source->vt & VT_BYREF)) {
        if (source->vt & VT_ARRAY) {
            const HRESULT hr = SafeArrayCopy(source->parray, &copy.parray);
            if (FAILED(hr)) return hr;
        } else if (source->vt == VT_BSTR && source->bstrVal) {
            copy.bstrVal = SysAllocStringByteLen(reinterpret_cast<const char*>(source->bstrVal),
                                                 SysStringByteLen(source->bstrVal));
            if (!copy.bstrVal) return E_OUTOFMEMORY;
        } else if ((source->vt == VT_UNKNOWN || source->vt == VT_DISPATCH) && source->punkVal) {
            source->punkVal->AddRef();
        }
    }
    const HRESULT hr = VariantClear(dest);
    if (FAILED(hr)) {
        VariantClear(&copy);
        return hr;
    }
    *dest = copy;
    return S_OK;
}

namespace {

// A VARIANT with one level of VT_BYREF resolved, pointing at the caller's
// storage (no ownership).
bool Dereference(const VARIANT* source, VARIANT* out) {
    VariantInit(out);
    if (!(source->vt & VT_BYREF)) {
        *out = *source;
        return true;
    }
    if (!source->byref) return false;
    const VARTYPE base = source->vt & ~VT_BYREF;
    if (base == VT_VARIANT) {
        *out = *source->pvarVal;
        return !(out->vt & VT_BYREF);
    }
    out->vt = base;
    if (base & VT_ARRAY) {
        out->parray = *source->pparray;
        return true;
    }
    switch (base) {
        case VT_I1:
        case VT_UI1:
            out->bVal = *source->pbVal;
            break;
        case VT_I2:
        case VT_UI2:
        case VT_BOOL:
            out->iVal = *source->piVal;
            break;
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_ERROR:
        case VT_R4:
            std::memcpy(&out->lVal, source->byref, 4);
            break;
        case VT_I8:
        case VT_UI8:
        case VT_R8:
        case VT_CY:
        case VT_DATE:
            std::memcpy(&out->llVal, source->byref, 8);
            break;
        case VT_BSTR:
            out->bstrVal = *source->pbstrVal;
            break;
        case VT_UNKNOWN:
        case VT_DISPATCH:
            out->punkVal = *source->ppunkVal;
            break;
        default:
            return false;
    }
    return true;
}

std::string Narrow(BSTR text) {
    return platform::codepage::Utf16ToUtf8(std::u16string(text ? text : u"", SysStringLen(text)));
}

BSTR Wide(const std::string& text) {
    const std::u16string wide = platform::codepage::Utf8ToUtf16(text);
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    return s.substr(b, e - b);
}

// Numbers in text: decimal with optional fraction and exponent, or &H / &O.
HRESULT ParseNumber(BSTR text, double* value) {
    const std::string s = Trim(Narrow(text));
    if (s.empty()) return DISP_E_TYPEMISMATCH;
    if (s.size() > 2 && s[0] == '&' && (s[1] == 'H' || s[1] == 'h' || s[1] == 'O' || s[1] == 'o')) {
        const int base = (s[1] == 'H' || s[1] == 'h') ? 16 : 8;
        char* end = nullptr;
        errno = 0;
        const unsigned long long n = std::strtoull(s.c_str() + 2, &end, base);
        if (*end || errno) return DISP_E_TYPEMISMATCH;
        // Hexadecimal literals of up to 32 bits are signed, as in scripts.
        *value = n <= 0xFFFFFFFFull ? static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(n)))
                                    : static_cast<double>(n);
        return S_OK;
    }
    for (char c : s)
        if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E'))
            return DISP_E_TYPEMISMATCH;
    char* end = nullptr;
    errno = 0;
    const double d = std::strtod(s.c_str(), &end);
    if (*end) return DISP_E_TYPEMISMATCH;
    if (errno == ERANGE && std::isinf(d)) return DISP_E_OVERFLOW;
    *value = d;
    return S_OK;
}

bool EqualsNoCase(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

// The value of a plain (dereferenced) source as a double; VT_EMPTY is 0.
HRESULT ToDouble(const VARIANT& v, double* out) {
    switch (v.vt) {
        case VT_EMPTY:
            *out = 0;
            return S_OK;
        case VT_I1:
            *out = static_cast<int8_t>(v.bVal);
            return S_OK;
        case VT_UI1:
            *out = v.bVal;
            return S_OK;
        case VT_I2:
            *out = v.iVal;
            return S_OK;
        case VT_UI2:
            *out = v.uiVal;
            return S_OK;
        case VT_BOOL:
            *out = v.boolVal ? -1 : 0;
            return S_OK;
        case VT_I4:
        case VT_INT:
            *out = v.lVal;
            return S_OK;
        case VT_UI4:
        case VT_UINT:
            *out = v.ulVal;
            return S_OK;
        case VT_I8:
            *out = static_cast<double>(v.llVal);
            return S_OK;
        case VT_UI8:
            *out = static_cast<double>(v.ullVal);
            return S_OK;
        case VT_R4:
            *out = v.fltVal;
            return S_OK;
        case VT_R8:
        case VT_DATE:
            *out = v.dblVal;
            return S_OK;
        case VT_CY:
            *out = static_cast<double>(v.cyVal.int64) / 10000.0;
            return S_OK;
        case VT_BSTR: {
            const std::string s = Trim(Narrow(v.bstrVal));
            if (EqualsNoCase(s, "True")) {
                *out = -1;
                return S_OK;
            }
            if (EqualsNoCase(s, "False")) {
                *out = 0;
                return S_OK;
            }
            return ParseNumber(v.bstrVal, out);
        }
        default:
            return DISP_E_TYPEMISMATCH;
    }
}

// Rounds half to even, as Automation does when it converts to integers.
double RoundHalfEven(double d) { return std::nearbyint(d); }

template <class T>
HRESULT ToInteger(const VARIANT& v, T* out) {
    if (v.vt == VT_I8 || v.vt == VT_UI8) {
        // Exact for 64-bit sources.
        if (v.vt == VT_I8 ? (v.llVal < static_cast<int64_t>(std::numeric_limits<T>::min()) ||
                             (v.llVal > 0 && static_cast<uint64_t>(v.llVal) > std::numeric_limits<T>::max()))
                          : v.ullVal > static_cast<uint64_t>(std::numeric_limits<T>::max()))
            return DISP_E_OVERFLOW;
        *out = v.vt == VT_I8 ? static_cast<T>(v.llVal) : static_cast<T>(v.ullVal);
        return S_OK;
    }
    double d = 0;
    const HRESULT hr = ToDouble(v, &d);
    if (FAILED(hr)) return hr;
    d = RoundHalfEven(d);
    if (!(d >= static_cast<double>(std::numeric_limits<T>::min()) &&
          d <= static_cast<double>(std::numeric_limits<T>::max())))
        return DISP_E_OVERFLOW;
    *out = static_cast<T>(d);
    return S_OK;
}

// A number as Automation writes it: 15 significant digits for a Double, 7
// for a Single (whose widened value would show digits it never held).
std::string FormatDouble(double d, int digits = 15) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*G", digits, d);
    return text;
}

HRESULT ToText(const VARIANT& v, std::string* out) {
    switch (v.vt) {
        case VT_EMPTY:
            out->clear();
            return S_OK;
        case VT_BOOL:
            *out = v.boolVal ? "True" : "False";
            return S_OK;
        case VT_I8:
            *out = std::to_string(v.llVal);
            return S_OK;
        case VT_UI8:
            *out = std::to_string(v.ullVal);
            return S_OK;
        case VT_R4:
            *out = FormatDouble(v.fltVal, 7);
            return S_OK;
        case VT_R8:
        case VT_DATE:
            *out = FormatDouble(v.dblVal);
            return S_OK;
        case VT_CY:
            *out = FormatDouble(static_cast<double>(v.cyVal.int64) / 10000.0);
            return S_OK;
        default: {
            double d = 0;
            const HRESULT hr = ToDouble(v, &d);
            if (FAILED(hr)) return hr;
            *out = std::to_string(static_cast<int64_t>(d));
            return S_OK;
        }
    }
}

// The value of an object: its default property.
HRESULT DefaultValue(IDispatch* object, VARIANT* out) {
    if (!object) return DISP_E_TYPEMISMATCH;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VariantInit(out);
    const HRESULT hr = object->Invoke(DISPID_VALUE, GUID_NULL, 0, DISPATCH_PROPERTYGET, &none, out, nullptr, nullptr);
    return FAILED(hr) ? DISP_E_TYPEMISMATCH : S_OK;
}

HRESULT ConvertPlain(VARIANT* dest, const VARIANT& src, WORD flags, VARTYPE vt) {
    VARIANT result;
    VariantInit(&result);
    result.vt = vt;
    HRESULT hr = S_OK;
    if (src.vt == VT_NULL) {
        if (vt != VT_NULL) return DISP_E_TYPEMISMATCH;
    } else if (src.vt == VT_ERROR) {
        // An error value (a missing argument among them) is no number or text.
        if (vt != VT_ERROR) return DISP_E_TYPEMISMATCH;
        result.scode = src.scode;
    } else if (src.vt & VT_ARRAY) {
        if (vt != src.vt) return DISP_E_TYPEMISMATCH;
        hr = SafeArrayCopy(src.parray, &result.parray);
    } else {
        switch (vt) {
            case VT_EMPTY:
            case VT_NULL:
                break;
            case VT_I1: {
                int8_t x;
                hr = ToInteger(src, &x);
                result.bVal = static_cast<BYTE>(x);
                break;
            }
            case VT_UI1:
                hr = ToInteger(src, &result.bVal);
                break;
            case VT_I2:
                hr = ToInteger(src, &result.iVal);
                break;
            case VT_UI2:
                hr = ToInteger(src, &result.uiVal);
                break;
            case VT_I4:
            case VT_INT:
                hr = ToInteger(src, &result.lVal);
                break;
            case VT_UI4:
            case VT_UINT:
                hr = ToInteger(src, &result.ulVal);
                break;
            case VT_I8:
                hr = ToInteger(src, &result.llVal);
                break;
            case VT_UI8:
                hr = ToInteger(src, &result.ullVal);
                break;
            case VT_R4: {
                double d;
                hr = ToDouble(src, &d);
                result.fltVal = static_cast<float>(d);
                break;
            }
            case VT_R8:
                hr = ToDouble(src, &result.dblVal);
                break;
            case VT_BOOL: {
                double d = 0;
                hr = ToDouble(src, &d);
                result.boolVal = d != 0 ? VARIANT_TRUE : VARIANT_FALSE;
                break;
            }
            case VT_BSTR: {
                if (src.vt == VT_BSTR) {
                    result.bstrVal = SysAllocStringLen(src.bstrVal, SysStringLen(src.bstrVal));
                } else {
                    std::string text;
                    hr = ToText(src, &text);
                    if (SUCCEEDED(hr)) result.bstrVal = Wide(text);
                }
                if (SUCCEEDED(hr) && !result.bstrVal) hr = E_OUTOFMEMORY;
                break;
            }
            case VT_UNKNOWN:
            case VT_DISPATCH:
                if (src.vt != VT_UNKNOWN && src.vt != VT_DISPATCH) return DISP_E_TYPEMISMATCH;
                if (!src.punkVal) {
                    result.punkVal = nullptr;
                } else {
                    hr = src.punkVal->QueryInterface(vt == VT_UNKNOWN ? IID_IUnknown : IID_IDispatch,
                                                     reinterpret_cast<void**>(&result.punkVal));
                    if (FAILED(hr)) hr = DISP_E_TYPEMISMATCH;
                }
                break;
            default:
                return DISP_E_BADVARTYPE;
        }
    }
    (void)flags;
    if (FAILED(hr)) return hr;
    VariantClear(dest);
    *dest = result;
    return S_OK;
}

}  // namespace

HRESULT VariantCopyInd(VARIANT* dest, const VARIANT* source) {
    if (!dest || !source) return E_INVALIDARG;
    VARIANT plain;
    if (!Dereference(source, &plain)) return E_INVALIDARG;
    VARIANT copy;
    VariantInit(&copy);
    const HRESULT hr = VariantCopy(&copy, &plain);
    if (FAILED(hr)) return hr;
    VariantClear(dest);
    *dest = copy;
    return S_OK;
}

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* source, WORD flags, VARTYPE vt) {
    if (!dest || !source) return E_INVALIDARG;
    VARIANT plain;
    if (!Dereference(source, &plain)) return DISP_E_BADVARTYPE;
    if (vt == VT_VARIANT || vt == plain.vt) {
        VARIANT copy;
        VariantInit(&copy);
        const HRESULT hr = VariantCopy(&copy, &plain);
        if (FAILED(hr)) return hr;
        VariantClear(dest);
        *dest = copy;
        return S_OK;
    }
    // An object converted to a value goes through its default property.
    if (plain.vt == VT_DISPATCH && vt != VT_UNKNOWN && !(flags & VARIANT_NOVALUEPROP)) {
        VARIANT value;
        HRESULT hr = DefaultValue(plain.pdispVal, &value);
        if (FAILED(hr)) return hr;
        hr = ConvertPlain(dest, value, flags, vt);
        VariantClear(&value);
        return hr;
    }
    return ConvertPlain(dest, plain, flags, vt);
}
