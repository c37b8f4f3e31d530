// A page's VBScript that cannot be compiled: the language's compile error
// number (1002 "Syntax error", 1025 "Expected end of statement", ...) and
// the program line where it was found.
#pragma once

#include <stdexcept>
#include <string>

namespace vbs {

enum CompileCode {
    kSyntaxError = 1002,
    kExpectedOpenParen = 1005,
    kExpectedCloseParen = 1006,
    kExpectedIdentifier = 1010,
    kExpectedEquals = 1011,
    kExpectedIf = 1012,
    kExpectedTo = 1013,
    kExpectedEnd = 1014,
    kExpectedFunction = 1015,
    kExpectedSub = 1016,
    kExpectedThen = 1017,
    kExpectedWend = 1018,
    kExpectedLoop = 1019,
    kExpectedNext = 1020,
    kExpectedCase = 1021,
    kExpectedSelect = 1022,
    kExpectedExpression = 1023,
    kExpectedStatement = 1024,
    kExpectedEndOfStatement = 1025,
    kExpectedInteger = 1026,
    kExpectedWhileOrUntil = 1027,
    kInvalidNumber = 1031,
    kInvalidCharacter = 1032,
    kUnterminatedString = 1033,
    kLoopWithoutDo = 1038,
    kInvalidExit = 1039,
    kInvalidForVariable = 1040,
    kNameRedefined = 1041,
    kParenthesesCallingSub = 1044,
    kExpectedLiteral = 1045,
    kExpectedIn = 1046,
    kUnexpectedNext = 1055,
};

// The reference's text of a compile error number.
const char* CompileErrorText(int number);

struct CompileError : std::runtime_error {
    CompileError(int number, int line) : std::runtime_error(CompileErrorText(number)), number(number), line(line) {}
    // A syntax error with a text of our own: what the language has and this
    // engine does not run yet.
    CompileError(int line, const std::string& text) : std::runtime_error(text), number(kSyntaxError), line(line) {}
    int number;
    int line;  // of the program, from 1
};

}  // namespace vbs
