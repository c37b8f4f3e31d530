// The free-threaded marshaler: an aggregatable object that answers IMarshal
// for its outer object and marshals in-process by handing over the pointer
// itself, so an interface can be used from any thread without a proxy.
#include <atomic>
#include <new>

#include "platform/Com.h"
#include "platform/RefCounted.h"

namespace {

class FreeThreadedMarshaler final : public platform::RefCounted<IUnknown> {
public:
    explicit FreeThreadedMarshaler(IUnknown* outer) : mOuter(outer ? outer : this), mMarshal(this) {}

    // Non-delegating IUnknown: what the outer object holds.
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown) {
            *ppv = static_cast<IUnknown*>(this);
        } else if (riid == IID_IMarshal) {
            *ppv = static_cast<IMarshal*>(&mMarshal);
        } else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        static_cast<IUnknown*>(*ppv)->AddRef();
        return S_OK;
    }

private:
    struct Marshal final : IMarshal {
        explicit Marshal(FreeThreadedMarshaler* owner) : mOwner(owner) {}
        HRESULT QueryInterface(REFIID riid, void** ppv) override { return mOwner->mOuter->QueryInterface(riid, ppv); }
        ULONG AddRef() override { return mOwner->mOuter->AddRef(); }
        ULONG Release() override { return mOwner->mOuter->Release(); }

        HRESULT GetUnmarshalClass(REFIID, void*, DWORD, void*, DWORD, CLSID* cid) override {
            if (!cid) return E_POINTER;
            *cid = CLSID_FreeThreadedMarshaler;
            return S_OK;
        }
        HRESULT GetMarshalSizeMax(REFIID, void*, DWORD, void*, DWORD, DWORD* size) override {
            if (!size) return E_POINTER;
            *size = sizeof(void*);
            return S_OK;
        }
        // Writes an AddRef'd pointer to the requested interface.
        HRESULT MarshalInterface(IStream* stream, REFIID riid, void* pv, DWORD, void*, DWORD) override {
            if (!stream || !pv) return E_INVALIDARG;
            IUnknown* object = nullptr;
            HRESULT hr = static_cast<IUnknown*>(pv)->QueryInterface(riid, reinterpret_cast<void**>(&object));
            if (FAILED(hr)) return hr;
            hr = stream->Write(&object, sizeof object, nullptr);
            if (FAILED(hr)) object->Release();
            return hr;
        }
        HRESULT UnmarshalInterface(IStream* stream, REFIID riid, void** ppv) override {
            if (!stream || !ppv) return E_INVALIDARG;
            IUnknown* object = nullptr;
            ULONG read = 0;
            HRESULT hr = stream->Read(&object, sizeof object, &read);
            if (FAILED(hr)) return hr;
            if (read != sizeof object || !object) return E_UNEXPECTED;
            hr = object->QueryInterface(riid, ppv);
            object->Release();
            return hr;
        }
        HRESULT ReleaseMarshalData(IStream* stream) override {
            if (!stream) return E_INVALIDARG;
            IUnknown* object = nullptr;
            ULONG read = 0;
            const HRESULT hr = stream->Read(&object, sizeof object, &read);
            if (FAILED(hr)) return hr;
            if (read != sizeof object || !object) return E_UNEXPECTED;
            object->Release();
            return S_OK;
        }
        HRESULT DisconnectObject(DWORD) override { return S_OK; }

        FreeThreadedMarshaler* mOwner;
    };

    ~FreeThreadedMarshaler() override = default;

    IUnknown* mOuter;
    Marshal mMarshal;
};

}  // namespace

HRESULT CoCreateFreeThreadedMarshaler(IUnknown* outer, IUnknown** marshalerInner) {
    if (!marshalerInner) return E_INVALIDARG;
    *marshalerInner = new (std::nothrow) FreeThreadedMarshaler(outer);
    return *marshalerInner ? S_OK : E_OUTOFMEMORY;
}
