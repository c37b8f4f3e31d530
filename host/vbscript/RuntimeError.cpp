#include "vbscript/RuntimeError.h"

namespace vbs {

const char* RuntimeErrorText(int32_t number) {
    switch (number) {
        case kInvalidCall:
            return "Invalid procedure call or argument";
        case kOverflow:
            return "Overflow";
        case kOutOfMemory:
            return "Out of memory";
        case kSubscriptOutOfRange:
            return "Subscript out of range";
        case kArrayFixed:
            return "This array is fixed or temporarily locked";
        case kDivisionByZero:
            return "Division by zero";
        case kTypeMismatch:
            return "Type mismatch";
        case kOutOfStringSpace:
            return "Out of string space";
        case kOutOfStack:
            return "Out of stack space";
        case kSubNotDefined:
            return "Sub or Function not defined";
        case 48:
            return "Error in loading DLL";
        case 51:
            return "Internal error";
        case 52:
            return "Bad file name or number";
        case 53:
            return "File not found";
        case 54:
            return "Bad file mode";
        case 55:
            return "File already open";
        case 57:
            return "Device I/O error";
        case 58:
            return "File already exists";
        case 61:
            return "Disk full";
        case 62:
            return "Input past end of file";
        case 67:
            return "Too many files";
        case 68:
            return "Device unavailable";
        case 70:
            return "Permission denied";
        case 71:
            return "Disk not ready";
        case 74:
            return "Can't rename with different drive";
        case 75:
            return "Path/File access error";
        case 76:
            return "Path not found";
        case kObjectNotSet:
            return "Object variable not set";
        case 92:
            return "For loop not initialized";
        case kInvalidUseOfNull:
            return "Invalid use of Null";
        case 322:
            return "Can't create necessary temporary file";
        case kObjectRequired:
            return "Object required";
        case kCannotCreateObject:
            return "ActiveX component can't create object";
        case 430:
            return "Class doesn't support Automation";
        case 432:
            return "File name or class name not found during Automation operation";
        case kNoSuchMember:
            return "Object doesn't support this property or method";
        case 440:
            return "Automation error";
        case kNoSuchAction:
            return "Object doesn't support this action";
        case 446:
            return "Object doesn't support named arguments";
        case 447:
            return "Object doesn't support current locale setting";
        case kNamedArgumentNotFound:
            return "Named argument not found";
        case kArgumentNotOptional:
            return "Argument not optional";
        case kWrongArguments:
            return "Wrong number of arguments or invalid property assignment";
        case kNotACollection:
            return "Object not a collection";
        case 453:
            return "Specified DLL function not found";
        case 455:
            return "Code resource lock error";
        case kDuplicateKey:
            return "This key is already associated with an element of this collection";
        case 458:
            return "Variable uses an Automation type not supported in VBScript";
        case 462:
            return "The remote server machine does not exist or is unavailable";
        case 481:
            return "Invalid picture";
        case kUndefinedVariable:
            return "Variable is undefined";
        case kIllegalAssignment:
            return "Illegal assignment";
        case 502:
            return "Object not safe for scripting";
        case 503:
            return "Object not safe for initializing";
        case 504:
            return "Object not safe for creating";
        case 505:
            return "Invalid or unqualified reference";
        case 506:
            return "Class not defined";
        case 507:
            return "An exception occurred";
        case 5008:
            return "Illegal assignment";
        case 5017:
            return "Syntax error in regular expression";
        case 5018:
            return "Unexpected quantifier";
        case 5019:
            return "Expected ']' in regular expression";
        case 5020:
            return "Expected ')' in regular expression";
        case 5021:
            return "Invalid range in character set";
        case 32811:
            return "Element not found";
        default:
            return "";
    }
}

namespace {
std::string TextOf(int32_t number, const std::string& detail) {
    std::string text = RuntimeErrorText(number);
    if (text.empty()) text = "Unknown runtime error";
    if (!detail.empty()) text += ": '" + detail + "'";
    return text;
}
}  // namespace

RuntimeError::RuntimeError(int32_t number, const std::string& detail)
    : std::runtime_error(TextOf(number, detail)), number(number), description(TextOf(number, detail)) {}

RuntimeError::RuntimeError(int32_t number, std::string description, std::string source)
    : std::runtime_error(description), number(number), description(std::move(description)), source(std::move(source)) {}

void CheckTextLength(size_t length) {
    if (length > kMaxTextLength) throw RuntimeError(kOutOfStringSpace);
}

int32_t ErrorHResult(int32_t number) {
    if (number < 0) return number;
    return static_cast<int32_t>(0x800A0000u | (static_cast<uint32_t>(number) & 0xFFFF));
}

}  // namespace vbs
