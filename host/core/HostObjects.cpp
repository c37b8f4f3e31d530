#include "core/HostObjects.h"

#include <algorithm>

#include <atomic>
#include <cstring>
#include <new>
#include <vector>

#include "core/CaseBlindPaths.h"
#include "core/Collections.h"
#include "core/HostClasses.h"
#include "core/HttpText.h"
#include "core/NamedMembers.h"
#include "platform/CodePage.h"
#include "platform/ComPtr.h"
#include "platform/System.h"
#include "platform/RefCounted.h"

namespace {

using platform::codepage::Utf8ToUtf16;

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

// QueryInterface for an object with one interface besides IDispatch.
template <class Interface, class Object>
HRESULT AnswerFor(Object* self, REFIID riid, void** ppv, const IID& own) {
    if (!ppv) return E_POINTER;
    *ppv = riid == IID_IUnknown || riid == IID_IDispatch || riid == own ? static_cast<Interface*>(self) : nullptr;
    if (!*ppv) return E_NOINTERFACE;
    self->AddRef();
    return S_OK;
}

// ASP's error for a page that reads the body both ways, or a form too large.
constexpr HRESULT kBodyReadBothWays = E_FAIL;
// The largest URL-encoded body Request.Form reads (as ASP's default limit).
constexpr long long kMaxFormBytes = 200000;

// The server variables a page may ask for, from the request. Those that
// name what this server does not do (authentication, client certificates,
// HTTPS, which a proxy in front ends) are there and empty, as classic
// servers give them for such a request, so that pages read "" and never
// undefined.
std::shared_ptr<const host::NamedValues> ServerVariables(const PageRequest& request) {
    auto variables = std::make_shared<host::NamedValues>();
    auto add = [&](const char* name, const std::string& value) {
        variables->add(Utf8ToUtf16(name), Utf8ToUtf16(value));
    };
    add("REQUEST_METHOD", request.method);
    add("CONTENT_TYPE", request.header("content-type"));
    add("CONTENT_LENGTH", std::to_string(std::max<long long>(request.contentLength, 0)));
    add("QUERY_STRING", request.queryString);
    add("URL", request.path);
    add("HTTP_URL", request.path + (request.queryString.empty() ? "" : "?" + request.queryString));
    const std::string& pathInfo = request.pathInfo.empty() ? request.path : request.pathInfo;
    add("PATH_INFO", pathInfo);
    add("SCRIPT_NAME", request.path);
    add("PATH_TRANSLATED", request.documentRoot + pathInfo);
    add("APPL_PHYSICAL_PATH", request.documentRoot + "/");
    add("APPL_MD_PATH", "/LM/W3SVC/1/ROOT");
    add("INSTANCE_ID", "1");
    add("INSTANCE_META_PATH", "/LM/W3SVC/1");
    add("GATEWAY_INTERFACE", "CGI/1.1");
    add("REMOTE_ADDR", request.remoteAddress);
    add("REMOTE_HOST", request.remoteAddress);
    add("REMOTE_PORT", std::to_string(request.remotePort));
    add("LOCAL_ADDR", request.localAddress);
    add("SERVER_NAME", HostName(request.header("host")));
    add("SERVER_PORT", std::to_string(request.serverPort));
    add("SERVER_PORT_SECURE", "0");
    add("SERVER_PROTOCOL", "HTTP/" + request.httpVersion);
    add("SERVER_SOFTWARE", "formix4-server");
    add("HTTPS", "off");
    for (const char* none : {"AUTH_TYPE", "AUTH_USER", "AUTH_PASSWORD", "LOGON_USER", "REMOTE_USER", "UNMAPPED_REMOTE_USER",
                             "CERT_COOKIE", "CERT_FLAGS", "CERT_ISSUER", "CERT_KEYSIZE", "CERT_SECRETKEYSIZE",
                             "CERT_SERIALNUMBER", "CERT_SERVER_ISSUER", "CERT_SERVER_SUBJECT", "CERT_SUBJECT",
                             "HTTPS_KEYSIZE", "HTTPS_SECRETKEYSIZE", "HTTPS_SERVER_ISSUER", "HTTPS_SERVER_SUBJECT"})
        add(none, "");
    std::string all, raw;
    for (const auto& [name, value] : request.headers) {
        std::string variable = "HTTP_" + name;
        for (char& c : variable) c = c == '-' ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        add(variable.c_str(), value);
        all += variable + ":" + value + "\n";
        raw += name + ": " + value + "\r\n";
    }
    add("ALL_HTTP", all);
    add("ALL_RAW", raw);
    return variables;
}

std::shared_ptr<const host::NamedValues> Cookies(const PageRequest& request) {
    auto cookies = std::make_shared<host::NamedValues>();
    // A cookie of keys ("k1=v1&k2=v%26") stays as sent, so that each key is
    // decoded on its own when the page reads it (Request.Cookies("a")("k2")).
    for (const auto& [name, value] : request.cookies())
        cookies->add(Utf8ToUtf16(UrlDecode(name)),
                     Utf8ToUtf16(value.find('=') != std::string::npos ? value : UrlDecode(value)));
    return cookies;
}

class RequestObject final : public host::NamedMembers<RequestObject, IRequest> {
public:
    RequestObject(const PageRequest& request, BodyReader* body)
        : mRequest(request),
          mBody(body),
          mTotal(body && request.contentLength > 0 && request.contentLength <= 0x7FFFFFFF
                     ? static_cast<LONG>(request.contentLength)
                     : 0) {}

    HRESULT QueryInterface(REFIID riid, void** ppv) override { return AnswerFor<IRequest>(this, riid, ppv, IID_IRequest); }

    void setCodePage(std::function<UINT()> codePage) { mCodePage = std::move(codePage); }

    const std::vector<host::Member<RequestObject>>& members() const {
        static const std::vector<host::Member<RequestObject>> kMembers = {
            {u"Item", DISPID_VALUE, host::kCall | host::kGet, 1, 1, &RequestObject::item},
            {u"QueryString", 1, host::kCall | host::kGet, 0, 1, &RequestObject::queryString},
            {u"Form", 2, host::kCall | host::kGet, 0, 1, &RequestObject::form},
            {u"ServerVariables", 4, host::kCall | host::kGet, 0, 1, &RequestObject::serverVariables},
            {u"Cookies", 6, host::kCall | host::kGet, 0, 1, &RequestObject::cookies},
            {u"TotalBytes", 7, host::kGet, 0, 0, &RequestObject::totalBytes},
            {u"BinaryRead", 8, host::kCall, 1, 1, &RequestObject::binaryRead},
        };
        return kMembers;
    }

    HRESULT get_Item(BSTR name, IDispatch** value) override {
        if (!value) return E_POINTER;
        *value = nullptr;
        const std::u16string key(name ? name : u"", SysStringLen(name));
        for (auto collection : {&RequestObject::queryValues, &RequestObject::formValues, &RequestObject::cookieValues,
                                &RequestObject::variableValues}) {
            std::shared_ptr<const host::NamedValues> values;
            if ((this->*collection)(&values) != S_OK) continue;
            if (const auto* found = values->find(key)) {
                *value = host::CreateValueList(*found);
                return *value ? S_OK : E_OUTOFMEMORY;
            }
        }
        *value = host::CreateValueList({});
        return *value ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT get_QueryString(IDispatch** value) override { return Collection(&RequestObject::queryValues, value); }
    HRESULT get_Form(IDispatch** value) override { return Collection(&RequestObject::formValues, value); }
    HRESULT get_Body(IDispatch** value) override { return NotOffered(value); }
    HRESULT get_ServerVariables(IDispatch** value) override { return Collection(&RequestObject::variableValues, value); }
    HRESULT get_ClientCertificate(IDispatch** value) override { return NotOffered(value); }
    HRESULT get_Cookies(IDispatch** value) override { return Collection(&RequestObject::cookieValues, value); }

    HRESULT get_TotalBytes(LONG* total) override {
        if (!total) return E_POINTER;
        *total = mTotal;
        return S_OK;
    }

    HRESULT BinaryRead(VARIANT* count, VARIANT* result) override {
        if (!count || !result) return E_POINTER;
        if (mFormRead) return Fail(kBodyReadBothWays, "BinaryRead cannot be called after the Request.Form collection was used.");
        platform::Variant wanted;
        HRESULT hr = VariantChangeType(&wanted, count, 0, VT_I4);
        if (FAILED(hr)) return hr;
        if (wanted.lVal < 0) return E_INVALIDARG;
        mBinaryRead = true;
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
    using Values = HRESULT (RequestObject::*)(std::shared_ptr<const host::NamedValues>*);

    static HRESULT NotOffered(IDispatch** value) {
        if (value) *value = nullptr;
        return E_NOTIMPL;
    }

    HRESULT Collection(Values values, IDispatch** value) {
        if (!value) return E_POINTER;
        *value = nullptr;
        std::shared_ptr<const host::NamedValues> found;
        const HRESULT hr = (this->*values)(&found);
        if (FAILED(hr)) return hr;
        *value = host::CreateNamedValuesObject(std::move(found));
        return *value ? S_OK : E_OUTOFMEMORY;
    }

    HRESULT queryValues(std::shared_ptr<const host::NamedValues>* values) {
        if (!mQuery)
            mQuery = std::make_shared<host::NamedValues>(host::NamedValues::FromUrlEncoded(mRequest.queryString, codePage()));
        *values = mQuery;
        return S_OK;
    }
    // The URL-encoded body, read whole at the first use; S_FALSE (and no
    // values) once the body was read as bytes.
    HRESULT formValues(std::shared_ptr<const host::NamedValues>* values) {
        if (!mForm) {
            if (mBinaryRead) return Fail(kBodyReadBothWays, "The Request.Form collection cannot be used after BinaryRead was called.");
            mFormRead = true;
            std::string body;
            const bool urlEncoded = Lower(mRequest.header("content-type")).rfind("application/x-www-form-urlencoded", 0) == 0;
            if (urlEncoded && mBody) {
                // Read whole into memory: a larger form is for BinaryRead or
                // the component, which stream it.
                if (mBody->remaining() > kMaxFormBytes)
                    return Fail(kBodyReadBothWays, "The form is larger than Request.Form reads (" +
                                                       std::to_string(kMaxFormBytes) +
                                                       " bytes); read it with BinaryRead or the component.");
                body.resize(static_cast<size_t>(mBody->remaining()));
                body.resize(mBody->read(body.data(), body.size()));
                if (mBody->stop() != BodyReader::Stop::None) return StopResult(mBody->stop());
            }
            mForm = std::make_shared<host::NamedValues>(host::NamedValues::FromUrlEncoded(body, codePage()));
        }
        *values = mForm;
        return S_OK;
    }
    HRESULT cookieValues(std::shared_ptr<const host::NamedValues>* values) {
        if (!mCookies) mCookies = Cookies(mRequest);
        *values = mCookies;
        return S_OK;
    }
    HRESULT variableValues(std::shared_ptr<const host::NamedValues>* values) {
        if (!mVariables) mVariables = ServerVariables(mRequest);
        *values = mVariables;
        return S_OK;
    }

    UINT codePage() const { return mCodePage ? mCodePage() : CP_UTF8; }

    // A collection read whole, or with a name: that name's values.
    HRESULT collectionMember(Values values, const host::MemberArgs& args, VARIANT* result) {
        std::shared_ptr<const host::NamedValues> found;
        const HRESULT hr = (this->*values)(&found);
        if (FAILED(hr)) return hr;
        platform::ComPtr<IDispatch> collection(host::CreateNamedValuesObject(std::move(found)));
        if (!collection) return E_OUTOFMEMORY;
        if (!args[0]) return host::ReturnObject(result, collection.detach());
        VARIANT key = *args[0];
        DISPPARAMS params{&key, nullptr, 1, 0};
        return collection->Invoke(DISPID_VALUE, GUID_NULL, 0, DISPATCH_PROPERTYGET, &params, result, nullptr, nullptr);
    }
    HRESULT queryString(WORD, const host::MemberArgs& args, VARIANT* result) {
        return collectionMember(&RequestObject::queryValues, args, result);
    }
    HRESULT form(WORD, const host::MemberArgs& args, VARIANT* result) {
        return collectionMember(&RequestObject::formValues, args, result);
    }
    HRESULT serverVariables(WORD, const host::MemberArgs& args, VARIANT* result) {
        return collectionMember(&RequestObject::variableValues, args, result);
    }
    HRESULT cookies(WORD, const host::MemberArgs& args, VARIANT* result) {
        return collectionMember(&RequestObject::cookieValues, args, result);
    }
    HRESULT item(WORD, const host::MemberArgs& args, VARIANT* result) {
        const platform::Bstr key(host::ArgText(args[0]));
        IDispatch* list = nullptr;
        const HRESULT hr = get_Item(key.get(), &list);
        return FAILED(hr) ? hr : host::ReturnObject(result, list);
    }
    HRESULT totalBytes(WORD, const host::MemberArgs&, VARIANT* result) {
        result->vt = VT_I4;
        return get_TotalBytes(&result->lVal);
    }
    HRESULT binaryRead(WORD, const host::MemberArgs& args, VARIANT* result) {
        platform::Variant count;
        VariantCopyInd(&count, args[0]);
        return BinaryRead(&count, result);
    }

    const PageRequest& mRequest;
    BodyReader* mBody;
    LONG mTotal;
    bool mBinaryRead = false;
    bool mFormRead = false;
    std::shared_ptr<const host::NamedValues> mQuery, mForm, mCookies, mVariables;
    std::function<UINT()> mCodePage;
};

class ServerObject final : public host::NamedMembers<ServerObject, IServer> {
public:
    ServerObject(std::string root, std::string pagePath) : mRoot(std::move(root)), mPagePath(std::move(pagePath)) {}

    HRESULT QueryInterface(REFIID riid, void** ppv) override { return AnswerFor<IServer>(this, riid, ppv, IID_IServer); }

    const std::vector<host::Member<ServerObject>>& members() const {
        static const std::vector<host::Member<ServerObject>> kMembers = {
            {u"ScriptTimeout", 1, host::kGet | host::kPut, 0, 0, &ServerObject::scriptTimeout},
            {u"CreateObject", 2, host::kCall, 1, 1, &ServerObject::createObject},
            {u"HTMLEncode", 3, host::kCall, 1, 1, &ServerObject::htmlEncode},
            {u"MapPath", 4, host::kCall, 1, 1, &ServerObject::mapPath},
            {u"URLEncode", 5, host::kCall, 1, 1, &ServerObject::urlEncode},
            {u"URLPathEncode", 6, host::kCall, 1, 1, &ServerObject::urlPathEncode},
            {u"Execute", 7, host::kCall, 1, 1, &ServerObject::execute},
            {u"Transfer", 8, host::kCall, 1, 1, &ServerObject::transfer},
            {u"GetLastError", 9, host::kCall, 0, 0, &ServerObject::getLastError},
        };
        return kMembers;
    }

    HRESULT get_ScriptTimeout(LONG* seconds) override {
        if (!seconds) return E_POINTER;
        *seconds = mTimeout;
        return S_OK;
    }
    HRESULT put_ScriptTimeout(LONG seconds) override {
        if (seconds <= 0) return E_INVALIDARG;
        mTimeout = seconds;
        return S_OK;
    }
    HRESULT CreateObject(BSTR progId, IDispatch** object) override {
        return host::CreateObjectOfClass(std::u16string(progId ? progId : u"", SysStringLen(progId)), object);
    }
    HRESULT HTMLEncode(BSTR text, BSTR* encoded) override { return Encode(text, encoded, HtmlEscape); }
    HRESULT URLEncode(BSTR text, BSTR* encoded) override { return Encode(text, encoded, UrlEncodeForm); }
    HRESULT URLPathEncode(BSTR text, BSTR* encoded) override { return Encode(text, encoded, UrlEncodePath); }

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

    void setPageHooks(ServerPageHooks hooks) { mHooks = std::move(hooks); }

private:
    static HRESULT Encode(BSTR text, BSTR* encoded, std::string (*encode)(const std::string&)) {
        if (!encoded) return E_POINTER;
        const std::u16string result =
            Utf8ToUtf16(encode(platform::codepage::Utf16ToUtf8(std::u16string(text ? text : u"", SysStringLen(text)))));
        *encoded = SysAllocStringLen(result.data(), static_cast<UINT>(result.size()));
        return *encoded ? S_OK : E_OUTOFMEMORY;
    }

    // A member that takes one text and gives one text.
    HRESULT textMember(HRESULT (ServerObject::*method)(BSTR, BSTR*), const host::MemberArgs& args, VARIANT* result) {
        BSTR out = nullptr;
        const HRESULT hr = (this->*method)(platform::Bstr(host::ArgText(args[0])).get(), &out);
        if (FAILED(hr)) return hr == E_ACCESSDENIED ? Fail(hr, "The path leaves the site's folder.") : hr;
        result->vt = VT_BSTR;
        result->bstrVal = out;
        return S_OK;
    }
    HRESULT htmlEncode(WORD, const host::MemberArgs& args, VARIANT* result) { return textMember(&ServerObject::HTMLEncode, args, result); }
    HRESULT urlEncode(WORD, const host::MemberArgs& args, VARIANT* result) { return textMember(&ServerObject::URLEncode, args, result); }
    HRESULT urlPathEncode(WORD, const host::MemberArgs& args, VARIANT* result) { return textMember(&ServerObject::URLPathEncode, args, result); }
    HRESULT mapPath(WORD, const host::MemberArgs& args, VARIANT* result) { return textMember(&ServerObject::MapPath, args, result); }

    HRESULT scriptTimeout(WORD use, const host::MemberArgs& args, VARIANT* result) {
        if (use != host::kPut) {
            result->vt = VT_I4;
            return get_ScriptTimeout(&result->lVal);
        }
        LONG seconds = 0;
        if (!host::ArgLong(args.back(), &seconds) || seconds <= 0)
            return Fail(E_INVALIDARG, "ScriptTimeout is a number of seconds greater than zero.");
        return put_ScriptTimeout(seconds);
    }
    HRESULT createObject(WORD, const host::MemberArgs& args, VARIANT* result) {
        const std::u16string progId = host::ArgText(args[0]);
        IDispatch* object = nullptr;
        const HRESULT hr = CreateObject(platform::Bstr(progId).get(), &object);
        if (FAILED(hr))
            return Fail(hr, "Server.CreateObject failed for \"" + platform::codepage::Utf16ToUtf8(progId) +
                                "\": the class is not registered or cannot be made.");
        return host::ReturnObject(result, object);
    }

    HRESULT runPage(const host::MemberArgs& args, bool transfer) {
        if (!mHooks.run) return Fail(E_NOTIMPL, "Only a script page can run another page.");
        std::string error;
        const HRESULT hr = mHooks.run(platform::codepage::Utf16ToUtf8(host::ArgText(args[0])), transfer, &error);
        return FAILED(hr) ? Fail(hr, error) : S_OK;
    }
    HRESULT execute(WORD, const host::MemberArgs& args, VARIANT*) { return runPage(args, false); }
    HRESULT transfer(WORD, const host::MemberArgs& args, VARIANT*) { return runPage(args, true); }
    HRESULT getLastError(WORD, const host::MemberArgs&, VARIANT* result) {
        if (!mHooks.lastError) return Fail(E_NOTIMPL, "Only a script page has a last error.");
        IDispatch* error = mHooks.lastError();
        return error ? host::ReturnObject(result, error) : E_OUTOFMEMORY;
    }

    std::string mRoot;
    std::string mPagePath;
    LONG mTimeout = 90;
    ServerPageHooks mHooks;
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
        *count = static_cast<LONG>(2 + mOthers.size());
        return S_OK;
    }
    HRESULT GetProperty(BSTR name, VARIANT* value) override {
        if (!value) return E_POINTER;
        VariantInit(value);
        const std::u16string key(name ? name : u"", SysStringLen(name));
        IDispatch* object = nullptr;
        if (platform::codepage::CompareNoCase(key, u"Request") == 0) object = mRequest.get();
        else if (platform::codepage::CompareNoCase(key, u"Server") == 0) object = mServer.get();
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
    *physical = FindWithoutCase(documentRoot, result);
    return true;
}

IRequest* CreateRequestObject(const PageRequest& request, BodyReader* body) {
    return new (std::nothrow) RequestObject(request, body);
}

IServer* CreateServerObject(const std::string& documentRoot, const std::string& pagePath) {
    return new (std::nothrow) ServerObject(documentRoot, pagePath);
}

bool SetRequestCodePage(IRequest* request, std::function<UINT()> codePage) {
    auto* own = dynamic_cast<RequestObject*>(request);
    if (!own) return false;
    own->setCodePage(std::move(codePage));
    return true;
}

bool SetServerPageHooks(IServer* server, ServerPageHooks hooks) {
    auto* own = dynamic_cast<ServerObject*>(server);
    if (!own) return false;
    own->setPageHooks(std::move(hooks));
    return true;
}

IObjectContext* CreateObjectContext(IRequest* request, IServer* server) {
    return new (std::nothrow) ObjectContext(request, server);
}

bool AddContextObject(IObjectContext* context, const std::u16string& name, IDispatch* object) {
    auto* own = dynamic_cast<ObjectContext*>(context);
    if (!own || !object) return false;
    own->add(name, object);
    return true;
}
