#include "core/SiteCodePage.h"

#include "platform/CodePage.h"
#include "platform/RegistryValues.h"

UINT SiteCodePage() {
    DWORD codePage = 0;
    if (platform::registry::ReadDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Venhale\\Formix4Site", "PageCodePage",
                                      &codePage) &&
        IsValidCodePage(codePage))
        return codePage;
    return 1252;
}
