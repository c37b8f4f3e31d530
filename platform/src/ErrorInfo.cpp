// Error information: one current IErrorInfo per thread.
#include <atomic>
#include <string>

#include "platform/ComPtr.h"
#include "platform/RefCounted.h"

namespace {

class ErrorInfo final : public platform::RefCounted<IErrorInfo, ICreateErrorInfo> {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IErrorInfo) {
            *ppv = static_cast<IErrorInfo*>(this);
        } else if (riid == IID_ICreateErrorInfo) {
            *ppv = static_cast<ICreateErrorInfo*>(this);
        } else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }

    HRESULT GetGUID(GUID* guid) override {
        if (!guid) return E_INVALIDARG;
        *guid = mGuid;
        return S_OK;
    }
    HRESULT GetSource(BSTR* out) override { return Give(mSource, out); }
    HRESULT GetDescription(BSTR* out) override { return Give(mDescription, out); }
    HRESULT GetHelpFile(BSTR* out) override { return Give(mHelpFile, out); }
    HRESULT GetHelpContext(DWORD* out) override {
        if (!out) return E_INVALIDARG;
        *out = mHelpContext;
        return S_OK;
    }

    HRESULT SetGUID(REFGUID guid) override {
        mGuid = guid;
        return S_OK;
    }
    HRESULT SetSource(LPOLESTR text) override { return Keep(text, &mSource); }
    HRESULT SetDescription(LPOLESTR text) override { return Keep(text, &mDescription); }
    HRESULT SetHelpFile(LPOLESTR text) override { return Keep(text, &mHelpFile); }
    HRESULT SetHelpContext(DWORD context) override {
        mHelpContext = context;
        return S_OK;
    }

private:
    ~ErrorInfo() override = default;

    static HRESULT Give(const std::u16string& text, BSTR* out) {
        if (!out) return E_INVALIDARG;
        *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return *out ? S_OK : E_OUTOFMEMORY;
    }
    static HRESULT Keep(LPOLESTR text, std::u16string* field) {
        *field = text ? std::u16string(text) : std::u16string();
        return S_OK;
    }

    GUID mGuid = GUID_NULL;
    std::u16string mSource, mDescription, mHelpFile;
    DWORD mHelpContext = 0;
};

// The thread's current error information; released when the thread ends.
thread_local platform::ComPtr<IErrorInfo> tCurrentError;

}  // namespace

HRESULT CreateErrorInfo(ICreateErrorInfo** created) {
    if (!created) return E_INVALIDARG;
    auto* info = new (std::nothrow) ErrorInfo;
    if (!info) return E_OUTOFMEMORY;
    *created = info;
    return S_OK;
}

HRESULT SetErrorInfo(ULONG, IErrorInfo* info) {
    if (info) info->AddRef();
    tCurrentError = platform::ComPtr<IErrorInfo>(info);
    return S_OK;
}

HRESULT GetErrorInfo(ULONG, IErrorInfo** info) {
    if (!info) return E_INVALIDARG;
    *info = tCurrentError.detach();
    return *info ? S_OK : S_FALSE;
}
