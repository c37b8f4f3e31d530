#include "script/JScriptBuiltins.h"

#include "script/JScriptDates.h"
#include "script/JScriptErrors.h"

namespace script {

void InstallJScriptBuiltins(duk_context* context) {
    InstallJScriptDates(context);
    InstallJScriptErrors(context);
}

}  // namespace script
