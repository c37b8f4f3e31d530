// A small JSON reader for the benchmark client: enough to walk the servers'
// answers (objects, arrays, strings, numbers, true, false, null).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

struct Json {
    enum Type { Null, Bool, Number, String, Array, Object } type = Null;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<Json> items;
    // An object's members in order: names[i] names values[i] (a pair of a
    // name and a Json would hold the type before it is complete).
    std::vector<std::string> names;
    std::vector<Json> values;

    // The member of that name, or null when there is none.
    const Json& operator[](const std::string& name) const {
        static const Json none;
        for (size_t i = 0; i < names.size(); ++i)
            if (names[i] == name) return values[i];
        return none;
    }
};

class JsonReader {
public:
    explicit JsonReader(const std::string& text) : p_(text.data()), end_(text.data() + text.size()) {}

    // False when the text is not one JSON value.
    bool read(Json* value) {
        if (!parse(value)) return false;
        skip();
        return p_ == end_;
    }

private:
    void skip() {
        while (p_ < end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t')) ++p_;
    }
    bool literal(const char* word) {
        for (; *word; ++word, ++p_)
            if (p_ == end_ || *p_ != *word) return false;
        return true;
    }
    static void utf8(unsigned code, std::string* out) {
        if (code < 0x80) {
            *out += static_cast<char>(code);
        } else if (code < 0x800) {
            *out += static_cast<char>(0xC0 | code >> 6);
            *out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            *out += static_cast<char>(0xE0 | code >> 12);
            *out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            *out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    bool string(std::string* out) {
        if (p_ == end_ || *p_++ != '"') return false;
        while (p_ < end_ && *p_ != '"') {
            if (*p_ != '\\') {
                *out += *p_++;
                continue;
            }
            if (++p_ == end_) return false;
            const char c = *p_++;
            switch (c) {
                case 'b':
                    *out += '\b';
                    break;
                case 'f':
                    *out += '\f';
                    break;
                case 'n':
                    *out += '\n';
                    break;
                case 'r':
                    *out += '\r';
                    break;
                case 't':
                    *out += '\t';
                    break;
                case 'u':
                    if (end_ - p_ < 4) return false;
                    utf8(static_cast<unsigned>(std::strtoul(std::string(p_, 4).c_str(), nullptr, 16)), out);
                    p_ += 4;
                    break;
                default:
                    *out += c;
            }
        }
        return p_ < end_ && *p_++ == '"';
    }
    bool parse(Json* value) {
        skip();
        if (p_ == end_) return false;
        switch (*p_) {
            case '{':
                value->type = Json::Object;
                ++p_;
                skip();
                if (p_ < end_ && *p_ == '}') return ++p_, true;
                for (;;) {
                    skip();
                    value->names.emplace_back();
                    value->values.emplace_back();
                    if (!string(&value->names.back())) return false;
                    skip();
                    if (p_ == end_ || *p_++ != ':' || !parse(&value->values.back())) return false;
                    skip();
                    if (p_ == end_) return false;
                    if (*p_ == '}') return ++p_, true;
                    if (*p_++ != ',') return false;
                }
            case '[':
                value->type = Json::Array;
                ++p_;
                skip();
                if (p_ < end_ && *p_ == ']') return ++p_, true;
                for (;;) {
                    value->items.emplace_back();
                    if (!parse(&value->items.back())) return false;
                    skip();
                    if (p_ == end_) return false;
                    if (*p_ == ']') return ++p_, true;
                    if (*p_++ != ',') return false;
                }
            case '"':
                value->type = Json::String;
                return string(&value->text);
            case 't':
                value->type = Json::Bool;
                value->boolean = true;
                return literal("true");
            case 'f':
                value->type = Json::Bool;
                return literal("false");
            case 'n':
                return literal("null");
            default: {
                char* after = nullptr;
                const std::string digits(p_, static_cast<size_t>(std::min<ptrdiff_t>(end_ - p_, 32)));
                value->type = Json::Number;
                value->number = std::strtod(digits.c_str(), &after);
                if (after == digits.c_str()) return false;
                p_ += after - digits.c_str();
                return true;
            }
        }
    }

    const char* p_;
    const char* end_;
};

}  // namespace e2e
