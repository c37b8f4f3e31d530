// Expressions, by the language's precedence from the lowest: Imp, Eqv, Xor,
// Or, And, Not, the comparisons (and Is), &, + and -, Mod, \, * and /,
// negation, ^.
#include <cmath>

#include "vbscript/Constants.h"
#include "vbscript/CompileError.h"
#include "vbscript/Parser.h"

namespace vbs {

namespace {

enum Level { kImp, kEqv, kXor, kOr, kAnd, kNot, kCompare, kConcat, kAdd, kMod, kIntDivide, kMultiply, kNegate };

struct OperatorName {
    int level;
    const char* text;  // a symbol, or a keyword in lower case
    bool keyword;
    Op op;
};

constexpr OperatorName kOperators[] = {
    {kImp, "imp", true, Op::Imp},
    {kEqv, "eqv", true, Op::Eqv},
    {kXor, "xor", true, Op::Xor},
    {kOr, "or", true, Op::Or},
    {kAnd, "and", true, Op::And},
    {kCompare, "=", false, Op::Equal},
    {kCompare, "<>", false, Op::NotEqual},
    {kCompare, "<", false, Op::Less},
    {kCompare, ">", false, Op::Greater},
    {kCompare, "<=", false, Op::LessEqual},
    {kCompare, ">=", false, Op::GreaterEqual},
    {kCompare, "is", true, Op::Is},
    {kConcat, "&", false, Op::Concat},
    {kAdd, "+", false, Op::Add},
    {kAdd, "-", false, Op::Subtract},
    {kMod, "mod", true, Op::Mod},
    {kIntDivide, "\\", false, Op::IntDivide},
    {kMultiply, "*", false, Op::Multiply},
    {kMultiply, "/", false, Op::Divide},
};

ExprPtr MakeBinary(Op op, ExprPtr left, ExprPtr right, int line) {
    // Text joined to text is joined once, here: the page's own HTML is
    // written as such joins.
    if (op == Op::Concat && left->kind == ExprKind::Literal && right->kind == ExprKind::Literal &&
        left->constant.isString() && right->constant.isString()) {
        std::u16string joined(left->constant.text());
        joined += right->constant.text();
        left->constant = Value::String(joined);
        return left;
    }
    auto node = std::make_unique<Expr>();
    node->kind = ExprKind::Binary;
    node->op = op;
    node->line = line;
    node->target = std::move(left);
    node->right = std::move(right);
    return node;
}

ExprPtr MakeUnary(Op op, ExprPtr operand, int line) {
    auto node = std::make_unique<Expr>();
    node->kind = ExprKind::Unary;
    node->op = op;
    node->line = line;
    node->target = std::move(operand);
    return node;
}

}  // namespace

ExprPtr Parser::expression() {
    Deeper deeper(*this);
    return binaryLevel(kImp);
}

ExprPtr Parser::binaryLevel(int level) {
    if (level == kNegate) return negation();
    if (level == kNot) {
        const int line = peek().line;
        if (takeName("not")) {
            Deeper deeper(*this);
            return MakeUnary(Op::Not, binaryLevel(kNot), line);
        }
        return binaryLevel(kCompare);
    }
    ExprPtr left = binaryLevel(level + 1);
    for (;;) {
        const Token& token = peek();
        const OperatorName* found = nullptr;
        for (const OperatorName& candidate : kOperators)
            if (candidate.level == level &&
                (candidate.keyword ? token.isName(candidate.text) : token.is(candidate.text)))
                found = &candidate;
        if (!found) return left;
        take();
        left = MakeBinary(found->op, std::move(left), binaryLevel(level + 1), token.line);
    }
}

ExprPtr Parser::negation() {
    Deeper deeper(*this);
    const int line = peek().line;
    if (takeSymbol("-")) {
        ExprPtr operand = negation();
        // A negative number is a constant (Const and Dim need it so).
        if (operand->kind == ExprKind::Literal &&
            (operand->constant.vt == VT_I2 || operand->constant.vt == VT_I4 || operand->constant.vt == VT_R8)) {
            Value& v = operand->constant;
            if (v.vt == VT_I2 && v.iVal != -32768)
                v.iVal = static_cast<int16_t>(-v.iVal);
            else if (v.vt == VT_I4 && v.lVal != INT32_MIN)
                v.lVal = -v.lVal;
            else if (v.vt == VT_R8)
                v.dblVal = -v.dblVal;
            else
                return MakeUnary(Op::Negate, std::move(operand), line);
            return operand;
        }
        return MakeUnary(Op::Negate, std::move(operand), line);
    }
    if (takeSymbol("+")) return MakeUnary(Op::Plus, negation(), line);
    return power();
}

ExprPtr Parser::power() {
    ExprPtr left = postfix();
    while (peek().is("^")) {
        const int line = take().line;
        left = MakeBinary(Op::Power, std::move(left), powerOperand(), line);
    }
    return left;
}

// The right side of ^ may be negated: 2 ^ -1.
ExprPtr Parser::powerOperand() {
    Deeper deeper(*this);
    const int line = peek().line;
    if (takeSymbol("-")) return MakeUnary(Op::Negate, powerOperand(), line);
    if (takeSymbol("+")) return powerOperand();
    return postfix();
}

ExprPtr Parser::postfix() {
    ExprPtr node = primary();
    for (;;) {
        if (peek().is(".") && peek(1).kind == TokenKind::Name && !peek(1).spaceBefore) {
            const int line = take().line;
            const Token& name = take();
            auto member = std::make_unique<Expr>();
            member->kind = ExprKind::Member;
            member->line = line;
            member->name = name.lower;
            member->written = name.text;
            member->target = std::move(node);
            node = std::move(member);
        } else if (peek().is("(")) {
            auto call = std::make_unique<Expr>();
            call->kind = ExprKind::Call;
            call->openToken = mPos;
            call->line = take().line;
            call->args = arguments();
            call->target = std::move(node);
            node = std::move(call);
        } else if (peek().is(".")) {
            fail(kExpectedIdentifier);
        } else {
            return node;
        }
    }
}

ExprPtr Parser::literal(Value value, int line) {
    auto node = std::make_unique<Expr>();
    node->kind = ExprKind::Literal;
    node->line = line;
    node->constant = std::move(value);
    return node;
}

ExprPtr Parser::primary() {
    const Token& token = take();
    switch (token.kind) {
        case TokenKind::Integer: {
            const bool isLong = !token.text.empty() && token.text.back() == '&';
            if (!isLong && token.number >= -32768 && token.number <= 32767)
                return literal(Value::Integer(static_cast<int16_t>(token.number)), token.line);
            if (token.number >= INT32_MIN && token.number <= INT32_MAX)
                return literal(Value::Long(static_cast<int32_t>(token.number)), token.line);
            return literal(Value::Double(token.number), token.line);
        }
        case TokenKind::Real:
            return literal(Value::Double(token.number), token.line);
        case TokenKind::String:
            return literal(Value::Utf8(token.text), token.line);
        case TokenKind::Date:
            return literal(Value::Date(token.number), token.line);
        case TokenKind::Symbol:
            if (token.text == "(") {
                ExprPtr inner = expression();
                expectSymbol(")", kExpectedCloseParen);
                inner->parenthesized = true;
                return inner;
            }
            if (token.text == ".") throw CompileError(token.line, "'With' blocks are not supported by this server yet");
            throw CompileError(kExpectedExpression, token.line);
        case TokenKind::Name:
            if (token.lower == "true") return literal(Value::Bool(true), token.line);
            if (token.lower == "false") return literal(Value::Bool(false), token.line);
            if (token.lower == "empty") return literal(Value(), token.line);
            if (token.lower == "null") return literal(Value::Null(), token.line);
            if (token.lower == "nothing") return literal(Value::Object(nullptr), token.line);
            // The language's constants (vbCrLf, vbTextCompare) are literals.
            if (Value constant; FindConstant(token.lower, &constant)) return literal(std::move(constant), token.line);
            if (token.lower == "new" || token.lower == "me")
                throw CompileError(token.line, "Classes ('" + token.text + "') are not supported by this server yet");
            if (IsReserved(token.lower)) {
                throw CompileError(kExpectedExpression, token.line);
            }
            {
                auto node = std::make_unique<Expr>();
                node->kind = ExprKind::Name;
                node->line = token.line;
                node->name = token.lower;
                node->written = token.text;
                return node;
            }
        default:
            throw CompileError(kExpectedExpression, token.line);
    }
}

std::vector<ExprPtr> Parser::arguments() {
    std::vector<ExprPtr> args;
    if (takeSymbol(")")) return args;
    for (;;) {
        if (peek().is(",") || peek().is(")"))
            args.push_back(nullptr);
        else
            args.push_back(expression());
        if (takeSymbol(",")) continue;
        expectSymbol(")", kExpectedCloseParen);
        return args;
    }
}

std::vector<ExprPtr> Parser::bareArguments() {
    std::vector<ExprPtr> args;
    for (;;) {
        if (peek().is(","))
            args.push_back(nullptr);
        else
            args.push_back(expression());
        if (!takeSymbol(",")) return args;
        if (peek().endsStatement() || peek().isName("else")) {
            args.push_back(nullptr);
            return args;
        }
    }
}

}  // namespace vbs
