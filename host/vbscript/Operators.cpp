#include "vbscript/Operators.h"

#include <cmath>

#include "vbscript/Conversions.h"
#include "vbscript/Dispatch.h"
#include "vbscript/RuntimeError.h"

namespace vbs {

namespace {

// The numeric types by width, as results are widened.
enum Rank { kByte = 1, kInteger, kLong, kSingle, kDouble, kCurrency, kDate };

Rank RankOf(const Value& v) {
    switch (v.vt) {
        case VT_UI1:
            return kByte;
        case VT_EMPTY:
        case VT_BOOL:
        case VT_I2:
        case VT_I1:
            return kInteger;
        case VT_I4:
        case VT_INT:
        case VT_UI2:
            return kLong;
        case VT_R4:
            return kSingle;
        case VT_CY:
            return kCurrency;
        case VT_DATE:
            return kDate;
        default:
            return kDouble;  // texts read as numbers, larger integers
    }
}

// A whole-number result in the narrowest type from `rank` up that holds it.
Value Fitted(double result, Rank rank) {
    if (rank == kByte && result >= 0 && result <= 255) return Value::Byte(static_cast<BYTE>(result));
    if (rank <= kInteger && result >= -32768 && result <= 32767) return Value::Integer(static_cast<int16_t>(result));
    if (rank <= kLong && result >= -2147483648.0 && result <= 2147483647.0)
        return Value::Long(static_cast<int32_t>(result));
    if (rank == kSingle && std::fabs(result) <= 3.402823466e38) return Value::Single(static_cast<float>(result));
    if (rank == kCurrency) {
        if (std::fabs(result) >= 922337203685477.0) throw RuntimeError(kOverflow);
        return Value::Currency(std::llround(result * 10000.0));
    }
    if (!std::isfinite(result)) throw RuntimeError(kOverflow);
    return Value::Double(result);
}

Value Arithmetic(Op op, const Value& a, const Value& b) {
    const double x = ToDouble(a), y = ToDouble(b);
    Rank rank = std::max(RankOf(a), RankOf(b));
    if (rank == kDate) {
        // A date moved by days is a date; the days between two dates are a number.
        const bool bothDates = a.vt == VT_DATE && b.vt == VT_DATE;
        if (op == Op::Add || (op == Op::Subtract && !bothDates)) {
            const double result = op == Op::Add ? x + y : x - y;
            if (result < -657434.0 || result >= 2958466.0) throw RuntimeError(kOverflow);
            return Value::Date(result);
        }
        rank = kDouble;
    }
    switch (op) {
        case Op::Add:
            return Fitted(x + y, rank);
        case Op::Subtract:
            return Fitted(x - y, rank);
        case Op::Multiply:
            return Fitted(x * y, rank);
        case Op::Divide: {
            if (y == 0) throw RuntimeError(x == 0 ? kOverflow : kDivisionByZero);
            const double result = x / y;
            if (!std::isfinite(result)) throw RuntimeError(kOverflow);
            if (rank == kSingle) return Value::Single(static_cast<float>(result));
            if (rank == kCurrency) return Fitted(result, kCurrency);
            return Value::Double(result);
        }
        case Op::Power: {
            const double result = std::pow(x, y);
            if (std::isnan(result)) throw RuntimeError(kInvalidCall);
            if (!std::isfinite(result)) throw RuntimeError(kOverflow);
            return Value::Double(result);
        }
        default: {
            // \ and Mod work on Longs, rounded to even first.
            const int32_t p = ToLong(a), q = ToLong(b);
            if (q == 0) throw RuntimeError(kDivisionByZero);
            if (p == INT32_MIN && q == -1) {
                if (op == Op::Mod) return Value::Long(0);
                throw RuntimeError(kOverflow);
            }
            const double result = op == Op::IntDivide ? p / q : p % q;
            return Fitted(result, rank <= kInteger ? rank : kLong);
        }
    }
}

// The value of a logical operand as the bits it stands for.
int32_t Bits(const Value& v) {
    if (v.vt == VT_BOOL) return v.boolVal ? -1 : 0;
    return ToLong(v);
}

Value Logical(Op op, const Value& a, const Value& b) {
    if (a.isNull() || b.isNull()) {
        // Null is unknown: the other side decides when it can.
        const Value& known = a.isNull() ? b : a;
        if (!known.isNull()) {
            const int32_t bits = Bits(known);
            if (op == Op::And && bits == 0) return known.vt == VT_BOOL ? Value::Bool(false) : Fitted(0, RankOf(known));
            if (op == Op::Or && bits == -1) return known.vt == VT_BOOL ? Value::Bool(true) : Fitted(-1, RankOf(known));
            if (op == Op::Imp && ((a.isNull() && bits == -1) || (b.isNull() && bits == 0))) return Value::Bool(true);
        }
        return Value::Null();
    }
    const int32_t x = Bits(a), y = Bits(b);
    int32_t result = 0;
    switch (op) {
        case Op::And:
            result = x & y;
            break;
        case Op::Or:
            result = x | y;
            break;
        case Op::Xor:
            result = x ^ y;
            break;
        case Op::Eqv:
            result = ~(x ^ y);
            break;
        default:
            result = ~x | y;
            break;  // Imp
    }
    if (a.vt == VT_BOOL && b.vt == VT_BOOL) return Value::Bool(result != 0);
    const Rank rank = std::max(RankOf(a), RankOf(b));
    if (rank == kByte) return Value::Byte(static_cast<BYTE>(result));
    if (rank == kInteger) return Value::Integer(static_cast<int16_t>(result));
    return Value::Long(result);
}

Value Concatenated(const Value& a, const Value& b) {
    if (a.isNull() && b.isNull()) return Value::Null();
    std::u16string text = a.isNull() ? u"" : ToText(a);
    const std::u16string right = b.isNull() ? u"" : ToText(b);
    CheckTextLength(text.size() + right.size());
    text += right;
    return Value::String(text);
}

int Order(double x, double y) { return x < y ? -1 : x > y ? 1 : 0; }

int CompareTexts(std::u16string_view x, std::u16string_view y) {
    const int order = x.compare(y);
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}

}  // namespace

int Compare(const Value& left, const Value& right, bool leftLiteral, bool rightLiteral) {
    const Value a = Plain(left), b = Plain(right);
    if (a.isNull() || b.isNull()) return 2;
    const bool textA = a.vt == VT_BSTR, textB = b.vt == VT_BSTR;
    if (textA && textB) return CompareTexts(a.text(), b.text());
    if (a.isEmpty() && textB) return CompareTexts(u"", b.text());
    if (textA && b.isEmpty()) return CompareTexts(a.text(), u"");
    if (textA != textB) {
        const bool numberIsConstant = textA ? rightLiteral : leftLiteral;
        if (!numberIsConstant) return textA ? 1 : -1;  // a number is less than a text
        return Order(ToDouble(a), ToDouble(b));
    }
    if (!IsNumberType(a.vt) || !IsNumberType(b.vt)) throw RuntimeError(kTypeMismatch);
    return Order(ToDouble(a), ToDouble(b));
}

Value Apply(Op op, const Value& left, const Value& right, bool leftLiteral, bool rightLiteral) {
    switch (op) {
        case Op::Concat:
            return Concatenated(Plain(left), Plain(right));
        case Op::Equal:
        case Op::NotEqual:
        case Op::Less:
        case Op::Greater:
        case Op::LessEqual:
        case Op::GreaterEqual: {
            const int order = Compare(left, right, leftLiteral, rightLiteral);
            if (order == 2) return Value::Null();
            switch (op) {
                case Op::Equal:
                    return Value::Bool(order == 0);
                case Op::NotEqual:
                    return Value::Bool(order != 0);
                case Op::Less:
                    return Value::Bool(order < 0);
                case Op::Greater:
                    return Value::Bool(order > 0);
                case Op::LessEqual:
                    return Value::Bool(order <= 0);
                default:
                    return Value::Bool(order >= 0);
            }
        }
        case Op::And:
        case Op::Or:
        case Op::Xor:
        case Op::Eqv:
        case Op::Imp:
            return Logical(op, Plain(left), Plain(right));
        default:
            break;
    }
    const Value a = Plain(left), b = Plain(right);
    if (a.isNull() || b.isNull()) return Value::Null();
    // + joins two texts (and a text with Empty); a text with a number is added as a number.
    if (op == Op::Add && (a.vt == VT_BSTR || a.isEmpty()) && (b.vt == VT_BSTR || b.isEmpty()) &&
        (a.vt == VT_BSTR || b.vt == VT_BSTR))
        return Concatenated(a, b);
    if (op == Op::Add && a.isEmpty() && b.isEmpty()) return Value::Integer(0);
    return Arithmetic(op, a, b);
}

Value ApplyUnary(Op op, const Value& operand) {
    const Value v = Plain(operand);
    if (v.isNull()) return Value::Null();
    if (op == Op::Not) {
        if (v.vt == VT_BOOL) return Value::Bool(!v.boolVal);
        const int32_t bits = ~ToLong(v);
        if (v.vt == VT_UI1) return Value::Byte(static_cast<BYTE>(bits));
        if (RankOf(v) == kInteger) return Value::Integer(static_cast<int16_t>(bits));
        return Value::Long(bits);
    }
    if (op == Op::Plus) return v.isEmpty() ? Value::Integer(0) : v;
    switch (v.vt) {
        case VT_EMPTY:
            return Value::Integer(0);
        case VT_DATE:
            return Value::Date(-v.date);
        case VT_R4:
            return Value::Single(-v.fltVal);
        case VT_CY:
            return Value::Currency(-v.cyVal.int64);
        case VT_BSTR:
            return Value::Double(-ToDouble(v));
        default:
            return Fitted(-ToDouble(v), std::min(std::max(RankOf(v), kInteger), kDouble));
    }
}

}  // namespace vbs
