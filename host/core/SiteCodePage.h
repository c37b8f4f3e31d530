// The code page of the site's texts that name none: page files that are
// not UTF-8, and the text files pages read and write.
#pragma once

#include "platform/WinTypes.h"

// The DWORD PageCodePage of HKLM\SOFTWARE\Venhale\Formix4Site, else 1252
// (Western European, what most such sites were saved in). Read at each call.
UINT SiteCodePage();
