#include "script/ComBridge.h"

#include "script/JScriptEnumerator.h"
#include "script/JScriptVBArray.h"

namespace script {

void InstallComTypes(duk_context* context) {
    InstallEnumerator(context);
    InstallVBArray(context);
    InstallAssignToCall(context);
}

}  // namespace script
