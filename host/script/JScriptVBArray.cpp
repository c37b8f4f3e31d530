#include "script/JScriptVBArray.h"

#include <duktape.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/RuntimeErrors.h"
#include "platform/ComPtr.h"
#include "script/ComErrors.h"
#include "script/ComHolders.h"
#include "script/JScriptInstall.h"
#include "script/ScriptValues.h"

namespace script {

namespace {

SAFEARRAY* ArrayOfThis(duk_context* context) {
    duk_push_this(context);
    duk_get_prop_string(context, -1, kArrayKey);
    auto* array = HiddenPointer<SAFEARRAY>(context, -1, kArrayKey);
    duk_pop_2(context);
    return array;
}

duk_ret_t VBArrayConstruct(duk_context* context) {
    if (!duk_is_constructor_call(context)) return DUK_RET_TYPE_ERROR;
    if (!HiddenPointer<SAFEARRAY>(context, 0, kArrayKey))
        ThrowComError(context, static_cast<HRESULT>(0x800A13A3), "VBArray expected");
    duk_push_this(context);
    duk_dup(context, 0);  // the holder: the array lives as long as either
    duk_put_prop_string(context, -2, kArrayKey);
    return 0;
}

UINT Dimension(duk_context* context, SAFEARRAY* array) {
    const duk_int_t asked = duk_is_undefined(context, 0) ? 1 : duk_to_int(context, 0);
    if (asked < 1 || static_cast<UINT>(asked) > SafeArrayGetDim(array))
        ThrowComError(context, host::kSubscriptOutOfRange, "Subscript out of range");
    return static_cast<UINT>(asked);
}

duk_ret_t VBArrayBound(duk_context* context, bool upper) {
    SAFEARRAY* array = ArrayOfThis(context);
    LONG bound = 0;
    if (!array) return DUK_RET_TYPE_ERROR;
    const UINT dim = Dimension(context, array);
    if (upper)
        SafeArrayGetUBound(array, dim, &bound);
    else
        SafeArrayGetLBound(array, dim, &bound);
    duk_push_int(context, bound);
    return 1;
}
duk_ret_t VBArrayUBound(duk_context* context) { return VBArrayBound(context, true); }
duk_ret_t VBArrayLBound(duk_context* context) { return VBArrayBound(context, false); }

duk_ret_t VBArrayDimensions(duk_context* context) {
    SAFEARRAY* array = ArrayOfThis(context);
    if (!array) return DUK_RET_TYPE_ERROR;
    duk_push_uint(context, SafeArrayGetDim(array));
    return 1;
}

// A copy of the element at `element` of an array of `type`.
void ElementValue(SAFEARRAY* array, VARTYPE type, const void* element, VARIANT* value) {
    if (type == VT_VARIANT) {
        VariantCopy(value, static_cast<const VARIANT*>(element));
        return;
    }
    VARIANT view;
    VariantInit(&view);
    view.vt = type;
    std::memcpy(&view.llVal, element, std::min<size_t>(SafeArrayGetElemsize(array), sizeof view.llVal));
    VariantCopy(value, &view);  // a string or an object gets its own copy or reference
}

duk_ret_t VBArrayGetItem(duk_context* context) {
    SAFEARRAY* array = ArrayOfThis(context);
    if (!array) return DUK_RET_TYPE_ERROR;
    const UINT dims = SafeArrayGetDim(array);
    if (static_cast<UINT>(duk_get_top(context)) != dims)
        ThrowComError(context, host::kSubscriptOutOfRange, "Subscript out of range");
    std::vector<LONG> indices(dims);
    for (UINT d = 0; d < dims; ++d) indices[d] = duk_to_int(context, static_cast<duk_idx_t>(d));
    VARTYPE type = VT_EMPTY;
    SafeArrayGetVartype(array, &type);
    // The element as SafeArrayGetElement copies it, owned by the VARIANT
    // that is handed to the script.
    platform::Variant value;
    void* slot = type == VT_VARIANT ? static_cast<void*>(&value) : static_cast<void*>(&value.llVal);
    if (FAILED(SafeArrayGetElement(array, indices.data(), slot)))
        ThrowComError(context, host::kSubscriptOutOfRange, "Subscript out of range");
    if (type != VT_VARIANT) value.vt = type;
    PushVariant(context, value);
    return 1;
}

// Every element in storage order, as one script array.
duk_ret_t VBArrayToArray(duk_context* context) {
    SAFEARRAY* array = ArrayOfThis(context);
    if (!array) return DUK_RET_TYPE_ERROR;
    VARTYPE type = VT_EMPTY;
    SafeArrayGetVartype(array, &type);
    size_t count = 1;
    for (UINT d = 0; d < array->cDims; ++d) count *= array->rgsabound[d].cElements;
    duk_push_array(context);
    const auto* bytes = static_cast<const unsigned char*>(array->pvData);
    for (size_t i = 0; i < count; ++i) {
        platform::Variant value;
        ElementValue(array, type, bytes + i * array->cbElements, &value);
        PushVariant(context, value);
        duk_put_prop_index(context, -2, static_cast<duk_uarridx_t>(i));
    }
    return 1;
}

}  // namespace

void InstallVBArray(duk_context* context) {
    const duk_function_list_entry vbarray[] = {
        {"dimensions", VBArrayDimensions, 0},     {"lbound", VBArrayLBound, 1},   {"ubound", VBArrayUBound, 1},
        {"getItem", VBArrayGetItem, DUK_VARARGS}, {"toArray", VBArrayToArray, 0}, {nullptr, nullptr, 0}};
    PushConstructor(context, VBArrayConstruct, 1, vbarray);
    duk_put_prop_string(context, -2, "VBArray");
}

}  // namespace script
