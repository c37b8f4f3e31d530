// What the parts of the COM bridge share about script objects that hold
// something of COM's: the hidden properties in which a proxy's target keeps
// its object, an array holder its array, and a callable member its owner,
// and how they are read and released.
#pragma once

#include <duktape.h>

#include "platform/OleAuto.h"

namespace script {

// Hidden keys: a proxy's target keeps its object, an array holder its array.
inline constexpr const char* kDispatchKey = DUK_HIDDEN_SYMBOL("dispatch");
inline constexpr const char* kUnknownKey = DUK_HIDDEN_SYMBOL("unknown");
inline constexpr const char* kArrayKey = DUK_HIDDEN_SYMBOL("safearray");
inline constexpr const char* kMemberKey = DUK_HIDDEN_SYMBOL("member");
inline constexpr const char* kOwnerKey = DUK_HIDDEN_SYMBOL("owner");

inline IDispatch* DispatchOf(duk_context* context, duk_idx_t index) {
    if (!duk_is_object(context, index)) return nullptr;
    duk_get_prop_string(context, index, kDispatchKey);
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
