#include "script/ComCalls.h"

#include <string>

#include "core/RuntimeErrors.h"
#include "platform/CodePage.h"
#include "platform/ComPtr.h"
#include "script/ComErrors.h"

namespace script {

namespace {

std::string Utf8(BSTR text) {
    return text ? platform::codepage::Utf16ToUtf8(std::u16string(text, SysStringLen(text))) : "";
}

}  // namespace

HRESULT Call(IDispatch* object, DISPID member, WORD flags, Arguments& args, VARIANT* result,
             platform::ExcepInfo* exception) {
    DISPID putId = DISPID_PROPERTYPUT;
    DISPPARAMS params{args.data(), nullptr, args.size(), 0};
    if (flags & DISPATCH_PROPERTYPUT) {
        params.rgdispidNamedArgs = &putId;
        params.cNamedArgs = 1;
    }
    UINT argError = 0;
    return object->Invoke(member, GUID_NULL, 0, flags, &params, result, exception, &argError);
}

void ThrowCallError(duk_context* context, HRESULT hr, const platform::ExcepInfo& exception) {
    if (hr == DISP_E_EXCEPTION) {
        const HRESULT raised = exception.scode ? exception.scode : host::RuntimeError(exception.wCode);
        const std::string text = Utf8(exception.bstrDescription);
        ThrowComError(context, raised, text.empty() ? ErrorText(raised) : text, Utf8(exception.bstrSource));
    }
    ThrowComError(context, hr, ErrorText(hr));
}

void CallAndPush(duk_context* context, IDispatch* object, DISPID member, WORD flags, duk_idx_t first, duk_idx_t count) {
    Arguments args(context, first, count);
    platform::ExcepInfo exception;
    platform::Variant result;
    const HRESULT hr = Call(object, member, flags, args, &result, &exception);
    if (FAILED(hr)) ThrowCallError(context, hr, exception);
    PushVariant(context, result);
}

}  // namespace script
