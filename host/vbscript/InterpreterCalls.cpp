// Calls and assignments: procedures with their ByRef and ByVal
// parameters, the language's functions, objects' members and default
// members, array elements, and property puts by value (Let) or by
// reference (Set).
#include "vbscript/Arrays.h"
#include "vbscript/Builtins.h"
#include "vbscript/Conversions.h"
#include "vbscript/Dispatch.h"
#include "vbscript/Interpreter.h"
#include "vbscript/RuntimeError.h"
#include "core/StackRoom.h"

namespace vbs {

// A procedure's frame, current while the call runs.
class Interpreter::Call {
public:
    Call(Interpreter& interpreter, Frame& frame) : mInterpreter(interpreter), mCaller(interpreter.mFrame) {
        if (mInterpreter.mDepth >= kMaxCallDepth || host::StackNearlyFull()) throw RuntimeError(kOutOfStack);
        ++mInterpreter.mDepth;
        mInterpreter.mFrame = &frame;
    }
    ~Call() {
        mInterpreter.mFrame = mCaller;
        --mInterpreter.mDepth;
    }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

private:
    Interpreter& mInterpreter;
    Frame* mCaller;
};

Value Interpreter::evaluateMember(const Expr& member, const std::vector<ExprPtr>* args) {
    std::vector<Value> values = args ? argumentValues(*args) : std::vector<Value>();
    if (isErr(*member.target)) return mErr.member(member.name, values);
    const Value object = objectOf(*member.target);
    Value result = Invoke(object.pdispVal, MemberId(object.pdispVal, member.written), values, member.written);
    checkStop();
    return result;
}

Value Interpreter::evaluateCall(const Expr& call) {
    const Expr& target = *call.target;
    if (target.kind == ExprKind::Member) return evaluateMember(target, &call.args);
    if (target.kind != ExprKind::Name) return callDefault(evaluate(target), call.args, "");
    const Procedure* procedure = procedureNamed(target.name);
    // Inside a function, its name with arguments calls it again; alone, it is its result.
    Value* variable = procedure && mFrame->procedure == procedure ? nullptr : lookup(target.name);
    if (variable) return callDefault(*variable, call.args, target.written);
    if (procedure) return callProcedure(*procedure, call.args);
    if (IDispatch* object = mHost.pageObject(target.name))
        return callDefault(Value::Object(object), call.args, target.written);
    if (const Builtin* builtin = FindBuiltin(target.name)) {
        std::vector<Value> values = argumentValues(call.args);
        return CallBuiltin(*builtin, values);
    }
    throw RuntimeError(kTypeMismatch, target.written);
}

Value Interpreter::callDefault(const Value& target, const std::vector<ExprPtr>& args, const std::string& name) {
    if (target.isArray()) return ElementAt(target, indices(args));
    if (target.vt == VT_DISPATCH) {
        if (!target.pdispVal) throw RuntimeError(kObjectNotSet, name);
        std::vector<Value> values = argumentValues(args);
        Value result = Invoke(target.pdispVal, DISPID_VALUE, values, name);
        checkStop();
        return result;
    }
    throw RuntimeError(kTypeMismatch, name);
}

Value Interpreter::callProcedure(const Procedure& procedure, const std::vector<ExprPtr>& args) {
    if (args.size() != procedure.params.size()) throw RuntimeError(kWrongArguments, procedure.written);
    Frame frame;
    frame.procedure = &procedure;
    for (size_t i = 0; i < args.size(); ++i) {
        const Parameter& param = procedure.params[i];
        if (!args[i]) throw RuntimeError(kArgumentNotOptional, procedure.written);
        const Expr& arg = *args[i];
        // ByRef: a variable written alone is passed itself, so the
        // procedure's assignments reach it; anything else is a copy.
        if (param.byRef && arg.kind == ExprKind::Name && !arg.parenthesized) {
            bool isConstant = false;
            Value* variable = lookup(arg.name, &isConstant);
            if (variable && !isConstant) {
                frame.references[param.name] = variable;
                continue;
            }
        }
        frame.variables[param.name] = evaluate(arg);
    }
    for (const std::string& local : procedure.locals) frame.variables.try_emplace(local);
    if (procedure.isFunction) frame.variables.try_emplace(procedure.name);
    {
        Call call(*this, frame);
        execute(procedure.body);
    }
    if (!procedure.isFunction) return Value();
    return std::move(frame.variables[procedure.name]);
}

void Interpreter::assign(const Expr& target, const Expr& valueExpr, bool isSet) {
    Value value = evaluate(valueExpr);
    if (isSet) {
        if (value.vt != VT_DISPATCH) throw RuntimeError(kObjectRequired);
    } else if (value.vt == VT_DISPATCH) {
        value = DefaultValue(value);  // Let takes an object's value, not the object
    }
    switch (target.kind) {
        case ExprKind::Name:
            variableToWrite(target.name, target.written) = std::move(value);
            return;
        case ExprKind::Member: {
            if (isErr(*target.target)) return mErr.put(target.name, value);
            const Value object = objectOf(*target.target);
            std::vector<Value> none;
            putMember(object.pdispVal, target.written, MemberId(object.pdispVal, target.written), none, value, isSet);
            return;
        }
        case ExprKind::Call:
            return assignToCall(target, value, isSet);
        default:
            throw RuntimeError(kIllegalAssignment);
    }
}

void Interpreter::assignToCall(const Expr& call, const Value& value, bool isSet) {
    const Expr& target = *call.target;
    if (target.kind == ExprKind::Name) {
        bool isConstant = false;
        Value* variable = lookup(target.name, &isConstant);
        if (variable && variable->isArray()) {
            if (isConstant) throw RuntimeError(kIllegalAssignment, target.written);
            const std::vector<int32_t> at = indices(call.args);
            PutElement(*variable, at, value);
            return;
        }
        IDispatch* object =
            variable ? (variable->vt == VT_DISPATCH ? variable->pdispVal : nullptr) : mHost.pageObject(target.name);
        if (!object) throw RuntimeError(kTypeMismatch, target.written);
        const Value held = Value::Object(object);
        std::vector<Value> args = argumentValues(call.args);
        return putMember(object, target.written, DISPID_VALUE, args, value, isSet);
    }
    if (target.kind == ExprKind::Member) {
        const Value object = objectOf(*target.target);
        std::vector<Value> args = argumentValues(call.args);
        const DISPID id = MemberId(object.pdispVal, target.written);
        CallFailure failure;
        const HRESULT hr = TryPut(object.pdispVal, id, isSet, args, value, &failure);
        if (SUCCEEDED(hr)) return checkStop();
        // A member that takes no value with these arguments gives the
        // object whose default member takes it: Response.Cookies("name") = "value".
        if (hr == DISP_E_MEMBERNOTFOUND || hr == DISP_E_BADPARAMCOUNT) {
            const Value item = Invoke(object.pdispVal, id, args, target.written);
            if (item.vt == VT_DISPATCH && item.pdispVal) {
                std::vector<Value> none;
                return putMember(item.pdispVal, target.written, DISPID_VALUE, none, value, isSet);
            }
        }
        ThrowComFailure(failure, target.written);
    }
    const Value object = evaluate(target);
    if (object.vt != VT_DISPATCH || !object.pdispVal) throw RuntimeError(kObjectRequired);
    std::vector<Value> args = argumentValues(call.args);
    putMember(object.pdispVal, "", DISPID_VALUE, args, value, isSet);
}

void Interpreter::putMember(IDispatch* object, const std::string& name, DISPID member, std::vector<Value>& args,
                            const Value& value, bool isSet) {
    CallFailure failure;
    HRESULT hr = TryPut(object, member, isSet, args, value, &failure);
    // An object that takes no Set for the member takes the object by value.
    if (FAILED(hr) && isSet && hr == DISP_E_MEMBERNOTFOUND) hr = TryPut(object, member, false, args, value, &failure);
    if (FAILED(hr)) ThrowComFailure(failure, name);
    checkStop();
}

}  // namespace vbs
