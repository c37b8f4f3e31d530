// IDispatch by member name for the host's own objects (the page objects and
// their collections): each class lists its members once, with the ways a
// caller may use each (a call, a property read, a property write) and how
// many arguments it takes; Invoke checks the use and the count and hands
// the arguments to the member as they came, without copying them (a
// 100 MB array written to the response stays where it is).
#pragma once

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "platform/ComPtr.h"
#include "platform/OleAuto.h"
#include "platform/RefCounted.h"

namespace host {

// The arguments of one use of a member, in the order the caller wrote them;
// for a property write the value is the last. Absent optional arguments are
// null.
using MemberArgs = std::vector<const VARIANT*>;

// A member failure with its text, raised as a script error.
struct MemberError {
    HRESULT hr;
    std::string description;
    std::string source;  // "" for the host's own failures
};

constexpr WORD kCall = DISPATCH_METHOD;
constexpr WORD kGet = DISPATCH_PROPERTYGET;
constexpr WORD kPut = DISPATCH_PROPERTYPUT;

template <class Self>
struct Member {
    const char16_t* name;
    DISPID id;
    WORD uses;    // kCall, kGet, kPut, or a combination
    int minArgs;  // not counting a put's value
    int maxArgs;
    HRESULT (Self::*run)(WORD use, const MemberArgs& args, VARIANT* result);
};

// The by-name IDispatch of `Self`, which derives from this and gives its
// table through `const std::vector<Member<Self>>& members() const`.
template <class Self, class... Interfaces>
class NamedMembers : public platform::RefCounted<Interfaces...> {
public:
    // An object with IDispatch only; others add their interface.
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = riid == IID_IUnknown || riid == IID_IDispatch ? static_cast<IDispatch*>(this) : nullptr;
        if (!*ppv) return E_NOINTERFACE;
        this->AddRef();
        return S_OK;
    }
    HRESULT GetTypeInfoCount(UINT* count) override {
        if (!count) return E_INVALIDARG;
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info) *info = nullptr;
        return DISP_E_BADINDEX;
    }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (!names || !ids || count == 0) return E_INVALIDARG;
        for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
        for (const Member<Self>& member : static_cast<const Self*>(this)->members())
            if (platform::codepage::CompareNoCase(names[0], member.name) == 0) {
                ids[0] = member.id;
                return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
            }
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                   UINT*) override {
        if (!params || (params->cArgs && !params->rgvarg)) return E_INVALIDARG;
        const Member<Self>* member = find(id, flags);
        if (!member) return DISP_E_MEMBERNOTFOUND;
        const WORD use = (flags & kPut) ? kPut : (flags & kCall) && (member->uses & kCall) ? kCall : kGet;
        const int given = static_cast<int>(params->cArgs) - (use == kPut ? 1 : 0);
        if (use == kPut && (params->cNamedArgs != 1 || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT))
            return DISP_E_PARAMNOTOPTIONAL;
        if (use != kPut && params->cNamedArgs) return DISP_E_NONAMEDARGS;
        if (given < member->minArgs || given > member->maxArgs) return DISP_E_BADPARAMCOUNT;
        MemberArgs args(static_cast<size_t>(member->maxArgs + (use == kPut ? 1 : 0)), nullptr);
        // Positional arguments arrive last first; a put's value is rgvarg[0].
        const int positional = static_cast<int>(params->cArgs) - static_cast<int>(params->cNamedArgs);
        for (int k = 0; k < positional; ++k) {
            const VARIANT* arg = &params->rgvarg[params->cArgs - 1 - static_cast<UINT>(k)];
            if (arg->vt == (VT_BYREF | VT_VARIANT)) arg = arg->pvarVal;
            const bool missing = arg->vt == VT_ERROR && arg->scode == DISP_E_PARAMNOTFOUND;
            args[static_cast<size_t>(k)] = missing ? nullptr : arg;
        }
        if (use == kPut) args.back() = &params->rgvarg[0];
        platform::Variant value;
        Error() = {};
        const HRESULT hr = (static_cast<Self*>(this)->*member->run)(use, args, &value);
        if (SUCCEEDED(hr)) {
            if (result) {
                *result = value;
                VariantInit(&value);
            }
            return S_OK;
        }
        if (Error().description.empty()) return hr;
        if (exception) {
            std::memset(exception, 0, sizeof *exception);
            exception->scode = hr;
            const std::u16string text = platform::codepage::Utf8ToUtf16(Error().description);
            exception->bstrDescription = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
            if (!Error().source.empty()) {
                const std::u16string source = platform::codepage::Utf8ToUtf16(Error().source);
                exception->bstrSource = SysAllocStringLen(source.data(), static_cast<UINT>(source.size()));
            }
        }
        return DISP_E_EXCEPTION;
    }

protected:
    // Fails the member being run with a text for the caller, and the source
    // of a failure passed on from another object.
    HRESULT Fail(HRESULT hr, std::string description, std::string source = {}) {
        Error() = {hr, std::move(description), std::move(source)};
        return hr;
    }

private:
    const Member<Self>* find(DISPID id, WORD flags) const {
        for (const Member<Self>& member : static_cast<const Self*>(this)->members()) {
            if (member.id != id) continue;
            if ((flags & kPut) && (member.uses & kPut)) return &member;
            if (!(flags & kPut) && (member.uses & flags & (kCall | kGet))) return &member;
        }
        return nullptr;
    }

    // The failure of the member being run on this thread (objects such as
    // Application are shared between threads).
    static MemberError& Error() {
        thread_local MemberError error{};
        return error;
    }
};

// Argument conversions shared by the members.
std::u16string ArgText(const VARIANT* arg);     // "" for null
bool ArgLong(const VARIANT* arg, LONG* value);  // false when it is not a number
// Whether the argument is a number (an index), not a text (a name).
bool IsNumber(const VARIANT* arg);
HRESULT ReturnText(VARIANT* result, const std::u16string& text);
HRESULT ReturnText(VARIANT* result, const std::string& utf8);
HRESULT ReturnObject(VARIANT* result, IDispatch* object);  // takes the caller's reference
HRESULT ReturnBool(VARIANT* result, bool value);
HRESULT ReturnLong(VARIANT* result, LONG value);
// An enumerator over `items` (which it takes), as _NewEnum gives it.
HRESULT ReturnEnumerator(VARIANT* result, std::vector<VARIANT> items);
VARIANT TextVariant(const std::u16string& text);

}  // namespace host
