// QueryInterface for the host's objects that answer to one interface of
// their own besides IDispatch (Request's IRequest, Server's IServer).
#pragma once

#include "platform/OleAuto.h"

// QueryInterface for an object with one interface besides IDispatch.
template <class Interface, class Object>
inline HRESULT AnswerFor(Object* self, REFIID riid, void** ppv, const IID& own) {
    if (!ppv) return E_POINTER;
    *ppv = riid == IID_IUnknown || riid == IID_IDispatch || riid == own ? static_cast<Interface*>(self) : nullptr;
    if (!*ppv) return E_NOINTERFACE;
    self->AddRef();
    return S_OK;
}
