// Formix4Site.Tools, what the site's pages need of the server beyond the
// page objects: the visitors and the progress IDs handed to them, the size
// limit and free space, and upload folders.
#pragma once

#include <memory>
#include <string>

#include "platform/RedisLink.h"
#include "site/SitePages.h"

// Registers the class Formix4Site.Tools for the site in `documentRoot`: its
// visitors are recognised by `secret`, and share their form IDs through
// `link` when there is one.
void RegisterSiteTools(const SiteOptions& options, const std::string& documentRoot, std::string secret,
                       std::shared_ptr<platform::RedisLink> link);
