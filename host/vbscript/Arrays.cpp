#include "vbscript/Arrays.h"

#include "vbscript/RuntimeError.h"

namespace vbs {

SAFEARRAY* ArrayOfValue(const Value& value) {
    if (!(value.vt & VT_ARRAY)) throw RuntimeError(kTypeMismatch);
    SAFEARRAY* array = (value.vt & VT_BYREF) ? (value.pparray ? *value.pparray : nullptr) : value.parray;
    if (!array) throw RuntimeError(kSubscriptOutOfRange);
    return array;
}

Value MakeArray(const std::vector<int32_t>& upperBounds) {
    std::vector<SAFEARRAYBOUND> bounds;
    uint64_t elements = 1;
    for (int32_t upper : upperBounds) {
        if (upper < -1) throw RuntimeError(kSubscriptOutOfRange);
        const uint64_t count = static_cast<uint64_t>(static_cast<int64_t>(upper) + 1);
        elements *= count;
        if (elements > kMaxArrayElements) throw RuntimeError(kOutOfMemory);
        bounds.push_back({static_cast<ULONG>(count), 0});
    }
    SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, static_cast<UINT>(bounds.size()), bounds.data());
    if (!array) throw RuntimeError(kOutOfMemory);
    Value out;
    out.vt = VT_ARRAY | VT_VARIANT;
    out.parray = array;
    return out;
}

namespace {

struct Shape {
    std::vector<int32_t> lower, upper;
};

Shape ShapeOf(SAFEARRAY* array) {
    Shape shape;
    for (UINT d = 1; d <= SafeArrayGetDim(array); ++d) {
        LONG lower = 0, upper = -1;
        SafeArrayGetLBound(array, d, &lower);
        SafeArrayGetUBound(array, d, &upper);
        shape.lower.push_back(lower);
        shape.upper.push_back(upper);
    }
    return shape;
}

// Steps `indices` to the next element, first index fastest; false after the last.
bool Advance(std::vector<int32_t>& indices, const Shape& shape) {
    for (size_t d = 0; d < indices.size(); ++d) {
        if (indices[d] < shape.upper[d]) {
            ++indices[d];
            return true;
        }
        indices[d] = shape.lower[d];
    }
    return false;
}

bool HasElements(const Shape& shape) {
    for (size_t d = 0; d < shape.lower.size(); ++d)
        if (shape.upper[d] < shape.lower[d]) return false;
    return !shape.lower.empty();
}

}  // namespace

Value ElementAt(const Value& array, const std::vector<int32_t>& indices) {
    SAFEARRAY* sa = ArrayOfValue(array);
    if (indices.size() != SafeArrayGetDim(sa)) throw RuntimeError(kSubscriptOutOfRange);
    VARTYPE type = VT_VARIANT;
    SafeArrayGetVartype(sa, &type);
    Value element;
    HRESULT hr;
    if (type == VT_VARIANT) {
        hr = SafeArrayGetElement(sa, indices.data(), &element);
    } else {
        // The element's bytes go where a VARIANT of its type keeps them.
        hr = SafeArrayGetElement(sa, indices.data(), &element.llVal);
        if (SUCCEEDED(hr)) element.vt = type;
    }
    if (FAILED(hr)) throw RuntimeError(kSubscriptOutOfRange);
    return element;
}

void PutElement(Value& array, const std::vector<int32_t>& indices, const Value& value) {
    SAFEARRAY* sa = ArrayOfValue(array);
    if (indices.size() != SafeArrayGetDim(sa)) throw RuntimeError(kSubscriptOutOfRange);
    VARTYPE type = VT_VARIANT;
    SafeArrayGetVartype(sa, &type);
    if (type != VT_VARIANT) throw RuntimeError(kTypeMismatch);
    if (FAILED(SafeArrayPutElement(sa, indices.data(), &value))) throw RuntimeError(kSubscriptOutOfRange);
}

Value ResizedArray(const Value& old, const std::vector<int32_t>& upperBounds) {
    SAFEARRAY* source = ArrayOfValue(old);
    const Shape shape = ShapeOf(source);
    if (shape.upper.size() != upperBounds.size()) throw RuntimeError(kSubscriptOutOfRange);
    for (size_t d = 0; d + 1 < upperBounds.size(); ++d)
        if (shape.upper[d] != upperBounds[d] || shape.lower[d] != 0) throw RuntimeError(kSubscriptOutOfRange);
    Value resized = MakeArray(upperBounds);
    if (!HasElements(shape)) return resized;
    std::vector<int32_t> indices = shape.lower;
    do {
        if (indices.back() <= upperBounds.back()) PutElement(resized, indices, ElementAt(old, indices));
    } while (Advance(indices, shape));
    return resized;
}

int32_t ArrayBound(const Value& array, int dimension, bool upper) {
    SAFEARRAY* sa = ArrayOfValue(array);
    if (dimension < 1 || static_cast<UINT>(dimension) > SafeArrayGetDim(sa)) throw RuntimeError(kSubscriptOutOfRange);
    LONG bound = 0;
    if (FAILED(upper ? SafeArrayGetUBound(sa, dimension, &bound) : SafeArrayGetLBound(sa, dimension, &bound)))
        throw RuntimeError(kSubscriptOutOfRange);
    return bound;
}

std::vector<Value> ArrayElements(const Value& array) {
    const Shape shape = ShapeOf(ArrayOfValue(array));
    std::vector<Value> items;
    if (!HasElements(shape)) return items;
    std::vector<int32_t> indices = shape.lower;
    do items.push_back(ElementAt(array, indices));
    while (Advance(indices, shape));
    return items;
}

Value ArrayOf(const std::vector<Value>& items) {
    Value array = MakeArray({static_cast<int32_t>(items.size()) - 1});
    for (size_t i = 0; i < items.size(); ++i) PutElement(array, {static_cast<int32_t>(i)}, items[i]);
    return array;
}

}  // namespace vbs
