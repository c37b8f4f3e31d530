// The web server's per-request objects as the component meets them: the
// transaction-server object context with its properties, and the ASP
// Request and Server objects. The host provides them for each request on
// the request's thread; outside a request GetObjectContext fails with
// CONTEXT_E_NOCONTEXT.
#pragma once

#include "platform/Com.h"

struct IObjectContext : IUnknown {
    virtual HRESULT CreateInstance(REFCLSID clsid, REFIID riid, void** ppv) = 0;
    virtual HRESULT SetComplete() = 0;
    virtual HRESULT SetAbort() = 0;
    virtual HRESULT EnableCommit() = 0;
    virtual HRESULT DisableCommit() = 0;
    virtual BOOL IsInTransaction() = 0;
    virtual BOOL IsSecurityEnabled() = 0;
    virtual HRESULT IsCallerInRole(BSTR role, BOOL* isInRole) = 0;

protected:
    ~IObjectContext() = default;
};

struct IGetContextProperties : IUnknown {
    virtual HRESULT Count(LONG* count) = 0;
    virtual HRESULT GetProperty(BSTR name, VARIANT* value) = 0;
    virtual HRESULT EnumNames(IUnknown** names) = 0;

protected:
    ~IGetContextProperties() = default;
};

// The slots of the ASP Request object, in its order; the component uses
// TotalBytes and BinaryRead.
struct IRequest : IDispatch {
    virtual HRESULT get_Item(BSTR name, IDispatch** value) = 0;
    virtual HRESULT get_QueryString(IDispatch** values) = 0;
    virtual HRESULT get_Form(IDispatch** values) = 0;
    virtual HRESULT get_Body(IDispatch** values) = 0;
    virtual HRESULT get_ServerVariables(IDispatch** values) = 0;
    virtual HRESULT get_ClientCertificate(IDispatch** values) = 0;
    virtual HRESULT get_Cookies(IDispatch** values) = 0;
    virtual HRESULT get_TotalBytes(LONG* total) = 0;
    // Reads up to *count bytes of the body; *count becomes the number read
    // and *result a byte array of them.
    virtual HRESULT BinaryRead(VARIANT* count, VARIANT* result) = 0;

protected:
    ~IRequest() = default;
};

// The slots of the ASP Server object, in its order; the component uses MapPath.
struct IServer : IDispatch {
    virtual HRESULT get_ScriptTimeout(LONG* seconds) = 0;
    virtual HRESULT put_ScriptTimeout(LONG seconds) = 0;
    virtual HRESULT CreateObject(BSTR progId, IDispatch** object) = 0;
    virtual HRESULT HTMLEncode(BSTR text, BSTR* encoded) = 0;
    virtual HRESULT MapPath(BSTR path, BSTR* physical) = 0;
    virtual HRESULT URLEncode(BSTR text, BSTR* encoded) = 0;
    virtual HRESULT URLPathEncode(BSTR text, BSTR* encoded) = 0;

protected:
    ~IServer() = default;
};

extern "C" {
extern const IID IID_IObjectContext;
extern const IID IID_IGetContextProperties;
extern const IID IID_IRequest;
extern const IID IID_IServer;
}

// The object context of the calling thread's request.
HRESULT GetObjectContext(IObjectContext** context);

namespace platform {
// Sets (or, with nullptr, clears) the calling thread's object context; the
// host calls it around each request.
void SetThreadObjectContext(IObjectContext* context);
}  // namespace platform
