#include "script/JScriptRegExp.h"

#include <string>

namespace script {

namespace {

constexpr const char* kStandardExec = DUK_HIDDEN_SYMBOL("standardExec");
constexpr const char* kStandardMatch = DUK_HIDDEN_SYMBOL("standardMatch");

// Sets the statics from the match array at `match` (its groups, index and input).
void RecordMatch(duk_context* context, duk_idx_t match) {
    match = duk_normalize_index(context, match);
    duk_get_global_string(context, "RegExp");
    const duk_idx_t statics = duk_normalize_index(context, -1);
    const duk_size_t groups = duk_get_length(context, match);
    for (int i = 1; i <= 9; ++i) {
        const std::string name = "$" + std::to_string(i);
        if (static_cast<duk_size_t>(i) < groups) {
            duk_get_prop_index(context, match, i);
            if (duk_is_undefined(context, -1)) {
                duk_pop(context);
                duk_push_string(context, "");
            }
        } else {
            duk_push_string(context, "");
        }
        duk_put_prop_string(context, statics, name.c_str());
    }
    duk_get_prop_index(context, match, 0);
    duk_to_string(context, -1);
    const duk_size_t matchedLength = duk_get_length(context, -1);
    duk_put_prop_string(context, statics, "lastMatch");
    duk_get_prop_string(context, match, "index");
    const duk_size_t index = static_cast<duk_size_t>(duk_get_uint(context, -1));
    duk_put_prop_string(context, statics, "index");
    duk_push_number(context, static_cast<double>(index + matchedLength));
    duk_put_prop_string(context, statics, "lastIndex");
    duk_get_prop_string(context, match, "input");
    duk_to_string(context, -1);
    duk_dup_top(context);
    duk_put_prop_string(context, statics, "input");
    duk_substring(context, -1, 0, index);
    duk_put_prop_string(context, statics, "leftContext");
    duk_get_prop_string(context, statics, "input");
    duk_substring(context, -1, index + matchedLength, duk_get_length(context, -1));
    duk_put_prop_string(context, statics, "rightContext");
    duk_pop(context);  // RegExp
}

// The standard's exec on `this` with the argument at 0, its result on top.
void StandardExec(duk_context* context) {
    duk_push_current_function(context);
    duk_get_prop_string(context, -1, kStandardExec);
    duk_remove(context, -2);
    duk_push_this(context);
    duk_dup(context, 0);
    duk_call_method(context, 1);
}

duk_ret_t Exec(duk_context* context) {
    StandardExec(context);
    if (!duk_is_null(context, -1)) RecordMatch(context, -1);
    return 1;
}

duk_ret_t Test(duk_context* context) {
    StandardExec(context);
    const bool matched = !duk_is_null(context, -1);
    if (matched) RecordMatch(context, -1);
    duk_push_boolean(context, matched);
    return 1;
}

duk_ret_t Match(duk_context* context) {
    duk_push_current_function(context);
    duk_get_prop_string(context, -1, kStandardMatch);
    duk_remove(context, -2);
    duk_push_this(context);
    duk_dup(context, 0);
    duk_call_method(context, 1);
    // A global match gives every match's text and no groups: the statics
    // stay as they were.
    if (duk_is_object(context, -1) && duk_has_prop_string(context, -1, "index")) RecordMatch(context, -1);
    return 1;
}

// Replaces `object[name]` with `function`, which finds the standard's under `key`.
void Wrap(duk_context* context, duk_idx_t object, const char* name, duk_c_function function, duk_idx_t args,
          const char* key, const char* standardName) {
    duk_push_c_function(context, function, args);
    duk_get_prop_string(context, object, standardName);
    duk_put_prop_string(context, -2, key);
    duk_put_prop_string(context, object, name);
}

}  // namespace

void InstallJScriptRegExp(duk_context* context) {
    const duk_idx_t global = duk_normalize_index(context, -1);
    duk_get_prop_string(context, global, "RegExp");
    duk_get_prop_string(context, -1, "prototype");
    const duk_idx_t prototype = duk_normalize_index(context, -1);
    Wrap(context, prototype, "test", Test, 1, kStandardExec, "exec");
    Wrap(context, prototype, "exec", Exec, 1, kStandardExec, "exec");
    duk_pop_2(context);
    duk_get_prop_string(context, global, "String");
    duk_get_prop_string(context, -1, "prototype");
    Wrap(context, duk_normalize_index(context, -1), "match", Match, 1, kStandardMatch, "match");
    duk_pop_2(context);
}

}  // namespace script
