#include "vbscript/Dispatch.h"

#include <cstdio>

#include "platform/CodePage.h"
#include "platform/ExcepInfo.h"
#include "platform/MessageText.h"
#include "platform/System.h"
#include "vbscript/RuntimeError.h"

namespace vbs {

namespace {

std::string Utf8(BSTR text) {
    return text ? platform::codepage::Utf16ToUtf8(std::u16string(text, SysStringLen(text))) : "";
}

// A number of the language's own facility is shown as the language's number.
int32_t LanguageNumber(int32_t hr) {
    const uint32_t bits = static_cast<uint32_t>(hr);
    return (bits & 0xFFFF0000u) == 0x800A0000u ? static_cast<int32_t>(bits & 0xFFFF) : hr;
}

// What the failed call reported, in the terms Err shows.
CallFailure Describe(HRESULT hr, platform::ExcepInfo& exception) {
    CallFailure failure;
    failure.hr = hr;
    if (hr == DISP_E_EXCEPTION) {
        if (exception.pfnDeferredFillIn) exception.pfnDeferredFillIn(&exception);
        const int32_t code = exception.scode ? exception.scode : exception.wCode;
        failure.number = LanguageNumber(code);
        failure.description = Utf8(exception.bstrDescription);
        failure.source = Utf8(exception.bstrSource);
        if (failure.description.empty()) failure.description = RuntimeErrorText(failure.number);
        return failure;
    }
    failure.number = LanguageNumber(hr);
    platform::ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.put()) == S_OK && info) {
        BSTR description = nullptr, source = nullptr;
        info->GetDescription(&description);
        info->GetSource(&source);
        failure.description = Utf8(description);
        failure.source = Utf8(source);
        SysFreeString(description);
        SysFreeString(source);
    }
    if (failure.description.empty()) failure.description = RuntimeErrorText(failure.number);
    if (failure.description.empty()) failure.description = platform::SystemMessageText(hr);
    return failure;
}

// The arguments as IDispatch takes them: in reverse order, missing ones as
// DISP_E_PARAMNOTFOUND; the put value, when given, first.
std::vector<VARIANT> Reversed(std::vector<Value>& args, const Value* putValue) {
    std::vector<VARIANT> reversed;
    reversed.reserve(args.size() + 1);
    if (putValue) reversed.push_back(*putValue);
    for (auto it = args.rbegin(); it != args.rend(); ++it) reversed.push_back(*it);
    return reversed;  // shallow: the Values keep ownership
}

}  // namespace

DISPID MemberId(IDispatch* object, const std::string& name) {
    std::u16string wide = platform::codepage::Utf8ToUtf16(name);
    LPOLESTR names[] = {wide.data()};
    DISPID id = DISPID_UNKNOWN;
    if (FAILED(object->GetIDsOfNames(GUID_NULL, names, 1, 0, &id))) throw RuntimeError(kNoSuchMember, name);
    return id;
}

Value Invoke(IDispatch* object, DISPID member, std::vector<Value>& args, const std::string& name) {
    std::vector<VARIANT> reversed = Reversed(args, nullptr);
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    Value result;
    platform::ExcepInfo exception;
    UINT argError = 0;
    const HRESULT hr = object->Invoke(member, GUID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params, &result,
                                      &exception, &argError);
    if (FAILED(hr)) ThrowComFailure(Describe(hr, exception), name);
    if (result.vt & VT_BYREF) return Value::CopyOf(result);
    return result;
}

HRESULT TryPut(IDispatch* object, DISPID member, bool byReference, std::vector<Value>& args, const Value& value,
               CallFailure* failure) {
    std::vector<VARIANT> reversed = Reversed(args, &value);
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{reversed.data(), &named, static_cast<UINT>(reversed.size()), 1};
    platform::ExcepInfo exception;
    UINT argError = 0;
    const HRESULT hr =
        object->Invoke(member, GUID_NULL, 0, byReference ? DISPATCH_PROPERTYPUTREF : DISPATCH_PROPERTYPUT, &params,
                       nullptr, &exception, &argError);
    if (FAILED(hr)) *failure = Describe(hr, exception);
    return hr;
}

void ThrowComFailure(const CallFailure& failure, const std::string& name) {
    switch (failure.hr) {
        case DISP_E_MEMBERNOTFOUND:
        case DISP_E_UNKNOWNNAME:
            throw RuntimeError(kNoSuchMember, name);
        case DISP_E_BADPARAMCOUNT:
            throw RuntimeError(kWrongArguments, name);
        case DISP_E_TYPEMISMATCH:
            throw RuntimeError(kTypeMismatch, name);
        case DISP_E_PARAMNOTFOUND:
            throw RuntimeError(kArgumentNotOptional, name);
        case DISP_E_OVERFLOW:
            throw RuntimeError(kOverflow);
        case DISP_E_BADINDEX:
            throw RuntimeError(kSubscriptOutOfRange);
        case DISP_E_NONAMEDARGS:
            throw RuntimeError(446);
        case E_OUTOFMEMORY:
            throw RuntimeError(kOutOfMemory);
        default:
            throw RuntimeError(failure.number, failure.description, failure.source);
    }
}

Value DefaultValue(const Value& value) {
    if (value.vt != VT_DISPATCH) {
        if (value.vt == VT_UNKNOWN) throw RuntimeError(kTypeMismatch);
        return value;
    }
    if (!value.pdispVal) throw RuntimeError(kObjectNotSet);
    std::vector<Value> none;
    Value result = Invoke(value.pdispVal, DISPID_VALUE, none, "");
    // An object whose default member is an object again gives that one's value.
    if (result.vt == VT_DISPATCH && result.pdispVal && result.pdispVal != value.pdispVal) return DefaultValue(result);
    if (result.vt == VT_DISPATCH) throw RuntimeError(kTypeMismatch);
    return result;
}

Enumeration::Enumeration(IDispatch* collection) {
    if (!collection) throw RuntimeError(kObjectNotSet);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    Value result;
    platform::ExcepInfo exception;
    UINT argError = 0;
    HRESULT hr = collection->Invoke(DISPID_NEWENUM, GUID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none,
                                    &result, &exception, &argError);
    if (FAILED(hr) || (result.vt != VT_UNKNOWN && result.vt != VT_DISPATCH) || !result.punkVal)
        throw RuntimeError(kNotACollection);
    if (FAILED(result.punkVal->QueryInterface(IID_IEnumVARIANT, mEnum.putVoid()))) throw RuntimeError(kNotACollection);
}

bool Enumeration::next(Value* item) {
    Value fetched;
    ULONG count = 0;
    if (mEnum->Next(1, &fetched, &count) != S_OK || count != 1) return false;
    *item = std::move(fetched);
    return true;
}

bool SameObject(IDispatch* a, IDispatch* b) {
    if (a == b) return true;
    if (!a || !b) return false;
    platform::ComPtr<IUnknown> ua, ub;
    if (FAILED(a->QueryInterface(IID_IUnknown, ua.putVoid())) || FAILED(b->QueryInterface(IID_IUnknown, ub.putVoid())))
        return false;
    return ua.get() == ub.get();
}

}  // namespace vbs
