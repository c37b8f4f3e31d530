#include "core/SiteErrorPage.h"

#include "platform/RegistryValues.h"

std::string SiteErrorPage500() {
    std::string path;
    if (!platform::registry::ReadString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Venhale\\Formix4Site", "ErrorPage500", &path))
        return "";
    return path;
}
