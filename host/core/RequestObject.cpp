#include "core/RequestObject.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "core/Collections.h"
#include "core/HttpText.h"
#include "core/NamedMembers.h"
#include "core/OwnInterface.h"
#include "platform/CodePage.h"
#include "platform/ComPtr.h"

namespace {

using platform::codepage::Utf8ToUtf16;

constexpr DWORD ERROR_NETNAME_DELETED = 64;    // the client went away
constexpr DWORD ERROR_TIMEOUT = 1460;          // the client sent too slowly
constexpr DWORD ERROR_REQUEST_ABORTED = 1235;  // the body has more fields than the server takes

HRESULT StopResult(BodyReader::Stop stop) {
    switch (stop) {
        case BodyReader::Stop::TimedOut:
            return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
        case BodyReader::Stop::TooManyFields:
            return HRESULT_FROM_WIN32(ERROR_REQUEST_ABORTED);
        default:
            return HRESULT_FROM_WIN32(ERROR_NETNAME_DELETED);
    }
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
    for (const char* none :
         {"AUTH_TYPE", "AUTH_USER", "AUTH_PASSWORD", "LOGON_USER", "REMOTE_USER", "UNMAPPED_REMOTE_USER", "CERT_COOKIE",
          "CERT_FLAGS", "CERT_ISSUER", "CERT_KEYSIZE", "CERT_SECRETKEYSIZE", "CERT_SERIALNUMBER", "CERT_SERVER_ISSUER",
          "CERT_SERVER_SUBJECT", "CERT_SUBJECT", "HTTPS_KEYSIZE", "HTTPS_SECRETKEYSIZE", "HTTPS_SERVER_ISSUER",
          "HTTPS_SERVER_SUBJECT"})
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

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        return AnswerFor<IRequest>(this, riid, ppv, IID_IRequest);
    }

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
    HRESULT get_ServerVariables(IDispatch** value) override {
        return Collection(&RequestObject::variableValues, value);
    }
    HRESULT get_ClientCertificate(IDispatch** value) override { return NotOffered(value); }
    HRESULT get_Cookies(IDispatch** value) override { return Collection(&RequestObject::cookieValues, value); }

    HRESULT get_TotalBytes(LONG* total) override {
        if (!total) return E_POINTER;
        *total = mTotal;
        return S_OK;
    }

    HRESULT BinaryRead(VARIANT* count, VARIANT* result) override {
        if (!count || !result) return E_POINTER;
        if (mFormRead)
            return Fail(kBodyReadBothWays, "BinaryRead cannot be called after the Request.Form collection was used.");
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
            mQuery = std::make_shared<host::NamedValues>(
                host::NamedValues::FromUrlEncoded(mRequest.queryString, codePage()));
        *values = mQuery;
        return S_OK;
    }
    // The URL-encoded body, read whole at the first use; S_FALSE (and no
    // values) once the body was read as bytes.
    HRESULT formValues(std::shared_ptr<const host::NamedValues>* values) {
        if (!mForm) {
            if (mBinaryRead)
                return Fail(kBodyReadBothWays,
                            "The Request.Form collection cannot be used after BinaryRead was called.");
            mFormRead = true;
            std::string body;
            const bool urlEncoded =
                Lower(mRequest.header("content-type")).rfind("application/x-www-form-urlencoded", 0) == 0;
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

}  // namespace

IRequest* CreateRequestObject(const PageRequest& request, BodyReader* body) {
    return new (std::nothrow) RequestObject(request, body);
}

bool SetRequestCodePage(IRequest* request, std::function<UINT()> codePage) {
    auto* own = dynamic_cast<RequestObject*>(request);
    if (!own) return false;
    own->setCodePage(std::move(codePage));
    return true;
}
