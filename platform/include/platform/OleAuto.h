// OLE Automation services: BSTR, VARIANT, SAFEARRAY, error information and
// type libraries.
#pragma once

#include "platform/Com.h"

// ---- BSTR: a 4-byte byte count precedes the characters, which end in NUL --

BSTR SysAllocString(const OLECHAR* text);
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
BSTR SysAllocStringByteLen(const char* bytes, UINT byteLength);
INT SysReAllocString(BSTR* target, const OLECHAR* text);
// Gives *target `length` characters copied from `text`, which may be *target
// itself (its first characters are kept, in place when the block shrinks);
// a null `text` leaves the characters as they are.
INT SysReAllocStringLen(BSTR* target, const OLECHAR* text, UINT length);
void SysFreeString(BSTR text);
UINT SysStringLen(BSTR text);
UINT SysStringByteLen(BSTR text);

// ---- VARIANT ------------------------------------------------------------------

constexpr WORD VARIANT_NOVALUEPROP = 0x1;
constexpr WORD VARIANT_ALPHABOOL = 0x2;

void VariantInit(VARIANT* v);
HRESULT VariantClear(VARIANT* v);
HRESULT VariantCopy(VARIANT* dest, const VARIANT* source);
// Copies with one level of VT_BYREF removed.
HRESULT VariantCopyInd(VARIANT* dest, const VARIANT* source);
HRESULT VariantChangeType(VARIANT* dest, const VARIANT* source, WORD flags, VARTYPE vt);

// ---- SAFEARRAY ----------------------------------------------------------------

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT dims, const SAFEARRAYBOUND* bounds);
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lowerBound, ULONG elements);
HRESULT SafeArrayDestroy(SAFEARRAY* array);
HRESULT SafeArrayLock(SAFEARRAY* array);
HRESULT SafeArrayUnlock(SAFEARRAY* array);
HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data);
HRESULT SafeArrayUnaccessData(SAFEARRAY* array);
UINT SafeArrayGetDim(SAFEARRAY* array);
UINT SafeArrayGetElemsize(SAFEARRAY* array);
HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dim, LONG* bound);
HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dim, LONG* bound);
HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* vt);
HRESULT SafeArrayCopy(SAFEARRAY* source, SAFEARRAY** dest);
HRESULT SafeArrayGetElement(SAFEARRAY* array, const LONG* indices, void* value);
HRESULT SafeArrayPutElement(SAFEARRAY* array, const LONG* indices, const void* value);

// ---- Error information (per thread) --------------------------------------------

HRESULT CreateErrorInfo(ICreateErrorInfo** created);
HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* info);
// Hands the thread's current error information to the caller and clears it;
// S_FALSE when there is none.
HRESULT GetErrorInfo(ULONG reserved, IErrorInfo** info);

// ---- Type libraries --------------------------------------------------------------

// Loads the type library exported by a module file (see TypeLibrary.h).
HRESULT LoadTypeLib(LPCOLESTR path, ITypeLib** library);
// Finds the registered library under HKEY_CLASSES_ROOT\TypeLib and loads it.
HRESULT LoadRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, ITypeLib** library);
HRESULT RegisterTypeLib(ITypeLib* library, LPCOLESTR fullPath, LPCOLESTR helpDir);
HRESULT UnRegisterTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, SYSKIND syskind);
