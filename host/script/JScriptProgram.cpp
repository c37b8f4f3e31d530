#include "script/JScriptProgram.h"

#include <algorithm>
#include <cctype>

#include "core/HttpText.h"
#include "script/ProgramText.h"

namespace script {

namespace {

// Which bytes of page code are code, not strings or comments.
std::vector<bool> CodeMask(const std::string& code) {
    std::vector<bool> isCode(code.size(), true);
    for (size_t i = 0; i < code.size(); ++i) {
        const char c = code[i];
        size_t end = i;
        if (c == '"' || c == '\'') {
            end = i + 1;
            while (end < code.size() && code[end] != c && code[end] != '\n') end += code[end] == '\\' ? 2 : 1;
        } else if (c == '/' && i + 1 < code.size() && code[i + 1] == '/') {
            end = code.find('\n', i);
            if (end == std::string::npos) end = code.size();
            --end;
        } else if (c == '/' && i + 1 < code.size() && code[i + 1] == '*') {
            end = code.find("*/", i + 2);
            end = end == std::string::npos ? code.size() - 1 : end + 1;
        } else {
            continue;
        }
        end = std::min(end, code.size() - 1);
        for (size_t k = i; k <= end; ++k) isCode[k] = false;
        i = end;
    }
    return isCode;
}

bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' || c == '.'; }

// The '(' that the ')' at `close` closes; npos when there is none.
size_t MatchingOpen(const std::string& code, const std::vector<bool>& isCode, size_t close) {
    int depth = 0;
    for (size_t i = close + 1; i-- > 0;) {
        if (!isCode[i]) continue;
        if (code[i] == ')')
            ++depth;
        else if (code[i] == '(' && --depth == 0)
            return i;
    }
    return std::string::npos;
}

}  // namespace

// Assignments to a call, as pages write them for objects' default members
// (Session("visits") = 1, Response.Cookies("name") = "value"), which the
// language itself refuses, become calls that write the member:
// __assignToCall(Session, ["visits"], 1). The statement keeps its lines.
std::string RewriteCallAssignments(std::string code) {
    const std::vector<bool> isCode = CodeMask(code);
    std::vector<size_t> open;
    struct Assignment {
        size_t callee, argsOpen, argsClose, equals, end;
    };
    std::vector<Assignment> found;
    for (size_t i = 0; i < code.size(); ++i) {
        if (!isCode[i]) continue;
        if (code[i] == '(') open.push_back(i);
        if (code[i] != ')' || open.empty()) continue;
        const size_t argsOpen = open.back();
        open.pop_back();
        size_t eq = code.find_first_not_of(" \t", i + 1);
        if (eq == std::string::npos || code[eq] != '=' ||
            (eq + 1 < code.size() && (code[eq + 1] == '=' || code[eq + 1] == '>')))
            continue;
        size_t calleeEnd = argsOpen;
        while (calleeEnd > 0 && (code[calleeEnd - 1] == ' ' || code[calleeEnd - 1] == '\t')) --calleeEnd;
        // The callee is a name (Session, Response.Cookies) or a call of one
        // (Response.Cookies("prefs") in Response.Cookies("prefs")("color") = v).
        size_t callee = calleeEnd;
        while (callee > 0 && isCode[callee - 1]) {
            if (IsNameChar(code[callee - 1])) {
                --callee;
            } else if (code[callee - 1] == ')') {
                const size_t opening = MatchingOpen(code, isCode, callee - 1);
                if (opening == std::string::npos) break;
                callee = opening;
            } else {
                break;
            }
        }
        if (callee == calleeEnd || std::isdigit(static_cast<unsigned char>(code[callee])) || code[callee] == '.')
            continue;
        size_t before = callee;
        while (before > 0 && (code[before - 1] == ' ' || code[before - 1] == '\t')) --before;
        if (before > 0 && std::string(";{}\n\r)").find(code[before - 1]) == std::string::npos) continue;
        // The value runs to the statement's end: ';', a line end or a '}' outside brackets.
        int depth = 0;
        size_t end = eq + 1;
        for (; end < code.size(); ++end) {
            if (!isCode[end]) continue;
            const char c = code[end];
            if (c == '(' || c == '[' || c == '{')
                ++depth;
            else if ((c == ')' || c == ']' || c == '}') && depth-- == 0)
                break;
            else if (depth == 0 && (c == ';' || c == '\n'))
                break;
        }
        found.push_back({callee, argsOpen, i, eq, end});
    }
    size_t limit = code.size();
    for (auto it = found.rbegin(); it != found.rend(); ++it) {
        if (it->end > limit) continue;
        const std::string rewritten = "__assignToCall(" + code.substr(it->callee, it->argsOpen - it->callee) + ", [" +
                                      code.substr(it->argsOpen + 1, it->argsClose - it->argsOpen - 1) + "], " +
                                      code.substr(it->equals + 1, it->end - it->equals - 1) + ")";
        code.replace(it->callee, it->end - it->callee, rewritten);
        limit = it->callee;
    }
    return code;
}

CompiledPage JScriptProgram(const PageParts& parts, const std::string& thenCall) {
    ProgramText program(parts);
    for (const PageBlock& block : parts.blocks) {
        switch (block.kind) {
            case PageBlock::Kind::Text:
                // Written as it stands, on one line of the program.
                program.made("Response.Write(" + JsonString(std::string(parts.of(block))) + ");");
                program.newline(block.end);
                break;
            case PageBlock::Kind::Expression:
                // The expression's own line ends stay; the call closes on a line
                // of its own, so that a comment at the end cannot swallow it.
                program.made("Response.Write(");
                program.code(block.begin, block.end);
                program.newline(block.end);
                program.made(");");
                program.newline(block.end + 2);
                break;
            case PageBlock::Kind::Code:
                program.rewritten(block.begin, block.end,
                                  RewriteCallAssignments(parts.text.substr(block.begin, block.end - block.begin)));
                program.newline(block.end + 2);
                break;
            case PageBlock::Kind::ServerScript:
                program.newline(block.begin);
                program.rewritten(block.begin, block.end,
                                  RewriteCallAssignments(parts.text.substr(block.begin, block.end - block.begin)));
                break;
        }
    }
    if (!thenCall.empty()) {
        program.newline(parts.text.size());
        program.made("if (typeof " + thenCall + " == \"function\") " + thenCall + "();");
    }
    return program.take();
}

}  // namespace script
