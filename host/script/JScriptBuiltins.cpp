#include "script/JScriptBuiltins.h"

#include "script/JScriptDates.h"
#include "script/JScriptErrors.h"
#include "script/JScriptFunctions.h"
#include "script/JScriptRegExp.h"

namespace script {

void InstallJScriptBuiltins(duk_context* context) {
    InstallJScriptDates(context);
    InstallJScriptErrors(context);
    InstallJScriptFunctions(context);
    InstallJScriptRegExp(context);
}

}  // namespace script
