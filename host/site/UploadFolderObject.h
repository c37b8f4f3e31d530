// The upload folder a page of the site gets from Formix4Site.Tools
// (NewUploadFolder): where an upload's files are saved, and the report of
// the form read into it, written to the page's answer.
#pragma once

#include <string>

#include "platform/Com.h"

// An upload folder under `documentRoot`'s uploads/ for a page: VirtualPath,
// Receive(form) (reads the form, saves its files in the folder and gives its
// report: Multipart, VolumeFull, WriteJson(Response), WriteHtml(Response)),
// Keep() (the folder is removed at the end unless kept). One reference, for
// the caller.
IDispatch* CreateUploadFolderObject(const std::string& documentRoot);
