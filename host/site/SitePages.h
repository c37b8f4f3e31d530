// The upload site: a page where people upload files with a live progress
// bar, the results page that shows what arrived, the progress of one's own
// uploads, and the saved files.
#pragma once

#include <string>

#include "core/WebServer.h"

struct SiteOptions {
    long long maxUpload = 2000000000;
};

// GET /upload: the upload form, with a new progress ID bound to the visitor.
// POST /upload?ID=n: receives the upload, saves its files under
// /uploads/<upload>/ and shows every field; with "Accept: application/json"
// it answers the form report with each item's "SavedAs" or "SaveError".
// GET /progress?ID=n: the upload's progress, for the visitor it was handed to.
// GET /uploads/...: a saved file, as an attachment unless it is a picture.
void AddSitePages(WebServer& server, const SiteOptions& options);

// The progress document of a form ID: {"ID", "Note", "Started", ...}. With
// `known` false, the document of an ID without a record (zeros and the note
// "Connecting...") under the ID given.
std::string ProgressJson(long id, bool known = true);
