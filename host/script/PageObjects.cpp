#include "script/PageObjects.h"

#include <ctime>
#include <new>
#include <optional>
#include <vector>

#include "classes/Charsets.h"
#include "core/HttpText.h"
#include "core/NamedMembers.h"
#include "core/ServerLog.h"
#include "platform/EventLog.h"
#include "platform/CodePage.h"
#include "platform/ComPtr.h"
#include "script/LocalTime.h"
#include "script/Locales.h"

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
using host::ReturnObject;
using host::ReturnText;
using platform::codepage::Utf16ToUtf8;
using platform::codepage::Utf8ToUtf16;

constexpr HRESULT kEnded = static_cast<HRESULT>(0x80004004);  // E_ABORT: the page ended itself
constexpr HRESULT kHeadersSent = static_cast<HRESULT>(0x80004005);

// A header value may not carry a line break: it would start a header of
// the page's choosing.
bool SafeHeaderText(const std::string& text) { return text.find_first_of("\r\n") == std::string::npos; }

HRESULT ReturnNumber(VARIANT* result, LONG number) {
    result->vt = VT_I4;
    result->lVal = number;
    return S_OK;
}

// A code page a page gives CodePage: "" when the platform converts text
// to it, else why it cannot be.
std::string CodePageRefusal(const VARIANT* value, LONG* codePage) {
    if (!ArgLong(value, codePage)) return "CodePage takes a number.";
    if (*codePage <= 0 || !IsValidCodePage(static_cast<UINT>(*codePage)))
        return "The code page " + std::to_string(*codePage) + " is not one this server can write text in.";
    return "";
}

// A locale identifier a page gives LCID: "" when the server knows it
// (Locales.h), else why it cannot be.
std::string LcidRefusal(const VARIANT* value, LONG* lcid) {
    if (!ArgLong(value, lcid)) return "LCID takes a number.";
    if (!FindLocale(*lcid)) return "The locale identifier (LCID) " + std::to_string(*lcid) + " is not one this server knows.";
    return "";
}

struct Cookie {
    std::string name, value, path = "/", domain, expires, sameSite;
    // A cookie of keys ("a=k1=v1&k2=v2") in the order they were set; a
    // value and keys exclude each other, the later replacing the earlier.
    std::vector<std::pair<std::string, std::string>> keys;
    bool secure = false;
    // Out of reach of the browser's scripts unless the page says otherwise.
    bool httpOnly = true;

    std::string text() const {
        if (keys.empty()) return UrlEncodeForm(value);
        std::string joined;
        for (const auto& [key, keyValue] : keys)
            joined += (joined.empty() ? "" : "&") + UrlEncodeForm(key) + "=" + UrlEncodeForm(keyValue);
        return joined;
    }
    std::string header() const {
        std::string text = UrlEncodeForm(name) + "=" + this->text() + "; Path=" + path;
        if (!domain.empty()) text += "; Domain=" + domain;
        if (!expires.empty()) text += "; Expires=" + expires;
        if (secure) text += "; Secure";
        if (httpOnly) text += "; HttpOnly";
        return sameSite.empty() ? text : text + "; SameSite=" + sameSite;
    }
    void setKey(const std::string& key, const std::string& keyValue) {
        value.clear();
        for (auto& [existing, existingValue] : keys)
            if (existing == key) {
                existingValue = keyValue;
                return;
            }
        keys.emplace_back(key, keyValue);
    }
};

class ResponseObject;

// Response.Cookies(name): its value (the default member), Path, Domain,
// Expires and Secure are written.
class CookieObject final : public NamedMembers<CookieObject, IDispatch> {
public:
    CookieObject(platform::ComPtr<IDispatch> owner, Cookie* cookie) : mOwner(std::move(owner)), mCookie(cookie) {}

    const std::vector<Member<CookieObject>>& members() const {
        static const std::vector<Member<CookieObject>> kMembers = {
            {u"Item", DISPID_VALUE, kGet | kPut, 0, 1, &CookieObject::item},
            {u"Path", 1, kPut, 0, 0, &CookieObject::path},
            {u"Domain", 2, kPut, 0, 0, &CookieObject::domain},
            {u"Expires", 3, kPut, 0, 0, &CookieObject::expires},
            {u"Secure", 4, kPut, 0, 0, &CookieObject::secure},
            {u"SameSite", 5, kPut, 0, 0, &CookieObject::sameSite},
            {u"HasKeys", 6, kGet, 0, 0, &CookieObject::hasKeys},
            {u"HttpOnly", 7, kPut, 0, 0, &CookieObject::httpOnly},
        };
        return kMembers;
    }

private:
    HRESULT set(std::string* field, const MemberArgs& args) {
        const std::string text = Utf16ToUtf8(ArgText(args.back()));
        if (!SafeHeaderText(text) || text.find(';') != std::string::npos)
            return Fail(E_INVALIDARG, "A cookie's path, domain or date may not hold ';' or a line break.");
        *field = text;
        return S_OK;
    }
    // Item() is the cookie's value, Item(key) one of its keys.
    HRESULT item(WORD use, const MemberArgs& args, VARIANT* result) {
        const bool keyed = args.size() >= (use == kPut ? 2u : 1u) && args[0] != nullptr;
        const std::string key = keyed ? Utf16ToUtf8(ArgText(args[0])) : "";
        if (use != kPut) {
            if (!keyed) return ReturnText(result, mCookie->keys.empty() ? mCookie->value : mCookie->text());
            for (const auto& [existing, value] : mCookie->keys)
                if (existing == key) return ReturnText(result, value);
            return ReturnText(result, std::string());
        }
        const std::string value = Utf16ToUtf8(ArgText(args.back()));
        if (keyed) {
            if (key.empty()) return Fail(E_INVALIDARG, "A cookie's key needs a name.");
            mCookie->setKey(key, value);
        } else {
            mCookie->value = value;
            mCookie->keys.clear();
        }
        return S_OK;
    }
    HRESULT hasKeys(WORD, const MemberArgs&, VARIANT* result) { return ReturnBool(result, !mCookie->keys.empty()); }
    HRESULT httpOnly(WORD, const MemberArgs& args, VARIANT*) {
        platform::Variant flag;
        if (FAILED(VariantChangeType(&flag, args.back(), 0, VT_BOOL))) return DISP_E_TYPEMISMATCH;
        mCookie->httpOnly = flag.boolVal != VARIANT_FALSE;
        return S_OK;
    }
    HRESULT path(WORD, const MemberArgs& args, VARIANT*) { return set(&mCookie->path, args); }
    HRESULT domain(WORD, const MemberArgs& args, VARIANT*) { return set(&mCookie->domain, args); }
    HRESULT expires(WORD, const MemberArgs& args, VARIANT*) {
        // A date is written in the cookie's own form.
        platform::Variant date;
        if (FAILED(VariantChangeType(&date, args.back(), 0, VT_DATE)))
            return Fail(DISP_E_TYPEMISMATCH, "Expires takes a date.");
        // A date is in local time; the cookie names the same moment in GMT.
        mCookie->expires = HttpDate(MsFromOleDate(date.date));
        return S_OK;
    }
    HRESULT sameSite(WORD, const MemberArgs& args, VARIANT*) {
        const std::string rule = Utf16ToUtf8(ArgText(args.back()));
        if (rule != "Strict" && rule != "Lax" && rule != "None") return Fail(E_INVALIDARG, "SameSite is Strict, Lax or None.");
        mCookie->sameSite = rule;
        return S_OK;
    }
    HRESULT secure(WORD, const MemberArgs& args, VARIANT*) {
        platform::Variant flag;
        if (FAILED(VariantChangeType(&flag, args.back(), 0, VT_BOOL))) return DISP_E_TYPEMISMATCH;
        mCookie->secure = flag.boolVal != VARIANT_FALSE;
        return S_OK;
    }

    platform::ComPtr<IDispatch> mOwner;  // keeps the cookie's response
    Cookie* mCookie;
};

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
        if (mResponse.body.empty() && mResponse.parts.empty()) mResponse.body = std::move(bytes);
        else mResponse.write(bytes);
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
        if (use != kPut) return ReturnNumber(result, static_cast<LONG>(codePage()));
        LONG wanted = 0;
        if (const std::string refusal = CodePageRefusal(args.back(), &wanted); !refusal.empty())
            return Fail(E_INVALIDARG, refusal);
        mCodePage = static_cast<UINT>(wanted);
        return S_OK;
    }
    HRESULT lcidMember(WORD use, const MemberArgs& args, VARIANT* result) {
        if (use != kPut) return ReturnNumber(result, lcid());
        LONG wanted = 0;
        if (const std::string refusal = LcidRefusal(args.back(), &wanted); !refusal.empty()) return Fail(E_INVALIDARG, refusal);
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
        if (FAILED(VariantChangeType(&date, args.back(), 0, VT_DATE))) return Fail(DISP_E_TYPEMISMATCH, "ExpiresAbsolute takes a date.");
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
        return writeBytes(std::string_view(static_cast<const char*>(data->parray->pvData), data->parray->rgsabound[0].cElements));
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
        return ReturnObject(result, new (std::nothrow) CookieObject(platform::ComPtr<IDispatch>(this), cookie));
    }

    Response& mResponse;
    ResponseHooks mHooks;
    std::string mType = "text/html";
    std::optional<std::string> mCharset;  // the page's own, when it set one
    UINT mCodePage = 0;                    // the page's own (its directive's, or Response.CodePage), when it set one
    LONG mLcid = 0;                        // the page's own, when it set one
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

// The collection of a scope the site declares no objects for.
std::shared_ptr<StaticObjects> NoObjects() {
    static const auto kNone = std::make_shared<StaticObjects>(std::vector<ObjectTag>{});
    return kNone;
}

// The members Application and Session share: their values by name (the
// default member, so that Session("name") reads and writes a value), and
// the collection view of them.
template <class Self>
class StoreMembers : public NamedMembers<Self, IDispatch> {
protected:
    virtual host::ValueStore* store() = 0;

    // Why there is no store: a session the shared store could not give.
    virtual HRESULT unavailable() { return E_UNEXPECTED; }

    HRESULT value(WORD use, const MemberArgs& args, VARIANT* result) {
        host::ValueStore* values = store();
        if (!values) return unavailable();
        LONG index = 0;
        const bool numbered = host::IsNumber(args[0]) && ArgLong(args[0], &index);
        const std::u16string name = numbered ? values->key(static_cast<size_t>(index - 1)) : ArgText(args[0]);
        if (use != kPut) return values->get(name, result);
        const HRESULT hr = values->put(name, *args.back());
        return hr == E_INVALIDARG
                   ? this->Fail(hr, "Only texts, numbers, booleans, dates and null can be kept between requests.")
                   : hr;
    }
    HRESULT count(WORD, const MemberArgs&, VARIANT* result) {
        if (!store()) return unavailable();
        result->vt = VT_I4;
        result->lVal = static_cast<LONG>(store()->count());
        return S_OK;
    }
    HRESULT key(WORD, const MemberArgs& args, VARIANT* result) {
        if (!store()) return unavailable();
        LONG index = 0;
        if (!ArgLong(args[0], &index) || index < 1) return DISP_E_BADINDEX;
        return ReturnText(result, store()->key(static_cast<size_t>(index - 1)));
    }
    HRESULT removeOne(WORD, const MemberArgs& args, VARIANT*) {
        if (!store()) return unavailable();
        store()->remove(ArgText(args[0]));
        return S_OK;
    }
    HRESULT removeAll(WORD, const MemberArgs&, VARIANT*) {
        if (!store()) return unavailable();
        store()->removeAll();
        return S_OK;
    }
    HRESULT contents(WORD, const MemberArgs&, VARIANT* result) {
        this->AddRef();
        return ReturnObject(result, static_cast<IDispatch*>(this));
    }
    HRESULT newEnum(WORD, const MemberArgs&, VARIANT* result) {
        if (!store()) return unavailable();
        std::vector<VARIANT> names;
        const size_t count = store()->count();
        for (size_t i = 0; i < count; ++i) names.push_back(host::TextVariant(store()->key(i)));
        return host::ReturnEnumerator(result, std::move(names));
    }

    // The members of every store, in front of the object's own.
    static std::vector<Member<Self>> StoreTable(std::initializer_list<Member<Self>> own) {
        std::vector<Member<Self>> members = {
            {u"Value", DISPID_VALUE, kCall | kGet | kPut, 1, 1, &Self::value},
            {u"Item", DISPID_VALUE, kCall | kGet | kPut, 1, 1, &Self::value},
            {u"Contents", 1, kGet, 0, 0, &Self::contents},
            {u"Count", 2, kGet, 0, 0, &Self::count},
            {u"Key", 3, kCall | kGet, 1, 1, &Self::key},
            {u"Remove", 4, kCall, 1, 1, &Self::removeOne},
            {u"RemoveAll", 5, kCall, 0, 0, &Self::removeAll},
            {u"_NewEnum", DISPID_NEWENUM, kCall | kGet, 0, 0, &Self::newEnum},
        };
        members.insert(members.end(), own);
        return members;
    }
};

class ApplicationObject final : public StoreMembers<ApplicationObject> {
public:
    ApplicationObject(std::shared_ptr<host::ValueStore> store, std::shared_ptr<StaticObjects> objects)
        : mStore(std::move(store)), mObjects(std::move(objects)) {}
    ~ApplicationObject() override {
        // A page that ends (or fails, or runs out of time) with the lock
        // held does not keep every other page waiting.
        while (mStore->lockedByThisThread()) mStore->unlock();
    }

    const std::vector<Member<ApplicationObject>>& members() const {
        static const std::vector<Member<ApplicationObject>> kMembers =
            StoreTable({{u"Lock", 20, kCall, 0, 0, &ApplicationObject::lock},
                        {u"Unlock", 21, kCall, 0, 0, &ApplicationObject::unlock},
                        {u"StaticObjects", 22, kGet, 0, 0, &ApplicationObject::staticObjects}});
        return kMembers;
    }

private:
    friend class StoreMembers<ApplicationObject>;
    host::ValueStore* store() override { return mStore.get(); }
    HRESULT lock(WORD, const MemberArgs&, VARIANT*) {
        mStore->lock();
        return S_OK;
    }
    HRESULT unlock(WORD, const MemberArgs&, VARIANT*) {
        mStore->unlock();
        return S_OK;
    }
    HRESULT staticObjects(WORD, const MemberArgs&, VARIANT* result) {
        return ReturnObject(result, CreateStaticObjectsCollection(mObjects ? mObjects : NoObjects()));
    }

    std::shared_ptr<host::ValueStore> mStore;
    std::shared_ptr<StaticObjects> mObjects;
};

class SessionObject final : public StoreMembers<SessionObject> {
public:
    SessionObject(SessionStore& sessions, const PageRequest& request, Response& response)
        : mSessions(sessions), mRequest(request), mResponse(response) {}
    // The page's end: the session is given back.
    ~SessionObject() override { giveBack(); }

    // The page's run is over: the session goes back to the store now, so
    // that the session's next request (and, when the page abandoned it, its
    // end) need not wait until the answer is sent.
    void giveBack() {
        if (mSession && !mEnded) mSessions.release(mToken, mSession);
        mSession = nullptr;
        mError = "The page's run has ended: its session is no longer its.";
    }

    const std::vector<Member<SessionObject>>& members() const {
        static const std::vector<Member<SessionObject>> kMembers =
            StoreTable({{u"SessionID", 20, kGet, 0, 0, &SessionObject::sessionId},
                        {u"Timeout", 21, kGet | kPut, 0, 0, &SessionObject::timeout},
                        {u"Abandon", 22, kCall, 0, 0, &SessionObject::abandon},
                        {u"CodePage", 23, kGet | kPut, 0, 0, &SessionObject::codePage},
                        {u"LCID", 24, kGet | kPut, 0, 0, &SessionObject::lcid},
                        {u"StaticObjects", 25, kGet, 0, 0, &SessionObject::staticObjects}});
        return kMembers;
    }

    // Finds or makes the session now; true when this request made it.
    bool claim() {
        session();
        return mMade;
    }
    // The session's objects; null when it has none (or no session).
    std::shared_ptr<StaticObjects> objects() { return session() ? mSession->objects : nullptr; }
    // For a session that has ended: the page host reads and writes it one
    // last time, and gives nothing back to the store.
    void endedSession(std::shared_ptr<SessionStore::Session> ended) {
        mSession = std::move(ended);
        mEnded = true;
    }
    const SessionStore::Session* held() const { return mSession.get(); }

private:
    friend class StoreMembers<SessionObject>;
    // The visitor's session, found or made at the first use.
    SessionStore::Session* session() {
        if (!mSession && mError.empty()) {
            std::string token = mRequest.cookie(SessionStore::kCookie);
            const std::string given = token;
            mSession = mSessions.find(&token, mRequest.clientAddress(), &mError);
            if (!mSession) return nullptr;
            mToken = token;
            mMade = token != given;
            if (mMade && !mResponse.headersSent)
                mResponse.headers.emplace_back("Set-Cookie", std::string(SessionStore::kCookie) + "=" + token +
                                                                 "; Path=/; HttpOnly; SameSite=Lax");
        }
        return mSession.get();
    }
    host::ValueStore* store() override { return session() ? session()->values.get() : nullptr; }
    HRESULT unavailable() override { return Fail(E_FAIL, mError); }

    HRESULT sessionId(WORD, const MemberArgs&, VARIANT* result) {
        if (!session()) return unavailable();
        result->vt = VT_I4;
        result->lVal = static_cast<LONG>(session()->id);
        return S_OK;
    }
    HRESULT timeout(WORD use, const MemberArgs& args, VARIANT* result) {
        if (!session()) return unavailable();
        if (use != kPut) {
            result->vt = VT_I4;
            result->lVal = static_cast<LONG>(session()->timeout.count());
            return S_OK;
        }
        LONG minutes = 0;
        if (!ArgLong(args.back(), &minutes) || minutes < 1 || minutes > 24 * 60)
            return Fail(E_INVALIDARG, "Timeout is a number of minutes from 1 to 1440.");
        session()->timeout = std::chrono::minutes(minutes);
        return S_OK;
    }
    // The session's pages answer in its code page unless a page sets its
    // own (this one's Response follows it too); 0 gives that back to the pages.
    HRESULT codePage(WORD use, const MemberArgs& args, VARIANT* result) {
        if (!session()) return unavailable();
        if (use != kPut) return ReturnNumber(result, static_cast<LONG>(session()->codePage));
        LONG wanted = 0;
        const bool none = ArgLong(args.back(), &wanted) && wanted == 0;
        if (const std::string refusal = none ? "" : CodePageRefusal(args.back(), &wanted); !refusal.empty())
            return Fail(E_INVALIDARG, refusal);
        session()->codePage = static_cast<UINT>(wanted);
        return S_OK;
    }
    HRESULT lcid(WORD use, const MemberArgs& args, VARIANT* result) {
        if (!session()) return unavailable();
        if (use != kPut) return ReturnNumber(result, static_cast<LONG>(session()->lcid));
        LONG wanted = 0;
        if (const std::string refusal = LcidRefusal(args.back(), &wanted); !refusal.empty()) return Fail(E_INVALIDARG, refusal);
        session()->lcid = static_cast<LCID>(wanted);
        return S_OK;
    }
    HRESULT abandon(WORD, const MemberArgs&, VARIANT*) {
        if (!session()) return unavailable();
        if (!mEnded) mSessions.abandon(mToken, *mSession);
        return S_OK;
    }
    HRESULT staticObjects(WORD, const MemberArgs&, VARIANT* result) {
        if (!session()) return unavailable();
        return ReturnObject(result, CreateStaticObjectsCollection(mSession->objects ? mSession->objects : NoObjects()));
    }

    SessionStore& mSessions;
    const PageRequest& mRequest;
    Response& mResponse;
    std::shared_ptr<SessionStore::Session> mSession;
    std::string mToken, mError;
    bool mMade = false;   // the session was made by this request
    bool mEnded = false;  // the session has ended (Session_OnEnd)
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

IDispatch* CreateApplicationObject(std::shared_ptr<host::ValueStore> store, std::shared_ptr<StaticObjects> objects) {
    return new (std::nothrow) ApplicationObject(std::move(store), std::move(objects));
}

IDispatch* CreateSessionObject(SessionStore& store, const PageRequest& request, Response& response) {
    return new (std::nothrow) SessionObject(store, request, response);
}

bool ClaimSession(IDispatch* sessionObject) {
    auto* session = dynamic_cast<SessionObject*>(sessionObject);
    return session && session->claim();
}

std::shared_ptr<StaticObjects> SessionObjects(IDispatch* sessionObject) {
    auto* session = dynamic_cast<SessionObject*>(sessionObject);
    return session ? session->objects() : nullptr;
}

IDispatch* CreateEndedSessionObject(SessionStore& store, std::shared_ptr<SessionStore::Session> ended,
                                    const PageRequest& request, Response& response) {
    auto* session = new (std::nothrow) SessionObject(store, request, response);
    if (session) session->endedSession(std::move(ended));
    return session;
}

void GiveSessionBack(IDispatch* sessionObject) {
    if (auto* session = dynamic_cast<SessionObject*>(sessionObject)) session->giveBack();
}

const SessionStore::Session* HeldSession(IDispatch* sessionObject) {
    auto* session = dynamic_cast<SessionObject*>(sessionObject);
    return session ? session->held() : nullptr;
}

}  // namespace script
