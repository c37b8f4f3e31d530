#include "script/ResponseCookies.h"

#include <new>

#include "core/NamedMembers.h"
#include "platform/CodePage.h"
#include "script/LocalTime.h"

namespace script {

namespace {

using host::ArgText;
using host::kGet;
using host::kPut;
using host::Member;
using host::MemberArgs;
using host::NamedMembers;
using host::ReturnBool;
using host::ReturnText;
using platform::codepage::Utf16ToUtf8;

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
    static HRESULT setFlag(bool* field, const MemberArgs& args) {
        platform::Variant flag;
        if (FAILED(VariantChangeType(&flag, args.back(), 0, VT_BOOL))) return DISP_E_TYPEMISMATCH;
        *field = flag.boolVal != VARIANT_FALSE;
        return S_OK;
    }
    HRESULT httpOnly(WORD, const MemberArgs& args, VARIANT*) { return setFlag(&mCookie->httpOnly, args); }
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
        if (rule != "Strict" && rule != "Lax" && rule != "None")
            return Fail(E_INVALIDARG, "SameSite is Strict, Lax or None.");
        mCookie->sameSite = rule;
        return S_OK;
    }
    HRESULT secure(WORD, const MemberArgs& args, VARIANT*) { return setFlag(&mCookie->secure, args); }

    platform::ComPtr<IDispatch> mOwner;  // keeps the cookie's response
    Cookie* mCookie;
};

}  // namespace

IDispatch* CreateCookieObject(platform::ComPtr<IDispatch> owner, Cookie* cookie) {
    return new (std::nothrow) CookieObject(std::move(owner), cookie);
}

}  // namespace script
