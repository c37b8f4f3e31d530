// The tree a VBScript program is parsed into, which the interpreter walks:
// expressions, statements, procedures. Names are kept in lower case (the
// language ignores case) beside their spelling for messages.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "vbscript/Value.h"

namespace vbs {

enum class ExprKind {
    Literal,  // constant: number, string, date, True, False, Empty, Null, Nothing
    Name,     // a variable, constant, procedure or page object
    Member,   // target.name
    Call,     // target(args): a call, an array index or an object's default member
    Unary,    // op target
    Binary,   // target op right
};

enum class Op {
    Negate,
    Plus,
    Not,
    Power,
    Multiply,
    Divide,
    IntDivide,
    Mod,
    Add,
    Subtract,
    Concat,
    Equal,
    NotEqual,
    Less,
    Greater,
    LessEqual,
    GreaterEqual,
    Is,
    And,
    Or,
    Xor,
    Eqv,
    Imp,
};

struct Expr;
using ExprPtr = std::unique_ptr<Expr>;

struct Expr {
    ExprKind kind = ExprKind::Literal;
    int line = 0;
    Op op = Op::Plus;
    Value constant;
    std::string name;     // Name, Member: in lower case
    std::string written;  // as written
    ExprPtr target, right;
    std::vector<ExprPtr> args;   // Call; a null entry is an argument left out: f(1, , 3)
    bool parenthesized = false;  // written in parentheses of its own: passed ByVal
    size_t openToken = 0;        // Call: the token of its '('
};

enum class StmtKind {
    Assign,
    Set,
    Call,
    Dim,
    ReDim,
    Erase,
    Const,
    If,
    Select,
    For,
    ForEach,
    Do,
    Exit,
    OnErrorResumeNext,
    OnErrorGoTo0,
};

struct Stmt;
using StmtPtr = std::unique_ptr<Stmt>;
using Block = std::vector<StmtPtr>;

// A name Dim, ReDim, Erase or Const declares.
struct Declared {
    std::string name, written;
    std::vector<ExprPtr> bounds;  // Dim a(2, 3), ReDim a(n)
    bool isArray = false;         // Dim a() declares a dynamic array
    ExprPtr value;                // Const's value
};

// A branch of If (condition) or a Case of Select (values; none: Case Else).
struct Branch {
    ExprPtr condition;
    std::vector<ExprPtr> values;
    Block body;
};

enum class ExitKind { Do, For, Function, Sub, Property };

struct Stmt {
    StmtKind kind = StmtKind::Call;
    int line = 0;
    ExprPtr target, value;      // Assign/Set: target = value; Call: target; Select: value; For: value = first
    ExprPtr limit, step;        // For ... To limit Step step
    std::string name, written;  // For/For Each's variable
    std::vector<Declared> declared;
    bool preserve = false;  // ReDim Preserve
    std::vector<Branch> branches;
    Block body, elseBody;
    ExprPtr condition;  // Do While/Until condition
    bool conditionFirst = true, until = false;
    bool isWhileWend = false;  // While ... Wend, which Exit Do passes through
    ExitKind exit = ExitKind::Do;
};

struct Parameter {
    std::string name, written;
    bool byRef = true;  // the default, as the language has it
    bool isArray = false;
};

struct Procedure {
    std::string name, written;
    bool isFunction = false;
    std::vector<Parameter> params;
    Block body;
    int line = 0;
    std::vector<std::string> locals;  // the names its Dim statements declare, wherever they stand
};

struct Program {
    Block body;
    std::map<std::string, std::shared_ptr<const Procedure>> procedures;  // by lower-case name
    bool optionExplicit = false;
    std::vector<std::string> globals;  // the names Dim declares outside procedures, declared before the first line runs
};

}  // namespace vbs
