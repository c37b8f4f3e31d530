// The statements: blocks with On Error Resume Next, declarations, If,
// Select Case, the loops, Exit.
#include "vbscript/Interpreter.h"

#include "vbscript/Arrays.h"
#include "vbscript/Conversions.h"
#include "vbscript/Dispatch.h"
#include "vbscript/Operators.h"
#include "vbscript/RuntimeError.h"

namespace vbs {

Interpreter::Interpreter(std::shared_ptr<const Program> program, ScriptHost& host)
    : mProgram(std::move(program)), mHost(host) {
    for (const std::string& name : mProgram->globals) mGlobal.variables.try_emplace(name);
}

Interpreter::~Interpreter() = default;

void Interpreter::run(const std::string& thenCall) {
    execute(mProgram->body);
    std::string lower;
    for (char c : thenCall) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    if (const Procedure* procedure = lower.empty() ? nullptr : procedureNamed(lower)) {
        try {
            callProcedure(*procedure, {});
        } catch (RuntimeError& error) {
            if (!error.line) error.line = procedure->line;
            throw;
        }
    }
}

void Interpreter::checkStop() {
    if (mHost.stopNow()) throw ProgramStopped{};
}

Interpreter::Flow Interpreter::execute(const Block& block) {
    for (const StmtPtr& statement : block) {
        tick();
        Flow flow;
        try {
            flow = executeStatement(*statement);
        } catch (RuntimeError& error) {
            if (!error.line) error.line = statement->line;
            if (!mFrame->resumeNext) throw;
            // On Error Resume Next: the error is kept in Err and the next statement runs.
            mErr.set(error);
            continue;
        }
        if (flow != Flow::Normal) return flow;
    }
    return Flow::Normal;
}

Interpreter::Flow Interpreter::executeStatement(const Stmt& statement) {
    switch (statement.kind) {
        case StmtKind::Assign:
            assign(*statement.target, *statement.value, false);
            break;
        case StmtKind::Set:
            assign(*statement.target, *statement.value, true);
            break;
        case StmtKind::Call:
            callStatement(*statement.target);
            break;
        case StmtKind::Dim:
            declare(statement);
            break;
        case StmtKind::ReDim:
            redim(statement);
            break;
        case StmtKind::Erase:
            erase(statement);
            break;
        case StmtKind::Const:
            defineConstants(statement);
            break;
        case StmtKind::If:
            return executeIf(statement);
        case StmtKind::Select:
            return executeSelect(statement);
        case StmtKind::For:
            return executeFor(statement);
        case StmtKind::ForEach:
            return executeForEach(statement);
        case StmtKind::Do:
            return executeDo(statement);
        case StmtKind::Exit:
            switch (statement.exit) {
                case ExitKind::Do:
                    return Flow::ExitDo;
                case ExitKind::For:
                    return Flow::ExitFor;
                default:
                    return Flow::ExitProcedure;
            }
        case StmtKind::OnErrorResumeNext:
            mFrame->resumeNext = true;
            mErr.clear();
            break;
        case StmtKind::OnErrorGoTo0:
            mFrame->resumeNext = false;
            mErr.clear();
            break;
    }
    return Flow::Normal;
}

bool Interpreter::truth(const Expr& condition) {
    const Value value = Plain(evaluate(condition));
    return !value.isNull() && ToBool(value);
}

Interpreter::Flow Interpreter::executeIf(const Stmt& statement) {
    for (const Branch& branch : statement.branches)
        if (truth(*branch.condition)) return execute(branch.body);
    return execute(statement.elseBody);
}

Interpreter::Flow Interpreter::executeSelect(const Stmt& statement) {
    const Value tested = Plain(evaluate(*statement.value));
    const bool testedLiteral = statement.value->kind == ExprKind::Literal;
    for (const Branch& branch : statement.branches) {
        if (branch.values.empty()) return execute(branch.body);  // Case Else
        for (const ExprPtr& candidate : branch.values)
            if (Compare(tested, evaluate(*candidate), testedLiteral, candidate->kind == ExprKind::Literal) == 0)
                return execute(branch.body);
    }
    return Flow::Normal;
}

Interpreter::Flow Interpreter::executeFor(const Stmt& statement) {
    const Value first = Plain(evaluate(*statement.value));
    const Value limit = Plain(evaluate(*statement.limit));
    const Value step = statement.step ? Plain(evaluate(*statement.step)) : Value::Integer(1);
    if (first.isNull() || limit.isNull() || step.isNull()) throw RuntimeError(kInvalidUseOfNull);
    const bool upward = ToDouble(step) >= 0;
    Value& counter = variableToWrite(statement.name, statement.written);
    counter = first;
    for (;;) {
        const int order = Compare(counter, limit);
        if (upward ? order > 0 : order < 0) break;
        tick();
        const Flow flow = execute(statement.body);
        if (flow == Flow::ExitFor) break;
        if (flow != Flow::Normal) return flow;
        counter = Apply(Op::Add, counter, step);
    }
    return Flow::Normal;
}

Interpreter::Flow Interpreter::executeForEach(const Stmt& statement) {
    const Value collection = evaluate(*statement.value);
    Value& item = variableToWrite(statement.name, statement.written);
    auto body = [&](Value next) {
        item = std::move(next);
        tick();
        return execute(statement.body);
    };
    if (collection.isArray()) {
        for (Value& element : ArrayElements(collection)) {
            const Flow flow = body(std::move(element));
            if (flow == Flow::ExitFor) break;
            if (flow != Flow::Normal) return flow;
        }
        return Flow::Normal;
    }
    if (collection.vt != VT_DISPATCH) throw RuntimeError(kNotACollection);
    Enumeration items(collection.pdispVal);
    Value next;
    while (items.next(&next)) {
        const Flow flow = body(std::move(next));
        if (flow == Flow::ExitFor) break;
        if (flow != Flow::Normal) return flow;
    }
    return Flow::Normal;
}

Interpreter::Flow Interpreter::executeDo(const Stmt& statement) {
    auto holds = [&] { return truth(*statement.condition) != statement.until; };
    for (;;) {
        if (statement.condition && statement.conditionFirst && !holds()) break;
        tick();
        const Flow flow = execute(statement.body);
        if (flow == Flow::ExitDo && !statement.isWhileWend) break;
        if (flow != Flow::Normal) return flow;
        if (statement.condition && !statement.conditionFirst && !holds()) break;
    }
    return Flow::Normal;
}

void Interpreter::declare(const Stmt& statement) {
    for (const Declared& declared : statement.declared) {
        Value& slot = mFrame->variables[declared.name];
        if (!declared.isArray || slot.isArray()) continue;
        std::vector<int32_t> bounds;
        for (const ExprPtr& bound : declared.bounds) bounds.push_back(ToLong(evaluate(*bound)));
        // Dim a() declares an array without elements, for ReDim to size.
        slot = MakeArray(bounds.empty() ? std::vector<int32_t>{-1} : bounds);
    }
}

void Interpreter::redim(const Stmt& statement) {
    for (const Declared& declared : statement.declared) {
        std::vector<int32_t> bounds;
        for (const ExprPtr& bound : declared.bounds) bounds.push_back(ToLong(evaluate(*bound)));
        bool isConstant = false;
        Value* found = lookup(declared.name, &isConstant);
        if (isConstant) throw RuntimeError(kIllegalAssignment, declared.written);
        Value& slot = found ? *found : mFrame->variables[declared.name];
        slot = statement.preserve && slot.isArray() ? ResizedArray(slot, bounds) : MakeArray(bounds);
    }
}

void Interpreter::erase(const Stmt& statement) {
    for (const Declared& declared : statement.declared) {
        Value& slot = variableToWrite(declared.name, declared.written);
        if (!slot.isArray()) throw RuntimeError(kTypeMismatch, declared.written);
        // The elements go; the array keeps its dimensions.
        std::vector<int32_t> bounds;
        for (int d = 1; d <= static_cast<int>(SafeArrayGetDim(ArrayOfValue(slot))); ++d)
            bounds.push_back(ArrayBound(slot, d, true));
        slot = MakeArray(bounds);
    }
}

void Interpreter::defineConstants(const Stmt& statement) {
    for (const Declared& declared : statement.declared) mFrame->constants[declared.name] = evaluate(*declared.value);
}

void Interpreter::callStatement(const Expr& target) {
    switch (target.kind) {
        case ExprKind::Call:
            evaluateCall(target);
            return;
        case ExprKind::Member:
            evaluateMember(target, nullptr);
            return;
        case ExprKind::Name: {
            if (const Procedure* procedure = procedureNamed(target.name)) {
                callProcedure(*procedure, {});
                return;
            }
            Expr asCall;
            asCall.kind = ExprKind::Call;
            asCall.line = target.line;
            asCall.target = std::make_unique<Expr>();
            asCall.target->kind = ExprKind::Name;
            asCall.target->name = target.name;
            asCall.target->written = target.written;
            evaluateCall(asCall);
            return;
        }
        default:
            evaluate(target);
            return;
    }
}

}  // namespace vbs
