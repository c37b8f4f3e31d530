// The page host's names put into a JScript run's global object: a ready
// object as the value of its name, a declared one behind a getter that
// makes it at the first use and then leaves it as the name's value.
#pragma once

#include "script/PageNames.h"

struct duk_hthread;
typedef struct duk_hthread duk_context;

namespace script {

// Into the object at the top of the stack (the run's global object).
// `names` must outlive the run.
void PutPageNames(duk_context* context, const PageNames& names);

}  // namespace script
