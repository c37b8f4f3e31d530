// The string functions. Texts are UTF-16, as the language's strings are;
// a Null argument gives Null where the reference says so.
#include <algorithm>

#include "platform/CodePage.h"
#include "vbscript/Arrays.h"
#include "vbscript/Builtins.h"
#include "vbscript/Conversions.h"
#include "vbscript/RuntimeError.h"

namespace vbs::builtins {

namespace {

using Text = std::u16string;

bool AnyNull(const std::vector<Value>& args, size_t count) {
    for (size_t n = 0; n < std::min(count, args.size()); ++n)
        if (Plain(args[n]).isNull()) return true;
    return false;
}

int32_t Count(const Value& value) {
    const int32_t count = ToLong(Plain(value));
    if (count < 0) throw RuntimeError(kInvalidCall);
    return count;
}

char16_t Lower(char16_t c) { return platform::codepage::FoldUnit(c); }

char16_t Upper(char16_t c) {
    if (c >= 'a' && c <= 'z') return static_cast<char16_t>(c - 32);
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) || (c >= 0x430 && c <= 0x44F))
        return static_cast<char16_t>(c - 32);
    if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 80);
    if (c == 0xFF) return 0x178;
    return c;
}

Text Lowered(Text text) {
    for (char16_t& c : text) c = Lower(c);
    return text;
}

// 0 binary, 1 text (without regard to case).
int CompareMode(const std::vector<Value>& args, size_t n) {
    if (!Given(args, n)) return 0;
    const int32_t mode = ToLong(Plain(args[n]));
    if (mode < 0 || mode > 2) throw RuntimeError(kInvalidCall);
    return mode == 0 ? 0 : 1;
}

// The position of `what` in `text` from `from` (0-based); npos when absent.
size_t Find(const Text& text, const Text& what, size_t from, int mode) {
    if (mode == 0) return text.find(what, from);
    return Lowered(text).find(Lowered(what), from);
}

size_t FindLast(const Text& text, const Text& what, size_t before, int mode) {
    if (mode == 0) return text.rfind(what, before);
    return Lowered(text).rfind(Lowered(what), before);
}

Value Trimmed(const Value& value, bool left, bool right) {
    const Value plain = Plain(value);
    if (plain.isNull()) return Value::Null();
    Text text = ToText(plain);
    size_t begin = 0, end = text.size();
    if (left)
        while (begin < end && text[begin] == ' ') ++begin;
    if (right)
        while (end > begin && text[end - 1] == ' ') --end;
    return Value::String(text.substr(begin, end - begin));
}

}  // namespace

Value Len(std::vector<Value>& args) {
    const Value value = Plain(args[0]);
    if (value.isNull()) return Value::Null();
    return Value::Long(static_cast<int32_t>(ToText(value).size()));
}

Value Left(std::vector<Value>& args) {
    if (AnyNull(args, 1)) return Value::Null();
    const Text text = ToText(Plain(args[0]));
    return Value::String(text.substr(0, std::min<size_t>(Count(args[1]), text.size())));
}

Value Right(std::vector<Value>& args) {
    if (AnyNull(args, 1)) return Value::Null();
    const Text text = ToText(Plain(args[0]));
    const size_t count = std::min<size_t>(Count(args[1]), text.size());
    return Value::String(text.substr(text.size() - count));
}

Value Mid(std::vector<Value>& args) {
    if (AnyNull(args, 1)) return Value::Null();
    const Text text = ToText(Plain(args[0]));
    const int32_t start = ToLong(Plain(args[1]));
    if (start < 1) throw RuntimeError(kInvalidCall);
    const size_t length = Given(args, 2) ? static_cast<size_t>(Count(args[2])) : text.size();
    if (static_cast<size_t>(start) > text.size()) return Value::String(u"");
    return Value::String(text.substr(start - 1, length));
}

Value InStr(std::vector<Value>& args) {
    // InStr(text, what) or InStr(start, text, what[, compare]).
    size_t first = 0;
    int32_t start = 1;
    if (args.size() >= 3) {
        const Value startValue = Plain(args[0]);
        if (startValue.isNull()) throw RuntimeError(kInvalidUseOfNull);
        start = ToLong(startValue);
        if (start < 1) throw RuntimeError(kInvalidCall);
        first = 1;
    }
    const Value textValue = Plain(args[first]), whatValue = Plain(args[first + 1]);
    if (textValue.isNull() || whatValue.isNull()) return Value::Null();
    const Text text = ToText(textValue), what = ToText(whatValue);
    const int mode = CompareMode(args, 3);
    if (static_cast<size_t>(start) > text.size()) return Value::Long(0);
    if (what.empty()) return Value::Long(start);
    const size_t at = Find(text, what, start - 1, mode);
    return Value::Long(at == Text::npos ? 0 : static_cast<int32_t>(at + 1));
}

Value InStrRev(std::vector<Value>& args) {
    if (AnyNull(args, 2)) return Value::Null();
    const Text text = ToText(Plain(args[0])), what = ToText(Plain(args[1]));
    int32_t start = Given(args, 2) ? ToLong(Plain(args[2])) : -1;
    if (start == 0 || start < -1) throw RuntimeError(kInvalidCall);
    if (start == -1) start = static_cast<int32_t>(text.size());
    if (static_cast<size_t>(start) > text.size()) return Value::Long(0);
    if (what.empty()) return Value::Long(start);
    if (what.size() > static_cast<size_t>(start)) return Value::Long(0);
    const size_t at = FindLast(text, what, start - what.size(), CompareMode(args, 3));
    return Value::Long(at == Text::npos ? 0 : static_cast<int32_t>(at + 1));
}

Value Replace(std::vector<Value>& args) {
    if (AnyNull(args, 3)) throw RuntimeError(kInvalidUseOfNull);
    const Text text = ToText(Plain(args[0])), what = ToText(Plain(args[1])), with = ToText(Plain(args[2]));
    const int32_t start = Given(args, 3) ? ToLong(Plain(args[3])) : 1;
    int32_t count = Given(args, 4) ? ToLong(Plain(args[4])) : -1;
    if (start < 1 || count < -1) throw RuntimeError(kInvalidCall);
    const int mode = CompareMode(args, 5);
    // The result begins at `start`, as the reference has it.
    if (static_cast<size_t>(start) > text.size()) return Value::String(u"");
    const Text rest = text.substr(start - 1);
    if (what.empty() || count == 0) return Value::String(rest);
    Text out;
    size_t from = 0;
    for (size_t at; count != 0 && (at = Find(rest, what, from, mode)) != Text::npos; from = at + what.size()) {
        out.append(rest, from, at - from);
        out += with;
        CheckTextLength(out.size());
        if (count > 0) --count;
    }
    out.append(rest, from, Text::npos);
    return Value::String(out);
}

Value Split(std::vector<Value>& args) {
    const Value textValue = Plain(args[0]);
    if (textValue.isNull()) throw RuntimeError(kInvalidUseOfNull);
    const Text text = ToText(textValue);
    const Text delimiter = Given(args, 1) ? ToText(Plain(args[1])) : Text(u" ");
    int32_t limit = Given(args, 2) ? ToLong(Plain(args[2])) : -1;
    if (limit < -1) throw RuntimeError(kInvalidCall);
    const int mode = CompareMode(args, 3);
    std::vector<Value> parts;
    if (text.empty() || limit == 0) return ArrayOf(parts);
    if (delimiter.empty()) return ArrayOf({Value::String(text)});
    size_t from = 0;
    for (size_t at; (limit == -1 || static_cast<int32_t>(parts.size()) < limit - 1) &&
                    (at = Find(text, delimiter, from, mode)) != Text::npos;
         from = at + delimiter.size())
        parts.push_back(Value::String(text.substr(from, at - from)));
    parts.push_back(Value::String(text.substr(from)));
    return ArrayOf(parts);
}

Value Join(std::vector<Value>& args) {
    const Value list = Plain(args[0]);
    if (!list.isArray()) throw RuntimeError(kTypeMismatch);
    const Text delimiter = Given(args, 1) ? ToText(Plain(args[1])) : Text(u" ");
    Text out;
    bool first = true;
    for (const Value& item : ArrayElements(list)) {
        if (!first) out += delimiter;
        first = false;
        const Value plain = Plain(item);
        if (!plain.isNull()) out += ToText(plain);
        CheckTextLength(out.size());
    }
    return Value::String(out);
}

Value LCase(std::vector<Value>& args) {
    const Value value = Plain(args[0]);
    if (value.isNull()) return Value::Null();
    return Value::String(Lowered(ToText(value)));
}

Value UCase(std::vector<Value>& args) {
    const Value value = Plain(args[0]);
    if (value.isNull()) return Value::Null();
    Text text = ToText(value);
    for (char16_t& c : text) c = Upper(c);
    return Value::String(text);
}

Value Trim(std::vector<Value>& args) { return Trimmed(args[0], true, true); }
Value LTrim(std::vector<Value>& args) { return Trimmed(args[0], true, false); }
Value RTrim(std::vector<Value>& args) { return Trimmed(args[0], false, true); }

Value Space(std::vector<Value>& args) {
    const int32_t count = Count(args[0]);
    CheckTextLength(count);
    return Value::String(Text(count, u' '));
}

Value String(std::vector<Value>& args) {
    if (AnyNull(args, 2)) return Value::Null();
    const int32_t count = Count(args[0]);
    CheckTextLength(count);
    const Value what = Plain(args[1]);
    char16_t c;
    if (what.vt == VT_BSTR) {
        if (what.text().empty()) throw RuntimeError(kInvalidCall);
        c = what.text()[0];
    } else {
        c = static_cast<char16_t>(ToLong(what) & 0xFF);
    }
    return Value::String(Text(count, c));
}

Value StrReverse(std::vector<Value>& args) {
    const Value value = Plain(args[0]);
    if (value.isNull()) throw RuntimeError(kInvalidUseOfNull);
    Text text = ToText(value);
    std::reverse(text.begin(), text.end());
    return Value::String(text);
}

Value StrComp(std::vector<Value>& args) {
    if (AnyNull(args, 2)) return Value::Null();
    Text a = ToText(Plain(args[0])), b = ToText(Plain(args[1]));
    if (CompareMode(args, 2)) a = Lowered(a), b = Lowered(b);
    const int order = a.compare(b);
    return Value::Integer(static_cast<int16_t>(order < 0 ? -1 : order > 0 ? 1 : 0));
}

Value AscW(std::vector<Value>& args) {
    const Value value = Plain(args[0]);
    if (value.isNull()) throw RuntimeError(kInvalidUseOfNull);
    const Text text = ToText(value);
    if (text.empty()) throw RuntimeError(kInvalidCall);
    return Value::Integer(static_cast<int16_t>(text[0]));
}

Value Asc(std::vector<Value>& args) {
    const Value value = Plain(args[0]);
    if (value.isNull()) throw RuntimeError(kInvalidUseOfNull);
    const Text text = ToText(value);
    if (text.empty()) throw RuntimeError(kInvalidCall);
    // The character's code in the system's ANSI code page; one it lacks is '?'.
    const std::string bytes = platform::codepage::FromUtf16(text.substr(0, 1));
    if (bytes.size() == 1) return Value::Integer(static_cast<unsigned char>(bytes[0]));
    if (bytes.size() == 2)
        return Value::Integer(
            static_cast<int16_t>((static_cast<unsigned char>(bytes[0]) << 8) | static_cast<unsigned char>(bytes[1])));
    return Value::Integer(static_cast<int16_t>(text[0]));
}

Value Chr(std::vector<Value>& args) {
    const int32_t code = ToLong(Plain(args[0]));
    if (code < 0 || code > 255) throw RuntimeError(kInvalidCall);
    if (code < 128) return Value::String(Text(1, static_cast<char16_t>(code)));
    const Text text = platform::codepage::ToUtf16(std::string(1, static_cast<char>(code)));
    return Value::String(text.empty() ? Text(1, static_cast<char16_t>(code)) : text);
}

Value ChrW(std::vector<Value>& args) {
    const int32_t code = ToLong(Plain(args[0]));
    if (code < -32768 || code > 65535) throw RuntimeError(kInvalidCall);
    return Value::String(Text(1, static_cast<char16_t>(code < 0 ? code + 65536 : code)));
}

}  // namespace vbs::builtins
