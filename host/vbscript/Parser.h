// VBScript tokens parsed into a Program: statements and expressions with
// their lines, procedures gathered by name. A program that breaks the
// language's grammar throws CompileError with the reference's number and
// the line; any input ends in a Program or a CompileError.
#pragma once

#include <string_view>
#include <vector>

#include "vbscript/Ast.h"
#include "vbscript/Token.h"

namespace vbs {

// Tokenizes and parses `source`. Throws CompileError.
std::shared_ptr<const Program> Compile(std::string_view source);

class Parser {
public:
    explicit Parser(std::vector<Token> tokens) : mTokens(std::move(tokens)) {}
    std::shared_ptr<Program> parse();

private:
    // Statements (Parser.cpp).
    using Stop = bool (Parser::*)() const;
    Block block(Stop stop);
    StmtPtr statement();
    void statementsOfLine(Block* into, bool stopAtElse);
    StmtPtr dim(bool redim);
    StmtPtr erase();
    StmtPtr constant();
    StmtPtr ifStatement();
    StmtPtr selectStatement();
    StmtPtr forStatement();
    StmtPtr doStatement();
    StmtPtr whileStatement();
    StmtPtr exitStatement();
    StmtPtr onError();
    StmtPtr setStatement();
    StmtPtr callStatement();
    StmtPtr assignOrCall();
    void procedure(bool isFunction);
    std::vector<Parameter> parameters();
    void endOfStatement();
    void expectEnd(const char* what, int code);
    bool atEndIf() const;
    bool atElseOrEndIf() const;
    bool atCaseOrEndSelect() const;
    bool atNext() const;
    bool atLoop() const;
    bool atWend() const;
    bool atEndFunction() const;
    bool atEndSub() const;
    bool atProgramEnd() const;

    // Expressions (ParserExpressions.cpp).
    ExprPtr expression();
    ExprPtr binaryLevel(int level);
    ExprPtr negation();
    ExprPtr power();
    ExprPtr powerOperand();
    ExprPtr postfix();
    ExprPtr primary();
    std::vector<ExprPtr> arguments();      // after '(' up to and with ')'
    std::vector<ExprPtr> bareArguments();  // a Sub's arguments without parentheses
    ExprPtr literal(Value value, int line);

    // Tokens.
    const Token& peek(size_t ahead = 0) const { return mTokens[std::min(mPos + ahead, mTokens.size() - 1)]; }
    const Token& take() { return mTokens[mPos < mTokens.size() - 1 ? mPos++ : mPos]; }
    bool takeName(const char* lowerName);
    bool takeSymbol(const char* symbol);
    void expectName(const char* lowerName, int code);
    void expectSymbol(const char* symbol, int code);
    std::string identifier(std::string* written = nullptr);
    [[noreturn]] void fail(int code) const;

    std::vector<Token> mTokens;
    size_t mPos = 0;
    std::shared_ptr<Program> mProgram;
    // What Exit may leave here.
    int mLoopsDo = 0, mLoopsFor = 0;
    Procedure* mProcedure = nullptr;
    int mNesting = 0;
    // How deep expressions and blocks nest: bounded, so that no input
    // exhausts the stack of the parser or of the interpreter after it.
    int mDepth = 0;
    static constexpr int kMaxDepth = 200;
    struct Deeper {
        explicit Deeper(Parser& parser);
        ~Deeper() { --mParser.mDepth; }
        Parser& mParser;
    };  // blocks the parser is inside: procedures are declared outside any
};

// Whether a lower-case name is a keyword that cannot name a variable.
bool IsReserved(const std::string& lowerName);

}  // namespace vbs
