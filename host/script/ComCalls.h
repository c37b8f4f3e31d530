// Calls from a page to a COM object's members: the arguments as IDispatch
// takes them, the call, and the error a failing call throws into the page.
#pragma once

#include <vector>

#include <duktape.h>

#include "platform/ExcepInfo.h"
#include "platform/OleAuto.h"
#include "script/ScriptValues.h"

namespace script {

// The arguments of one call, in the reversed order IDispatch takes them.
class Arguments {
public:
    // The values at [first, first + count) of the stack.
    Arguments(duk_context* context, duk_idx_t first, duk_idx_t count) : mValues(static_cast<size_t>(count)) {
        for (VARIANT& value : mValues) VariantInit(&value);
        for (duk_idx_t i = 0; i < count; ++i)
            ToArgument(context, first + i, &mValues[static_cast<size_t>(count - 1 - i)]);
    }
    ~Arguments() {
        for (VARIANT& value : mValues) ClearArgument(&value);
    }
    Arguments(const Arguments&) = delete;
    Arguments& operator=(const Arguments&) = delete;

    VARIANT* data() { return mValues.data(); }
    UINT size() const { return static_cast<UINT>(mValues.size()); }

private:
    std::vector<VARIANT> mValues;
};

// Invokes `member` with `args` as `flags` says; a property write names its
// value as the property-put argument.
HRESULT Call(IDispatch* object, DISPID member, WORD flags, Arguments& args, VARIANT* result,
             platform::ExcepInfo* exception);

// Throws the page's Error for a failed call, with the text and source the
// object gave when it raised an exception.
[[noreturn]] void ThrowCallError(duk_context* context, HRESULT hr, const platform::ExcepInfo& exception);

// Calls the member with the values at [first, first + count) of the stack
// and pushes its result; a failure throws.
void CallAndPush(duk_context* context, IDispatch* object, DISPID member, WORD flags, duk_idx_t first, duk_idx_t count);

}  // namespace script
