// SAFEARRAY with the Windows layout. The element type is kept in the four
// bytes before the descriptor (FADF_HAVEVARTYPE), as Windows does.
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/OleAuto.h"

namespace {

constexpr size_t kPrefix = 16;

ULONG ElementSize(VARTYPE vt) {
    switch (vt) {
        case VT_I1:
        case VT_UI1:
            return 1;
        case VT_I2:
        case VT_UI2:
        case VT_BOOL:
            return 2;
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_R4:
        case VT_ERROR:
            return 4;
        case VT_I8:
        case VT_UI8:
        case VT_R8:
        case VT_CY:
        case VT_DATE:
            return 8;
        case VT_BSTR:
        case VT_UNKNOWN:
        case VT_DISPATCH:
            return sizeof(void*);
        case VT_VARIANT:
            return sizeof(VARIANT);
        default:
            return 0;
    }
}

USHORT FeaturesFor(VARTYPE vt) {
    switch (vt) {
        case VT_BSTR:
            return FADF_BSTR | FADF_HAVEVARTYPE;
        case VT_UNKNOWN:
            return FADF_UNKNOWN | FADF_HAVEVARTYPE;
        case VT_DISPATCH:
            return FADF_DISPATCH | FADF_HAVEVARTYPE;
        case VT_VARIANT:
            return FADF_VARIANT | FADF_HAVEVARTYPE;
        default:
            return FADF_HAVEVARTYPE;
    }
}

VARTYPE& StoredType(SAFEARRAY* array) {
    return *reinterpret_cast<VARTYPE*>(reinterpret_cast<uint8_t*>(array) - sizeof(DWORD));
}

size_t ElementCount(const SAFEARRAY* array) {
    size_t count = 1;
    for (USHORT i = 0; i < array->cDims; ++i) count *= array->rgsabound[i].cElements;
    return count;
}

SAFEARRAY* AllocateDescriptor(UINT dims) {
    const size_t size = kPrefix + sizeof(SAFEARRAY) + (dims - 1) * sizeof(SAFEARRAYBOUND);
    auto* block = static_cast<uint8_t*>(std::calloc(1, size));
    return block ? reinterpret_cast<SAFEARRAY*>(block + kPrefix) : nullptr;
}

void FreeDescriptor(SAFEARRAY* array) { std::free(reinterpret_cast<uint8_t*>(array) - kPrefix); }

// Releases what the elements own (strings, interfaces, variants).
void ClearElements(SAFEARRAY* array) {
    const size_t count = ElementCount(array);
    if (array->fFeatures & FADF_BSTR) {
        auto* items = static_cast<BSTR*>(array->pvData);
        for (size_t i = 0; i < count; ++i) SysFreeString(items[i]);
    } else if (array->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
        auto* items = static_cast<IUnknown**>(array->pvData);
        for (size_t i = 0; i < count; ++i)
            if (items[i]) items[i]->Release();
    } else if (array->fFeatures & FADF_VARIANT) {
        auto* items = static_cast<VARIANT*>(array->pvData);
        for (size_t i = 0; i < count; ++i) VariantClear(&items[i]);
    }
}

// Offset of the element at `indices` (one per dimension, first dimension
// first), or false when an index is out of bounds.
bool ElementOffset(SAFEARRAY* array, const LONG* indices, size_t* offset) {
    // The first index varies fastest (column-major), as Automation lays
    // arrays out: code that reads the data of a two-dimensional array, and
    // VBArray.toArray, see a(0,0), a(1,0), ... a(0,1), ...
    size_t position = 0;
    for (USHORT d = array->cDims; d-- > 0;) {
        // rgsabound holds the dimensions in reverse order.
        const SAFEARRAYBOUND& bound = array->rgsabound[array->cDims - 1 - d];
        const int64_t relative = static_cast<int64_t>(indices[d]) - bound.lLbound;
        if (relative < 0 || relative >= static_cast<int64_t>(bound.cElements)) return false;
        position = position * bound.cElements + static_cast<size_t>(relative);
    }
    *offset = position * array->cbElements;
    return true;
}

}  // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT dims, const SAFEARRAYBOUND* bounds) {
    const ULONG elementSize = ElementSize(vt);
    if (dims == 0 || dims > 60 || !bounds || elementSize == 0) return nullptr;
    size_t count = 1;
    for (UINT i = 0; i < dims; ++i) {
        if (bounds[i].cElements && count > SIZE_MAX / bounds[i].cElements) return nullptr;
        count *= bounds[i].cElements;
    }
    if (count > (size_t{1} << 40) / elementSize) return nullptr;
    SAFEARRAY* array = AllocateDescriptor(dims);
    if (!array) return nullptr;
    array->cDims = static_cast<USHORT>(dims);
    array->fFeatures = FeaturesFor(vt);
    array->cbElements = elementSize;
    for (UINT i = 0; i < dims; ++i) array->rgsabound[dims - 1 - i] = bounds[i];
    StoredType(array) = vt;
    // Even an empty array gets a data block, so that locking it yields a pointer.
    {
        array->pvData = std::calloc(count ? count : 1, elementSize);
        if (!array->pvData) {
            FreeDescriptor(array);
            return nullptr;
        }
    }
    return array;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lowerBound, ULONG elements) {
    SAFEARRAYBOUND bound{elements, lowerBound};
    return SafeArrayCreate(vt, 1, &bound);
}

HRESULT SafeArrayDestroy(SAFEARRAY* array) {
    if (!array) return S_OK;
    if (array->cLocks > 0) return DISP_E_ARRAYISLOCKED;
    if (array->pvData) {
        ClearElements(array);
        std::free(array->pvData);
    }
    FreeDescriptor(array);
    return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* array) {
    if (!array) return E_INVALIDARG;
    if (array->cLocks == 0xFFFF) return E_UNEXPECTED;
    ++array->cLocks;
    return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* array) {
    if (!array) return E_INVALIDARG;
    if (array->cLocks == 0) return E_UNEXPECTED;
    --array->cLocks;
    return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data) {
    if (!array || !data) return E_INVALIDARG;
    const HRESULT hr = SafeArrayLock(array);
    if (FAILED(hr)) return hr;
    *data = array->pvData;
    return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* array) { return SafeArrayUnlock(array); }

UINT SafeArrayGetDim(SAFEARRAY* array) { return array ? array->cDims : 0; }

UINT SafeArrayGetElemsize(SAFEARRAY* array) { return array ? array->cbElements : 0; }

HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dim, LONG* bound) {
    if (!array || !bound) return E_INVALIDARG;
    if (dim < 1 || dim > array->cDims) return DISP_E_BADINDEX;
    *bound = array->rgsabound[array->cDims - dim].lLbound;
    return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dim, LONG* bound) {
    if (!array || !bound) return E_INVALIDARG;
    if (dim < 1 || dim > array->cDims) return DISP_E_BADINDEX;
    const SAFEARRAYBOUND& b = array->rgsabound[array->cDims - dim];
    *bound = static_cast<LONG>(static_cast<int64_t>(b.lLbound) + b.cElements - 1);
    return S_OK;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* vt) {
    if (!array || !vt) return E_INVALIDARG;
    if (!(array->fFeatures & FADF_HAVEVARTYPE)) return E_INVALIDARG;
    *vt = StoredType(array);
    return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* source, SAFEARRAY** dest) {
    if (!dest) return E_INVALIDARG;
    *dest = nullptr;
    if (!source) return S_OK;
    SAFEARRAYBOUND bounds[64];
    for (USHORT d = 0; d < source->cDims; ++d) bounds[d] = source->rgsabound[source->cDims - 1 - d];
    SAFEARRAY* copy = SafeArrayCreate(StoredType(source), source->cDims, bounds);
    if (!copy) return E_OUTOFMEMORY;
    const size_t count = ElementCount(source);
    if (count == 0) {
        *dest = copy;
        return S_OK;
    }
    if (source->fFeatures & FADF_BSTR) {
        auto* from = static_cast<BSTR*>(source->pvData);
        auto* to = static_cast<BSTR*>(copy->pvData);
        for (size_t i = 0; i < count; ++i) {
            if (!from[i]) continue;
            to[i] = SysAllocStringByteLen(reinterpret_cast<const char*>(from[i]), SysStringByteLen(from[i]));
            if (!to[i]) {
                SafeArrayDestroy(copy);
                return E_OUTOFMEMORY;
            }
        }
    } else if (source->fFeatures & FADF_VARIANT) {
        auto* from = static_cast<VARIANT*>(source->pvData);
        auto* to = static_cast<VARIANT*>(copy->pvData);
        for (size_t i = 0; i < count; ++i) {
            const HRESULT hr = VariantCopy(&to[i], &from[i]);
            if (FAILED(hr)) {
                SafeArrayDestroy(copy);
                return hr;
            }
        }
    } else {
        std::memcpy(copy->pvData, source->pvData, count * source->cbElements);
        if (source->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
            auto* items = static_cast<IUnknown**>(copy->pvData);
            for (size_t i = 0; i < count; ++i)
                if (items[i]) items[i]->AddRef();
        }
    }
    *dest = copy;
    return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* array, const LONG* indices, void* value) {
    if (!array || !indices || !value) return E_INVALIDARG;
    size_t offset = 0;
    if (!ElementOffset(array, indices, &offset)) return DISP_E_BADINDEX;
    void* element = static_cast<uint8_t*>(array->pvData) + offset;
    if (array->fFeatures & FADF_BSTR) {
        BSTR item = *static_cast<BSTR*>(element);
        BSTR copy = item ? SysAllocStringByteLen(reinterpret_cast<const char*>(item), SysStringByteLen(item)) : nullptr;
        if (item && !copy) return E_OUTOFMEMORY;
        *static_cast<BSTR*>(value) = copy;
    } else if (array->fFeatures & FADF_VARIANT) {
        VariantInit(static_cast<VARIANT*>(value));
        return VariantCopy(static_cast<VARIANT*>(value), static_cast<VARIANT*>(element));
    } else {
        std::memcpy(value, element, array->cbElements);
        if (array->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
            IUnknown* item = *static_cast<IUnknown**>(element);
            if (item) item->AddRef();
        }
    }
    return S_OK;
}

HRESULT SafeArrayPutElement(SAFEARRAY* array, const LONG* indices, const void* value) {
    if (!array || !indices) return E_INVALIDARG;
    size_t offset = 0;
    if (!ElementOffset(array, indices, &offset)) return DISP_E_BADINDEX;
    void* element = static_cast<uint8_t*>(array->pvData) + offset;
    if (array->fFeatures & FADF_BSTR) {
        auto item = static_cast<const OLECHAR*>(value);
        BSTR copy = item ? SysAllocString(item) : nullptr;
        if (item && !copy) return E_OUTOFMEMORY;
        SysFreeString(*static_cast<BSTR*>(element));
        *static_cast<BSTR*>(element) = copy;
    } else if (array->fFeatures & FADF_VARIANT) {
        return VariantCopy(static_cast<VARIANT*>(element), static_cast<const VARIANT*>(value));
    } else if (array->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
        auto item = static_cast<IUnknown*>(const_cast<void*>(value));
        if (item) item->AddRef();
        IUnknown*& slot = *static_cast<IUnknown**>(element);
        if (slot) slot->Release();
        slot = item;
    } else {
        std::memcpy(element, value, array->cbElements);
    }
    return S_OK;
}
