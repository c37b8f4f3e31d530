#include "script/JScriptBuiltins.h"

#include <cmath>

#include "script/JScriptErrors.h"

namespace script {

namespace {

duk_ret_t DateGetYear(duk_context* context) {
    duk_push_this(context);
    duk_get_prop_string(context, -1, "getFullYear");
    duk_dup(context, -2);
    duk_call_method(context, 0);
    const double year = duk_get_number(context, -1);
    duk_push_number(context, !std::isnan(year) && year >= 1900 && year <= 1999 ? year - 1900 : year);
    return 1;
}

}  // namespace

void InstallJScriptBuiltins(duk_context* context) {
    duk_get_prop_string(context, -1, "Date");
    duk_get_prop_string(context, -1, "prototype");
    duk_push_c_function(context, DateGetYear, 0);
    duk_put_prop_string(context, -2, "getYear");
    duk_pop_2(context);
    InstallJScriptErrors(context);
}

}  // namespace script
