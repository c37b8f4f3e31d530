#include "script/VBScriptProgram.h"

#include <cstdio>
#include <exception>
#include <thread>

#include "script/ProgramText.h"
#include "vbscript/CompileError.h"
#include "vbscript/Parser.h"
#include "vbscript/RuntimeError.h"

namespace script {

namespace {

// Text as a VBScript expression: a string literal, its line ends joined
// in as the language's constants (a literal cannot hold them).
std::string TextExpression(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"')
            out += "\"\"";
        else if (c == '\r')
            out += "\" & vbCr & \"";
        else if (c == '\n')
            out += "\" & vbLf & \"";
        else
            out += c;
    }
    return out + "\"";
}

// The parser recurses as the program nests; a worker's stack (about 100 KB)
// would bound pages at some 20 nested brackets. Pages are compiled once,
// on a thread with a stack of the usual size.
std::shared_ptr<const vbs::Program> CompiledOnItsOwnThread(const std::string& text) {
    std::shared_ptr<const vbs::Program> compiled;
    std::exception_ptr failure;
    std::thread([&] {
        try {
            compiled = vbs::Compile(text);
        } catch (...) {
            failure = std::current_exception();
        }
    }).join();
    if (failure) std::rethrow_exception(failure);
    return compiled;
}

}  // namespace

CompiledPage VBScriptProgram(const PageParts& parts, const std::string& thenCall) {
    ProgramText program(parts);
    for (const PageBlock& block : parts.blocks) {
        switch (block.kind) {
            case PageBlock::Kind::Text:
                if (block.end > block.begin) program.made("Response.Write " + TextExpression(parts.of(block)));
                program.newline(block.end);
                break;
            case PageBlock::Kind::Expression:
                program.made("Response.Write(");
                program.code(block.begin, block.end);
                program.made(")");
                program.newline(block.end + 2);
                break;
            case PageBlock::Kind::Code:
                program.code(block.begin, block.end);
                program.newline(block.end + 2);
                break;
            case PageBlock::Kind::ServerScript:
                program.newline(block.begin);
                program.code(block.begin, block.end);
                break;
        }
    }
    CompiledPage page = program.take();
    try {
        page.vbscript = CompiledOnItsOwnThread(page.program);
    } catch (const vbs::CompileError& error) {
        char code[16];
        std::snprintf(code, sizeof code, "%08X", static_cast<unsigned>(vbs::ErrorHResult(error.number)));
        throw PageError(page.origin(error.line), "VBScript compilation error " + std::to_string(error.number) + " (0x" +
                                                     code + "): " + error.what());
    }
    page.thenCall = thenCall;
    return page;
}

}  // namespace script
