#include "vbscript/CompileError.h"

namespace vbs {

const char* CompileErrorText(int number) {
    switch (number) {
        case kSyntaxError:
            return "Syntax error";
        case kExpectedOpenParen:
            return "Expected '('";
        case kExpectedCloseParen:
            return "Expected ')'";
        case kExpectedIdentifier:
            return "Expected identifier";
        case kExpectedEquals:
            return "Expected '='";
        case kExpectedIf:
            return "Expected 'If'";
        case kExpectedTo:
            return "Expected 'To'";
        case kExpectedEnd:
            return "Expected 'End'";
        case kExpectedFunction:
            return "Expected 'Function'";
        case kExpectedSub:
            return "Expected 'Sub'";
        case kExpectedThen:
            return "Expected 'Then'";
        case kExpectedWend:
            return "Expected 'Wend'";
        case kExpectedLoop:
            return "Expected 'Loop'";
        case kExpectedNext:
            return "Expected 'Next'";
        case kExpectedCase:
            return "Expected 'Case'";
        case kExpectedSelect:
            return "Expected 'Select'";
        case kExpectedExpression:
            return "Expected expression";
        case kExpectedStatement:
            return "Expected statement";
        case kExpectedEndOfStatement:
            return "Expected end of statement";
        case kExpectedInteger:
            return "Expected integer constant";
        case kExpectedWhileOrUntil:
            return "Expected 'While', 'Until' or end of statement";
        case kInvalidNumber:
            return "Invalid number";
        case kInvalidCharacter:
            return "Invalid character";
        case kUnterminatedString:
            return "Unterminated string constant";
        case kLoopWithoutDo:
            return "'loop' without 'do'";
        case kInvalidExit:
            return "Invalid 'exit' statement";
        case kInvalidForVariable:
            return "Invalid 'for' loop control variable";
        case kNameRedefined:
            return "Name redefined";
        case kParenthesesCallingSub:
            return "Cannot use parentheses when calling a Sub";
        case kExpectedLiteral:
            return "Expected literal constant";
        case kExpectedIn:
            return "Expected 'In'";
        case kUnexpectedNext:
            return "Unexpected 'Next'";
        default:
            return "Syntax error";
    }
}

}  // namespace vbs
