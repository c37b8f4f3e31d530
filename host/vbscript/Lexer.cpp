#include "vbscript/Lexer.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "vbscript/CompileError.h"
#include "vbscript/DateValues.h"

namespace vbs {

namespace {

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsNameChar(char c) { return IsLetter(c) || IsDigit(c) || c == '_'; }
char ToLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
bool IsRadixDigit(char c) { return IsDigit(c) || (ToLower(c) >= 'a' && ToLower(c) <= 'f'); }

class Lexer {
public:
    explicit Lexer(std::string_view source) : mSource(source) {}

    std::vector<Token> run() {
        while (mPos < mSource.size()) next();
        Token end;
        end.kind = TokenKind::End;
        end.line = mLine;
        mTokens.push_back(end);
        return std::move(mTokens);
    }

private:
    char at(size_t offset = 0) const { return mPos + offset < mSource.size() ? mSource[mPos + offset] : '\0'; }

    void emit(TokenKind kind, std::string text, double number = 0) {
        Token token;
        token.kind = kind;
        token.line = mLine;
        token.spaceBefore = mSpaceBefore;
        token.number = number;
        if (kind == TokenKind::Name)
            for (char c : text) token.lower += ToLower(c);
        token.text = std::move(text);
        mTokens.push_back(std::move(token));
        mSpaceBefore = false;
    }

    void next() {
        const char c = at();
        if (c == ' ' || c == '\t' || c == '\f' || c == '\v' || c == '\0') {
            ++mPos;
            mSpaceBefore = true;
        } else if (c == '\r' || c == '\n') {
            emit(TokenKind::LineEnd, "\n");
            mPos += (c == '\r' && at(1) == '\n') ? 2 : 1;
            ++mLine;
            mSpaceBefore = false;
        } else if (c == '_') {
            continuation();
        } else if (c == ':') {
            emit(TokenKind::Colon, ":");
            ++mPos;
        } else if (c == '\'') {
            skipComment();
        } else if (IsLetter(c)) {
            name();
        } else if (c == '[') {
            bracketName();
        } else if (IsDigit(c) || (c == '.' && IsDigit(at(1)))) {
            number();
        } else if (c == '"') {
            string();
        } else if (c == '#') {
            date();
        } else if (c == '&' && (ToLower(at(1)) == 'h' || ToLower(at(1)) == 'o') && IsRadixDigit(at(2))) {
            radixNumber();
        } else {
            symbol();
        }
    }

    // " _" at the end of a line joins the next line to it.
    void continuation() {
        size_t end = mPos + 1;
        while (end < mSource.size() && (mSource[end] == ' ' || mSource[end] == '\t')) ++end;
        if (end < mSource.size() && mSource[end] != '\r' && mSource[end] != '\n')
            throw CompileError(kInvalidCharacter, mLine);
        if (end < mSource.size() && mSource[end] == '\r') ++end;
        if (end < mSource.size() && mSource[end] == '\n') ++end;
        mPos = end;
        ++mLine;
        mSpaceBefore = true;
    }

    void skipComment() {
        while (mPos < mSource.size() && mSource[mPos] != '\r' && mSource[mPos] != '\n') ++mPos;
    }

    void name() {
        const size_t start = mPos;
        while (IsNameChar(at())) ++mPos;
        std::string text(mSource.substr(start, mPos - start));
        if (text.size() > 255) throw CompileError(kSyntaxError, mLine);
        if (text.size() == 3 && ToLower(text[0]) == 'r' && ToLower(text[1]) == 'e' && ToLower(text[2]) == 'm') {
            skipComment();
            return;
        }
        emit(TokenKind::Name, std::move(text));
    }

    void bracketName() {
        const size_t start = ++mPos;
        while (at() != ']' && at() != '\r' && at() != '\n' && mPos < mSource.size()) ++mPos;
        if (at() != ']') throw CompileError(kExpectedIdentifier, mLine);
        std::string text(mSource.substr(start, mPos - start));
        ++mPos;
        emit(TokenKind::Name, std::move(text));
    }

    void number() {
        const size_t start = mPos;
        bool real = false;
        while (IsDigit(at())) ++mPos;
        if (at() == '.') {
            real = true;
            ++mPos;
            while (IsDigit(at())) ++mPos;
        }
        if (ToLower(at()) == 'e' && (IsDigit(at(1)) || ((at(1) == '+' || at(1) == '-') && IsDigit(at(2))))) {
            real = true;
            mPos += 2;
            while (IsDigit(at())) ++mPos;
        }
        if (IsNameChar(at())) throw CompileError(kExpectedEndOfStatement, mLine);
        const std::string text(mSource.substr(start, mPos - start));
        const double value = std::strtod(text.c_str(), nullptr);
        if (!std::isfinite(value)) throw CompileError(kInvalidNumber, mLine);
        emit(real ? TokenKind::Real : TokenKind::Integer, text, value);
    }

    // &Hff and &O17: Integer when they fit 16 bits, else Long (a trailing
    // & makes Long); their bits are signed, &HFFFF being -1. A bare & before
    // digits is the operator ("a"&1), not an octal number.
    void radixNumber() {
        const size_t start = mPos;
        ++mPos;
        const int base = ToLower(at()) == 'h' ? 16 : 8;
        ++mPos;
        uint64_t value = 0;
        int digits = 0;
        for (;; ++mPos, ++digits) {
            const char c = ToLower(at());
            int digit = IsDigit(c) ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : 99;
            if (digit >= base) break;
            value = value * base + digit;
            if (value > 0xFFFFFFFFull) throw CompileError(kInvalidNumber, mLine);
        }
        if (digits == 0) throw CompileError(kSyntaxError, mLine);
        bool isLong = value > 0xFFFF;
        if (at() == '&') isLong = true, ++mPos;
        const double signedValue = isLong ? static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(value)))
                                          : static_cast<double>(static_cast<int16_t>(static_cast<uint16_t>(value)));
        emit(TokenKind::Integer, std::string(mSource.substr(start, mPos - start)), signedValue);
        if (isLong) mTokens.back().text += "&";  // the parser keeps a Long a Long
    }

    void string() {
        std::string text;
        ++mPos;
        for (;;) {
            if (mPos >= mSource.size() || at() == '\r' || at() == '\n') throw CompileError(kUnterminatedString, mLine);
            if (at() == '"') {
                if (at(1) != '"') break;
                ++mPos;
            }
            text += at();
            ++mPos;
        }
        ++mPos;
        emit(TokenKind::String, std::move(text));
    }

    void date() {
        const size_t start = ++mPos;
        while (mPos < mSource.size() && at() != '#' && at() != '\r' && at() != '\n') ++mPos;
        if (at() != '#') throw CompileError(kSyntaxError, mLine);
        double value = 0;
        if (!ParseDateText(mSource.substr(start, mPos - start), &value)) throw CompileError(kSyntaxError, mLine);
        ++mPos;
        emit(TokenKind::Date, std::string(mSource.substr(start - 1, mPos - start + 1)), value);
    }

    void symbol() {
        const char c = at();
        const char n = at(1);
        if ((c == '<' && (n == '>' || n == '=')) || (c == '>' && n == '=')) {
            emit(TokenKind::Symbol, std::string{c, n});
            mPos += 2;
            return;
        }
        static const std::string_view kSingles = "()+-*/\\^&=<>,.";
        if (kSingles.find(c) == std::string_view::npos) throw CompileError(kInvalidCharacter, mLine);
        emit(TokenKind::Symbol, std::string(1, c));
        ++mPos;
    }

    std::string_view mSource;
    size_t mPos = 0;
    int mLine = 1;
    bool mSpaceBefore = false;
    std::vector<Token> mTokens;
};

}  // namespace

std::vector<Token> Tokenize(std::string_view source) { return Lexer(source).run(); }

}  // namespace vbs
