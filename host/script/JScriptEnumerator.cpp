#include "script/JScriptEnumerator.h"

#include <duktape.h>

#include "platform/ComPtr.h"
#include "script/ComCalls.h"
#include "script/ComErrors.h"
#include "script/ComHolders.h"
#include "script/JScriptInstall.h"
#include "script/ScriptValues.h"

namespace script {

namespace {

using platform::ComPtr;

// Hidden keys: an enumerator's COM enumeration, its current item and
// whether it is at its end.
constexpr const char* kEnumKey = DUK_HIDDEN_SYMBOL("enum");
constexpr const char* kCurrentKey = DUK_HIDDEN_SYMBOL("current");
constexpr const char* kAtEndKey = DUK_HIDDEN_SYMBOL("atEnd");

duk_ret_t FinalizeEnum(duk_context* context) { return ReleaseUnknown(context, kEnumKey); }

IEnumVARIANT* EnumOfThis(duk_context* context) {
    duk_push_this(context);
    auto* items = HiddenPointer<IEnumVARIANT>(context, -1, kEnumKey);
    duk_pop(context);
    return items;
}

// Fetches the next item into the enumerator's current slot (undefined at the end).
void Advance(duk_context* context, IEnumVARIANT* items) {
    platform::Variant item;
    ULONG fetched = 0;
    duk_push_this(context);
    if (items && items->Next(1, &item, &fetched) == S_OK && fetched == 1) {
        PushVariant(context, item);
        duk_put_prop_string(context, -2, kCurrentKey);
        duk_push_false(context);
    } else {
        duk_del_prop_string(context, -1, kCurrentKey);
        duk_push_true(context);
    }
    duk_put_prop_string(context, -2, kAtEndKey);
    duk_pop(context);
}

duk_ret_t EnumeratorConstruct(duk_context* context) {
    if (!duk_is_constructor_call(context)) return DUK_RET_TYPE_ERROR;
    ComPtr<IEnumVARIANT> items;
    if (!duk_is_undefined(context, 0)) {
        IDispatch* collection = DispatchOf(context, 0);
        if (!collection)
            ThrowComError(context, static_cast<HRESULT>(0x800A01BD),
                          "Object doesn't support this action: Enumerator needs a collection");
        duk_idx_t none = duk_get_top(context);
        CallAndPush(context, collection, DISPID_NEWENUM, DISPATCH_METHOD | DISPATCH_PROPERTYGET, none, 0);
        IUnknown* source = DispatchOf(context, -1);
        if (!source) source = HiddenPointer<IUnknown>(context, -1, kUnknownKey);
        if (!source || FAILED(source->QueryInterface(IID_IEnumVARIANT, items.putVoid())))
            ThrowComError(context, static_cast<HRESULT>(0x800A01BD),
                          "Object doesn't support this action: Enumerator needs a collection");
        duk_pop(context);
    }
    duk_push_this(context);
    duk_push_pointer(context, items.detach());
    duk_put_prop_string(context, -2, kEnumKey);
    duk_push_c_function(context, FinalizeEnum, 1);
    duk_set_finalizer(context, -2);
    duk_pop(context);
    Advance(context, EnumOfThis(context));
    return 0;
}

duk_ret_t EnumeratorAtEnd(duk_context* context) {
    duk_push_this(context);
    duk_get_prop_string(context, -1, kAtEndKey);
    return 1;
}

duk_ret_t EnumeratorItem(duk_context* context) {
    duk_push_this(context);
    duk_get_prop_string(context, -1, kCurrentKey);
    return 1;
}

duk_ret_t EnumeratorMoveNext(duk_context* context) {
    Advance(context, EnumOfThis(context));
    return 0;
}

duk_ret_t EnumeratorMoveFirst(duk_context* context) {
    IEnumVARIANT* items = EnumOfThis(context);
    if (items) items->Reset();
    Advance(context, items);
    return 0;
}

}  // namespace

void InstallEnumerator(duk_context* context) {
    const duk_function_list_entry enumerator[] = {{"atEnd", EnumeratorAtEnd, 0},
                                                  {"item", EnumeratorItem, 0},
                                                  {"moveNext", EnumeratorMoveNext, 0},
                                                  {"moveFirst", EnumeratorMoveFirst, 0},
                                                  {nullptr, nullptr, 0}};
    PushConstructor(context, EnumeratorConstruct, 1, enumerator);
    duk_put_prop_string(context, -2, "Enumerator");
}

}  // namespace script
