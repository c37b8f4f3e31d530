#include "core/HostObjects.h"

#include <algorithm>

#include <atomic>
#include <cstring>
#include <new>
#include <vector>

#include "platform/CodePage.h"
#include "platform/ComPtr.h"
#include "platform/System.h"
#include "platform/RefCounted.h"

namespace {

constexpr DWORD ERROR_NETNAME_DELETED = 64;    // the client went away
constexpr DWORD ERROR_TIMEOUT = 1460;           // the client sent too slowly
constexpr DWORD ERROR_REQUEST_ABORTED = 1235;   // the body has more fields than the server takes

HRESULT StopResult(BodyReader::Stop stop) {
    switch (stop) {
    case BodyReader::Stop::TimedOut: return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    case BodyReader::Stop::TooManyFields: return HRESULT_FROM_WIN32(ERROR_REQUEST_ABORTED);
    default: return HRESULT_FROM_WIN32(ERROR_NETNAME_DELETED);
    }
}

// Reference counting and IDispatch answers for objects reached through
// their vtables only.
template <class Interface>
class HostObject : public platform::RefCounted<Interface> {
public:
    HRESULT GetTypeInfoCount(UINT* count) override {
        if (!count) return E_INVALIDARG;
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info) *info = nullptr;
        return DISP_E_BADINDEX;
    }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids) override {
        for (UINT i = 0; ids && i < count; ++i) ids[i] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return DISP_E_MEMBERNOTFOUND;
    }

protected:
    ~HostObject() override = default;
    HRESULT Answer(REFIID riid, void** ppv, std::initializer_list<const IID*> iids) {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown) *ppv = static_cast<IUnknown*>(this);
        for (const IID* iid : iids)
            if (riid == *iid) *ppv = static_cast<Interface*>(this);
        if (!*ppv) return E_NOINTERFACE;
        this->AddRef();
        return S_OK;
    }

private:
};

class RequestObject final : public HostObject<IRequest> {
public:
    RequestObject(BodyReader* body, long long contentLength)
        : mBody(body), mTotal(body && contentLength > 0 && contentLength <= 0x7FFFFFFF ? static_cast<LONG>(contentLength) : 0) {}

    HRESULT QueryInterface(REFIID riid, void** ppv) override { return Answer(riid, ppv, {&IID_IDispatch, &IID_IRequest}); }

    // The collections of the Request object are not offered to components.
    HRESULT get_Item(BSTR, IDispatch** value) override { return NotOffered(value); }
    HRESULT get_QueryString(IDispatch** value) override { return NotOffered(value); }
    HRESULT get_Form(IDispatch** value) override { return NotOffered(value); }
    HRESULT get_Body(IDispatch** value) override { return NotOffered(value); }
    HRESULT get_ServerVariables(IDispatch** value) override { return NotOffered(value); }
    HRESULT get_ClientCertificate(IDispatch** value) override { return NotOffered(value); }
    HRESULT get_Cookies(IDispatch** value) override { return NotOffered(value); }

    HRESULT get_TotalBytes(LONG* total) override {
        if (!total) return E_POINTER;
        *total = mTotal;
        return S_OK;
    }

    HRESULT BinaryRead(VARIANT* count, VARIANT* result) override {
        if (!count || !result) return E_POINTER;
        platform::Variant wanted;
        HRESULT hr = VariantChangeType(&wanted, count, 0, VT_I4);
        if (FAILED(hr)) return hr;
        if (wanted.lVal < 0) return E_INVALIDARG;
        const long long remaining = mBody ? mBody->remaining() : 0;
        const size_t toRead = static_cast<size_t>(std::min<long long>(wanted.lVal, remaining));
        SAFEARRAY* bytes = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(toRead));
        if (!bytes) return E_OUTOFMEMORY;
        const size_t done = toRead > 0 ? mBody->read(static_cast<char*>(bytes->pvData), toRead) : 0;
        // A read the limits stopped fails, so that the component stops too:
        // the bytes it already has are not a whole body.
        if ((done == 0 && toRead > 0) || (mBody && mBody->stop() != BodyReader::Stop::None)) {
            SafeArrayDestroy(bytes);
            return StopResult(mBody->stop());
        }
        bytes->rgsabound[0].cElements = static_cast<ULONG>(done);
        VariantClear(count);
        count->vt = VT_I4;
        count->lVal = static_cast<LONG>(done);
        VariantInit(result);
        result->vt = VT_ARRAY | VT_UI1;
        result->parray = bytes;
        return S_OK;
    }

private:
    static HRESULT NotOffered(IDispatch** value) {
        if (value) *value = nullptr;
        return E_NOTIMPL;
    }

    BodyReader* mBody;
    LONG mTotal;
};

class ServerObject final : public HostObject<IServer> {
public:
    ServerObject(std::string root, std::string pagePath) : mRoot(std::move(root)), mPagePath(std::move(pagePath)) {}

    HRESULT QueryInterface(REFIID riid, void** ppv) override { return Answer(riid, ppv, {&IID_IDispatch, &IID_IServer}); }

    HRESULT get_ScriptTimeout(LONG* seconds) override {
        if (!seconds) return E_POINTER;
        *seconds = mTimeout;
        return S_OK;
    }
    HRESULT put_ScriptTimeout(LONG seconds) override {
        mTimeout = seconds;
        return S_OK;
    }
    HRESULT CreateObject(BSTR progId, IDispatch** object) override {
        if (!object) return E_POINTER;
        CLSID clsid{};
        const HRESULT hr = CLSIDFromProgID(progId, &clsid);
        return FAILED(hr) ? hr : CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(object));
    }
    HRESULT HTMLEncode(BSTR, BSTR* encoded) override { return NotOffered(encoded); }
    HRESULT URLEncode(BSTR, BSTR* encoded) override { return NotOffered(encoded); }
    HRESULT URLPathEncode(BSTR, BSTR* encoded) override { return NotOffered(encoded); }

    HRESULT MapPath(BSTR path, BSTR* physical) override {
        if (!physical) return E_POINTER;
        *physical = nullptr;
        const std::u16string wide(path ? path : u"", SysStringLen(path));
        if (wide.find(u'\0') != std::u16string::npos) return E_INVALIDARG;
        std::string mapped;
        if (!MapVirtualPath(mRoot, mPagePath, platform::codepage::Utf16ToUtf8(wide), &mapped)) return E_ACCESSDENIED;
        if (mapped.size() >= 4096) return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
        const std::u16string result = platform::codepage::Utf8ToUtf16(mapped);
        *physical = SysAllocStringLen(result.data(), static_cast<UINT>(result.size()));
        return *physical ? S_OK : E_OUTOFMEMORY;
    }

private:
    static HRESULT NotOffered(BSTR* value) {
        if (value) *value = nullptr;
        return E_NOTIMPL;
    }

    std::string mRoot;
    std::string mPagePath;
    LONG mTimeout = 90;
};

class ObjectContext final : public platform::RefCounted<IObjectContext, IGetContextProperties> {
public:
    ObjectContext(IRequest* request, IServer* server) : mRequest(request), mServer(server) {
        request->AddRef();
        server->AddRef();
    }

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IObjectContext) *ppv = static_cast<IObjectContext*>(this);
        else if (riid == IID_IGetContextProperties) *ppv = static_cast<IGetContextProperties*>(this);
        else return E_NOINTERFACE;
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
    HRESULT IsCallerInRole(BSTR, BOOL* inRole) override {
        if (inRole) *inRole = TRUE;
        return S_OK;
    }

    HRESULT Count(LONG* count) override {
        if (!count) return E_POINTER;
        *count = 2;
        return S_OK;
    }
    HRESULT GetProperty(BSTR name, VARIANT* value) override {
        if (!value) return E_POINTER;
        VariantInit(value);
        const std::u16string key(name ? name : u"", SysStringLen(name));
        IDispatch* object = nullptr;
        if (platform::codepage::CompareNoCase(key, u"Request") == 0) object = mRequest.get();
        else if (platform::codepage::CompareNoCase(key, u"Server") == 0) object = mServer.get();
        else return E_INVALIDARG;
        object->AddRef();
        value->vt = VT_DISPATCH;
        value->pdispVal = object;
        return S_OK;
    }
    HRESULT EnumNames(IUnknown** names) override {
        if (names) *names = nullptr;
        return E_NOTIMPL;
    }

private:
    ~ObjectContext() override = default;
    platform::ComPtr<IRequest> mRequest;
    platform::ComPtr<IServer> mServer;
};

}  // namespace

bool MapVirtualPath(const std::string& documentRoot, const std::string& pagePath, const std::string& virtualPath,
                    std::string* physical) {
    if (virtualPath.find(':') != std::string::npos || virtualPath.find('\0') != std::string::npos) return false;
    std::vector<std::string> parts;
    auto walk = [&parts](const std::string& path) {
        size_t start = 0;
        while (start <= path.size()) {
            size_t end = path.find_first_of("/\\", start);
            if (end == std::string::npos) end = path.size();
            const std::string part = path.substr(start, end - start);
            if (part == "..") {
                if (parts.empty()) return false;  // above the document root
                parts.pop_back();
            } else if (!part.empty() && part != ".") {
                parts.push_back(part);
            }
            start = end + 1;
        }
        return true;
    };
    const bool rooted = !virtualPath.empty() && (virtualPath[0] == '/' || virtualPath[0] == '\\');
    if (!rooted) {
        const size_t slash = pagePath.find_last_of('/');
        if (slash != std::string::npos && !walk(pagePath.substr(0, slash))) return false;
    }
    if (!walk(virtualPath)) return false;
    std::string result = documentRoot;
    for (const std::string& part : parts) result += "/" + part;
    *physical = result;
    return true;
}

IRequest* CreateRequestObject(BodyReader* body, long long contentLength) {
    return new (std::nothrow) RequestObject(body, contentLength);
}

IServer* CreateServerObject(const std::string& documentRoot, const std::string& pagePath) {
    return new (std::nothrow) ServerObject(documentRoot, pagePath);
}

IObjectContext* CreateObjectContext(IRequest* request, IServer* server) {
    return new (std::nothrow) ObjectContext(request, server);
}
