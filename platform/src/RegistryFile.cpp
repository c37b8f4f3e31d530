// REGEDIT4 text: "[ROOT\path]" lines open keys; value lines are
// @= or "name"= followed by "text", dword:xxxxxxxx, hex:bb,... or
// hex(type):bb,...; a trailing backslash continues hex data on the next line.
#include "RegistryFile.h"

#include <cstdio>
#include <cstring>

#include "platform/CodePage.h"
#include "platform/Registry.h"

namespace platform::registry {

Key* Key::child(const std::string& childName) const {
    auto it = children.find(FoldName(childName));
    return it == children.end() ? nullptr : it->second.get();
}

Key* Key::addChild(const std::string& childName) {
    auto& slot = children[FoldName(childName)];
    if (!slot) {
        slot = std::make_unique<Key>();
        slot->name = childName;
    }
    return slot.get();
}

Value* Key::value(const std::string& valueName) {
    const std::string folded = FoldName(valueName);
    for (Value& v : values)
        if (FoldName(v.name) == folded) return &v;
    return nullptr;
}

bool Key::removeValue(const std::string& valueName) {
    const std::string folded = FoldName(valueName);
    for (auto it = values.begin(); it != values.end(); ++it) {
        if (FoldName(it->name) == folded) {
            values.erase(it);
            return true;
        }
    }
    return false;
}

std::string FoldName(const std::string& name) {
    bool ascii = true;
    for (unsigned char c : name) ascii = ascii && c < 0x80;
    std::string folded = name;
    if (ascii) {
        for (char& c : folded)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return folded;
    }
    // Non-ASCII names fold as Unicode text (names are in the ANSI code page).
    return codepage::FromUtf16(codepage::FoldCase(codepage::ToUtf16(name)));
}

bool IsStorableName(const std::string& name, bool isKeyName) {
    if (name.size() > (isKeyName ? 255u : 16383u)) return false;
    for (char c : name) {
        if (c == '\r' || c == '\n' || c == '\0') return false;
        if (isKeyName && c == '\\') return false;
    }
    return !isKeyName || !name.empty();
}

namespace {

class Parser {
public:
    Parser(const std::string& text, const std::string& rootName) : mText(text), mRootName(rootName) {}

    std::unique_ptr<Key> run(std::string* error) {
        auto root = std::make_unique<Key>();
        root->name = mRootName;
        Key* current = nullptr;
        bool sawHeader = false;
        std::string line;
        while (nextLogicalLine(&line)) {
            if (!mError.empty()) break;
            if (line.empty() || line[0] == ';') continue;
            if (!sawHeader) {
                if (line != "REGEDIT4") {
                    fail("the file does not begin with REGEDIT4");
                    break;
                }
                sawHeader = true;
                continue;
            }
            if (line[0] == '[') {
                current = openKey(root.get(), line);
            } else if (!current) {
                fail("a value appears before any key");
            } else {
                parseValue(current, line);
            }
        }
        if (mError.empty() && !sawHeader) fail("the file does not begin with REGEDIT4");
        if (mError.empty() && !mText.empty() && mText.back() != '\n') fail("the last line is incomplete");
        if (!mError.empty()) {
            *error = "line " + std::to_string(mErrorLine) + ": " + mError;
            return nullptr;
        }
        return root;
    }

private:
    // Joins continuation lines; strips CR and leading blanks of continued lines.
    bool nextLogicalLine(std::string* out) {
        out->clear();
        if (mPos >= mText.size()) return false;
        mLineStart = mLine + 1;
        while (mPos < mText.size()) {
            size_t end = mText.find('\n', mPos);
            const bool lastLine = end == std::string::npos;
            if (lastLine) end = mText.size();
            std::string piece = mText.substr(mPos, end - mPos);
            mPos = lastLine ? end : end + 1;
            ++mLine;
            if (!piece.empty() && piece.back() == '\r') piece.pop_back();
            if (!out->empty()) {
                size_t b = piece.find_first_not_of(" \t");
                piece = b == std::string::npos ? std::string() : piece.substr(b);
            }
            if (mLine == 1 && piece.compare(0, 3, "\xEF\xBB\xBF") == 0) piece.erase(0, 3);
            const bool continues = !piece.empty() && piece.back() == '\\' && isHexLine(*out + piece);
            if (continues) {
                piece.pop_back();
                *out += piece;
                if (mPos >= mText.size()) {
                    fail("hex data continues past the end of the file");
                    return true;
                }
                continue;
            }
            *out += piece;
            return true;
        }
        return true;
    }

    static bool isHexLine(const std::string& line) {
        const size_t eq = line.find("=hex");
        return eq != std::string::npos && line[0] != '[';
    }

    void fail(const std::string& what) {
        if (mError.empty()) {
            mError = what;
            mErrorLine = mLineStart ? mLineStart : 1;
        }
    }

    Key* openKey(Key* root, const std::string& line) {
        const size_t close = line.rfind(']');
        if (close == std::string::npos || close + 1 != line.size()) {
            fail("a key line does not end with ]");
            return nullptr;
        }
        const std::string path = line.substr(1, close - 1);
        if (path.empty() || path[0] == '-') {
            fail("key deletions are not allowed in a registry file");
            return nullptr;
        }
        size_t start = 0;
        Key* key = nullptr;
        bool first = true;
        while (start <= path.size()) {
            size_t end = path.find('\\', start);
            if (end == std::string::npos) end = path.size();
            const std::string part = path.substr(start, end - start);
            if (first) {
                if (FoldName(part) != FoldName(mRootName)) {
                    fail("the key " + path + " is not under " + mRootName);
                    return nullptr;
                }
                key = root;
                first = false;
            } else {
                if (!IsStorableName(part, true)) {
                    fail("the key " + path + " has an empty or invalid name");
                    return nullptr;
                }
                key = key->addChild(part);
            }
            start = end + 1;
        }
        return key;
    }

    // Reads a quoted string starting at line[pos] (the opening quote).
    bool readQuoted(const std::string& line, size_t* pos, std::string* out) {
        out->clear();
        for (size_t i = *pos + 1; i < line.size(); ++i) {
            const char c = line[i];
            if (c == '"') {
                *pos = i + 1;
                return true;
            }
            if (c == '\\') {
                if (i + 1 >= line.size() || (line[i + 1] != '\\' && line[i + 1] != '"')) {
                    fail("a string has an unknown escape");
                    return false;
                }
                out->push_back(line[++i]);
            } else {
                out->push_back(c);
            }
        }
        fail("a string is not closed");
        return false;
    }

    void parseValue(Key* key, const std::string& line) {
        size_t pos = 0;
        std::string name;
        if (line[0] == '@') {
            pos = 1;
        } else if (line[0] == '"') {
            if (!readQuoted(line, &pos, &name)) return;
        } else {
            fail("a line is neither a key nor a value");
            return;
        }
        if (pos >= line.size() || line[pos] != '=') {
            fail("a value name is not followed by =");
            return;
        }
        Value value;
        value.name = name;
        if (!parseData(line.substr(pos + 1), &value)) return;
        if (Value* existing = key->value(name))
            *existing = std::move(value);
        else
            key->values.push_back(std::move(value));
    }

    bool parseData(const std::string& data, Value* value) {
        if (!data.empty() && data[0] == '"') {
            size_t pos = 0;
            std::string text;
            if (!readQuoted(data, &pos, &text)) return false;
            if (pos != data.size()) {
                fail("text follows a string value");
                return false;
            }
            value->type = REG_SZ;
            value->data.assign(text.begin(), text.end());
            value->data.push_back(0);
            return true;
        }
        if (data.compare(0, 6, "dword:") == 0) {
            const std::string digits = data.substr(6);
            uint32_t n = 0;
            if (digits.size() != 8 || !parseHexDigits(digits, &n)) {
                fail("a dword value does not have eight hexadecimal digits");
                return false;
            }
            value->type = REG_DWORD;
            value->data = {static_cast<BYTE>(n), static_cast<BYTE>(n >> 8), static_cast<BYTE>(n >> 16),
                           static_cast<BYTE>(n >> 24)};
            return true;
        }
        size_t colon = data.find(':');
        if (data.compare(0, 3, "hex") != 0 || colon == std::string::npos) {
            fail(data == "-" ? "value deletions are not allowed in a registry file" : "a value has unknown data");
            return false;
        }
        const std::string kind = data.substr(0, colon);
        if (kind == "hex") {
            value->type = REG_BINARY;
        } else if (kind.size() > 5 && kind.compare(0, 4, "hex(") == 0 && kind.back() == ')') {
            uint32_t type = 0;
            if (!parseHexDigits(kind.substr(4, kind.size() - 5), &type)) {
                fail("a hex value has a bad type");
                return false;
            }
            value->type = type;
        } else {
            fail("a value has unknown data");
            return false;
        }
        return parseBytes(data.substr(colon + 1), &value->data);
    }

    static bool parseHexDigits(const std::string& digits, uint32_t* out) {
        if (digits.empty() || digits.size() > 8) return false;
        uint32_t n = 0;
        for (char c : digits) {
            int h;
            if (c >= '0' && c <= '9')
                h = c - '0';
            else if (c >= 'a' && c <= 'f')
                h = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                h = c - 'A' + 10;
            else
                return false;
            n = (n << 4) | static_cast<uint32_t>(h);
        }
        *out = n;
        return true;
    }

    bool parseBytes(const std::string& list, std::vector<BYTE>* out) {
        out->clear();
        if (list.empty()) return true;
        size_t start = 0;
        while (true) {
            size_t end = list.find(',', start);
            std::string item = list.substr(start, end == std::string::npos ? std::string::npos : end - start);
            while (!item.empty() && (item.back() == ' ' || item.back() == '\t')) item.pop_back();
            uint32_t byte = 0;
            if (item.size() != 2 || !parseHexDigits(item, &byte)) {
                fail("hex data holds something other than two-digit bytes");
                return false;
            }
            out->push_back(static_cast<BYTE>(byte));
            if (end == std::string::npos) return true;
            start = end + 1;
        }
    }

    const std::string& mText;
    std::string mRootName;
    size_t mPos = 0;
    size_t mLine = 0;
    size_t mLineStart = 0;
    std::string mError;
    size_t mErrorLine = 0;
};

std::string Quote(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

// A REG_SZ that reads back unchanged from a quoted string.
bool IsPlainString(const Value& v) {
    if (v.type != REG_SZ || v.data.empty() || v.data.back() != 0) return false;
    for (size_t i = 0; i + 1 < v.data.size(); ++i)
        if (v.data[i] == 0 || v.data[i] == '\r' || v.data[i] == '\n') return false;
    return true;
}

std::string FormatBytes(const std::string& prefix, const std::vector<BYTE>& data) {
    std::string out = prefix;
    size_t column = out.size();
    char byte[4];
    for (size_t i = 0; i < data.size(); ++i) {
        std::snprintf(byte, sizeof byte, "%02x", data[i]);
        out += byte;
        column += 2;
        if (i + 1 < data.size()) {
            out += ',';
            ++column;
            if (column > 76) {
                out += "\\\n  ";
                column = 2;
            }
        }
    }
    return out;
}

void FormatValue(const Value& v, std::string* out) {
    std::string line = v.name.empty() ? "@=" : Quote(v.name) + "=";
    if (IsPlainString(v)) {
        line += Quote(std::string(v.data.begin(), v.data.end() - 1));
    } else if (v.type == REG_DWORD && v.data.size() == 4) {
        char text[16];
        const uint32_t n = v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) | (static_cast<uint32_t>(v.data[3]) << 24);
        std::snprintf(text, sizeof text, "dword:%08x", n);
        line += text;
    } else if (v.type == REG_BINARY) {
        line = FormatBytes(line + "hex:", v.data);
    } else {
        char kind[24];
        std::snprintf(kind, sizeof kind, "hex(%x):", v.type);
        line = FormatBytes(line + kind, v.data);
    }
    *out += line;
    *out += '\n';
}

void FormatKey(const Key& key, const std::string& path, bool isRoot, std::string* out) {
    if (!isRoot || !key.values.empty()) {
        *out += "\n[" + path + "]\n";
        for (const Value& v : key.values) FormatValue(v, out);
    }
    for (const auto& [folded, child] : key.children) FormatKey(*child, path + "\\" + child->name, false, out);
}

}  // namespace

std::unique_ptr<Key> ParseRegFile(const std::string& text, const std::string& rootName, std::string* error) {
    Parser parser(text, rootName);
    return parser.run(error);
}

std::string FormatRegFile(const Key& root, const std::string& rootName) {
    std::string out = "REGEDIT4\n";
    FormatKey(root, rootName, true, &out);
    out += '\n';
    return out;
}

}  // namespace platform::registry
