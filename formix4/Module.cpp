// The module's four entry points, its class factories and the cached type
// information.
#include <atomic>
#include <iterator>
#include <mutex>
#include <string>

#include "Formix4.h"
#include "ProgressStore.h"
#include "Utilities.h"
#include "XField.h"
#include "XFields.h"
#include "XForm.h"
#include "XProgress.h"
#include "platform/CodePage.h"
#include "platform/ComPtr.h"
#include "platform/EventLog.h"
#include "platform/RegistryValues.h"
#include "platform/System.h"
#include "resources/RegistryScripts.h"
#include "resources/Strings.h"

#define FMX_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::atomic<long> gObjects{0};
std::atomic<long> gServerLocks{0};

using CreateFunction = HRESULT (*)(IUnknown*, REFIID, void**);

class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(CreateFunction inCreate) : mCreate(inCreate) {}

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    // Factories live as long as the module.
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }

    HRESULT CreateInstance(IUnknown* inOuter, REFIID riid, void** ppv) override { return mCreate(inOuter, riid, ppv); }
    HRESULT LockServer(BOOL inLock) override {
        if (inLock)
            ++gServerLocks;
        else
            --gServerLocks;
        return S_OK;
    }

private:
    CreateFunction mCreate;
};

// The factory of a class. The factories are made on the first request,
// once per process (the initialisation of a local static runs under a
// lock), and destroyed when the module unloads.
ClassFactory* FactoryFor(REFCLSID inClsid) {
    static ClassFactory theFactories[] = {ClassFactory(&XForm::CreateInstance), ClassFactory(&XField::CreateInstance),
                                          ClassFactory(&XFields::CreateInstance),
                                          ClassFactory(&XProgress::CreateInstance)};
    static const CLSID* const kClasses[] = {&CLSID_XForm, &CLSID_XField, &CLSID_XFields, &CLSID_XProgress};
    for (size_t i = 0; i < std::size(kClasses); ++i)
        if (*kClasses[i] == inClsid) return &theFactories[i];
    return nullptr;
}

std::mutex gTypeInfoMutex;
platform::ComPtr<ITypeLib>* gTypeLibrary = nullptr;
// The library once loaded, read without the lock: every member call of every
// object asks for its type information, and the library is not changed
// again until the module unloads.
std::atomic<ITypeLib*> gLoadedLibrary{nullptr};

std::string GuidText(REFGUID inGuid) {
    OLECHAR theText[40];
    StringFromGUID2(inGuid, theText, 40);
    return platform::codepage::Utf16ToUtf8(theText);
}

std::string ModulePath() {
    char thePath[4096];
    return GetModuleFileNameOfAddress(reinterpret_cast<const void*>(&ModulePath), thePath, sizeof thePath) ? thePath
                                                                                                           : "";
}

HRESULT FromRegistry(LONG inStatus) {
    return inStatus == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(inStatus));
}

// Writes one class's entries; stops at the first failure.
HRESULT ApplyClassScript(const ClassScript& inScript, const std::string& inModule) {
    using platform::registry::WriteString;
    const std::string theClsid = GuidText(*inScript.clsid);
    const std::string theClassKey = "CLSID\\" + theClsid;
    const std::string theIndependent = inScript.versionIndependentProgId;
    const struct {
        std::string key;
        const char* name;
        std::string value;
    } kEntries[] = {
        {inScript.progId, "", inScript.description},
        {std::string(inScript.progId) + "\\CLSID", "", theClsid},
        {theIndependent, "", inScript.description},
        {theIndependent + "\\CLSID", "", theClsid},
        {theIndependent + "\\CurVer", "", inScript.progId},
        {theClassKey, "", inScript.description},
        {theClassKey + "\\ProgID", "", inScript.progId},
        {theClassKey + "\\VersionIndependentProgID", "", theIndependent},
        {theClassKey + "\\InprocServer32", "", inModule},
        {theClassKey + "\\InprocServer32", "ThreadingModel", kThreadingModel},
        {theClassKey + "\\TypeLib", "", GuidText(LIBID_Formix4)},
    };
    for (const auto& theEntry : kEntries) {
        const HRESULT hr = FromRegistry(WriteString(HKEY_CLASSES_ROOT, theEntry.key, theEntry.name, theEntry.value));
        if (FAILED(hr)) return hr;
    }
    // Programmable: a key with no value.
    HKEY theKey = nullptr;
    const LONG theStatus = RegCreateKeyExA(HKEY_CLASSES_ROOT, (theClassKey + "\\Programmable").c_str(), 0, nullptr,
                                           REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &theKey, nullptr);
    if (theStatus == ERROR_SUCCESS) RegCloseKey(theKey);
    return FromRegistry(theStatus);
}

void RemoveClassScript(const ClassScript& inScript) {
    RegDeleteTreeA(HKEY_CLASSES_ROOT, inScript.progId);
    RegDeleteTreeA(HKEY_CLASSES_ROOT, inScript.versionIndependentProgId);
    RegDeleteTreeA(HKEY_CLASSES_ROOT, ("CLSID\\" + GuidText(*inScript.clsid)).c_str());
}

// On unload: release the cached type information.
__attribute__((destructor)) void ReleaseModuleState() {
    {
        std::lock_guard<std::mutex> theGuard(gTypeInfoMutex);
        gLoadedLibrary = nullptr;
        delete gTypeLibrary;
        gTypeLibrary = nullptr;
    }
    ProgressStore::Instance().StopSharing();  // its writer runs this module's code
    ProgressStore::Instance().Empty();
}

}  // namespace

void ObjectCreated() { ++gObjects; }

void ObjectDestroyed() { --gObjects; }

HRESULT GetComponentTypeInfo(REFIID inIID, ITypeInfo** outInfo) {
    if (ITypeLib* theLoaded = gLoadedLibrary.load(std::memory_order_acquire))
        return theLoaded->GetTypeInfoOfGuid(inIID, outInfo);
    std::lock_guard<std::mutex> theGuard(gTypeInfoMutex);
    if (!gTypeLibrary || !*gTypeLibrary) {
        platform::ComPtr<ITypeLib> theLibrary;
        const HRESULT hr = LoadRegTypeLib(LIBID_Formix4, 4, 0, 0, theLibrary.put());
        if (FAILED(hr)) return hr;
        if (!gTypeLibrary) gTypeLibrary = new platform::ComPtr<ITypeLib>;
        *gTypeLibrary = std::move(theLibrary);
        gLoadedLibrary.store(gTypeLibrary->get(), std::memory_order_release);
    }
    return (*gTypeLibrary)->GetTypeInfoOfGuid(inIID, outInfo);
}

FMX_EXPORT HRESULT DllGetClassObject(REFCLSID inClsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    ClassFactory* theFactory = FactoryFor(inClsid);
    if (!theFactory) return CLASS_E_CLASSNOTAVAILABLE;
    return theFactory->QueryInterface(riid, ppv);
}

FMX_EXPORT HRESULT DllCanUnloadNow() { return gObjects == 0 && gServerLocks == 0 ? S_OK : S_FALSE; }

FMX_EXPORT HRESULT DllRegisterServer() {
    const std::string theModule = ModulePath();
    if (theModule.empty()) return HRESULT_FROM_WIN32(GetLastError());
    for (const ClassScript& theScript : kClassScripts) {
        const HRESULT hr = ApplyClassScript(theScript, theModule);
        if (FAILED(hr)) return hr;
    }
    const std::u16string thePath = platform::codepage::Utf8ToUtf16(theModule);
    const std::u16string theHelpDir = thePath.substr(0, thePath.find_last_of(u'/'));
    platform::ComPtr<ITypeLib> theLibrary;
    HRESULT hr = LoadTypeLib(thePath.c_str(), theLibrary.put());
    if (SUCCEEDED(hr)) hr = RegisterTypeLib(theLibrary.get(), thePath.c_str(), theHelpDir.c_str());
    if (FAILED(hr)) return hr;
    WriteModulePath();
    WriteEventSource("", strings::kEventSource);
    LogEvent(strings::kRegisteredSuccessfully, EVENTLOG_INFORMATION_TYPE);
    return S_OK;
}

FMX_EXPORT HRESULT DllUnregisterServer() {
    for (const ClassScript& theScript : kClassScripts) RemoveClassScript(theScript);
    UnRegisterTypeLib(LIBID_Formix4, 4, 0, 0, SYS_WIN32);
    return S_OK;
}
