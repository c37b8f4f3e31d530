// How a dictionary tells its keys apart. A key is any value but an array:
// texts compare by their code units, or without regard to case in text
// mode; numbers by value whatever their type (1 and 1.0 are one key, and
// every NaN is one key); booleans, dates, Empty and Null each by kind and
// value; objects by identity (their IUnknown). A text is never equal to a
// number, so 1 and "1" are two keys.
#pragma once

#include <cstddef>

#include "platform/OleAuto.h"

namespace classes {

// Whether a value can be a key: not an array, not by reference.
bool CanBeKey(const VARIANT& key);

// Hash and equality of keys for a dictionary whose mode `textMode` points to.
struct KeyHash {
    const bool* textMode;
    size_t operator()(const VARIANT* key) const;
};
struct KeyEqual {
    const bool* textMode;
    bool operator()(const VARIANT* a, const VARIANT* b) const;
};

// Bytes a stored value holds beyond its VARIANT: a text's characters, an
// array's elements (and the texts in an array of VARIANTs).
size_t HeldBytes(const VARIANT& value);

}  // namespace classes
