// What the parts of the COM bridge share about script objects that hold
// something of COM's: the hidden properties in which a proxy's target keeps
// its object, an array holder its array, and a callable member its owner,
// and how they are read and released.
#pragma once

#include <duktape.h>

#include "platform/OleAuto.h"

namespace script {

// Hidden keys: a proxy's target keeps its object, an array holder its array.
#define DISPATCH_KEY DUK_HIDDEN_SYMBOL("dispatch")
#define UNKNOWN_KEY DUK_HIDDEN_SYMBOL("unknown")
#define ARRAY_KEY DUK_HIDDEN_SYMBOL("safearray")
#define MEMBER_KEY DUK_HIDDEN_SYMBOL("member")
#define OWNER_KEY DUK_HIDDEN_SYMBOL("owner")

inline IDispatch* DispatchOf(duk_context* context, duk_idx_t index) {
    if (!duk_is_object(context, index)) return nullptr;
    duk_get_prop_string(context, index, DISPATCH_KEY);
    auto* object = static_cast<IDispatch*>(duk_get_pointer(context, -1));
    duk_pop(context);
    return object;
}

template <class T>
inline T* HiddenPointer(duk_context* context, duk_idx_t index, const char* key) {
    if (!duk_is_object(context, index)) return nullptr;
    duk_get_prop_string(context, index, key);
    T* pointer = static_cast<T*>(duk_get_pointer(context, -1));
    duk_pop(context);
    return pointer;
}

// Releases the object a finalized holder keeps under `key`, once.
inline duk_ret_t ReleaseUnknown(duk_context* context, const char* key) {
    if (auto* object = HiddenPointer<IUnknown>(context, 0, key)) {
        duk_push_pointer(context, nullptr);
        duk_put_prop_string(context, 0, key);
        object->Release();
    }
    return 0;
}

}  // namespace script
