// The upload site's server side: the saved files it serves, and the tools
// its script pages (site/*.asp) use beside the component.
#include "site/SitePages.h"

#include <cstdio>
#include <memory>
#include <string>

#include "platform/RedisLink.h"
#include "platform/RegistryValues.h"
#include "site/HealthPage.h"
#include "site/SiteTools.h"
#include "site/UploadedFiles.h"
#include "site/Visitors.h"

namespace {

// The Redis server the component's setting ProgressStore names, if any:
// the site's servers share their pages' sessions and the numbering of form
// IDs there too.
std::shared_ptr<platform::RedisLink> ProgressStoreLink() {
    std::string text;
    platform::RedisAddress address;
    std::string error;  // a setting that names no Redis server is the component's to report
    if (!platform::registry::ReadString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Venhale\\Formix\\4.0", "ProgressStore", &text) ||
        text.empty() || !platform::RedisAddress::Parse(text, &address, &error))
        return nullptr;
    return platform::RedisLink::Shared(address, "Formix");
}

}  // namespace

void AddSitePages(WebServer& server, const SiteOptions& options, script::ScriptPages& pages) {
    const std::shared_ptr<platform::RedisLink> link = ProgressStoreLink();
    if (link) pages.shareSessionsThrough(link);
    bool shared = false;
    std::string secret = Visitors::SecretFromSettings(&shared);
    if (!shared)
        std::fprintf(stderr,
                     "formix4-server: no FormSecret in the registry: the form IDs this server hands out are "
                     "recognised by this process only\n");
    RegisterSiteTools(options, server.documentRoot(), std::move(secret), link);
    server.addPage("/uploads/", UploadedFile, PageOptions{.prefix = true});
    server.addPage("/health",
                   [&server](const PageRequest& request, Response& response) { Health(server, request, response); });
    // The site's addresses from before its pages were scripts.
    pages.addAlias(server, "/upload", "/upload.asp", PageOptions{.readsBody = true});
    pages.addAlias(server, "/progress", "/progress.asp", PageOptions{});
}
