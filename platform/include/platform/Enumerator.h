// An IEnumVARIANT over an array built once: Next copies up to n entries
// (S_FALSE when fewer were left), Skip stops at the end (S_FALSE), Reset goes
// back to the first entry, Clone shares the array and copies the position.
#pragma once

#include <vector>

#include "platform/Com.h"

// Takes the VARIANTs (they are cleared when the last enumerator goes).
HRESULT CreateVariantEnumerator(std::vector<VARIANT> items, IEnumVARIANT** enumerator);
