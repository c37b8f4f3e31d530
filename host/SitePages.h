// The upload site: a page where people upload files with a live progress
// bar, and the results page that shows what arrived.
#pragma once

#include "WebServer.h"

// GET /upload: the upload form, with a new progress ID.
// POST /upload?ID=n: receives the upload, saves its files under
// /uploads/<upload>/ and shows every field; with "Accept: application/json"
// it answers the form report with each item's "SavedAs".
// The size limit is $FORMIX4_MAX_UPLOAD bytes (default 2,000,000,000).
void AddSitePages(WebServer& server);
