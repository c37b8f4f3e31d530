// Statements: declarations, assignments, calls, the blocks of If, Select,
// For, Do and While, procedures.
#include "vbscript/Parser.h"

#include <set>

#include "vbscript/CompileError.h"
#include "vbscript/Lexer.h"
#include "core/StackRoom.h"

namespace vbs {

std::shared_ptr<const Program> Compile(std::string_view source) { return Parser(Tokenize(source)).parse(); }

bool IsReserved(const std::string& lowerName) {
    static const std::set<std::string> kReserved = {
        "and",  "byref",   "byval", "call", "case",   "class", "const",   "dim",    "do",    "each",
        "else", "elseif",  "empty", "end",  "eqv",    "erase", "exit",    "false",  "for",   "function",
        "if",   "imp",     "in",    "is",   "let",    "loop",  "me",      "mod",    "new",   "next",
        "not",  "nothing", "null",  "on",   "option", "or",    "private", "public", "redim", "select",
        "set",  "sub",     "then",  "to",   "true",   "until", "wend",    "while",  "with",  "xor"};
    return kReserved.count(lowerName) > 0;
}

std::shared_ptr<Program> Parser::parse() {
    mProgram = std::make_shared<Program>();
    mProgram->body = block(&Parser::atProgramEnd);
    return mProgram;
}

Parser::Deeper::Deeper(Parser& parser) : mParser(parser) {
    if (++mParser.mDepth > kMaxDepth || host::StackNearlyFull()) {
        --mParser.mDepth;
        throw CompileError(mParser.peek().line, "The program nests more than " + std::to_string(kMaxDepth) + " deep");
    }
}

Block Parser::block(Stop stop) {
    Deeper deeper(*this);
    const bool nests = stop != &Parser::atProgramEnd && stop != &Parser::atEndFunction && stop != &Parser::atEndSub;
    mNesting += nests;
    Block body;
    for (;;) {
        while (peek().kind == TokenKind::LineEnd || peek().kind == TokenKind::Colon) take();
        if ((this->*stop)()) break;
        if (peek().isName("end")) {
            // An End that closes something else than this block: what this block expects.
            take();
            fail(stop == &Parser::atEndSub                                    ? kExpectedSub
                 : stop == &Parser::atEndFunction                             ? kExpectedFunction
                 : stop == &Parser::atEndIf || stop == &Parser::atElseOrEndIf ? kExpectedIf
                 : stop == &Parser::atCaseOrEndSelect                         ? kExpectedSelect
                                                                              : kExpectedStatement);
        }
        if (StmtPtr statement = this->statement()) body.push_back(std::move(statement));
        endOfStatement();
    }
    mNesting -= nests;
    return body;
}

StmtPtr Parser::statement() {
    Deeper deeper(*this);  // one-line Ifs nest statements without blocks
    const Token& token = peek();
    if (token.kind != TokenKind::Name) fail(kExpectedStatement);
    const std::string word = token.lower;
    if (word == "dim") return take(), dim(false);
    if (word == "redim") return take(), dim(true);
    if (word == "public" || word == "private") {
        take();
        if (peek().isName("function") || peek().isName("sub")) return statement();
        return dim(false);
    }
    if (word == "function" || word == "sub") {
        take();
        procedure(word == "function");
        return nullptr;
    }
    if (word == "option") {
        take();
        expectName("explicit", kSyntaxError);
        mProgram->optionExplicit = true;
        return nullptr;
    }
    if (word == "erase") return take(), erase();
    if (word == "const") return take(), constant();
    if (word == "if") return ifStatement();
    if (word == "select") return selectStatement();
    if (word == "for") return forStatement();
    if (word == "do") return doStatement();
    if (word == "while") return whileStatement();
    if (word == "exit") return exitStatement();
    if (word == "on") return onError();
    if (word == "set") return setStatement();
    if (word == "call") return callStatement();
    if (word == "let") take();
    if (word == "class" || word == "with" || word == "property")
        throw CompileError(token.line, "'" + token.text + "' is not supported by this server yet");
    if (word == "next") fail(kUnexpectedNext);
    if (word == "loop") fail(kLoopWithoutDo);
    return assignOrCall();
}

StmtPtr Parser::dim(bool redim) {
    auto statement = std::make_unique<Stmt>();
    statement->kind = redim ? StmtKind::ReDim : StmtKind::Dim;
    statement->line = peek().line;
    if (redim && takeName("preserve")) statement->preserve = true;
    do {
        Declared declared;
        declared.name = identifier(&declared.written);
        // Dim declares its names for the whole scope, before its first line runs.
        std::vector<std::string>& scope = mProcedure ? mProcedure->locals : mProgram->globals;
        if (!redim) scope.push_back(declared.name);
        if (takeSymbol("(")) {
            declared.isArray = true;
            if (redim) {
                declared.bounds = arguments();
                for (const ExprPtr& bound : declared.bounds)
                    if (!bound) fail(kExpectedExpression);
                if (declared.bounds.empty()) fail(kExpectedExpression);
            } else if (!takeSymbol(")")) {
                do {
                    const Token& bound = take();
                    if (bound.kind != TokenKind::Integer) throw CompileError(kExpectedInteger, bound.line);
                    declared.bounds.push_back(literal(Value::Long(static_cast<int32_t>(bound.number)), bound.line));
                } while (takeSymbol(","));
                expectSymbol(")", kExpectedCloseParen);
            }
        } else if (redim) {
            fail(kExpectedOpenParen);
        }
        statement->declared.push_back(std::move(declared));
    } while (takeSymbol(","));
    return statement;
}

StmtPtr Parser::erase() {
    auto statement = std::make_unique<Stmt>();
    statement->kind = StmtKind::Erase;
    statement->line = peek().line;
    Declared declared;
    declared.name = identifier(&declared.written);
    statement->declared.push_back(std::move(declared));
    return statement;
}

StmtPtr Parser::constant() {
    auto statement = std::make_unique<Stmt>();
    statement->kind = StmtKind::Const;
    statement->line = peek().line;
    do {
        Declared declared;
        declared.name = identifier(&declared.written);
        expectSymbol("=", kExpectedEquals);
        declared.value = expression();
        if (declared.value->kind != ExprKind::Literal) throw CompileError(kExpectedLiteral, declared.value->line);
        statement->declared.push_back(std::move(declared));
    } while (takeSymbol(","));
    return statement;
}

StmtPtr Parser::ifStatement() {
    auto statement = std::make_unique<Stmt>();
    statement->kind = StmtKind::If;
    statement->line = take().line;
    Branch first;
    first.condition = expression();
    expectName("then", kExpectedThen);
    if (peek().kind != TokenKind::LineEnd && peek().kind != TokenKind::End) {
        // On one line: If a Then b : c Else d
        statementsOfLine(&first.body, true);
        statement->branches.push_back(std::move(first));
        if (takeName("else")) statementsOfLine(&statement->elseBody, false);
        return statement;
    }
    first.body = block(&Parser::atElseOrEndIf);
    statement->branches.push_back(std::move(first));
    for (;;) {
        if (takeName("elseif")) {
            Branch branch;
            branch.condition = expression();
            expectName("then", kExpectedThen);
            endOfStatement();
            branch.body = block(&Parser::atElseOrEndIf);
            statement->branches.push_back(std::move(branch));
        } else {
            if (takeName("else")) statement->elseBody = block(&Parser::atEndIf);
            expectEnd("if", kExpectedIf);
            return statement;
        }
    }
}

void Parser::statementsOfLine(Block* into, bool stopAtElse) {
    for (;;) {
        if (peek().kind == TokenKind::Colon) {
            take();
            continue;
        }
        if (peek().kind == TokenKind::LineEnd || peek().kind == TokenKind::End) return;
        if (stopAtElse && peek().isName("else")) return;
        if (StmtPtr statement = this->statement()) into->push_back(std::move(statement));
        if (!peek().endsStatement() && !(stopAtElse && peek().isName("else"))) fail(kExpectedEndOfStatement);
    }
}

StmtPtr Parser::selectStatement() {
    auto statement = std::make_unique<Stmt>();
    statement->kind = StmtKind::Select;
    statement->line = take().line;
    expectName("case", kExpectedCase);
    statement->value = expression();
    endOfStatement();
    mNesting++;
    for (;;) {
        while (peek().kind == TokenKind::LineEnd || peek().kind == TokenKind::Colon) take();
        if (peek().isName("end") && peek(1).isName("select")) break;
        expectName("case", kExpectedCase);
        Branch branch;
        if (takeName("else")) {
            branch.values.clear();
        } else {
            do branch.values.push_back(expression());
            while (takeSymbol(","));
        }
        if (!peek().endsStatement()) fail(kExpectedEndOfStatement);
        branch.body = block(&Parser::atCaseOrEndSelect);
        statement->branches.push_back(std::move(branch));
    }
    mNesting--;
    expectEnd("select", kExpectedSelect);
    return statement;
}

StmtPtr Parser::forStatement() {
    auto statement = std::make_unique<Stmt>();
    statement->line = take().line;
    if (takeName("each")) {
        statement->kind = StmtKind::ForEach;
        statement->name = identifier(&statement->written);
        expectName("in", kExpectedIn);
        statement->value = expression();
    } else {
        statement->kind = StmtKind::For;
        if (peek().kind != TokenKind::Name || IsReserved(peek().lower)) fail(kInvalidForVariable);
        statement->name = identifier(&statement->written);
        expectSymbol("=", kExpectedEquals);
        statement->value = expression();
        expectName("to", kExpectedTo);
        statement->limit = expression();
        if (takeName("step")) statement->step = expression();
    }
    endOfStatement();
    ++mLoopsFor;
    statement->body = block(&Parser::atNext);
    --mLoopsFor;
    expectName("next", kExpectedNext);
    if (peek().kind == TokenKind::Name && !peek().isName("else")) {
        if (identifier() != statement->name) fail(kInvalidForVariable);
    }
    return statement;
}

StmtPtr Parser::doStatement() {
    auto statement = std::make_unique<Stmt>();
    statement->kind = StmtKind::Do;
    statement->line = take().line;
    if (peek().isName("while") || peek().isName("until")) {
        statement->until = take().lower == "until";
        statement->condition = expression();
    }
    if (!peek().endsStatement()) fail(kExpectedWhileOrUntil);
    ++mLoopsDo;
    statement->body = block(&Parser::atLoop);
    --mLoopsDo;
    expectName("loop", kExpectedLoop);
    if (peek().isName("while") || peek().isName("until")) {
        if (statement->condition) fail(kExpectedEndOfStatement);
        statement->until = take().lower == "until";
        statement->condition = expression();
        statement->conditionFirst = false;
    }
    return statement;
}

StmtPtr Parser::whileStatement() {
    auto statement = std::make_unique<Stmt>();
    statement->kind = StmtKind::Do;
    statement->isWhileWend = true;
    statement->line = take().line;
    statement->condition = expression();
    endOfStatement();
    // While ... Wend is left by no Exit: an Exit Do inside belongs to an outer Do.
    statement->body = block(&Parser::atWend);
    expectName("wend", kExpectedWend);
    return statement;
}

StmtPtr Parser::exitStatement() {
    auto statement = std::make_unique<Stmt>();
    statement->kind = StmtKind::Exit;
    statement->line = take().line;
    const Token& what = take();
    if (what.isName("do") && mLoopsDo > 0)
        statement->exit = ExitKind::Do;
    else if (what.isName("for") && mLoopsFor > 0)
        statement->exit = ExitKind::For;
    else if (what.isName("function") && mProcedure && mProcedure->isFunction)
        statement->exit = ExitKind::Function;
    else if (what.isName("sub") && mProcedure && !mProcedure->isFunction)
        statement->exit = ExitKind::Sub;
    else
        throw CompileError(kInvalidExit, what.line);
    return statement;
}

StmtPtr Parser::onError() {
    auto statement = std::make_unique<Stmt>();
    statement->line = take().line;
    expectName("error", kSyntaxError);
    if (takeName("resume")) {
        expectName("next", kSyntaxError);
        statement->kind = StmtKind::OnErrorResumeNext;
    } else if (takeName("goto")) {
        const Token& label = take();
        if (label.kind != TokenKind::Integer || label.number != 0) throw CompileError(kSyntaxError, label.line);
        statement->kind = StmtKind::OnErrorGoTo0;
    } else {
        fail(kSyntaxError);
    }
    return statement;
}

StmtPtr Parser::setStatement() {
    auto statement = std::make_unique<Stmt>();
    statement->kind = StmtKind::Set;
    statement->line = take().line;
    if (peek().kind != TokenKind::Name || IsReserved(peek().lower)) fail(kExpectedIdentifier);
    statement->target = postfix();
    expectSymbol("=", kExpectedEquals);
    statement->value = expression();
    return statement;
}

StmtPtr Parser::callStatement() {
    auto statement = std::make_unique<Stmt>();
    statement->kind = StmtKind::Call;
    statement->line = take().line;
    if (peek().kind != TokenKind::Name || IsReserved(peek().lower)) fail(kExpectedIdentifier);
    statement->target = postfix();
    return statement;
}

StmtPtr Parser::assignOrCall() {
    if (peek().kind != TokenKind::Name || IsReserved(peek().lower)) fail(kExpectedStatement);
    auto statement = std::make_unique<Stmt>();
    statement->line = peek().line;
    ExprPtr target = postfix();
    if (takeSymbol("=")) {
        statement->kind = StmtKind::Assign;
        statement->target = std::move(target);
        statement->value = expression();
        return statement;
    }
    statement->kind = StmtKind::Call;
    if (peek().endsStatement() || peek().isName("else")) {
        if (target->kind == ExprKind::Call && target->args.size() > 1)
            throw CompileError(kParenthesesCallingSub, target->line);
        // Sub (x): the parentheses make x a value of its own, passed ByVal.
        if (target->kind == ExprKind::Call && target->args.size() == 1 && target->args[0])
            target->args[0]->parenthesized = true;
        statement->target = std::move(target);
        return statement;
    }
    // A Sub called without parentheses, whose first argument may start with
    // one: Response.Write (a) & b.
    if (target->kind == ExprKind::Call) {
        mPos = target->openToken;
        target = std::move(target->target);
    }
    auto call = std::make_unique<Expr>();
    call->kind = ExprKind::Call;
    call->line = statement->line;
    call->target = std::move(target);
    call->args = bareArguments();
    statement->target = std::move(call);
    return statement;
}

void Parser::procedure(bool isFunction) {
    const int line = peek().line;
    if (mProcedure || mNesting > 0) fail(kSyntaxError);
    auto procedure = std::make_shared<Procedure>();
    procedure->isFunction = isFunction;
    procedure->line = line;
    procedure->name = identifier(&procedure->written);
    if (takeSymbol("(")) procedure->params = parameters();
    endOfStatement();
    mProcedure = procedure.get();
    procedure->body = block(isFunction ? &Parser::atEndFunction : &Parser::atEndSub);
    expectEnd(isFunction ? "function" : "sub", isFunction ? kExpectedFunction : kExpectedSub);
    mProcedure = nullptr;
    if (mProgram->procedures.count(procedure->name)) throw CompileError(kNameRedefined, line);
    mProgram->procedures[procedure->name] = std::move(procedure);
}

std::vector<Parameter> Parser::parameters() {
    std::vector<Parameter> params;
    if (takeSymbol(")")) return params;
    do {
        Parameter param;
        if (takeName("byval"))
            param.byRef = false;
        else
            takeName("byref");
        param.name = identifier(&param.written);
        if (takeSymbol("(")) {
            expectSymbol(")", kExpectedCloseParen);
            param.isArray = true;
        }
        for (const Parameter& other : params)
            if (other.name == param.name) fail(kNameRedefined);
        params.push_back(std::move(param));
    } while (takeSymbol(","));
    expectSymbol(")", kExpectedCloseParen);
    return params;
}

void Parser::endOfStatement() {
    if (!peek().endsStatement()) fail(kExpectedEndOfStatement);
}

void Parser::expectEnd(const char* what, int code) {
    expectName("end", kExpectedEnd);
    expectName(what, code);
}

bool Parser::atProgramEnd() const { return peek().kind == TokenKind::End; }
bool Parser::atEndIf() const { return atProgramEnd() || (peek().isName("end") && peek(1).isName("if")); }
bool Parser::atElseOrEndIf() const { return atEndIf() || peek().isName("else") || peek().isName("elseif"); }
bool Parser::atCaseOrEndSelect() const {
    return atProgramEnd() || peek().isName("case") || (peek().isName("end") && peek(1).isName("select"));
}
bool Parser::atNext() const { return atProgramEnd() || peek().isName("next"); }
bool Parser::atLoop() const { return atProgramEnd() || peek().isName("loop"); }
bool Parser::atWend() const { return atProgramEnd() || peek().isName("wend"); }
bool Parser::atEndFunction() const { return atProgramEnd() || (peek().isName("end") && peek(1).isName("function")); }
bool Parser::atEndSub() const { return atProgramEnd() || (peek().isName("end") && peek(1).isName("sub")); }

bool Parser::takeName(const char* lowerName) {
    if (!peek().isName(lowerName)) return false;
    take();
    return true;
}

bool Parser::takeSymbol(const char* symbol) {
    if (!peek().is(symbol)) return false;
    take();
    return true;
}

void Parser::expectName(const char* lowerName, int code) {
    if (!takeName(lowerName)) fail(code);
}

void Parser::expectSymbol(const char* symbol, int code) {
    if (!takeSymbol(symbol)) fail(code);
}

std::string Parser::identifier(std::string* written) {
    const Token& token = peek();
    if (token.kind != TokenKind::Name || IsReserved(token.lower)) fail(kExpectedIdentifier);
    take();
    if (written) *written = token.text;
    return token.lower;
}

void Parser::fail(int code) const { throw CompileError(code, peek().line); }

}  // namespace vbs
