#include "CallFrame.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "Utilities.h"
#include "platform/CodePage.h"
#include "platform/EventLog.h"
#include "platform/ComPtr.h"
#include "platform/System.h"
#include "resources/Strings.h"

namespace {

uintptr_t ComponentBase() {
    return reinterpret_cast<uintptr_t>(GetModuleBaseOfAddress(reinterpret_cast<const void*>(&RunInCallFrame)));
}

// "XForm" for ".../formix4/XForm.cpp".
std::string ModuleName(const char* inFile) {
    std::string theName = inFile ? inFile : "";
    const size_t theSlash = theName.find_last_of('/');
    if (theSlash != std::string::npos) theName.erase(0, theSlash + 1);
    const size_t theDot = theName.find_last_of('.');
    if (theDot != std::string::npos) theName.erase(theDot);
    return theName;
}

}  // namespace

SException::SException(const platform::FaultRecord& inFault, uintptr_t inModuleBase)
    : code(inFault.code),
      address(inFault.address),
      isRead(0),
      accessWord(0),
      target(0),
      moduleBase(inModuleBase),
      text{} {
    if (code == EXCEPTION_ACCESS_VIOLATION) {
        accessWord = inFault.accessWord;
        isRead = accessWord == 0;
        target = inFault.target;
    }
    if (isRead) {
        std::snprintf(text, sizeof text, strings::kFaultRead, static_cast<unsigned long>(address),
                      static_cast<unsigned long>(target));
    } else if (accessWord != 0) {
        std::snprintf(text, sizeof text, strings::kFaultWrite, static_cast<unsigned long>(address),
                      static_cast<unsigned long>(target));
    } else {
        std::snprintf(text, sizeof text, strings::kFaultOther, static_cast<unsigned long>(address),
                      static_cast<unsigned long>(code));
    }
}

std::string DescribeCaughtFault(const SException& inFault, const SourcePlace& inPlace) {
    char theWhere[256];
    std::snprintf(theWhere, sizeof theWhere, strings::kSystemErrorCaught, inPlace.line,
                  ModuleName(inPlace.file).c_str(), static_cast<unsigned long>(inFault.moduleBase));
    std::string theText = inFault.text;
    if (theText.size() + std::strlen(theWhere) <= 255) theText += theWhere;
    return theText;
}

HRESULT ReportError(const ClassIdentity& inClass, const std::string& inText, HRESULT inResult) {
    if (LogErrorsEnabled()) LogEvent(inText.c_str(), EVENTLOG_WARNING_TYPE);
    platform::ComPtr<ICreateErrorInfo> theCreator;
    if (SUCCEEDED(CreateErrorInfo(theCreator.put()))) {
        theCreator->SetGUID(*inClass.iid);
        LPOLESTR theProgId = nullptr;
        if (SUCCEEDED(ProgIDFromCLSID(*inClass.clsid, &theProgId))) {
            theCreator->SetSource(theProgId);
            CoTaskMemFree(theProgId);
        }
        platform::Bstr theDescription;
        *theDescription.put() = AnsiToBstr(inText.data(), static_cast<int>(inText.size()));
        theCreator->SetDescription(theDescription.get());
        platform::ComPtr<IErrorInfo> theInfo;
        if (SUCCEEDED(theCreator->QueryInterface(IID_IErrorInfo, theInfo.putVoid()))) SetErrorInfo(0, theInfo.get());
    }
    return inResult != 0 ? inResult : DISP_E_EXCEPTION;
}

HRESULT ReturnReport(const ClassIdentity& inClass, ErrorReport& inReport, HRESULT inOwnResult) {
    if (!inReport.HasErrors()) return inOwnResult;
    return ReportError(inClass, inReport.ComposeText(), inReport.FinalResult());
}

HRESULT RunInCallFrame(const ClassIdentity& inClass, SourcePlace inPlace, HRESULT (*inBody)(void*), void* inContext) {
    platform::FaultFrame theFaults;
    if (PLATFORM_FAULT_CATCH(theFaults)) {
        const SException theFault(theFaults.record(), ComponentBase());
        return RecoverFromSystemError(DescribeCaughtFault(theFault, inPlace).c_str());
    }
    try {
        return inBody(inContext);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const SException& theFault) {
        return RecoverFromSystemError(DescribeCaughtFault(theFault, inPlace).c_str());
    } catch (...) {
        return ReportError(inClass, strings::kUnknownException, E_FAIL);
    }
}
