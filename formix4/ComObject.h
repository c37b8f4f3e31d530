// The COM object model the four classes share: a reference count, one lock
// per object held for the whole of each call, aggregation, the free-threaded
// marshaler, ISupportErrorInfo, and IDispatch through the type library.
#pragma once

#include <atomic>
#include <mutex>
#include <new>
#include <string>

#include "CallFrame.h"
#include "platform/CodePage.h"
#include "platform/ComPtr.h"

// Module-wide bookkeeping for DllCanUnloadNow (Module.cpp).
void ObjectCreated();
void ObjectDestroyed();
// The type information of one of the component's interfaces, from the
// registered type library, loaded on first use and kept for the process.
HRESULT GetComponentTypeInfo(REFIID inIID, ITypeInfo** outInfo);

template <class Interface>
class ComObject : public Interface, public ISupportErrorInfo {
public:
    // IUnknown: delegates to the controlling unknown (the outer object when
    // aggregated, else the object's own inner unknown).
    HRESULT QueryInterface(REFIID riid, void** ppv) override { return mOuter->QueryInterface(riid, ppv); }
    ULONG AddRef() override { return mOuter->AddRef(); }
    ULONG Release() override { return mOuter->Release(); }

    // IDispatch
    HRESULT GetTypeInfoCount(UINT* outCount) override {
        if (!outCount) return E_INVALIDARG;
        *outCount = 1;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT inIndex, LCID, ITypeInfo** outInfo) override {
        if (!outInfo) return E_INVALIDARG;
        *outInfo = nullptr;
        if (inIndex != 0) return DISP_E_BADINDEX;
        return GetComponentTypeInfo(*mClass.iid, outInfo);
    }
    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* inNames, UINT inCount, LCID, DISPID* outIds) override {
        if (riid != GUID_NULL) return DISP_E_UNKNOWNINTERFACE;
        HRESULT hr = S_OK;
        ITypeInfo* theInfo = InterfaceTypeInfo(&hr);
        return theInfo ? theInfo->GetIDsOfNames(inNames, inCount, outIds) : hr;
    }
    HRESULT Invoke(DISPID inMember, REFIID riid, LCID, WORD inFlags, DISPPARAMS* inParams, VARIANT* outResult,
                   EXCEPINFO* outException, UINT* outArgError) override {
        if (riid != GUID_NULL) return DISP_E_UNKNOWNINTERFACE;
        HRESULT hr = S_OK;
        ITypeInfo* theInfo = InterfaceTypeInfo(&hr);
        if (!theInfo) return hr;
        return theInfo->Invoke(static_cast<Interface*>(this), inMember, inFlags, inParams, outResult, outException,
                               outArgError);
    }

    // ISupportErrorInfo
    HRESULT InterfaceSupportsErrorInfo(REFIID riid) override { return riid == *mClass.iid ? S_OK : S_FALSE; }

    // Creates an object of class T (derived from this template) and asks it
    // for riid; aggregated objects may only be asked for IUnknown.
    template <class T>
    static HRESULT Create(IUnknown* inOuter, REFIID riid, void** ppv) {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (inOuter && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
        T* theObject = new (std::nothrow) T(inOuter);
        if (!theObject) return E_OUTOFMEMORY;
        HRESULT hr = theObject->AggregateMarshaler();
        if (SUCCEEDED(hr)) hr = theObject->mInner.QueryInterface(riid, ppv);
        theObject->mInner.Release();  // the creation reference
        return hr;
    }

    // Creates an object of class T for the component's own use: the caller
    // gets the object itself with one reference, released through Release().
    template <class T>
    static HRESULT CreateOwn(T** outObject) {
        *outObject = nullptr;
        T* theObject = new (std::nothrow) T(nullptr);
        if (!theObject) return E_OUTOFMEMORY;
        const HRESULT hr = theObject->AggregateMarshaler();
        if (FAILED(hr)) {
            theObject->mInner.Release();
            return hr;
        }
        *outObject = theObject;
        return S_OK;
    }

protected:
    ComObject(const ClassIdentity& inClass, IUnknown* inOuter)
        : mInner(this), mOuter(inOuter ? inOuter : &mInner), mClass(inClass) {
        ObjectCreated();
    }
    virtual ~ComObject() { ObjectDestroyed(); }

    // Runs a member body in the call frame under the object's lock, with
    // the object's code page in force for its conversions.
    template <class Body>
    HRESULT Frame(SourcePlace inPlace, Body&& inBody) {
        std::lock_guard<std::recursive_mutex> theGuard(mLock);
        platform::codepage::PinnedAcp theCodePage(CallCodePage());
        return CallFrame(mClass, inPlace, std::forward<Body>(inBody));
    }
    // The ANSI code page the object's texts are shown in: that of the form's
    // parse for the form and its fields, so that a page reading every member
    // of every field does not read the registry for each text. 0: the
    // system's, read at each conversion.
    virtual UINT CallCodePage() { return 0; }

    // A member whose behaviour is not built yet: checks its out-parameter
    // like every member, then answers E_NOTIMPL.
    template <class T>
    HRESULT NotBuiltYet(SourcePlace inPlace, T* inOut) {
        return Frame(inPlace, [&]() -> HRESULT { return inOut ? E_NOTIMPL : E_POINTER; });
    }
    HRESULT NotBuiltYet(SourcePlace inPlace) {
        return Frame(inPlace, []() -> HRESULT { return E_NOTIMPL; });
    }

    HRESULT Fail(const std::string& inText, HRESULT inResult) { return ReportError(mClass, inText, inResult); }
    HRESULT Finish(ErrorReport& inReport, HRESULT inOwnResult) { return ReturnReport(mClass, inReport, inOwnResult); }

private:
    // The non-delegating unknown: owns the reference count and answers the
    // object's interfaces.
    class Inner final : public IUnknown {
    public:
        explicit Inner(ComObject* inOwner) : mOwner(inOwner) {}
        HRESULT QueryInterface(REFIID riid, void** ppv) override { return mOwner->InnerQueryInterface(riid, ppv); }
        ULONG AddRef() override { return ++mOwner->mRefs; }
        ULONG Release() override {
            const ULONG theLeft = --mOwner->mRefs;
            if (theLeft == 0) delete mOwner;
            return theLeft;
        }

    private:
        ComObject* mOwner;
    };

    HRESULT InnerQueryInterface(REFIID riid, void** ppv) {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown) {
            *ppv = static_cast<IUnknown*>(&mInner);
        } else if (riid == *mClass.iid || riid == IID_IDispatch) {
            *ppv = static_cast<Interface*>(this);
        } else if (riid == IID_ISupportErrorInfo) {
            *ppv = static_cast<ISupportErrorInfo*>(this);
        } else if (riid == IID_IMarshal && mMarshaler) {
            return mMarshaler->QueryInterface(riid, ppv);
        } else {
            return E_NOINTERFACE;
        }
        static_cast<IUnknown*>(*ppv)->AddRef();
        return S_OK;
    }

    HRESULT AggregateMarshaler() { return CoCreateFreeThreadedMarshaler(mOuter, mMarshaler.put()); }

    std::atomic<ULONG> mRefs{1};
    Inner mInner;
    IUnknown* mOuter;
    ClassIdentity mClass;

    // The interface's type information, borrowed from the loaded library,
    // which holds it until the module unloads: member calls from every
    // thread read it without counting references on the one object they
    // all share.
    ITypeInfo* InterfaceTypeInfo(HRESULT* outResult) {
        if (ITypeInfo* theInfo = sTypeInfo.load(std::memory_order_acquire)) return theInfo;
        platform::ComPtr<ITypeInfo> theOwned;
        *outResult = GetComponentTypeInfo(*mClass.iid, theOwned.put());
        if (FAILED(*outResult)) return nullptr;
        sTypeInfo.store(theOwned.get(), std::memory_order_release);
        return theOwned.get();
    }
    static inline std::atomic<ITypeInfo*> sTypeInfo{nullptr};
    std::recursive_mutex mLock;
    platform::ComPtr<IUnknown> mMarshaler;
};
