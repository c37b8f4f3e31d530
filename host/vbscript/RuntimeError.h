// The errors a running VBScript program raises: the reference's run-time
// error numbers and texts (13 "Type mismatch", 424 "Object required", ...)
// and the failures of COM objects, whose number is their HRESULT. What Err
// shows of them, and what the page's error report shows.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace vbs {

enum RuntimeCode {
    kInvalidCall = 5,
    kOverflow = 6,
    kOutOfMemory = 7,
    kSubscriptOutOfRange = 9,
    kArrayFixed = 10,
    kDivisionByZero = 11,
    kTypeMismatch = 13,
    kOutOfStringSpace = 14,
    kOutOfStack = 28,
    kSubNotDefined = 35,
    kObjectNotSet = 91,
    kInvalidUseOfNull = 94,
    kObjectRequired = 424,
    kCannotCreateObject = 429,
    kNoSuchMember = 438,
    kNoSuchAction = 445,
    kNamedArgumentNotFound = 448,
    kArgumentNotOptional = 449,
    kWrongArguments = 450,
    kNotACollection = 451,
    kDuplicateKey = 457,
    kUndefinedVariable = 500,
    kIllegalAssignment = 501,
};

// The reference's text of a run-time error number; "" for numbers it has none for.
const char* RuntimeErrorText(int32_t number);

struct RuntimeError : std::runtime_error {
    // A language error, its text followed by `detail` (a name) when given:
    // "Variable is undefined: 'x'".
    explicit RuntimeError(int32_t number, const std::string& detail = "");
    // An error with its own text and source (Err.Raise, a COM failure).
    RuntimeError(int32_t number, std::string description, std::string source);

    int32_t number;
    std::string description;
    std::string source;
    int line = 0;  // of the program; set where the statement that raised it stood
};

// The page's program stopped from outside (ScriptTimeout, Response.End):
// no On Error handler sees it.
struct ProgramStopped {};

// A text holds at most this many characters (14 "Out of string space"
// beyond), so that no page takes a worker's memory with one string.
constexpr size_t kMaxTextLength = size_t{1} << 26;

// Throws 14 when a text of `length` characters would be too long.
void CheckTextLength(size_t length);

// The HRESULT Err.Number stands for: its own when it is one, else the
// language's facility (0x800A0000 | number).
int32_t ErrorHResult(int32_t number);

}  // namespace vbs
