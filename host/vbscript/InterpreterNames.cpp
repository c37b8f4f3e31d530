// Names and expressions: a name is a variable or constant of the
// procedure's scope or the program's, a procedure, one of the page's
// objects, or one of the language's functions and constants.
#include "vbscript/Builtins.h"
#include "vbscript/Conversions.h"
#include "vbscript/Dispatch.h"
#include "vbscript/Interpreter.h"
#include "vbscript/Operators.h"
#include "vbscript/RuntimeError.h"
#include "core/StackRoom.h"

namespace vbs {

// The name in one scope: a ByRef parameter, a variable or a constant.
Value* Interpreter::findIn(Frame& frame, const std::string& name, bool* isConstant) {
    if (auto it = frame.references.find(name); it != frame.references.end()) return it->second;
    if (auto it = frame.variables.find(name); it != frame.variables.end()) return &it->second;
    if (auto it = frame.constants.find(name); it != frame.constants.end()) {
        if (isConstant) *isConstant = true;
        return &it->second;
    }
    return nullptr;
}

Value* Interpreter::lookup(const std::string& name, bool* isConstant) {
    if (isConstant) *isConstant = false;
    if (mFrame != &mGlobal)
        if (Value* found = findIn(*mFrame, name, isConstant)) return found;
    return findIn(mGlobal, name, isConstant);
}

Value& Interpreter::variableToWrite(const std::string& name, const std::string& written) {
    bool isConstant = false;
    if (Value* found = lookup(name, &isConstant)) {
        if (isConstant) throw RuntimeError(kIllegalAssignment, written);
        return *found;
    }
    if (mProgram->optionExplicit) throw RuntimeError(kUndefinedVariable, written);
    return mFrame->variables[name];
}

const Procedure* Interpreter::procedureNamed(const std::string& name) const {
    auto it = mProgram->procedures.find(name);
    return it == mProgram->procedures.end() ? nullptr : it->second.get();
}

bool Interpreter::isErr(const Expr& expr) {
    return expr.kind == ExprKind::Name && expr.name == "err" && !lookup(expr.name);
}

Value Interpreter::evaluate(const Expr& expr) {
    switch (expr.kind) {
        case ExprKind::Literal:
            return expr.constant;
        case ExprKind::Name:
            return evaluateName(expr);
        case ExprKind::Member:
            return evaluateMember(expr, nullptr);
        case ExprKind::Call:
            return evaluateCall(expr);
        case ExprKind::Unary:
            return ApplyUnary(expr.op, evaluate(*expr.target));
        case ExprKind::Binary:
            break;
    }
    if (host::StackNearlyFull()) throw RuntimeError(kOutOfStack);
    Value left = evaluate(*expr.target);
    Value right = evaluate(*expr.right);
    if (expr.op == Op::Is) {
        if (left.vt != VT_DISPATCH || right.vt != VT_DISPATCH) throw RuntimeError(kObjectRequired);
        return Value::Bool(SameObject(left.pdispVal, right.pdispVal));
    }
    return Apply(expr.op, left, right, expr.target->kind == ExprKind::Literal, expr.right->kind == ExprKind::Literal);
}

Value Interpreter::evaluateName(const Expr& expr) {
    if (Value* found = lookup(expr.name)) return *found;
    if (const Procedure* procedure = procedureNamed(expr.name)) return callProcedure(*procedure, {});
    if (IDispatch* object = mHost.pageObject(expr.name)) return Value::Object(object);
    if (expr.name == "err") return Value::Long(mErr.number());
    if (const Builtin* builtin = FindBuiltin(expr.name)) {
        std::vector<Value> none;
        return CallBuiltin(*builtin, none);
    }
    if (mProgram->optionExplicit) throw RuntimeError(kUndefinedVariable, expr.written);
    // A name used before any assignment is a variable holding Empty.
    return mFrame->variables[expr.name];
}

std::vector<Value> Interpreter::argumentValues(const std::vector<ExprPtr>& args) {
    std::vector<Value> values;
    values.reserve(args.size());
    for (const ExprPtr& arg : args) values.push_back(arg ? evaluate(*arg) : Value::Missing());
    return values;
}

std::vector<int32_t> Interpreter::indices(const std::vector<ExprPtr>& args) {
    std::vector<int32_t> values;
    for (const ExprPtr& arg : args) {
        if (!arg) throw RuntimeError(kSubscriptOutOfRange);
        values.push_back(ToLong(Plain(evaluate(*arg))));
    }
    return values;
}

Value Interpreter::objectOf(const Expr& expr) {
    Value value = evaluate(expr);
    if (value.vt != VT_DISPATCH || !value.pdispVal)
        throw RuntimeError(kObjectRequired, expr.kind == ExprKind::Name ? expr.written : "");
    return value;
}

}  // namespace vbs
