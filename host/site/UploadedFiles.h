// The saved files of the upload site, served as they are.
#pragma once

#include "core/Page.h"

// A saved upload: a regular file under the uploads folder; pictures inline,
// everything else as an attachment, never run as a page of the site.
void UploadedFile(const PageRequest& request, Response& response);
