#include "core/HostClasses.h"

#include <mutex>
#include <utility>
#include <vector>

#include "platform/CodePage.h"
#include "platform/OleAuto.h"

namespace host {

namespace {

std::mutex gMutex;
std::vector<std::pair<std::u16string, HostClassFactory>>& Classes() {
    static std::vector<std::pair<std::u16string, HostClassFactory>> classes;
    return classes;
}

}  // namespace

void RegisterHostClass(const std::u16string& progId, HostClassFactory factory) {
    std::lock_guard<std::mutex> guard(gMutex);
    for (auto& [name, existing] : Classes())
        if (platform::codepage::CompareNoCase(name, progId) == 0) {
            existing = std::move(factory);
            return;
        }
    Classes().emplace_back(progId, std::move(factory));
}

IDispatch* CreateHostObject(const std::u16string& progId) {
    HostClassFactory factory;
    {
        std::lock_guard<std::mutex> guard(gMutex);
        for (const auto& [name, existing] : Classes())
            if (platform::codepage::CompareNoCase(name, progId) == 0) factory = existing;
    }
    return factory ? factory() : nullptr;
}

HRESULT CreateObjectOfClass(const std::u16string& progId, IDispatch** object) {
    if (!object) return E_POINTER;
    *object = CreateHostObject(progId);
    if (*object) return S_OK;
    CLSID clsid{};
    const HRESULT hr = CLSIDFromProgID(progId.c_str(), &clsid);
    return FAILED(hr) ? hr
                      : CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                         reinterpret_cast<void**>(object));
}

}  // namespace host
