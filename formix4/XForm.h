// The upload form: the object a page creates to read and parse its request.
#pragma once

#include "ComObject.h"
#include "Formix4.h"
#include "Multipart.h"

class XForm final : public ComObject<IXForm> {
public:
    explicit XForm(IUnknown* inOuter) : ComObject(kIdentity, inOuter) {}
    // Ends an impersonation of this form on the destroying thread.
    ~XForm() override;
    static HRESULT CreateInstance(IUnknown* inOuter, REFIID riid, void** ppv) {
        return Create<XForm>(inOuter, riid, ppv);
    }
    static constexpr ClassIdentity kIdentity{&CLSID_XForm, &IID_IXForm};

    HRESULT get__NewEnum(IUnknown** outEnum) override;
    HRESULT get_Item(VARIANT inIndex, VARIANT* outVal) override;
    HRESULT get_Count(LONG* outCount) override;
    HRESULT get_ID(LONG* outID) override;
    HRESULT put_ID(LONG inID) override;
    HRESULT get_AbsolutePath(VARIANT_BOOL* theTruth) override;
    HRESULT put_AbsolutePath(VARIANT_BOOL inTruth) override;
    HRESULT get_Overwrite(VARIANT_BOOL* theTruth) override;
    HRESULT put_Overwrite(VARIANT_BOOL inTruth) override;
    HRESULT get_MaxUploadSize(LONG* theBytes) override;
    HRESULT put_MaxUploadSize(LONG inBytes) override;
    HRESULT get_User(BSTR* outName) override;
    HRESULT get_Domain(BSTR* outName) override;
    HRESULT get_CodePage(LONG* outCodePage) override;
    HRESULT put_CodePage(LONG inCodePage) override;
    HRESULT get_Streams(VARIANT_BOOL* outStreams) override;
    HRESULT put_Streams(VARIANT_BOOL inStreams) override;
    HRESULT get_Multipart(VARIANT_BOOL* outMP) override;
    HRESULT SetUser(BSTR inName, BSTR inPassword, BSTR inDomain) override;
    HRESULT Read(BSTR inPath) override;
    HRESULT Save(BSTR inPath) override;

    // The engine and the saving options, for the field objects of this form.
    Multipart& Engine() { return mEngine; }
    bool AbsolutePath() const { return mAbsolutePath != VARIANT_FALSE; }
    // XField.Save takes a path as absolute only when the setting holds the
    // boolean true value -1; scripts always pass -1, and 1 reads as false.
    bool AbsolutePathIsTrue() const { return mAbsolutePath == VARIANT_TRUE; }
    bool Overwrite() const { return mOverwrite != VARIANT_FALSE; }
    bool Streams() const { return mStreams != VARIANT_FALSE; }

protected:
    UINT CallCodePage() override { return mEngine.ParsedCodePage(); }

private:
    // Processes the request once; the intake's failure as the call's result.
    HRESULT ProcessRequest();
    template <class T>
    HRESULT GetValue(SourcePlace inPlace, T* outValue, T inValue);
    template <class Put>
    HRESULT PutValue(SourcePlace inPlace, Put inPut);

    // Impersonation: the logon token of the last successful SetUser.
    bool Impersonate(const std::string& inName, const std::string& inPassword, const std::string& inDomain);
    bool EndImpersonation();
    // The account the calling thread acts as: its name or its domain.
    HRESULT GetAccount(SourcePlace inPlace, BSTR* outText, bool inDomain);

    HANDLE mToken = nullptr;
    Multipart mEngine;
    VARIANT_BOOL mAbsolutePath = VARIANT_FALSE;
    VARIANT_BOOL mOverwrite = VARIANT_FALSE;
    VARIANT_BOOL mStreams = VARIANT_TRUE;
};

// A counted reference to the form that made a field or collection: it keeps
// the form, and with it the parsed data, alive.
class FormReference {
public:
    void attach(XForm* inForm) {
        if (inForm) inForm->AddRef();
        mReference = platform::ComPtr<IXForm>(inForm);
        mForm = inForm;
    }
    XForm* get() const { return mForm; }
    XForm* operator->() const { return mForm; }
    explicit operator bool() const { return mForm != nullptr; }

private:
    platform::ComPtr<IXForm> mReference;
    XForm* mForm = nullptr;
};
