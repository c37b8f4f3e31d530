// Identifiers of the standard interfaces, with their Windows values, and the
// registry text form of GUIDs.
#include <cstdio>
#include <cstring>

#include "platform/Com.h"

const GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

#define STD_IID(name, d1, d2, d3) \
    extern "C" const IID name = {d1, d2, d3, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}}

STD_IID(IID_IUnknown, 0x00000000, 0x0000, 0x0000);
STD_IID(IID_IClassFactory, 0x00000001, 0x0000, 0x0000);
STD_IID(IID_IMarshal, 0x00000003, 0x0000, 0x0000);
STD_IID(IID_IStream, 0x0000000C, 0x0000, 0x0000);
STD_IID(IID_IDispatch, 0x00020400, 0x0000, 0x0000);
STD_IID(IID_IEnumVARIANT, 0x00020404, 0x0000, 0x0000);
STD_IID(IID_ITypeInfo, 0x00020401, 0x0000, 0x0000);
STD_IID(IID_ITypeLib, 0x00020402, 0x0000, 0x0000);
STD_IID(CLSID_FreeThreadedMarshaler, 0x0000033A, 0x0000, 0x0000);

extern "C" const IID IID_ISequentialStream = {
    0x0C733A30, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
#define ERRORINFO_IID(name, d1, d2, d3) \
    extern "C" const IID name = {d1, d2, d3, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}}
ERRORINFO_IID(IID_ICreateErrorInfo, 0x22F03340, 0x547D, 0x101B);
ERRORINFO_IID(IID_ISupportErrorInfo, 0xDF0B3D60, 0x548F, 0x101B);
ERRORINFO_IID(IID_IErrorInfo, 0x1CF2B120, 0x547D, 0x101B);

int StringFromGUID2(REFGUID g, LPOLESTR buffer, int capacity) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    const int length = static_cast<int>(std::strlen(text)) + 1;
    if (!buffer || capacity < length) return 0;
    for (int i = 0; i < length; ++i) buffer[i] = static_cast<OLECHAR>(text[i]);
    return length;
}

static int HexValue(OLECHAR c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads `digits` hexadecimal digits at text[pos].
static bool ReadHex(LPCOLESTR text, int pos, int digits, uint32_t* value) {
    uint32_t result = 0;
    for (int i = 0; i < digits; ++i) {
        const int h = HexValue(text[pos + i]);
        if (h < 0) return false;
        result = (result << 4) | static_cast<uint32_t>(h);
    }
    *value = result;
    return true;
}

HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid) {
    if (!clsid) return E_INVALIDARG;
    if (!text) return CO_E_CLASSSTRING;
    int length = 0;
    while (text[length] && length < 40) ++length;
    static const int dashes[] = {9, 14, 19, 24};
    if (length != 38 || text[0] != '{' || text[37] != '}') return CO_E_CLASSSTRING;
    for (int d : dashes)
        if (text[d] != '-') return CO_E_CLASSSTRING;
    uint32_t v = 0;
    GUID g{};
    if (!ReadHex(text, 1, 8, &v)) return CO_E_CLASSSTRING;
    g.Data1 = v;
    if (!ReadHex(text, 10, 4, &v)) return CO_E_CLASSSTRING;
    g.Data2 = static_cast<uint16_t>(v);
    if (!ReadHex(text, 15, 4, &v)) return CO_E_CLASSSTRING;
    g.Data3 = static_cast<uint16_t>(v);
    static const int bytePositions[] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) {
        if (!ReadHex(text, bytePositions[i], 2, &v)) return CO_E_CLASSSTRING;
        g.Data4[i] = static_cast<uint8_t>(v);
    }
    *clsid = g;
    return S_OK;
}

HRESULT IIDFromString(LPCOLESTR text, IID* iid) {
    const HRESULT hr = CLSIDFromString(text, iid);
    return hr == CO_E_CLASSSTRING ? E_INVALIDARG : hr;
}
