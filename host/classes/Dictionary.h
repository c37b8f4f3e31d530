// Scripting.Dictionary: keys and items in the order they were added, found
// by a hash of the key.
#pragma once

#include "platform/Com.h"

namespace classes {

// A new, empty dictionary with one reference for the caller; null when out of memory.
IDispatch* CreateDictionary();

}  // namespace classes
