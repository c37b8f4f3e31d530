// The generic dispatch over a type: names to ids, and calls of members
// through their thunks with the arguments converted to the declared types.
#include <strings.h>

#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "TypeInfo.h"
#include "platform/CodePage.h"
#include "platform/ComPtr.h"
#include "platform/System.h"

namespace platform::typelib {

using codepage::Utf16ToUtf8;

namespace {

// Declared names are ASCII; the wanted name is converted once per lookup,
// not once per name compared.
bool SameName(const char* declared, const std::string& wanted) {
    return declared && strcasecmp(declared, wanted.c_str()) == 0;
}

bool IsMissing(const VARIANT& v) { return v.vt == VT_ERROR && v.scode == DISP_E_PARAMNOTFOUND; }

}  // namespace

HRESULT TypeInfo::GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) {
    if (!names || !ids || count == 0) return E_INVALIDARG;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    const MemberInfo* member = nullptr;
    if (mInterface && names[0]) {
        const auto found = mByName.find(FoldedName(Utf16ToUtf8(names[0])));
        if (found != mByName.end()) member = found->second;
    }
    if (!member) return DISP_E_UNKNOWNNAME;
    ids[0] = member->id;
    HRESULT hr = S_OK;
    for (UINT n = 1; n < count; ++n) {
        // Parameter ids are positions among the member's parameters; the
        // accessor that declares the name decides (get and put share ids).
        int position = -1;
        const std::string wanted = names[n] ? Utf16ToUtf8(names[n]) : std::string();
        for (int k = 0; names[n] && k < mInterface->memberCount && position < 0; ++k) {
            const MemberInfo& m = mInterface->members[k];
            if (m.id != member->id) continue;
            for (int p = 0; p < m.paramCount; ++p)
                if (!IsRetval(m.params[p]) && SameName(m.params[p].name, wanted)) position = p;
        }
        if (position < 0)
            hr = DISP_E_UNKNOWNNAME;
        else
            ids[n] = position;
    }
    return hr;
}

// Gathers the in-parameters of `m` from `params`, converted to their
// declared types, into `converted` (one VARIANT per in-parameter).
HRESULT TypeInfo::collectArguments(const MemberInfo& m, WORD flags, DISPPARAMS* params, VARIANT* converted,
                                   UINT* argError) const {
    std::vector<const ParamInfo*> inParams;
    for (int i = 0; i < m.paramCount; ++i)
        if (!IsRetval(m.params[i])) inParams.push_back(&m.params[i]);
    const UINT named = params->cNamedArgs;
    const UINT positional = params->cArgs - named;
    if (positional > inParams.size()) return DISP_E_BADPARAMCOUNT;
    std::vector<const VARIANT*> given(inParams.size(), nullptr);
    std::vector<UINT> givenIndex(inParams.size(), 0);
    for (UINT k = 0; k < positional; ++k) {
        const UINT index = params->cArgs - 1 - k;  // arguments arrive in reverse order
        given[k] = &params->rgvarg[index];
        givenIndex[k] = index;
    }
    for (UINT k = 0; k < named; ++k) {
        DISPID id = params->rgdispidNamedArgs[k];
        if (id == DISPID_PROPERTYPUT && (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)))
            id = static_cast<DISPID>(inParams.size()) - 1;
        if (id < 0 || static_cast<size_t>(id) >= inParams.size()) {
            if (argError) *argError = k;
            return DISP_E_PARAMNOTFOUND;
        }
        given[static_cast<size_t>(id)] = &params->rgvarg[k];
        givenIndex[static_cast<size_t>(id)] = k;
    }
    for (size_t i = 0; i < inParams.size(); ++i) {
        const ParamInfo& p = *inParams[i];
        VARIANT& out = converted[i];
        if (!given[i] || IsMissing(*given[i])) {
            if (!(p.flags & PARAMFLAG_FOPT)) return given[i] ? DISP_E_PARAMNOTOPTIONAL : DISP_E_BADPARAMCOUNT;
            if ((p.flags & PARAMFLAG_FHASDEFAULT) && p.defaultText) {
                out.vt = VT_BSTR;
                out.bstrVal = SysAllocString(p.defaultText);
                if (!out.bstrVal) return E_OUTOFMEMORY;
            } else if (p.type == VT_VARIANT) {
                out.vt = VT_ERROR;
                out.scode = DISP_E_PARAMNOTFOUND;
            } else {
                out.vt = p.type;  // zero of the declared type
            }
            continue;
        }
        if (p.type == VT_VARIANT) {
            const HRESULT hr = VariantCopyInd(&out, given[i]);
            if (FAILED(hr)) return hr;
            continue;
        }
        const VARTYPE target = p.typeName ? static_cast<VARTYPE>(VT_I4) : p.type;
        const HRESULT hr = VariantChangeType(&out, given[i], 0, target);
        if (FAILED(hr)) {
            if (argError) *argError = givenIndex[i];
            return hr == DISP_E_OVERFLOW ? hr : DISP_E_TYPEMISMATCH;
        }
    }
    return S_OK;
}

HRESULT TypeInfo::Invoke(PVOID instance, MEMBERID memid, WORD flags, DISPPARAMS* params, VARIANT* result,
                         EXCEPINFO* exception, UINT* argError) {
    if (!instance || !params || (params->cArgs && !params->rgvarg) || params->cNamedArgs > params->cArgs ||
        (params->cNamedArgs && !params->rgdispidNamedArgs))
        return E_INVALIDARG;
    if (!mInterface) return DISP_E_MEMBERNOTFOUND;
    const MemberInfo* member = nullptr;
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
        member = findById(memid, INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF);
    } else {
        if (flags & DISPATCH_METHOD) member = findById(memid, INVOKE_FUNC);
        if (!member && (flags & DISPATCH_PROPERTYGET)) member = findById(memid, INVOKE_PROPERTYGET);
        if (!member && (flags & DISPATCH_METHOD)) member = findById(memid, INVOKE_PROPERTYGET);
    }
    if (!member) return DISP_E_MEMBERNOTFOUND;
    // A put must name its value as the DISPID_PROPERTYPUT argument.
    if ((flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) &&
        (params->cNamedArgs != 1 || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT))
        return params->cNamedArgs ? DISP_E_PARAMNOTFOUND : DISP_E_PARAMNOTOPTIONAL;

    // Most members take a few arguments: those are converted on the stack.
    const size_t count = static_cast<size_t>(member->paramCount);
    VARIANT few[4];
    std::vector<VARIANT> many(count > std::size(few) ? count : 0);
    VARIANT* const converted = many.empty() ? few : many.data();
    for (size_t i = 0; i < count; ++i) VariantInit(&converted[i]);
    HRESULT hr = collectArguments(*member, flags, params, converted, argError);
    VARIANT retval;
    VariantInit(&retval);
    if (SUCCEEDED(hr)) hr = member->thunk(instance, converted, &retval);
    const bool collected = hr != DISP_E_BADPARAMCOUNT && hr != DISP_E_TYPEMISMATCH && hr != DISP_E_OVERFLOW &&
                           hr != DISP_E_PARAMNOTFOUND && hr != DISP_E_PARAMNOTOPTIONAL;
    for (size_t i = 0; i < count; ++i) VariantClear(&converted[i]);
    if (SUCCEEDED(hr)) {
        if (result) {
            VariantInit(result);
            *result = retval;
        } else {
            VariantClear(&retval);
        }
        return S_OK;
    }
    // A member may give a value along with its failure (the form's Item with
    // no index gives the body); a script sees only the failure.
    VariantClear(&retval);
    if (!collected) return hr;
    // The member itself failed: report it as an exception with its error
    // information.
    if (exception) {
        std::memset(exception, 0, sizeof *exception);
        exception->scode = hr;
        ComPtr<IErrorInfo> info;
        if (GetErrorInfo(0, info.put()) == S_OK && info) {
            info->GetSource(&exception->bstrSource);
            info->GetDescription(&exception->bstrDescription);
            info->GetHelpFile(&exception->bstrHelpFile);
            info->GetHelpContext(&exception->dwHelpContext);
        } else {
            char text[512];
            if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                               static_cast<DWORD>(hr), 0, text, sizeof text, nullptr))
                exception->bstrDescription = MakeBstr(text);
        }
    }
    return DISP_E_EXCEPTION;
}

}  // namespace platform::typelib
