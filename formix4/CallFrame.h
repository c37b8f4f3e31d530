// The frame every member of the four classes runs in, and the way members
// report failure: HRESULT plus COM error information, and the event log.
#pragma once

#include <string>
#include <type_traits>

#include "ErrorReport.h"
#include "platform/Faults.h"
#include "platform/OleAuto.h"

// A processor fault inside a member, with a Windows-style description.
// Addresses keep their full 64-bit width.
struct SException {
    uint32_t code;
    uintptr_t address;
    int32_t isRead;
    uintptr_t accessWord;
    uintptr_t target;
    uintptr_t moduleBase;
    char text[256];

    SException(const platform::FaultRecord& inFault, uintptr_t inModuleBase);
};

// The class a member belongs to, for its error information.
struct ClassIdentity {
    const CLSID* clsid;
    const IID* iid;
};

// Where a member is: its source file (a path; the frame keeps its base name
// without extension) and line.
struct SourcePlace {
    const char* file;
    int line;
};
#define FMX_HERE (SourcePlace{__FILE__, __LINE__})

// Logs (when LogErrors is on), sets the thread's error information with the
// class's versioned ProgID as source, and returns inResult, or
// DISP_E_EXCEPTION when it is 0.
HRESULT ReportError(const ClassIdentity& inClass, const std::string& inText, HRESULT inResult);

// The final result of a member that kept an ErrorReport.
HRESULT ReturnReport(const ClassIdentity& inClass, ErrorReport& inReport, HRESULT inOwnResult);

// The fault text written to the event log: the description followed by
// "System Error caught at line ..." when the whole fits in 255 characters.
std::string DescribeCaughtFault(const SException& inFault, const SourcePlace& inPlace);

// Runs a member body with faults translated; the caller holds the object's lock.
HRESULT RunInCallFrame(const ClassIdentity& inClass, SourcePlace inPlace, HRESULT (*inBody)(void*), void* inContext);

template <class Body>
HRESULT CallFrame(const ClassIdentity& inClass, SourcePlace inPlace, Body&& inBody) {
    using B = std::remove_reference_t<Body>;
    return RunInCallFrame(
        inClass, inPlace, [](void* theContext) -> HRESULT { return (*static_cast<B*>(theContext))(); },
        const_cast<void*>(static_cast<const void*>(&inBody)));
}
