// The language's arrays: SAFEARRAYs of VARIANTs, every dimension from 0,
// made by Dim, ReDim and Array(); arrays of other element types (a byte
// array from Request.BinaryRead) are read as they are.
#pragma once

#include <cstdint>
#include <vector>

#include "vbscript/Value.h"

namespace vbs {

// A page's array holds at most this many elements (7 "Out of memory"
// beyond): a worker's memory is shared with every other request.
constexpr uint64_t kMaxArrayElements = uint64_t{1} << 24;

// An array with these upper bounds (-1: no elements), of Empty values.
Value MakeArray(const std::vector<int32_t>& upperBounds);
// ReDim Preserve: the elements the new bounds still hold are kept; only
// the last dimension may change (9 otherwise).
Value ResizedArray(const Value& old, const std::vector<int32_t>& upperBounds);
// The element at `indices`; 9 when they do not fit the array.
Value ElementAt(const Value& array, const std::vector<int32_t>& indices);
void PutElement(Value& array, const std::vector<int32_t>& indices, const Value& value);
// LBound/UBound of a dimension (from 1); 9 when it has none.
int32_t ArrayBound(const Value& array, int dimension, bool upper);
// The elements in the order For Each walks them (first index fastest).
std::vector<Value> ArrayElements(const Value& array);
// A one-dimensional array of these values (Array(), Split()).
Value ArrayOf(const std::vector<Value>& items);

SAFEARRAY* ArrayOfValue(const Value& value);

}  // namespace vbs
