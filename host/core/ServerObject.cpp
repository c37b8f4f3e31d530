#include "core/ServerObject.h"

#include <new>
#include <vector>

#include "core/HostClasses.h"
#include "core/HttpText.h"
#include "core/NamedMembers.h"
#include "core/OwnInterface.h"
#include "core/VirtualPaths.h"
#include "platform/CodePage.h"
#include "platform/ComPtr.h"
#include "platform/System.h"

namespace {

using platform::codepage::Utf8ToUtf16;

class ServerObject final : public host::NamedMembers<ServerObject, IServer> {
public:
    ServerObject(std::string root, std::string pagePath) : mRoot(std::move(root)), mPagePath(std::move(pagePath)) {}

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        return AnswerFor<IServer>(this, riid, ppv, IID_IServer);
    }

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
    HRESULT htmlEncode(WORD, const host::MemberArgs& args, VARIANT* result) {
        return textMember(&ServerObject::HTMLEncode, args, result);
    }
    HRESULT urlEncode(WORD, const host::MemberArgs& args, VARIANT* result) {
        return textMember(&ServerObject::URLEncode, args, result);
    }
    HRESULT urlPathEncode(WORD, const host::MemberArgs& args, VARIANT* result) {
        return textMember(&ServerObject::URLPathEncode, args, result);
    }
    HRESULT mapPath(WORD, const host::MemberArgs& args, VARIANT* result) {
        return textMember(&ServerObject::MapPath, args, result);
    }

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

}  // namespace

IServer* CreateServerObject(const std::string& documentRoot, const std::string& pagePath) {
    return new (std::nothrow) ServerObject(documentRoot, pagePath);
}

bool SetServerPageHooks(IServer* server, ServerPageHooks hooks) {
    auto* own = dynamic_cast<ServerObject*>(server);
    if (!own) return false;
    own->setPageHooks(std::move(hooks));
    return true;
}
