// The run-time errors of the classic page languages, as the host's objects
// raise them: HRESULT 0x800A0000 | the language's error number, so that a
// page reads the number it knows from `e.number & 0xFFFF` (Err.Number).
#pragma once

#include "platform/WinTypes.h"

namespace host {

constexpr HRESULT RuntimeError(unsigned number) { return static_cast<HRESULT>(0x800A0000u | number); }

constexpr HRESULT kInvalidProcedureCall = RuntimeError(5);
constexpr HRESULT kSubscriptOutOfRange = RuntimeError(9);

}  // namespace host
