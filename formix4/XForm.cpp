#include "XForm.h"

#include <string>

#include "Utilities.h"
#include "resources/Strings.h"

HRESULT XForm::SetUser(BSTR inName, BSTR inPassword, BSTR inDomain) {
    return Frame(FMX_HERE, [&]() -> HRESULT {
        const std::string theName = BstrToAnsi(inName);
        const std::string thePassword = BstrToAnsi(inPassword);
        const std::string theDomain = BstrToAnsi(inDomain);
        // Read at every call, so an administrator's change applies at once.
        if (!ImpersonationEnabled()) return Fail(strings::kImpersonationDisabled, E_FAIL);
        // Logging on and acting as the account arrive with impersonation.
        return E_NOTIMPL;
    });
}
