// The site's own page for a script page that fails (status 500).
#pragma once

#include <string>

// The text ErrorPage500 of HKLM\SOFTWARE\Venhale\Formix4Site: a page's
// virtual path ("/errors/500.asp"), "" when not set. Read at each call.
std::string SiteErrorPage500();
