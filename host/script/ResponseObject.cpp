#include "script/ResponseObject.h"

#include <ctime>
#include <new>
#include <optional>
#include <vector>

#include "classes/Charsets.h"
#include "core/HttpText.h"
#include "core/NamedMembers.h"
#include "core/ServerLog.h"
#include "platform/CodePage.h"
#include "platform/ComPtr.h"
#include "platform/EventLog.h"
#include "script/LocalTime.h"
#include "script/Locales.h"
#include "script/ResponseCookies.h"

namespace script {

namespace {

using host::ArgLong;
using host::ArgText;
using host::kCall;
using host::kGet;
using host::kPut;
using host::Member;
using host::MemberArgs;
using host::NamedMembers;
using host::ReturnBool;
using host::ReturnLong;
using host::ReturnObject;
using host::ReturnText;
using platform::codepage::Utf16ToUtf8;
using platform::codepage::Utf8ToUtf16;

// A page that ends itself (End, Redirect, Transfer) stops with E_ABORT,
// which the page host knows for the end it is, not a failure.
constexpr HRESULT kEnded = E_ABORT;
constexpr HRESULT kHeadersSent = E_FAIL;

class ResponseObject final : public NamedMembers<ResponseObject, IDispatch> {
public:
    ResponseObject(Response& response, ResponseHooks hooks) : mResponse(response), mHooks(std::move(hooks)) {
        mResponse.contentType = contentType();
    }

    const std::vector<Member<ResponseObject>>& members() const {
        static const std::vector<Member<ResponseObject>> kMembers = {
            {u"Write", 1, kCall, 1, 1, &ResponseObject::write},
            {u"BinaryWrite", 2, kCall, 1, 1, &ResponseObject::binaryWrite},
            {u"ContentType", 3, kGet | kPut, 0, 0, &ResponseObject::contentTypeMember},
            {u"Charset", 4, kGet | kPut, 0, 0, &ResponseObject::charset},
            {u"Status", 5, kGet | kPut, 0, 0, &ResponseObject::status},
            {u"AddHeader", 6, kCall, 2, 2, &ResponseObject::addHeader},
            {u"Redirect", 7, kCall, 1, 1, &ResponseObject::redirect},
            {u"End", 8, kCall, 0, 0, &ResponseObject::end},
            {u"Clear", 9, kCall, 0, 0, &ResponseObject::clear},
            {u"Flush", 10, kCall, 0, 0, &ResponseObject::flush},
            {u"Buffer", 11, kGet | kPut, 0, 0, &ResponseObject::buffer},
            {u"Cookies", 12, kCall | kGet, 1, 1, &ResponseObject::cookies},
            {u"Expires", 13, kGet | kPut, 0, 0, &ResponseObject::expires},
            {u"ExpiresAbsolute", 14, kGet | kPut, 0, 0, &ResponseObject::expiresAbsolute},
            {u"CacheControl", 15, kGet | kPut, 0, 0, &ResponseObject::cacheControl},
            {u"IsClientConnected", 16, kGet, 0, 0, &ResponseObject::isClientConnected},
            {u"AppendToLog", 17, kCall, 1, 1, &ResponseObject::appendToLog},
            {u"CodePage", 18, kGet | kPut, 0, 0, &ResponseObject::codePageMember},
            {u"LCID", 19, kGet | kPut, 0, 0, &ResponseObject::lcidMember},
        };
        return kMembers;
    }

    // Called once the page has run, and before the headers are first sent.
    void finish() {
        mHooks.beforeHeadersSent = nullptr;  // what it holds goes with the run
        // Labelled now: the page, its directive or its session may have
        // changed the code page since the page began.
        mResponse.contentType = contentType();
        if (mCookiesWritten) return;
        mCookiesWritten = true;
        for (const Cookie& cookie : mCookies) mResponse.headers.emplace_back("Set-Cookie", cookie.header());
        if (mExpiresAt) mResponse.headers.emplace_back("Expires", HttpDate(*mExpiresAt));
        if (!mCacheControl.empty()) mResponse.headers.emplace_back("Cache-Control", mCacheControl);
    }

    // Writes bytes as BinaryWrite does; bytes of its own a page answers with
    // whole are taken over, not copied.
    HRESULT writeBytes(std::string_view bytes) {
        if (mStopped) return S_OK;
        mResponse.write(bytes);
        return afterWrite();
    }
    HRESULT writeBytes(std::string&& bytes) {
        if (mStopped) return S_OK;
        if (mResponse.body.empty() && mResponse.parts.empty())
            mResponse.body = std::move(bytes);
        else
            mResponse.write(bytes);
        return afterWrite();
    }
    HRESULT writeViews(const std::vector<std::string_view>& views, std::shared_ptr<const void> owner) {
        if (mStopped) return S_OK;
        mResponse.writeViews(views, std::move(owner));
        return afterWrite();
    }

    void setDirectiveCodePage(UINT codePage) {
        if (codePage) mCodePage = codePage;
    }
    // The code page of the text written now: the page's own, else its
    // session's, else UTF-8.
    UINT codePage() const {
        if (mCodePage) return mCodePage;
        const SessionStore::Session* held = session();
        return held && held->codePage ? held->codePage : CP_UTF8;
    }

private:
    // The page's own character set name, else the name of the code page
    // the text is written in.
    std::string charsetLabel() const { return mCharset ? *mCharset : classes::CharsetName(codePage()); }
    std::string contentType() const {
        const std::string charset = charsetLabel();
        return mType + (charset.empty() ? "" : "; charset=" + charset);
    }
    // The page's session, once the page has used it.
    const SessionStore::Session* session() const { return mHooks.heldSession ? mHooks.heldSession() : nullptr; }
    LONG lcid() const {
        if (mLcid) return mLcid;
        const SessionStore::Session* held = session();
        return static_cast<LONG>(held ? held->lcid : kDefaultLcid);
    }
    // Text as the answer carries it: in the code page written in now;
    // characters it lacks become what the platform's conversion writes.
    std::string encoded(const std::u16string& text) const {
        const UINT page = codePage();
        return page == CP_UTF8 ? Utf16ToUtf8(text) : platform::codepage::FromUtf16(text, page);
    }

    HRESULT afterWrite() {
        if (!mBuffer) return sendNow();
        return S_OK;
    }
    HRESULT sendNow() {
        if (!mResponse.flush) return S_OK;
        if (!mResponse.headersSent && mHooks.beforeHeadersSent) mHooks.beforeHeadersSent();
        finish();
        mResponse.flush(mResponse);
        return S_OK;
    }
    HRESULT refuseOnceSent(const char* what) {
        return Fail(kHeadersSent, std::string(what) + " cannot be changed once the response has begun to be sent.");
    }

    HRESULT write(WORD, const MemberArgs& args, VARIANT*) {
        if (mStopped) return S_OK;
        const VARIANT* value = args[0];
        if (value && value->vt == (VT_BYREF | VT_VARIANT)) value = value->pvarVal;
        const bool date = value && value->vt == VT_DATE && mHooks.writeDate;
        mResponse.write(encoded(date ? Utf8ToUtf16(mHooks.writeDate(value->date)) : ArgText(value)));
        return afterWrite();
    }
    // Text written before a change stays as it was written.
    HRESULT codePageMember(WORD use, const MemberArgs& args, VARIANT* result) {
        if (use != kPut) return ReturnLong(result, static_cast<LONG>(codePage()));
        LONG wanted = 0;
        if (const std::string refusal = CodePageRefusal(args.back(), &wanted); !refusal.empty())
            return Fail(E_INVALIDARG, refusal);
        mCodePage = static_cast<UINT>(wanted);
        return S_OK;
    }
    HRESULT lcidMember(WORD use, const MemberArgs& args, VARIANT* result) {
        if (use != kPut) return ReturnLong(result, lcid());
        LONG wanted = 0;
        if (const std::string refusal = LcidRefusal(args.back(), &wanted); !refusal.empty())
            return Fail(E_INVALIDARG, refusal);
        mLcid = wanted;
        return S_OK;
    }
    // Expires (minutes from now) and ExpiresAbsolute (a date) set one
    // Expires header, the later call winning, as the page's caching asks.
    HRESULT expires(WORD use, const MemberArgs& args, VARIANT* result) {
        if (use != kPut) {
            if (mExpiresMinutes) {
                result->vt = VT_I4;
                result->lVal = *mExpiresMinutes;
            }
            return S_OK;
        }
        if (mResponse.headersSent) return refuseOnceSent("Expires");
        LONG minutes = 0;
        if (!ArgLong(args.back(), &minutes)) return Fail(DISP_E_TYPEMISMATCH, "Expires takes a number of minutes.");
        mExpiresMinutes = minutes;
        mExpiresAt = static_cast<double>(std::time(nullptr)) * 1000 + minutes * 60000.0;
        return S_OK;
    }
    HRESULT expiresAbsolute(WORD use, const MemberArgs& args, VARIANT* result) {
        if (use != kPut) {
            result->vt = VT_DATE;
            result->date = mExpiresAt ? OleDateFromMs(*mExpiresAt) : 0;
            return S_OK;
        }
        if (mResponse.headersSent) return refuseOnceSent("ExpiresAbsolute");
        platform::Variant date;
        if (FAILED(VariantChangeType(&date, args.back(), 0, VT_DATE)))
            return Fail(DISP_E_TYPEMISMATCH, "ExpiresAbsolute takes a date.");
        mExpiresAt = MsFromOleDate(date.date);
        mExpiresMinutes.reset();
        return S_OK;
    }
    HRESULT cacheControl(WORD use, const MemberArgs& args, VARIANT* result) {
        if (use != kPut) return ReturnText(result, mCacheControl.empty() ? std::string("private") : mCacheControl);
        if (mResponse.headersSent) return refuseOnceSent("CacheControl");
        const std::string value = Utf16ToUtf8(ArgText(args.back()));
        if (!SafeHeaderText(value)) return Fail(E_INVALIDARG, "CacheControl may not hold a line break.");
        mCacheControl = value;
        return S_OK;
    }
    HRESULT isClientConnected(WORD, const MemberArgs&, VARIANT* result) {
        return ReturnBool(result, !mResponse.clientConnected || mResponse.clientConnected());
    }
    // The server keeps no log of requests: a page's line goes to its event
    // log, cut to the 80 characters classic servers keep of it.
    HRESULT appendToLog(WORD, const MemberArgs& args, VARIANT*) {
        std::u16string text = ArgText(args[0]);
        if (text.size() > 80) text.resize(80);
        LogServerEvent(EVENTLOG_INFORMATION_TYPE, "A page's log line: " + Utf16ToUtf8(text));
        return S_OK;
    }
    HRESULT binaryWrite(WORD, const MemberArgs& args, VARIANT*) {
        if (mStopped) return S_OK;
        const VARIANT* data = args[0];
        if (data && data->vt == (VT_BYREF | VT_VARIANT)) data = data->pvarVal;
        if (!data || data->vt == VT_EMPTY || data->vt == VT_NULL) return S_OK;
        if (!(data->vt & VT_ARRAY) || !data->parray || SafeArrayGetDim(data->parray) != 1 ||
            SafeArrayGetElemsize(data->parray) != 1)
            return Fail(DISP_E_TYPEMISMATCH, "BinaryWrite takes an array of bytes.");
        return writeBytes(
            std::string_view(static_cast<const char*>(data->parray->pvData), data->parray->rgsabound[0].cElements));
    }
    HRESULT contentTypeMember(WORD use, const MemberArgs& args, VARIANT* result) {
        if (use != kPut) return ReturnText(result, mType);
        if (mResponse.headersSent) return refuseOnceSent("ContentType");
        const std::string type = Utf16ToUtf8(ArgText(args.back()));
        if (!SafeHeaderText(type)) return Fail(E_INVALIDARG, "A content type may not hold a line break.");
        mType = type;
        mResponse.contentType = contentType();
        return S_OK;
    }
    HRESULT charset(WORD use, const MemberArgs& args, VARIANT* result) {
        if (use != kPut) return ReturnText(result, charsetLabel());
        if (mResponse.headersSent) return refuseOnceSent("Charset");
        const std::string name = Utf16ToUtf8(ArgText(args.back()));
        if (!SafeHeaderText(name) || name.find(';') != std::string::npos)
            return Fail(E_INVALIDARG, "A character set name may not hold ';' or a line break.");
        mCharset = name;
        mResponse.contentType = contentType();
        return S_OK;
    }
    // "404 Not Found": the number is the status; the server gives the text.
    HRESULT status(WORD use, const MemberArgs& args, VARIANT* result) {
        if (use != kPut) return ReturnText(result, std::to_string(mResponse.status) + " " + mStatusText);
        if (mResponse.headersSent) return refuseOnceSent("Status");
        const std::string text = Utf16ToUtf8(ArgText(args.back()));
        long code = 0;
        const size_t space = text.find(' ');
        if (!ParseInt32(text.substr(0, space), &code) || code < 100 || code > 599 || !SafeHeaderText(text))
            return Fail(E_INVALIDARG, "Status is a number from 100 to 599 and its text, as \"404 Not Found\".");
        mResponse.status = static_cast<int>(code);
        mStatusText = space == std::string::npos ? "" : text.substr(space + 1);
        return S_OK;
    }
    HRESULT addHeader(WORD, const MemberArgs& args, VARIANT*) {
        if (mResponse.headersSent) return refuseOnceSent("A header");
        const std::string name = Utf16ToUtf8(ArgText(args[0]));
        const std::string value = Utf16ToUtf8(ArgText(args[1]));
        if (name.empty() || name.find_first_of(": \t\r\n") != std::string::npos || !SafeHeaderText(value))
            return Fail(E_INVALIDARG, "A header's name is one word and its value one line.");
        mResponse.headers.emplace_back(name, value);
        return S_OK;
    }
    HRESULT redirect(WORD, const MemberArgs& args, VARIANT*) {
        if (mResponse.headersSent) return refuseOnceSent("The address");
        const std::string url = Utf16ToUtf8(ArgText(args[0]));
        if (!SafeHeaderText(url)) return Fail(E_INVALIDARG, "An address may not hold a line break.");
        mResponse.status = 302;
        mResponse.headers.emplace_back("Location", url);
        mResponse.setBody("<html><body>Object moved to <a href=\"" + HtmlEscape(url) + "\">here</a>.</body></html>\n");
        return stop();
    }
    HRESULT end(WORD, const MemberArgs&, VARIANT*) { return stop(); }
    // The page stops here: nothing it writes from now on is sent.
    HRESULT stop() {
        mStopped = true;
        if (mHooks.ended) mHooks.ended();
        return Fail(kEnded, "The page ended its response.");
    }
    HRESULT clear(WORD, const MemberArgs&, VARIANT*) {
        mResponse.setBody("");
        return S_OK;
    }
    HRESULT flush(WORD, const MemberArgs&, VARIANT*) { return sendNow(); }
    HRESULT buffer(WORD use, const MemberArgs& args, VARIANT* result) {
        if (use != kPut) return ReturnBool(result, mBuffer);
        if (mResponse.headersSent) return refuseOnceSent("Buffer");
        platform::Variant flag;
        if (FAILED(VariantChangeType(&flag, args.back(), 0, VT_BOOL))) return DISP_E_TYPEMISMATCH;
        mBuffer = flag.boolVal != VARIANT_FALSE;
        return S_OK;
    }
    HRESULT cookies(WORD, const MemberArgs& args, VARIANT* result) {
        const std::string name = Utf16ToUtf8(ArgText(args[0]));
        if (name.empty()) return Fail(E_INVALIDARG, "A cookie needs a name.");
        if (mResponse.headersSent) return refuseOnceSent("A cookie");
        Cookie* cookie = nullptr;
        for (Cookie& existing : mCookies)
            if (existing.name == name) cookie = &existing;
        if (!cookie) {
            if (mCookies.size() == mCookies.capacity() && !mCookies.empty())
                return Fail(E_OUTOFMEMORY, "A page sets at most 50 cookies.");
            mCookies.emplace_back();
            cookie = &mCookies.back();
            cookie->name = name;
        }
        AddRef();
        return ReturnObject(result, CreateCookieObject(platform::ComPtr<IDispatch>(this), cookie));
    }

    Response& mResponse;
    ResponseHooks mHooks;
    std::string mType = "text/html";
    std::optional<std::string> mCharset;  // the page's own, when it set one
    UINT mCodePage = 0;                   // the page's own (its directive's, or Response.CodePage), when it set one
    LONG mLcid = 0;                       // the page's own, when it set one
    std::string mStatusText = "OK";
    bool mBuffer = true;
    bool mStopped = false;
    bool mCookiesWritten = false;
    std::optional<double> mExpiresAt;  // UTC ms
    std::optional<LONG> mExpiresMinutes;
    std::string mCacheControl;  // sent when the page sets it
    // Reserved once, so that a cookie object's pointer stays valid.
    std::vector<Cookie> mCookies = [] {
        std::vector<Cookie> cookies;
        cookies.reserve(50);
        return cookies;
    }();
};

}  // namespace

IDispatch* CreateResponseObject(Response& response, ResponseHooks hooks) {
    return new (std::nothrow) ResponseObject(response, std::move(hooks));
}

void SetDirectiveCodePage(IDispatch* responseObject, UINT codePage) {
    if (auto* response = dynamic_cast<ResponseObject*>(responseObject)) response->setDirectiveCodePage(codePage);
}

UINT ResponseCodePage(IDispatch* responseObject) {
    auto* response = dynamic_cast<ResponseObject*>(responseObject);
    return response ? response->codePage() : CP_UTF8;
}

void FinishResponseObject(IDispatch* responseObject) {
    if (responseObject) static_cast<ResponseObject*>(responseObject)->finish();
}

bool WriteToResponse(IDispatch* responseObject, std::string bytes) {
    auto* response = dynamic_cast<ResponseObject*>(responseObject);
    return response && SUCCEEDED(response->writeBytes(std::move(bytes)));
}

bool WriteToResponse(IDispatch* responseObject, const std::vector<std::string_view>& views,
                     std::shared_ptr<const void> owner) {
    auto* response = dynamic_cast<ResponseObject*>(responseObject);
    return response && SUCCEEDED(response->writeViews(views, std::move(owner)));
}

}  // namespace script
