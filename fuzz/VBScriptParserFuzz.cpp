// Any bytes given to the VBScript lexer and parser end in a program or in
// a compile error with the reference's number and a line of the input.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "vbscript/CompileError.h"
#include "vbscript/Parser.h"

// fuzz/run.sh builds a target from its own file and the platform's
// sources: the parser's sources come in here (the replay test links no
// library of them).
// NOLINTBEGIN(bugprone-suspicious-include)
#include "vbscript/CompileError.cpp"
#include "vbscript/Constants.cpp"
#include "vbscript/DateValues.cpp"
#include "vbscript/Lexer.cpp"
#include "vbscript/Parser.cpp"
#include "vbscript/ParserExpressions.cpp"
#include "core/StackRoom.cpp"
// NOLINTEND(bugprone-suspicious-include)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view source(reinterpret_cast<const char*>(data), size);
    int lines = 1;
    for (char c : source) lines += c == '\n' || c == '\r';
    try {
        if (!vbs::Compile(source)) std::abort();
    } catch (const vbs::CompileError& error) {
        if (error.number < 1001 || error.number > 1058 || error.line < 1 || error.line > lines) std::abort();
        if (std::string_view(error.what()).empty()) std::abort();
    }
    return 0;
}
