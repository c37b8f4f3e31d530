// The upload site's server side. Its pages are script pages under site/
// (upload.asp: the form and the upload, progress.asp: an upload's
// progress, served also at /upload and /progress); this part serves the
// saved files and gives the pages the tools they use beside the component.
#pragma once

#include <string>

#include "core/WebServer.h"
#include "script/ScriptPages.h"

struct SiteOptions {
    long long maxUpload = 2000000000;
    // Staging folders of uploads never kept (their server ended while
    // saving) are removed once this old.
    long long abandonedUploadSeconds = 3600;
};

// GET /health: 200 "ready", or 503 while draining or when the uploads folder
// cannot be written.
// GET /uploads/...: a saved file, as an attachment unless it is a picture;
// never one of a folder still being saved (a segment starting with a dot).
// Server.CreateObject("Formix4Site.Tools"): HandOut() (a random progress
// ID), Signature(visitor, id) and Owns(visitor, id, signature) (the ID is
// the visitor's: see Visitors.h), NewVisitorToken(), IsVisitorToken(text), MaxUpload,
// EnoughSpace(length), NewUploadFolder() (an upload's own folder: its
// VirtualPath, Receive(form), which saves the form's files there and gives
// the report, and Keep(); removed unless kept).
void AddSitePages(WebServer& server, const SiteOptions& options, script::ScriptPages& pages);
