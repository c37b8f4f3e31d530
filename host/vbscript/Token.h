// One token of VBScript source, with the program line it stands on.
#pragma once

#include <string>

namespace vbs {

enum class TokenKind {
    Name,     // an identifier or keyword; `lower` tells which
    Integer,  // a whole number literal: Integer, Long or (too large) Double
    Real,     // a number literal with a point or an exponent
    String,   // "text", its doubled quotes made single
    Date,     // #1/2/2003#
    Symbol,   // an operator or punctuation: ( ) , . = <> <= >= < > + - * / \ ^ &
    LineEnd,  // the end of a line
    Colon,    // ':' between statements of one line
    End,      // the end of the program
};

struct Token {
    TokenKind kind = TokenKind::End;
    std::string text;          // as written (the symbol, the name, the string's contents as UTF-8)
    std::string lower;         // a name in lower case
    double number = 0;         // a number's or date's value
    int line = 1;              // of the program, from 1
    bool spaceBefore = false;  // whitespace separates it from the token before

    bool is(const char* symbol) const { return kind == TokenKind::Symbol && text == symbol; }
    bool isName(const char* lowerName) const { return kind == TokenKind::Name && lower == lowerName; }
    bool endsStatement() const {
        return kind == TokenKind::LineEnd || kind == TokenKind::Colon || kind == TokenKind::End;
    }
};

}  // namespace vbs
