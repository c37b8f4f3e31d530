// The component's public face: class and interface identifiers, the image
// type enumeration and the four dual interfaces, in vtable slot order.
// Callers include this header to use the component through its interfaces.
#pragma once

#include "platform/OleAuto.h"

extern "C" {
extern const GUID LIBID_Formix4;
extern const CLSID CLSID_XForm;
extern const CLSID CLSID_XField;
extern const CLSID CLSID_XFields;
extern const CLSID CLSID_XProgress;
extern const IID IID_IXForm;
extern const IID IID_IXField;
extern const IID IID_IXFields;
extern const IID IID_IXProgress;
}

enum fmxImageType : int32_t {
    fmxUnknown = 0,
    fmxJPEGgray = 1,
    fmxJPEG = 2,
    fmxJPEGcmyk = 3,
    fmxGIF = 4,
    fmxPNG = 5,
    fmxBMP = 6,
};

struct IXForm : IDispatch {
    virtual HRESULT get__NewEnum(IUnknown** outEnum) = 0;
    virtual HRESULT get_Item(VARIANT inIndex, VARIANT* outVal) = 0;
    virtual HRESULT get_Count(LONG* outCount) = 0;
    virtual HRESULT get_ID(LONG* outID) = 0;
    virtual HRESULT put_ID(LONG inID) = 0;
    virtual HRESULT get_AbsolutePath(VARIANT_BOOL* theTruth) = 0;
    virtual HRESULT put_AbsolutePath(VARIANT_BOOL inTruth) = 0;
    virtual HRESULT get_Overwrite(VARIANT_BOOL* theTruth) = 0;
    virtual HRESULT put_Overwrite(VARIANT_BOOL inTruth) = 0;
    virtual HRESULT get_MaxUploadSize(LONG* theBytes) = 0;
    virtual HRESULT put_MaxUploadSize(LONG inBytes) = 0;
    virtual HRESULT get_User(BSTR* outName) = 0;
    virtual HRESULT get_Domain(BSTR* outName) = 0;
    virtual HRESULT get_CodePage(LONG* outCodePage) = 0;
    virtual HRESULT put_CodePage(LONG inCodePage) = 0;
    virtual HRESULT get_Streams(VARIANT_BOOL* outStreams) = 0;
    virtual HRESULT put_Streams(VARIANT_BOOL inStreams) = 0;
    virtual HRESULT get_Multipart(VARIANT_BOOL* outMP) = 0;
    virtual HRESULT SetUser(BSTR inName, BSTR inPassword, BSTR inDomain) = 0;
    virtual HRESULT Read(BSTR inPath) = 0;
    virtual HRESULT Save(BSTR inPath) = 0;

protected:
    ~IXForm() = default;
};

struct IXFields : IDispatch {
    virtual HRESULT get__NewEnum(IUnknown** outEnum) = 0;
    virtual HRESULT get_Item(VARIANT inIndex, VARIANT* outVal) = 0;
    virtual HRESULT get_Count(LONG* outCount) = 0;

protected:
    ~IXFields() = default;
};

struct IXField : IDispatch {
    virtual HRESULT get_Content(BSTR* outVal) = 0;
    virtual HRESULT get_Name(BSTR* outCount) = 0;
    virtual HRESULT get_Length(LONG* outCount) = 0;
    virtual HRESULT get_FileExists(VARIANT_BOOL* outTruth) = 0;
    virtual HRESULT get_SafeFileName(BSTR* outName) = 0;
    virtual HRESULT get_FileType(BSTR* outType) = 0;
    virtual HRESULT get_FileName(BSTR* outName) = 0;
    virtual HRESULT get_MIMEType(BSTR* outType) = 0;
    virtual HRESULT get_MacBinary(VARIANT_BOOL* outTruth) = 0;
    virtual HRESULT get_Data(VARIANT* outData) = 0;
    virtual HRESULT get_Resource(VARIANT* outData) = 0;
    virtual HRESULT get_RawFilePath(BSTR* outPath) = 0;
    virtual HRESULT get_RawFileName(BSTR* outName) = 0;
    virtual HRESULT get_RawFileType(BSTR* outName) = 0;
    virtual HRESULT get_RawLength(LONG* outCount) = 0;
    virtual HRESULT get_RawData(VARIANT* outData) = 0;
    virtual HRESULT get_ImageType(fmxImageType* outType) = 0;
    virtual HRESULT get_ImageWidth(LONG* outWidth) = 0;
    virtual HRESULT get_ImageHeight(LONG* outHeight) = 0;
    virtual HRESULT Save(BSTR inPath) = 0;

protected:
    ~IXField() = default;
};

struct IXProgress : IDispatch {
    virtual HRESULT get_ID(LONG* outID) = 0;
    virtual HRESULT put_ID(LONG inID) = 0;
    virtual HRESULT get_Note(BSTR* outNote) = 0;
    virtual HRESULT put_Note(BSTR inNote) = 0;
    virtual HRESULT get_Started(VARIANT_BOOL* outTruth) = 0;
    virtual HRESULT get_BytesTotal(LONG* outBytes) = 0;
    virtual HRESULT get_BytesDone(LONG* outBytes) = 0;
    virtual HRESULT get_PercentDone(LONG* outPercent) = 0;
    virtual HRESULT get_ElapsedSeconds(LONG* outSeconds) = 0;
    virtual HRESULT get_SecondsLeft(LONG* outSeconds) = 0;
    virtual HRESULT get_BytesPerSecond(LONG* outBytesPS) = 0;

protected:
    ~IXProgress() = default;
};
