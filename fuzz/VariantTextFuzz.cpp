// Script arguments given as any text convert to numbers and booleans or
// fail with a dispatch error.
#include <cstdint>
#include <cstdlib>

#include "platform/OleAuto.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    VARIANT text;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocStringByteLen(reinterpret_cast<const char*>(data), static_cast<UINT>(size & ~size_t{1}));
    static const VARTYPE kTargets[] = {VT_I4, VT_I2, VT_UI1, VT_R8, VT_BOOL, VT_I8, VT_BSTR};
    for (VARTYPE vt : kTargets) {
        VARIANT out;
        VariantInit(&out);
        const HRESULT hr = VariantChangeType(&out, &text, 0, vt);
        if (FAILED(hr) && hr != DISP_E_TYPEMISMATCH && hr != DISP_E_OVERFLOW) std::abort();
        if (SUCCEEDED(hr) && out.vt != vt) std::abort();
        VariantClear(&out);
    }
    VariantClear(&text);
    return 0;
}
