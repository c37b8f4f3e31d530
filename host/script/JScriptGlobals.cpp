#include "script/JScriptGlobals.h"

#include <duktape.h>

#include "script/ComBridge.h"

namespace script {

namespace {

constexpr const char* kNameKey = DUK_HIDDEN_SYMBOL("pageName");

// The getter of a declared object: makes it, and makes its name a plain
// variable holding it, so that it is made once per run.
duk_ret_t MakeAtFirstUse(duk_context* context) {
    duk_push_current_function(context);
    duk_get_prop_string(context, -1, kNameKey);
    const auto* name = static_cast<const PageName*>(duk_get_pointer(context, -1));
    duk_pop_2(context);
    std::string error;
    platform::ComPtr<IDispatch> object = name->make(&error);
    if (!object) ThrowComError(context, E_FAIL, error);
    duk_push_global_object(context);
    duk_push_string(context, name->name.c_str());
    PushObject(context, object.get());
    duk_def_prop(
        context, -3,
        DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_SET_WRITABLE | DUK_DEFPROP_SET_ENUMERABLE | DUK_DEFPROP_SET_CONFIGURABLE);
    duk_pop(context);
    PushObject(context, object.get());
    return 1;
}

}  // namespace

void PutPageNames(duk_context* context, const PageNames& names) {
    for (const PageName& name : names) {
        if (name.object) {
            PushObject(context, name.object.get());
            duk_put_prop_string(context, -2, name.name.c_str());
            continue;
        }
        duk_push_string(context, name.name.c_str());
        duk_push_c_function(context, MakeAtFirstUse, 0);
        duk_push_pointer(context, const_cast<PageName*>(&name));
        duk_put_prop_string(context, -2, kNameKey);
        duk_def_prop(context, -3, DUK_DEFPROP_HAVE_GETTER | DUK_DEFPROP_SET_ENUMERABLE | DUK_DEFPROP_SET_CONFIGURABLE);
    }
}

}  // namespace script
