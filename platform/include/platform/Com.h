// COM interfaces and OLE Automation data structures with their Windows layouts.
// Interfaces are structs of pure virtual functions in COM slot order with a
// protected non-virtual destructor, so that the Itanium ABI lays out their
// vtables exactly as COM vtables.
#pragma once

#include "platform/WinTypes.h"

struct IUnknown;
struct IDispatch;
struct ITypeInfo;
struct ITypeLib;
struct ITypeComp;
struct IStream;
struct IRecordInfo;

// ---- VARIANT and SAFEARRAY ------------------------------------------------

enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_DECIMAL = 14,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_VOID = 24,
    VT_HRESULT = 25,
    VT_PTR = 26,
    VT_SAFEARRAY = 27,
    VT_USERDEFINED = 29,
    VT_LPSTR = 30,
    VT_LPWSTR = 31,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
    VT_TYPEMASK = 0x0FFF
};

struct SAFEARRAYBOUND {
    ULONG cElements;
    LONG lLbound;
};

struct SAFEARRAY {
    USHORT cDims;
    USHORT fFeatures;
    ULONG cbElements;
    ULONG cLocks;
    PVOID pvData;
    SAFEARRAYBOUND rgsabound[1];
};

constexpr USHORT FADF_AUTO = 0x0001, FADF_STATIC = 0x0002, FADF_EMBEDDED = 0x0004, FADF_FIXEDSIZE = 0x0010,
                 FADF_BSTR = 0x0100, FADF_UNKNOWN = 0x0200, FADF_DISPATCH = 0x0400, FADF_VARIANT = 0x0800,
                 FADF_HAVEVARTYPE = 0x0080;

struct CY {
    int64_t int64;
};

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONGLONG llVal;
        LONG lVal;
        BYTE bVal;
        SHORT iVal;
        float fltVal;
        double dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        CY cyVal;
        DATE date;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        SAFEARRAY* parray;
        BYTE* pbVal;
        SHORT* piVal;
        LONG* plVal;
        LONGLONG* pllVal;
        float* pfltVal;
        double* pdblVal;
        VARIANT_BOOL* pboolVal;
        SCODE* pscode;
        BSTR* pbstrVal;
        IUnknown** ppunkVal;
        IDispatch** ppdispVal;
        SAFEARRAY** pparray;
        VARIANT* pvarVal;
        PVOID byref;
        char cVal;
        USHORT uiVal;
        ULONG ulVal;
        ULONGLONG ullVal;
        INT intVal;
        UINT uintVal;
        struct {
            PVOID pvRecord;
            IRecordInfo* pRecInfo;
        } brecord;
    };
};
using VARIANTARG = VARIANT;
static_assert(sizeof(VARIANT) == 24, "VARIANT must have the Windows x64 layout");

// ---- Dispatch ---------------------------------------------------------------

constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_VALUE = 0;
constexpr DISPID DISPID_PROPERTYPUT = -3;
constexpr DISPID DISPID_NEWENUM = -4;
constexpr MEMBERID MEMBERID_NIL = -1;

constexpr WORD DISPATCH_METHOD = 1, DISPATCH_PROPERTYGET = 2, DISPATCH_PROPERTYPUT = 4, DISPATCH_PROPERTYPUTREF = 8;

struct DISPPARAMS {
    VARIANTARG* rgvarg;
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
};

struct EXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    PVOID pvReserved;
    HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
    SCODE scode;
};

// ---- Type information -------------------------------------------------------

using HREFTYPE = DWORD;

enum TYPEKIND {
    TKIND_ENUM = 0,
    TKIND_RECORD,
    TKIND_MODULE,
    TKIND_INTERFACE,
    TKIND_DISPATCH,
    TKIND_COCLASS,
    TKIND_ALIAS,
    TKIND_UNION,
    TKIND_MAX
};
enum SYSKIND { SYS_WIN16 = 0, SYS_WIN32 = 1, SYS_MAC = 2, SYS_WIN64 = 3 };
enum FUNCKIND { FUNC_VIRTUAL = 0, FUNC_PUREVIRTUAL, FUNC_NONVIRTUAL, FUNC_STATIC, FUNC_DISPATCH };
enum INVOKEKIND { INVOKE_FUNC = 1, INVOKE_PROPERTYGET = 2, INVOKE_PROPERTYPUT = 4, INVOKE_PROPERTYPUTREF = 8 };
enum CALLCONV { CC_FASTCALL = 0, CC_CDECL = 1, CC_STDCALL = 4 };
enum VARKIND { VAR_PERINSTANCE = 0, VAR_STATIC, VAR_CONST, VAR_DISPATCH };

constexpr USHORT PARAMFLAG_NONE = 0, PARAMFLAG_FIN = 0x1, PARAMFLAG_FOUT = 0x2, PARAMFLAG_FLCID = 0x4,
                 PARAMFLAG_FRETVAL = 0x8, PARAMFLAG_FOPT = 0x10, PARAMFLAG_FHASDEFAULT = 0x20;
constexpr WORD FUNCFLAG_FRESTRICTED = 0x1, FUNCFLAG_FHIDDEN = 0x40;
constexpr WORD TYPEFLAG_FAPPOBJECT = 0x1, TYPEFLAG_FCANCREATE = 0x2, TYPEFLAG_FHIDDEN = 0x10, TYPEFLAG_FDUAL = 0x40,
               TYPEFLAG_FOLEAUTOMATION = 0x100, TYPEFLAG_FDISPATCHABLE = 0x1000;
constexpr WORD LIBFLAG_FHASDISKIMAGE = 0x8;
constexpr int IMPLTYPEFLAG_FDEFAULT = 0x1;

struct ARRAYDESC;
struct TYPEDESC {
    union {
        TYPEDESC* lptdesc;
        ARRAYDESC* lpadesc;
        HREFTYPE hreftype;
    };
    VARTYPE vt;
};

struct PARAMDESCEX {
    ULONG cBytes;
    VARIANTARG varDefaultValue;
};

struct PARAMDESC {
    PARAMDESCEX* pparamdescex;
    USHORT wParamFlags;
};

struct IDLDESC {
    ULONG_PTR dwReserved;
    USHORT wIDLFlags;
};

struct ELEMDESC {
    TYPEDESC tdesc;
    union {
        IDLDESC idldesc;
        PARAMDESC paramdesc;
    };
};

struct FUNCDESC {
    MEMBERID memid;
    SCODE* lprgscode;
    ELEMDESC* lprgelemdescParam;
    FUNCKIND funckind;
    INVOKEKIND invkind;
    CALLCONV callconv;
    SHORT cParams;
    SHORT cParamsOpt;
    SHORT oVft;
    SHORT cScodes;
    ELEMDESC elemdescFunc;
    WORD wFuncFlags;
};

struct VARDESC {
    MEMBERID memid;
    LPOLESTR lpstrSchema;
    union {
        ULONG oInst;
        VARIANT* lpvarValue;
    };
    ELEMDESC elemdescVar;
    WORD wVarFlags;
    VARKIND varkind;
};

struct TYPEATTR {
    GUID guid;
    LCID lcid;
    DWORD dwReserved;
    MEMBERID memidConstructor;
    MEMBERID memidDestructor;
    LPOLESTR lpstrSchema;
    ULONG cbSizeInstance;
    TYPEKIND typekind;
    WORD cFuncs;
    WORD cVars;
    WORD cImplTypes;
    WORD cbSizeVft;
    WORD cbAlignment;
    WORD wTypeFlags;
    WORD wMajorVerNum;
    WORD wMinorVerNum;
    TYPEDESC tdescAlias;
    IDLDESC idldescType;
};

struct TLIBATTR {
    GUID guid;
    LCID lcid;
    SYSKIND syskind;
    WORD wMajorVerNum;
    WORD wMinorVerNum;
    WORD wLibFlags;
};

// ---- Interfaces -------------------------------------------------------------

struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};

struct IClassFactory : IUnknown {
    virtual HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) = 0;
    virtual HRESULT LockServer(BOOL fLock) = 0;

protected:
    ~IClassFactory() = default;
};

struct ISequentialStream : IUnknown {
    virtual HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) = 0;
    virtual HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) = 0;

protected:
    ~ISequentialStream() = default;
};

// Only the sequential part of IStream is used by marshaling; the remaining
// slots are declared so that the vtable has the Windows shape.
struct IStream : ISequentialStream {
    virtual HRESULT Seek(LONGLONG dlibMove, DWORD dwOrigin, ULONGLONG* plibNewPosition) = 0;
    virtual HRESULT SetSize(ULONGLONG libNewSize) = 0;
    virtual HRESULT CopyTo(IStream* pstm, ULONGLONG cb, ULONGLONG* pcbRead, ULONGLONG* pcbWritten) = 0;
    virtual HRESULT Commit(DWORD grfCommitFlags) = 0;
    virtual HRESULT Revert() = 0;
    virtual HRESULT LockRegion(ULONGLONG libOffset, ULONGLONG cb, DWORD dwLockType) = 0;
    virtual HRESULT UnlockRegion(ULONGLONG libOffset, ULONGLONG cb, DWORD dwLockType) = 0;
    virtual HRESULT Stat(void* pstatstg, DWORD grfStatFlag) = 0;
    virtual HRESULT Clone(IStream** ppstm) = 0;

protected:
    ~IStream() = default;
};

struct IMarshal : IUnknown {
    virtual HRESULT GetUnmarshalClass(REFIID riid, void* pv, DWORD dwDestContext, void* pvDestContext, DWORD mshlflags,
                                      CLSID* pCid) = 0;
    virtual HRESULT GetMarshalSizeMax(REFIID riid, void* pv, DWORD dwDestContext, void* pvDestContext, DWORD mshlflags,
                                      DWORD* pSize) = 0;
    virtual HRESULT MarshalInterface(IStream* pStm, REFIID riid, void* pv, DWORD dwDestContext, void* pvDestContext,
                                     DWORD mshlflags) = 0;
    virtual HRESULT UnmarshalInterface(IStream* pStm, REFIID riid, void** ppv) = 0;
    virtual HRESULT ReleaseMarshalData(IStream* pStm) = 0;
    virtual HRESULT DisconnectObject(DWORD dwReserved) = 0;

protected:
    ~IMarshal() = default;
};

struct ISupportErrorInfo : IUnknown {
    virtual HRESULT InterfaceSupportsErrorInfo(REFIID riid) = 0;

protected:
    ~ISupportErrorInfo() = default;
};

struct IErrorInfo : IUnknown {
    virtual HRESULT GetGUID(GUID* pGUID) = 0;
    virtual HRESULT GetSource(BSTR* pBstrSource) = 0;
    virtual HRESULT GetDescription(BSTR* pBstrDescription) = 0;
    virtual HRESULT GetHelpFile(BSTR* pBstrHelpFile) = 0;
    virtual HRESULT GetHelpContext(DWORD* pdwHelpContext) = 0;

protected:
    ~IErrorInfo() = default;
};

struct ICreateErrorInfo : IUnknown {
    virtual HRESULT SetGUID(REFGUID rguid) = 0;
    virtual HRESULT SetSource(LPOLESTR szSource) = 0;
    virtual HRESULT SetDescription(LPOLESTR szDescription) = 0;
    virtual HRESULT SetHelpFile(LPOLESTR szHelpFile) = 0;
    virtual HRESULT SetHelpContext(DWORD dwHelpContext) = 0;

protected:
    ~ICreateErrorInfo() = default;
};

struct IDispatch : IUnknown {
    virtual HRESULT GetTypeInfoCount(UINT* pctinfo) = 0;
    virtual HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
    virtual HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) = 0;
    virtual HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                           VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) = 0;

protected:
    ~IDispatch() = default;
};

struct IEnumVARIANT : IUnknown {
    virtual HRESULT Next(ULONG celt, VARIANT* rgVar, ULONG* pCeltFetched) = 0;
    virtual HRESULT Skip(ULONG celt) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumVARIANT** ppEnum) = 0;

protected:
    ~IEnumVARIANT() = default;
};

struct ITypeInfo : IUnknown {
    virtual HRESULT GetTypeAttr(TYPEATTR** ppTypeAttr) = 0;
    virtual HRESULT GetTypeComp(ITypeComp** ppTComp) = 0;
    virtual HRESULT GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc) = 0;
    virtual HRESULT GetVarDesc(UINT index, VARDESC** ppVarDesc) = 0;
    virtual HRESULT GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames) = 0;
    virtual HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* pRefType) = 0;
    virtual HRESULT GetImplTypeFlags(UINT index, INT* pImplTypeFlags) = 0;
    virtual HRESULT GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) = 0;
    virtual HRESULT Invoke(PVOID pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult,
                           EXCEPINFO* pExcepInfo, UINT* puArgErr) = 0;
    virtual HRESULT GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext,
                                     BSTR* pBstrHelpFile) = 0;
    virtual HRESULT GetDllEntry(MEMBERID memid, INVOKEKIND invKind, BSTR* pBstrDllName, BSTR* pBstrName,
                                WORD* pwOrdinal) = 0;
    virtual HRESULT GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo) = 0;
    virtual HRESULT AddressOfMember(MEMBERID memid, INVOKEKIND invKind, PVOID* ppv) = 0;
    virtual HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, PVOID* ppvObj) = 0;
    virtual HRESULT GetMops(MEMBERID memid, BSTR* pBstrMops) = 0;
    virtual HRESULT GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) = 0;
    virtual void ReleaseTypeAttr(TYPEATTR* pTypeAttr) = 0;
    virtual void ReleaseFuncDesc(FUNCDESC* pFuncDesc) = 0;
    virtual void ReleaseVarDesc(VARDESC* pVarDesc) = 0;

protected:
    ~ITypeInfo() = default;
};

struct ITypeLib : IUnknown {
    virtual UINT GetTypeInfoCount() = 0;
    virtual HRESULT GetTypeInfo(UINT index, ITypeInfo** ppTInfo) = 0;
    virtual HRESULT GetTypeInfoType(UINT index, TYPEKIND* pTKind) = 0;
    virtual HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** ppTinfo) = 0;
    virtual HRESULT GetLibAttr(TLIBATTR** ppTLibAttr) = 0;
    virtual HRESULT GetTypeComp(ITypeComp** ppTComp) = 0;
    virtual HRESULT GetDocumentation(INT index, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext,
                                     BSTR* pBstrHelpFile) = 0;
    virtual HRESULT IsName(LPOLESTR szNameBuf, ULONG lHashVal, BOOL* pfName) = 0;
    virtual HRESULT FindName(LPOLESTR szNameBuf, ULONG lHashVal, ITypeInfo** ppTInfo, MEMBERID* rgMemId,
                             USHORT* pcFound) = 0;
    virtual void ReleaseTLibAttr(TLIBATTR* pTLibAttr) = 0;

protected:
    ~ITypeLib() = default;
};

extern "C" {
extern const IID IID_IUnknown;
extern const IID IID_IClassFactory;
extern const IID IID_IMarshal;
extern const IID IID_IStream;
extern const IID IID_ISequentialStream;
extern const IID IID_ISupportErrorInfo;
extern const IID IID_IErrorInfo;
extern const IID IID_ICreateErrorInfo;
extern const IID IID_IDispatch;
extern const IID IID_IEnumVARIANT;
extern const IID IID_ITypeInfo;
extern const IID IID_ITypeLib;
extern const CLSID CLSID_FreeThreadedMarshaler;
}

// ---- Activation -------------------------------------------------------------

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_ALL = 0x17;
constexpr DWORD COINIT_MULTITHREADED = 0x0;
constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;
constexpr DWORD MSHCTX_INPROC = 3;
constexpr DWORD MSHLFLAGS_NORMAL = 0;

using LPFNGETCLASSOBJECT = HRESULT (*)(REFCLSID, REFIID, void**);
using LPFNCANUNLOADNOW = HRESULT (*)();

HRESULT CoInitializeEx(void* reserved, DWORD coInit);
void CoUninitialize();
HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid);
HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId);
HRESULT CoGetClassObject(REFCLSID clsid, DWORD clsContext, void* serverInfo, REFIID riid, void** ppv);
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsContext, REFIID riid, void** ppv);
// Offers every loaded server module whose DllCanUnloadNow says S_OK for unloading.
void CoFreeUnusedLibraries();
HRESULT CoCreateFreeThreadedMarshaler(IUnknown* outer, IUnknown** marshalerInner);
void* CoTaskMemAlloc(size_t size);
void CoTaskMemFree(void* p);

// GUID text in registry form: {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int capacity);
HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid);
HRESULT IIDFromString(LPCOLESTR text, IID* iid);
