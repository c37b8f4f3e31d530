// The upload site's answer to an upload: the form read through the
// component as a page reads it, every file item saved into the upload's
// folder with the digest of what was saved, and the report as JSON (the
// document of formix4-inspect, each item with "SavedAs" or "SaveError") and
// as the results page. Built here rather than in the page language: a form
// of 10,000 fields costs what it shows, not a script call per character.
#pragma once

#include <string>

#include "client/FormReport.h"
#include "site/UploadFolder.h"

struct UploadReport {
    // A save failed because the volume is full: the whole upload ends.
    bool volumeFull = false;
    // Written as JSON by FormReportJson, as the results page by ResultsHtml.
    FormReport form;
};

// Reads the report of a form, which reads its body on the first member
// read, and saves its file items under the folder. Throws MemberFailure
// when the form fails.
UploadReport ReceiveUpload(DispatchObject& form, UploadFolder& folder);

// The results page's body of a report.
std::string ResultsHtml(const FormReport& report);
