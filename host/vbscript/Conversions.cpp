#include "vbscript/Conversions.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "platform/CodePage.h"
#include "vbscript/DateValues.h"
#include "vbscript/Dispatch.h"
#include "vbscript/RuntimeError.h"

namespace vbs {

bool IsNumberType(VARTYPE type) {
    switch (type) {
        case VT_EMPTY:
        case VT_BOOL:
        case VT_UI1:
        case VT_I2:
        case VT_I4:
        case VT_R4:
        case VT_R8:
        case VT_CY:
        case VT_DATE:
        case VT_I1:
        case VT_UI2:
        case VT_UI4:
        case VT_I8:
        case VT_UI8:
        case VT_INT:
        case VT_UINT:
        case VT_DECIMAL:
            return true;
        default:
            return false;
    }
}

Value Plain(const Value& value) {
    if (value.vt == VT_DISPATCH) return DefaultValue(value);
    if (value.vt & VT_BYREF) return Value::CopyOf(value);
    return value;
}

bool ParseNumber(std::u16string_view text, double* number) {
    size_t i = 0, end = text.size();
    auto space = [](char16_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == 0xA0; };
    while (i < end && space(text[i])) ++i;
    while (end > i && space(text[end - 1])) --end;
    if (i == end) return false;
    if (text[i] == '&' && i + 1 < end) {
        const char16_t kind = text[i + 1] | 0x20;
        const int base = kind == 'h' ? 16 : kind == 'o' ? 8 : 0;
        if (!base || i + 2 == end) return false;
        uint64_t value = 0;
        for (size_t k = i + 2; k < end; ++k) {
            const char16_t c = text[k] | (text[k] >= 'A' ? 0x20 : 0);
            const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : 99;
            if (digit >= base) return false;
            value = value * base + digit;
            if (value > 0xFFFFFFFFull) return false;
        }
        *number = value <= 0xFFFF && end - i - 2 <= 4 ? static_cast<int16_t>(value) : static_cast<int32_t>(value);
        return true;
    }
    std::string ascii;
    bool digits = false;
    size_t k = i;
    if (text[k] == '+' || text[k] == '-') ascii += static_cast<char>(text[k++]);
    for (; k < end && text[k] >= '0' && text[k] <= '9'; ++k) ascii += static_cast<char>(text[k]), digits = true;
    if (k < end && text[k] == '.') {
        ascii += '.';
        for (++k; k < end && text[k] >= '0' && text[k] <= '9'; ++k) ascii += static_cast<char>(text[k]), digits = true;
    }
    if (!digits) return false;
    if (k < end && (text[k] == 'e' || text[k] == 'E')) {
        ascii += 'e';
        ++k;
        if (k < end && (text[k] == '+' || text[k] == '-')) ascii += static_cast<char>(text[k++]);
        bool exponent = false;
        for (; k < end && text[k] >= '0' && text[k] <= '9'; ++k) ascii += static_cast<char>(text[k]), exponent = true;
        if (!exponent) return false;
    }
    if (k != end) return false;
    const double value = std::strtod(ascii.c_str(), nullptr);
    if (!std::isfinite(value)) return false;
    *number = value;
    return true;
}

bool ReadsAsNumber(const Value& value) {
    if (value.vt == VT_BSTR) {
        double ignored;
        return ParseNumber(value.text(), &ignored);
    }
    if (value.vt == VT_DISPATCH) return value.pdispVal && ReadsAsNumber(Plain(value));
    return IsNumberType(value.vt) && value.vt != VT_DATE;
}

double ToDouble(const Value& value) {
    switch (value.vt) {
        case VT_EMPTY:
            return 0;
        case VT_NULL:
            throw RuntimeError(kInvalidUseOfNull);
        case VT_BOOL:
            return value.boolVal ? -1 : 0;
        case VT_UI1:
            return value.bVal;
        case VT_I2:
            return value.iVal;
        case VT_I4:
        case VT_INT:
            return value.lVal;
        case VT_R4:
            return value.fltVal;
        case VT_R8:
            return value.dblVal;
        case VT_DATE:
            return value.date;
        case VT_CY:
            return static_cast<double>(value.cyVal.int64) / 10000.0;
        case VT_I1:
            return static_cast<int8_t>(value.cVal);
        case VT_UI2:
            return value.uiVal;
        case VT_UI4:
        case VT_UINT:
            return value.ulVal;
        case VT_I8:
            return static_cast<double>(value.llVal);
        case VT_UI8:
            return static_cast<double>(value.ullVal);
        case VT_BSTR: {
            double number;
            if (ParseNumber(value.text(), &number)) return number;
            // A text that is a date reads as the date's number.
            if (ParseDateText(platform::codepage::Utf16ToUtf8(std::u16string(value.text())), &number)) return number;
            throw RuntimeError(kTypeMismatch);
        }
        case VT_DISPATCH:
            return ToDouble(Plain(value));
        default:
            if (value.vt & VT_BYREF) return ToDouble(Value::CopyOf(value));
            throw RuntimeError(kTypeMismatch);
    }
}

namespace {
double RoundedToEven(const Value& value) {
    const double number = ToDouble(value);
    return std::nearbyint(number);  // the default rounding mode rounds halves to even
}
}  // namespace

int32_t ToLong(const Value& value) {
    if (value.vt == VT_I4) return value.lVal;
    if (value.vt == VT_I2) return value.iVal;
    const double rounded = RoundedToEven(value);
    if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) throw RuntimeError(kOverflow);
    return static_cast<int32_t>(rounded);
}

int16_t ToInteger(const Value& value) {
    if (value.vt == VT_I2) return value.iVal;
    const double rounded = RoundedToEven(value);
    if (!(rounded >= -32768.0 && rounded <= 32767.0)) throw RuntimeError(kOverflow);
    return static_cast<int16_t>(rounded);
}

BYTE ToByte(const Value& value) {
    const double rounded = RoundedToEven(value);
    if (!(rounded >= 0 && rounded <= 255.0)) throw RuntimeError(kOverflow);
    return static_cast<BYTE>(rounded);
}

bool ToBool(const Value& value) {
    switch (value.vt) {
        case VT_BOOL:
            return value.boolVal != 0;
        case VT_EMPTY:
            return false;
        case VT_BSTR: {
            std::u16string lower;
            for (char16_t c : value.text()) lower += (c >= 'A' && c <= 'Z') ? static_cast<char16_t>(c + 32) : c;
            size_t first = lower.find_first_not_of(u' '), last = lower.find_last_not_of(u' ');
            if (first != std::u16string::npos) lower = lower.substr(first, last - first + 1);
            if (lower == u"true" || lower == u"#true#") return true;
            if (lower == u"false" || lower == u"#false#") return false;
            return ToDouble(value) != 0;
        }
        default:
            return ToDouble(value) != 0;
    }
}

std::u16string NumberText(double number, int digits) {
    if (number == 0) return u"0";
    char text[64];
    std::snprintf(text, sizeof text, "%.*G", digits, number);
    std::string written = text;
    // %G writes 1E+15 and 1E-05 as the language does; a mantissa's
    // trailing zeros are already gone.
    std::u16string out;
    for (char c : written) out += static_cast<char16_t>(c);
    return out;
}

std::u16string ToText(const Value& value) {
    switch (value.vt) {
        case VT_EMPTY:
            return u"";
        case VT_NULL:
            throw RuntimeError(kInvalidUseOfNull);
        case VT_BSTR:
            return std::u16string(value.text());
        case VT_BOOL:
            return value.boolVal ? u"True" : u"False";
        case VT_UI1:
        case VT_I2:
        case VT_I4:
        case VT_INT:
        case VT_I1:
        case VT_UI2:
        case VT_UI4:
        case VT_UINT:
        case VT_I8:
        case VT_UI8: {
            const std::string digits = std::to_string(static_cast<long long>(ToDouble(value)));
            return std::u16string(digits.begin(), digits.end());
        }
        case VT_R4:
            return NumberText(value.fltVal, 7);
        case VT_R8:
            return NumberText(value.dblVal);
        case VT_CY: {
            char text[48];
            std::snprintf(text, sizeof text, "%.4f", static_cast<double>(value.cyVal.int64) / 10000.0);
            std::string written = text;
            while (written.back() == '0') written.pop_back();
            if (written.back() == '.') written.pop_back();
            return std::u16string(written.begin(), written.end());
        }
        case VT_DATE: {
            const std::string written = DateText(value.date);
            return std::u16string(written.begin(), written.end());
        }
        case VT_DISPATCH:
            return ToText(Plain(value));
        case VT_ERROR: {
            const std::string written = "Error " + std::to_string(value.scode);
            return std::u16string(written.begin(), written.end());
        }
        default:
            if (value.vt & VT_BYREF) return ToText(Value::CopyOf(value));
            throw RuntimeError(kTypeMismatch);
    }
}

std::string ToUtf8(const Value& value) { return platform::codepage::Utf16ToUtf8(ToText(value)); }

}  // namespace vbs
