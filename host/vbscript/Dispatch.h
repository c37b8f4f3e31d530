// Late binding to COM objects as the language does it: members found by
// name through IDispatch at each use, calls and property gets, property
// puts by value (Let) and by reference (Set), default members (DISPID 0),
// walking a collection through its _NewEnum, and a failing call made into
// the RuntimeError Err shows (438 for an unknown name, the HRESULT and the
// EXCEPINFO's text for an exception the object raised).
#pragma once

#include <string>
#include <vector>

#include "platform/ComPtr.h"
#include "vbscript/Value.h"

namespace vbs {

// The member's DISPID; throws 438 naming it when the object has none.
DISPID MemberId(IDispatch* object, const std::string& name);

// Calls the member (a method or a property get) with `args` in the order
// they are written. `name` is for the error text.
Value Invoke(IDispatch* object, DISPID member, std::vector<Value>& args, const std::string& name);

// Puts `value` into the member with `args` as its index; `byReference`
// for Set. Returns the HRESULT, with the failure left in `*failure` for
// ThrowComFailure.
struct CallFailure {
    HRESULT hr = S_OK;
    int32_t number = 0;
    std::string description, source;
};
HRESULT TryPut(IDispatch* object, DISPID member, bool byReference, std::vector<Value>& args, const Value& value,
               CallFailure* failure);

// Throws the RuntimeError of a failed call.
[[noreturn]] void ThrowComFailure(const CallFailure& failure, const std::string& name);

// The value of an object's default member (x = object without Set); the
// value itself when it is no object.
Value DefaultValue(const Value& value);

// The items of a collection, through its _NewEnum and IEnumVARIANT.
class Enumeration {
public:
    // Throws 451 when the object is no collection.
    explicit Enumeration(IDispatch* collection);
    // The next item; false after the last.
    bool next(Value* item);

private:
    platform::ComPtr<IEnumVARIANT> mEnum;
};

// Whether two objects are the same (their IUnknown is).
bool SameObject(IDispatch* a, IDispatch* b);

}  // namespace vbs
