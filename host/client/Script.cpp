#include "client/Script.h"

#include <algorithm>

#include "platform/CodePage.h"

using platform::codepage::Utf16ToUtf8;
using platform::codepage::Utf8ToUtf16;

DispatchObject::DispatchObject(IDispatch* object) : mObject(object) {}

DispatchObject DispatchObject::Create(const std::string& progId) {
    DispatchObject result;
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(Utf8ToUtf16(progId).c_str(), &clsid);
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, result.mObject.putVoid());
    result.mError.hr = hr;
    return result;
}

namespace {
// The arguments of a call belong to it: cleared however the call ends.
class ArgumentsOwner {
public:
    explicit ArgumentsOwner(std::vector<VARIANT>& args) : mArgs(args) {}
    ~ArgumentsOwner() {
        for (VARIANT& arg : mArgs) VariantClear(&arg);
    }
    ArgumentsOwner(const ArgumentsOwner&) = delete;
    ArgumentsOwner& operator=(const ArgumentsOwner&) = delete;

private:
    std::vector<VARIANT>& mArgs;
};
}  // namespace

bool DispatchObject::invoke(const std::string& name, WORD flags, std::vector<VARIANT>& args, VARIANT* result) {
    ArgumentsOwner owner(args);
    mError = ScriptError();
    if (!mObject) {
        mError.hr = E_POINTER;
        return false;
    }
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = findId(name, &id);
    if (SUCCEEDED(hr)) {
        std::vector<VARIANT> reversed(args.rbegin(), args.rend());
        DISPID putId = DISPID_PROPERTYPUT;
        DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
        if (flags & DISPATCH_PROPERTYPUT) {
            params.rgdispidNamedArgs = &putId;
            params.cNamedArgs = 1;
        }
        EXCEPINFO exception{};
        UINT argError = 0;
        platform::Variant ignored;
        hr = mObject->Invoke(id, GUID_NULL, 0, flags, &params, result ? result : &ignored, &exception, &argError);
        if (hr == DISP_E_EXCEPTION) {
            hr = exception.scode;
            if (exception.bstrSource) mError.source = Utf16ToUtf8(exception.bstrSource);
            if (exception.bstrDescription) mError.description = Utf16ToUtf8(exception.bstrDescription);
        }
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
    }
    mError.hr = hr;
    return SUCCEEDED(hr);
}

HRESULT DispatchObject::findId(const std::string& name, DISPID* id) {
    if (mIds && !mTypeAsked) {
        mTypeAsked = true;
        if (FAILED(mObject->GetTypeInfo(0, 0, mType.put()))) mType = platform::ComPtr<ITypeInfo>();
    }
    if (mIds && mType) return mIds->find(mObject.get(), mType.get(), name, id);
    const std::u16string wide = Utf8ToUtf16(name);
    LPOLESTR names[] = {const_cast<LPOLESTR>(wide.c_str())};
    return mObject->GetIDsOfNames(GUID_NULL, names, 1, 0, id);
}

HRESULT MemberIds::find(IDispatch* object, ITypeInfo* type, const std::string& name, DISPID* id) {
    auto known =
        std::find_if(mTypes.begin(), mTypes.end(), [type](const TypeIds& ids) { return ids.type.get() == type; });
    if (known != mTypes.end()) {
        const auto found = known->ids.find(name);
        if (found != known->ids.end()) {
            *id = found->second;
            return S_OK;
        }
    }
    const std::u16string wide = Utf8ToUtf16(name);
    LPOLESTR names[] = {const_cast<LPOLESTR>(wide.c_str())};
    const HRESULT hr = object->GetIDsOfNames(GUID_NULL, names, 1, 0, id);
    if (FAILED(hr)) return hr;
    if (known == mTypes.end()) {
        type->AddRef();
        known = mTypes.insert(mTypes.end(), TypeIds{platform::ComPtr<ITypeInfo>(type), {}});
    }
    known->ids.emplace(name, *id);
    return hr;
}

bool DispatchObject::get(const std::string& name, VARIANT* result, std::vector<VARIANT> args) {
    return invoke(name, DISPATCH_PROPERTYGET | DISPATCH_METHOD, args, result);
}

bool DispatchObject::put(const std::string& name, const VARIANT& value) {
    std::vector<VARIANT> args(1);
    VariantInit(&args[0]);
    VariantCopy(&args[0], &value);
    return invoke(name, DISPATCH_PROPERTYPUT, args, nullptr);
}

bool DispatchObject::call(const std::string& name, std::vector<VARIANT> args, VARIANT* result) {
    return invoke(name, DISPATCH_METHOD, args, result);
}

DispatchObject DispatchObject::getObject(const std::string& name, std::vector<VARIANT> args) {
    platform::Variant value;
    DispatchObject object;
    if (!mObject && mError.hr != S_OK) {
        ArgumentsOwner owner(args);
        object.mError = mError;  // a chain of calls reports its first failure
    } else if (!get(name, &value, std::move(args))) {
        object.mError = mError;
    } else if (value.vt != VT_DISPATCH || !value.pdispVal) {
        object.mError = {E_UNEXPECTED, "", name + " gave no object"};
    } else {
        value.pdispVal->AddRef();
        object.mObject = platform::ComPtr<IDispatch>(value.pdispVal);
        object.mIds = mIds;
    }
    return object;
}

long DispatchObject::getLong(const std::string& name) {
    platform::Variant value, number;
    if (!get(name, &value) || FAILED(VariantChangeType(&number, &value, 0, VT_I4))) return 0;
    return number.lVal;
}

bool DispatchObject::getBool(const std::string& name) {
    platform::Variant value;
    return get(name, &value) && value.vt == VT_BOOL && value.boolVal != 0;
}

std::string DispatchObject::getString(const std::string& name) {
    platform::Variant value;
    return get(name, &value) ? VariantText(value) : std::string();
}

VARIANT MakeLong(long value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = static_cast<LONG>(value);
    return v;
}

VARIANT MakeBool(bool value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BOOL;
    v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

VARIANT MakeString(const std::string& utf8) {
    VARIANT v;
    VariantInit(&v);
    const std::u16string wide = Utf8ToUtf16(utf8);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    return v;
}

std::string VariantText(const VARIANT& value) {
    platform::Variant text;
    if (FAILED(VariantChangeType(&text, &value, 0, VT_BSTR)) || !text.bstrVal) return {};
    return Utf16ToUtf8(std::u16string(text.bstrVal, SysStringLen(text.bstrVal)));
}
