// The system's text of an error code as one line, for callers that show it
// beside texts of their own.
#pragma once

#include <string>

#include "platform/WinTypes.h"

namespace platform {

// The text FormatMessage gives a Windows error code or HRESULT, without its
// line end; empty when the code has none.
std::string SystemMessageText(HRESULT code);

}  // namespace platform
