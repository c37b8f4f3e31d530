#include "core/ObjectContext.h"

#include <new>
#include <utility>
#include <vector>

#include "platform/CodePage.h"
#include "platform/ComPtr.h"
#include "platform/RefCounted.h"

namespace {

class ObjectContext final : public platform::RefCounted<IObjectContext, IGetContextProperties> {
public:
    ObjectContext(IRequest* request, IServer* server) : mRequest(request), mServer(server) {
        request->AddRef();
        server->AddRef();
    }

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IObjectContext)
            *ppv = static_cast<IObjectContext*>(this);
        else if (riid == IID_IGetContextProperties)
            *ppv = static_cast<IGetContextProperties*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }

    HRESULT CreateInstance(REFCLSID clsid, REFIID riid, void** ppv) override {
        return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, riid, ppv);
    }
    HRESULT SetComplete() override { return S_OK; }
    HRESULT SetAbort() override { return S_OK; }
    HRESULT EnableCommit() override { return S_OK; }
    HRESULT DisableCommit() override { return S_OK; }
    BOOL IsInTransaction() override { return FALSE; }
    BOOL IsSecurityEnabled() override { return FALSE; }
    HRESULT IsCallerInRole(BSTR, BOOL* isInRole) override {
        if (isInRole) *isInRole = TRUE;
        return S_OK;
    }

    HRESULT Count(LONG* count) override {
        if (!count) return E_POINTER;
        *count = static_cast<LONG>(2 + mOthers.size());
        return S_OK;
    }
    HRESULT GetProperty(BSTR name, VARIANT* value) override {
        if (!value) return E_POINTER;
        VariantInit(value);
        const std::u16string key(name ? name : u"", SysStringLen(name));
        IDispatch* object = nullptr;
        if (platform::codepage::CompareNoCase(key, u"Request") == 0)
            object = mRequest.get();
        else if (platform::codepage::CompareNoCase(key, u"Server") == 0)
            object = mServer.get();
        for (const auto& [other, dispatch] : mOthers)
            if (platform::codepage::CompareNoCase(key, other) == 0) object = dispatch.get();
        if (!object) return E_INVALIDARG;
        object->AddRef();
        value->vt = VT_DISPATCH;
        value->pdispVal = object;
        return S_OK;
    }
    void add(const std::u16string& name, IDispatch* object) {
        object->AddRef();
        mOthers.emplace_back(name, platform::ComPtr<IDispatch>(object));
    }
    HRESULT EnumNames(IUnknown** names) override {
        if (names) *names = nullptr;
        return E_NOTIMPL;
    }

private:
    ~ObjectContext() override = default;
    platform::ComPtr<IRequest> mRequest;
    platform::ComPtr<IServer> mServer;
    std::vector<std::pair<std::u16string, platform::ComPtr<IDispatch>>> mOthers;  // a page's Response, ...
};

}  // namespace

IObjectContext* CreateObjectContext(IRequest* request, IServer* server) {
    return new (std::nothrow) ObjectContext(request, server);
}

bool AddContextObject(IObjectContext* context, const std::u16string& name, IDispatch* object) {
    auto* own = dynamic_cast<ObjectContext*>(context);
    if (!own || !object) return false;
    own->add(name, object);
    return true;
}
