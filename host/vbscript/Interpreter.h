// Runs a parsed VBScript program: its variables and constants in the
// program's scope and in each procedure call's, procedures with ByRef (the
// default) and ByVal parameters, the statements, On Error Resume Next and
// the Err object, and the page's objects through late binding.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "vbscript/Ast.h"
#include "vbscript/ErrObject.h"
#include "vbscript/Value.h"

namespace vbs {

// What the program's host gives it.
class ScriptHost {
public:
    // The object the host gives this name (Response, Session, an object a
    // page declares), made at its first use; null when it has none.
    virtual IDispatch* pageObject(const std::string& lowerName) = 0;
    // Asked every so many statements and after each call of an object:
    // whether the program must stop now (its time is up, the page ended).
    virtual bool stopNow() = 0;

protected:
    ~ScriptHost() = default;
};

class Interpreter {
public:
    Interpreter(std::shared_ptr<const Program> program, ScriptHost& host);
    ~Interpreter();
    Interpreter(const Interpreter&) = delete;
    Interpreter& operator=(const Interpreter&) = delete;

    // Runs the program's statements, then the procedure `thenCall` when the
    // program has one. Throws RuntimeError with its line, or ProgramStopped.
    void run(const std::string& thenCall = "");

    // Procedure calls nest at most this deep, and as deep as the stack
    // holds (28 "Out of stack space").
    static constexpr int kMaxCallDepth = 1000;

private:
    enum class Flow { Normal, ExitDo, ExitFor, ExitProcedure };
    struct Frame {
        std::unordered_map<std::string, Value> variables;
        std::unordered_map<std::string, Value*> references;  // ByRef parameters: the caller's variables
        std::unordered_map<std::string, Value> constants;
        const Procedure* procedure = nullptr;
        bool resumeNext = false;
    };
    class Call;

    // Statements (Interpreter.cpp).
    Flow execute(const Block& block);
    Flow executeStatement(const Stmt& statement);
    Flow executeIf(const Stmt& statement);
    Flow executeSelect(const Stmt& statement);
    Flow executeFor(const Stmt& statement);
    Flow executeForEach(const Stmt& statement);
    Flow executeDo(const Stmt& statement);
    void declare(const Stmt& statement);
    void redim(const Stmt& statement);
    void erase(const Stmt& statement);
    void defineConstants(const Stmt& statement);
    void callStatement(const Expr& target);
    void checkStop();
    void tick() {
        if ((++mTicks & 1023) == 0) checkStop();
    }
    bool truth(const Expr& condition);

    // Names and values (InterpreterNames.cpp).
    static Value* findIn(Frame& frame, const std::string& name, bool* isConstant);
    Value* lookup(const std::string& name, bool* isConstant = nullptr);
    Value& variableToWrite(const std::string& name, const std::string& written);
    const Procedure* procedureNamed(const std::string& name) const;
    Value evaluate(const Expr& expr);
    Value evaluateName(const Expr& expr);
    std::vector<Value> argumentValues(const std::vector<ExprPtr>& args);
    std::vector<int32_t> indices(const std::vector<ExprPtr>& args);
    Value objectOf(const Expr& expr);
    bool isErr(const Expr& expr);

    // Calls and assignments (InterpreterCalls.cpp).
    Value evaluateCall(const Expr& call);
    Value evaluateMember(const Expr& member, const std::vector<ExprPtr>* args);
    Value callProcedure(const Procedure& procedure, const std::vector<ExprPtr>& args);
    Value callDefault(const Value& target, const std::vector<ExprPtr>& args, const std::string& name);
    void assign(const Expr& target, const Expr& valueExpr, bool isSet);
    void assignToCall(const Expr& target, const Value& value, bool isSet);
    void putMember(IDispatch* object, const std::string& name, DISPID member, std::vector<Value>& args,
                   const Value& value, bool isSet);

    std::shared_ptr<const Program> mProgram;
    ScriptHost& mHost;
    Frame mGlobal;
    Frame* mFrame = &mGlobal;
    ErrObject mErr;
    unsigned mTicks = 0;
    int mDepth = 0;
};

}  // namespace vbs
