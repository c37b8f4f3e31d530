#include "platform/Asp.h"
#include "platform/ComPtr.h"

extern "C" {
const IID IID_IObjectContext = {0x51372AE0, 0xCAE7, 0x11CF, {0xBE, 0x81, 0x00, 0xAA, 0x00, 0xA2, 0xFA, 0x25}};
const IID IID_IGetContextProperties = {0x51372AF4, 0xCAE7, 0x11CF, {0xBE, 0x81, 0x00, 0xAA, 0x00, 0xA2, 0xFA, 0x25}};
const IID IID_IRequest = {0xD97A6DA0, 0xA861, 0x11CF, {0x93, 0xAE, 0x00, 0xA0, 0xC9, 0x0C, 0x2B, 0xD8}};
const IID IID_IServer = {0xD97A6DA0, 0xA867, 0x11CF, {0x83, 0xAE, 0x01, 0xA0, 0xC9, 0x0C, 0x2B, 0xD8}};
}

namespace {
thread_local platform::ComPtr<IObjectContext> tContext;
}

HRESULT GetObjectContext(IObjectContext** context) {
    if (!context) return E_INVALIDARG;
    *context = tContext.get();
    if (!*context) return CONTEXT_E_NOCONTEXT;
    (*context)->AddRef();
    return S_OK;
}

namespace platform {
void SetThreadObjectContext(IObjectContext* context) {
    if (context) context->AddRef();
    tContext = ComPtr<IObjectContext>(context);
}
}  // namespace platform
