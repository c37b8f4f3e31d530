#include "script/JScriptInstall.h"

namespace script {

void PutFunction(duk_context* context, duk_idx_t object, const char* name, duk_c_function function, duk_idx_t args) {
    object = duk_normalize_index(context, object);
    duk_push_c_function(context, function, args);
    duk_put_prop_string(context, object, name);
}

void ReplaceConstructor(duk_context* context, duk_idx_t global, const char* name, duk_c_function constructor,
                        const char* standardKey) {
    global = duk_normalize_index(context, global);
    duk_get_prop_string(context, global, name);
    const duk_idx_t standard = duk_normalize_index(context, -1);
    duk_get_prop_string(context, standard, "prototype");
    const duk_idx_t prototype = duk_normalize_index(context, -1);
    duk_push_c_function(context, constructor, DUK_VARARGS);
    const duk_idx_t replacement = duk_normalize_index(context, -1);
    duk_dup(context, standard);
    duk_put_prop_string(context, replacement, standardKey);
    duk_push_string(context, "prototype");
    duk_dup(context, prototype);
    duk_def_prop(context, replacement, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_CLEAR_WRITABLE);
    duk_dup(context, replacement);
    duk_put_prop_string(context, prototype, "constructor");
    duk_dup(context, replacement);
    duk_put_prop_string(context, global, name);
    duk_remove(context, standard + 1);  // the prototype
    duk_remove(context, standard);
}

void PushConstructor(duk_context* context, duk_c_function construct, duk_idx_t args,
                     const duk_function_list_entry* methods) {
    duk_push_c_function(context, construct, args);
    duk_push_object(context);
    duk_put_function_list(context, -1, methods);
    duk_put_prop_string(context, -2, "prototype");
}

}  // namespace script
