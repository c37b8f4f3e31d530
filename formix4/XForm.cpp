#include "XForm.h"

#include <cstring>
#include <string>

#include "Utilities.h"
#include "XFields.h"
#include "platform/Enumerator.h"
#include "platform/Files.h"
#include "platform/Security.h"
#include "platform/System.h"
#include "resources/Strings.h"

template <class T>
HRESULT XForm::GetValue(SourcePlace inPlace, T* outValue, T inValue) {
    return Frame(inPlace, [&]() -> HRESULT {
        if (!outValue) return E_POINTER;
        *outValue = inValue;
        return S_OK;
    });
}

template <class Put>
HRESULT XForm::PutValue(SourcePlace inPlace, Put inPut) {
    return Frame(inPlace, [&]() -> HRESULT {
        inPut();
        return S_OK;
    });
}

HRESULT XForm::ProcessRequest() {
    if (mEngine.Process(nullptr, false)) return Fail(mEngine.Report().ComposeText(), E_FAIL);
    return S_OK;
}

HRESULT XForm::get_Count(LONG* outCount) {
    return Frame(FMX_HERE, [&]() -> HRESULT {
        if (!outCount) return E_POINTER;
        const HRESULT hr = ProcessRequest();
        *outCount = mEngine.GroupCount();  // stored after a failure too
        return hr;
    });
}

HRESULT XForm::get_Item(VARIANT inIndex, VARIANT* outVal) {
    return Frame(FMX_HERE, [&]() -> HRESULT {
        if (!outVal) return E_POINTER;
        VariantInit(outVal);
        const HRESULT hr = ProcessRequest();
        // No index: the whole raw body as text, given with the processing
        // result, a failure included.
        if (inIndex.vt == VT_ERROR) {
            outVal->vt = VT_BSTR;
            outVal->bstrVal = AnsiToBstr(reinterpret_cast<const char*>(mEngine.Data()), mEngine.TotalLength());
            return hr;
        }
        if (FAILED(hr)) return hr;
        // A name wins over a number: the index 2 first looks for a field named "2".
        int theGroup = -1;
        platform::Variant theName;
        if (SUCCEEDED(VariantChangeType(&theName, &inIndex, 0, VT_BSTR))) {
            theGroup = mEngine.FindGroup(BstrToAnsi(theName.bstrVal).c_str());
            // Every name the enumeration gives is found again by that name.
            if (theGroup < 0)
                theGroup = mEngine.FindGroupByText(std::u16string(theName.bstrVal, SysStringLen(theName.bstrVal)));
        }
        if (theGroup < 0) {
            platform::Variant theNumber;
            if (SUCCEEDED(VariantChangeType(&theNumber, &inIndex, 0, VT_I4))) theGroup = theNumber.lVal - 1;
        }
        IDispatch* theFields = nullptr;
        const HRESULT theMade = MakeFields(this, theGroup, &theFields);
        if (FAILED(theMade)) return theMade;
        outVal->vt = VT_DISPATCH;
        outVal->pdispVal = theFields;
        return S_OK;
    });
}

HRESULT XForm::get__NewEnum(IUnknown** outEnum) {
    return Frame(FMX_HERE, [&]() -> HRESULT {
        if (!outEnum) return E_POINTER;
        *outEnum = nullptr;
        const HRESULT hr = ProcessRequest();
        if (FAILED(hr)) return hr;
        std::vector<VARIANT> theNames(static_cast<size_t>(mEngine.GroupCount()));
        for (size_t i = 0; i < theNames.size(); ++i) {
            const char* theName = mEngine.GroupAt(static_cast<int>(i))->name();
            VariantInit(&theNames[i]);
            theNames[i].vt = VT_BSTR;
            theNames[i].bstrVal = AnsiToBstr(theName, static_cast<int>(std::strlen(theName)));
        }
        IEnumVARIANT* theEnumerator = nullptr;
        const HRESULT theMade = CreateVariantEnumerator(std::move(theNames), &theEnumerator);
        *outEnum = theEnumerator;
        return theMade;
    });
}

HRESULT XForm::get_ID(LONG* outID) { return GetValue(FMX_HERE, outID, static_cast<LONG>(mEngine.GetID())); }
HRESULT XForm::put_ID(LONG inID) {
    return PutValue(FMX_HERE, [&] { mEngine.SetID(inID); });
}
HRESULT XForm::get_AbsolutePath(VARIANT_BOOL* theTruth) { return GetValue(FMX_HERE, theTruth, mAbsolutePath); }
HRESULT XForm::put_AbsolutePath(VARIANT_BOOL inTruth) {
    return PutValue(FMX_HERE, [&] { mAbsolutePath = inTruth; });
}
HRESULT XForm::get_Overwrite(VARIANT_BOOL* theTruth) { return GetValue(FMX_HERE, theTruth, mOverwrite); }
HRESULT XForm::put_Overwrite(VARIANT_BOOL inTruth) {
    return PutValue(FMX_HERE, [&] { mOverwrite = inTruth; });
}
HRESULT XForm::get_MaxUploadSize(LONG* theBytes) {
    return GetValue(FMX_HERE, theBytes, static_cast<LONG>(mEngine.GetMaxUploadSize()));
}
HRESULT XForm::put_MaxUploadSize(LONG inBytes) {
    return PutValue(FMX_HERE, [&] { mEngine.SetMaxUploadSize(inBytes); });
}
HRESULT XForm::get_CodePage(LONG* outCodePage) {
    return GetValue(FMX_HERE, outCodePage, static_cast<LONG>(mEngine.GetCodePage()));
}
HRESULT XForm::put_CodePage(LONG inCodePage) {
    return PutValue(FMX_HERE, [&] { mEngine.SetCodePage(inCodePage); });
}
HRESULT XForm::get_Streams(VARIANT_BOOL* outStreams) { return GetValue(FMX_HERE, outStreams, mStreams); }
HRESULT XForm::put_Streams(VARIANT_BOOL inStreams) {
    return PutValue(FMX_HERE, [&] { mStreams = inStreams; });
}

HRESULT XForm::get_Multipart(VARIANT_BOOL* outMP) {
    return Frame(FMX_HERE, [&]() -> HRESULT {
        if (!outMP) return E_POINTER;
        const HRESULT hr = ProcessRequest();
        if (FAILED(hr)) return hr;
        *outMP = mEngine.IsMultipart() ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    });
}

HRESULT XForm::Read(BSTR inPath) {
    return Frame(FMX_HERE, [&]() -> HRESULT {
        const std::u16string thePath(inPath ? inPath : u"", SysStringLen(inPath));
        mEngine.Clear();
        if (mEngine.Process(thePath.c_str(), mAbsolutePath != VARIANT_FALSE))
            return Fail(mEngine.Report().ComposeText(), E_FAIL);
        return S_OK;
    });
}

HRESULT XForm::Save(BSTR inPath) {
    return Frame(FMX_HERE, [&]() -> HRESULT {
        const HRESULT hr = ProcessRequest();
        if (FAILED(hr)) return hr;
        ErrorReport theReport;
        std::u16string thePath(inPath ? inPath : u"", SysStringLen(inPath));
        if (!mAbsolutePath) {
            std::u16string theMapped;
            const HRESULT theMapping = mEngine.MapPath(thePath.c_str(), &theMapped);
            if (FAILED(theMapping)) {
                theReport.AddMessage("Unable to convert virtual to physical path");
                theReport.SetResultCode(theMapping);
                return Finish(theReport, S_OK);
            }
            thePath = theMapped;
        }
        // A path that does not fit is refused, never cut: a cut name is
        // another file.
        if (!FMX_ASSERT(thePath.size() < 260, "XForm")) {
            theReport.SetResultCode(HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE));
            return Finish(theReport, S_OK);
        }
        const DWORD theError = WriteWholeBuffer(
            thePath.c_str(), mEngine.Data(), static_cast<uint32_t>(mEngine.TotalLength()), mOverwrite != VARIANT_FALSE);
        // Pages may read the thread's last error after Save: it stays the
        // save's error, 0 after a save that succeeded.
        SetLastError(theError);
        if (theError != 0) theReport.SetWin32Error(theError);
        return Finish(theReport, S_OK);
    });
}

XForm::~XForm() { EndImpersonation(); }

HRESULT XForm::SetUser(BSTR inName, BSTR inPassword, BSTR inDomain) {
    return Frame(FMX_HERE, [&]() -> HRESULT {
        const std::string theName = BstrToAnsi(inName);
        const std::string thePassword = BstrToAnsi(inPassword);
        const std::string theDomain = inDomain ? BstrToAnsi(inDomain) : std::string(".");
        // Read at every call, so an administrator's change applies at once.
        if (!ImpersonationEnabled()) return Fail(strings::kImpersonationDisabled, E_FAIL);
        ErrorReport theReport;
        if (!Impersonate(theName, thePassword, theDomain) && GetLastError() != 0)
            theReport.SetWin32Error(GetLastError());
        return Finish(theReport, S_OK);
    });
}

bool XForm::Impersonate(const std::string& inName, const std::string& inPassword, const std::string& inDomain) {
    if (!EndImpersonation()) return false;
    if (inName.empty()) return true;  // only the end was asked for
    if (!RevertToSelf()) return false;
    if (!LogonUserA(inName.c_str(), inDomain.c_str(), inPassword.c_str(), LOGON32_LOGON_BATCH, LOGON32_PROVIDER_DEFAULT,
                    &mToken)) {
        mToken = nullptr;
        return false;
    }
    if (ImpersonateLoggedOnUser(mToken)) return true;
    const DWORD theError = GetLastError();
    CloseHandle(mToken);
    mToken = nullptr;
    SetLastError(theError);
    return false;
}

bool XForm::EndImpersonation() {
    if (!mToken) return true;
    const bool theResult = RevertToSelf();
    const DWORD theError = GetLastError();
    CloseHandle(mToken);
    mToken = nullptr;
    SetLastError(theError);
    return theResult;
}

HRESULT XForm::get_User(BSTR* outName) { return GetAccount(FMX_HERE, outName, false); }
HRESULT XForm::get_Domain(BSTR* outName) { return GetAccount(FMX_HERE, outName, true); }

HRESULT XForm::GetAccount(SourcePlace inPlace, BSTR* outText, bool inDomain) {
    return Frame(inPlace, [&]() -> HRESULT {
        if (!outText) return E_POINTER;
        char theName[257] = {};
        char theDomain[257] = {};
        SetLastError(0);
        HANDLE theToken = nullptr;
        bool theFound = OpenThreadToken(GetCurrentThread(), TOKEN_QUERY | READ_CONTROL, TRUE, &theToken) ||
                        (GetLastError() == ERROR_NO_TOKEN &&
                         OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | READ_CONTROL, &theToken));
        if (theFound) {
            alignas(8) BYTE theUser[256];
            DWORD theLength = 0;
            DWORD theNameSize = 256, theDomainSize = 256;
            SID_NAME_USE theUse;
            theFound = GetTokenInformation(theToken, TokenUser, theUser, sizeof theUser, &theLength) &&
                       LookupAccountSidA(nullptr, reinterpret_cast<TOKEN_USER*>(theUser)->User.Sid, theName,
                                         &theNameSize, theDomain, &theDomainSize, &theUse);
            const DWORD theError = GetLastError();
            CloseHandle(theToken);
            SetLastError(theError);
        }
        ErrorReport theReport;
        if (!theFound) {
            theName[0] = theDomain[0] = 0;
            if (GetLastError() != 0) theReport.SetWin32Error(GetLastError());
        }
        const char* theText = inDomain ? theDomain : theName;
        *outText = AnsiToBstr(theText, static_cast<int>(std::strlen(theText)));
        return Finish(theReport, S_OK);
    });
}
