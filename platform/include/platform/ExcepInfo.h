// An EXCEPINFO for IDispatch::Invoke whose strings are freed however the
// call ends.
#pragma once

#include "platform/OleAuto.h"

namespace platform {

struct ExcepInfo : EXCEPINFO {
    ExcepInfo() : EXCEPINFO{} {}
    ExcepInfo(const ExcepInfo&) = delete;
    ExcepInfo& operator=(const ExcepInfo&) = delete;
    ~ExcepInfo() {
        SysFreeString(bstrSource);
        SysFreeString(bstrDescription);
        SysFreeString(bstrHelpFile);
    }
};

}  // namespace platform
