#include "script/JScriptRegExp.h"

#include <string>

namespace script {

namespace {

constexpr const char* kStandardExec = DUK_HIDDEN_SYMBOL("standardExec");
constexpr const char* kStandardMatch = DUK_HIDDEN_SYMBOL("standardMatch");
constexpr const char* kStandardSearch = DUK_HIDDEN_SYMBOL("standardSearch");
constexpr const char* kStandardReplace = DUK_HIDDEN_SYMBOL("standardReplace");

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

bool IsRegExp(duk_context* context, duk_idx_t index) {
    if (!duk_is_object(context, index)) return false;
    duk_get_global_string(context, "RegExp");
    const bool isRegExp = duk_instanceof(context, index, -1) != 0;
    duk_pop(context);
    return isRegExp;
}

// Sets the statics from the last match of the expression at `re` in `this`
// as text, as JScript leaves them after replace, search and a global match
// (which give no match array of their own): the matches are found again by
// the standard's exec, and the expression's lastIndex is left as the
// operation left it.
void RecordLastMatch(duk_context* context, duk_idx_t re) {
    re = duk_normalize_index(context, re);
    duk_get_prop_string(context, re, "lastIndex");
    const duk_idx_t leftIndex = duk_normalize_index(context, -1);
    duk_get_prop_string(context, re, "global");
    const bool global = duk_to_boolean(context, -1);
    duk_pop(context);
    duk_push_this(context);
    duk_to_string(context, -1);
    const duk_idx_t text = duk_normalize_index(context, -1);
    duk_push_null(context);  // the last match so far
    const duk_idx_t last = duk_normalize_index(context, -1);
    if (global) {
        duk_push_int(context, 0);
        duk_put_prop_string(context, re, "lastIndex");
    }
    for (;;) {
        duk_get_prop_string(context, re, "exec");  // the page's own, standard underneath
        duk_get_prop_string(context, -1, kStandardExec);
        duk_remove(context, -2);
        duk_dup(context, re);
        duk_dup(context, text);
        duk_call_method(context, 1);
        if (duk_is_null(context, -1)) {
            duk_pop(context);
            break;
        }
        duk_replace(context, last);
        if (!global) break;
        // An empty match moves on by one, as the operation itself does.
        duk_get_prop_index(context, last, 0);
        const bool empty = duk_get_length(context, -1) == 0;
        duk_pop(context);
        if (empty) {
            duk_get_prop_string(context, re, "lastIndex");
            const double at = duk_get_number(context, -1) + 1;
            duk_pop(context);
            duk_push_number(context, at);
            duk_put_prop_string(context, re, "lastIndex");
        }
    }
    if (!duk_is_null(context, last)) RecordMatch(context, last);
    duk_dup(context, leftIndex);
    duk_put_prop_string(context, re, "lastIndex");
    duk_pop_n(context, 3);  // the last match, the text, lastIndex
}

// The standard's method `key` of String.prototype on `this` with the
// arguments, its result on top; then the statics as its expression left them.
duk_ret_t StandardStringMethod(duk_context* context, const char* key) {
    const duk_idx_t count = duk_get_top(context);
    duk_push_current_function(context);
    duk_get_prop_string(context, -1, key);
    duk_remove(context, -2);
    duk_push_this(context);
    for (duk_idx_t i = 0; i < count; ++i) duk_dup(context, i);
    duk_call_method(context, count);
    if (count > 0 && IsRegExp(context, 0)) {
        // A match array of its own (a match that is not global) says it all.
        if (duk_is_object(context, -1) && duk_has_prop_string(context, -1, "index"))
            RecordMatch(context, -1);
        else
            RecordLastMatch(context, 0);
    }
    return 1;
}

duk_ret_t Match(duk_context* context) { return StandardStringMethod(context, kStandardMatch); }
duk_ret_t Search(duk_context* context) { return StandardStringMethod(context, kStandardSearch); }
duk_ret_t Replace(duk_context* context) { return StandardStringMethod(context, kStandardReplace); }

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
    const duk_idx_t strings = duk_normalize_index(context, -1);
    Wrap(context, strings, "match", Match, 1, kStandardMatch, "match");
    Wrap(context, strings, "search", Search, 1, kStandardSearch, "search");
    Wrap(context, strings, "replace", Replace, 2, kStandardReplace, "replace");
    duk_pop_2(context);
}

}  // namespace script
