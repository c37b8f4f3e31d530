// The upload site's server side: the saved files it serves, and the tools
// its script pages (site/*.asp) use beside the component.
#include "site/SitePages.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "core/HostClasses.h"
#include "core/NamedMembers.h"
#include "script/PageObjects.h"
#include "platform/CodePage.h"
#include "site/UploadFolder.h"
#include "site/UploadReport.h"
#include "site/Visitors.h"

namespace {

namespace fs = std::filesystem;
using platform::codepage::Utf16ToUtf8;

// The first bytes of the pictures the component recognises.
const char* PictureType(const std::string& path) {
    unsigned char head[8] = {};
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const ssize_t n = fd >= 0 ? read(fd, head, sizeof head) : -1;
    if (fd >= 0) close(fd);
    if (n >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) return "image/jpeg";
    if (n >= 6 && (std::memcmp(head, "GIF87a", 6) == 0 || std::memcmp(head, "GIF89a", 6) == 0)) return "image/gif";
    if (n >= 8 && std::memcmp(head, "\x89PNG\r\n\x1a\n", 8) == 0) return "image/png";
    if (n >= 2 && head[0] == 'B' && head[1] == 'M') return "image/bmp";
    return nullptr;
}

// A saved upload: a regular file under the uploads folder; pictures inline,
// everything else as an attachment, never run as a page of the site.
void UploadedFile(const PageRequest& request, Response& response) {
    char uploads[PATH_MAX], file[PATH_MAX];
    const std::string wanted = request.documentRoot + request.path;
    struct stat st{};
    if (request.path.find("/../") != std::string::npos || !realpath((request.documentRoot + "/uploads").c_str(), uploads) ||
        !realpath(wanted.c_str(), file) || std::string(file).rfind(std::string(uploads) + "/", 0) != 0 ||
        stat(file, &st) != 0 || !S_ISREG(st.st_mode)) {
        response.status = 404;
        response.contentType = "text/plain; charset=utf-8";
        response.body = "Not found.\n";
        return;
    }
    const char* picture = PictureType(file);
    const std::string name = fs::path(file).filename().string();
    response.file = file;
    response.contentType = picture ? picture : "application/octet-stream";
    response.headers.emplace_back("Content-Disposition", std::string(picture ? "inline" : "attachment") +
                                                             "; filename*=UTF-8''" + UrlEncodePath(name));
    response.headers.emplace_back("Content-Security-Policy", "sandbox");
}

// What an upload gave, for the page to answer with: Multipart, VolumeFull
// (the upload ended because a save found the volume full), and
// WriteJson(Response) and WriteHtml(Response), which write the report (a
// line of JSON) or the results page's body to the page's answer as bytes:
// a report of 10,000 fields is megabytes, which the page language would
// convert and copy several times.
class UploadReportObject final : public host::NamedMembers<UploadReportObject, IDispatch> {
public:
    explicit UploadReportObject(UploadReport report) : mReport(std::move(report)) {}

    const std::vector<host::Member<UploadReportObject>>& members() const {
        using Self = UploadReportObject;
        static const std::vector<host::Member<Self>> kMembers = {
            {u"Multipart", 1, host::kGet, 0, 0, &Self::multipart},
            {u"VolumeFull", 2, host::kGet, 0, 0, &Self::volumeFull},
            {u"WriteJson", 3, host::kCall, 1, 1, &Self::writeJson},
            {u"WriteHtml", 4, host::kCall, 1, 1, &Self::writeHtml},
        };
        return kMembers;
    }

private:
    HRESULT multipart(WORD, const host::MemberArgs&, VARIANT* result) {
        return host::ReturnBool(result, mReport.form.multipart);
    }
    HRESULT volumeFull(WORD, const host::MemberArgs&, VARIANT* result) {
        return host::ReturnBool(result, mReport.volumeFull);
    }
    HRESULT writeJson(WORD, const host::MemberArgs& args, VARIANT*) {
        std::string json = FormReportJson(mReport.form);
        json += '\n';
        return write(args[0], std::move(json));
    }
    HRESULT writeHtml(WORD, const host::MemberArgs& args, VARIANT*) { return write(args[0], ResultsHtml(mReport.form)); }
    HRESULT write(const VARIANT* response, std::string bytes) {
        if (!response || response->vt != VT_DISPATCH || !script::WriteToResponse(response->pdispVal, std::move(bytes)))
            return Fail(DISP_E_TYPEMISMATCH, "The report is written to the page's Response object.");
        return S_OK;
    }

    UploadReport mReport;
};

// The upload's folder for a page: VirtualPath, Receive(form) (reads the
// form, saves its files here and gives the report), Keep() (the folder is
// removed at the end unless kept).
class UploadFolderObject final : public host::NamedMembers<UploadFolderObject, IDispatch> {
public:
    explicit UploadFolderObject(const std::string& documentRoot) : mFolder(documentRoot) {}

    const std::vector<host::Member<UploadFolderObject>>& members() const {
        using Self = UploadFolderObject;
        static const std::vector<host::Member<Self>> kMembers = {
            {u"VirtualPath", 1, host::kGet, 0, 0, &Self::virtualPath},
            {u"Receive", 2, host::kCall, 1, 1, &Self::receive},
            {u"Keep", 3, host::kCall, 0, 0, &Self::keep},
        };
        return kMembers;
    }

private:
    HRESULT virtualPath(WORD, const host::MemberArgs&, VARIANT* result) {
        return host::ReturnText(result, mFolder.virtualPath());
    }
    // A failure of the form reaches the page as the component raised it.
    HRESULT receive(WORD, const host::MemberArgs& args, VARIANT* result) {
        const VARIANT* form = args[0];
        if (!form || form->vt != VT_DISPATCH || !form->pdispVal) return Fail(DISP_E_TYPEMISMATCH, "Receive takes a form.");
        form->pdispVal->AddRef();
        DispatchObject formObject(form->pdispVal);
        try {
            return host::ReturnObject(result, new (std::nothrow) UploadReportObject(ReceiveUpload(formObject, mFolder)));
        } catch (const MemberFailure& failure) {
            const ScriptError& error = failure.error;
            return Fail(error.hr, error.description.empty() ? "The form could not be read." : error.description,
                        error.source);
        }
    }
    HRESULT keep(WORD, const host::MemberArgs&, VARIANT*) {
        mFolder.keep();
        return S_OK;
    }

    UploadFolder mFolder;
};

struct SiteState {
    SiteOptions options;
    std::string documentRoot;
    Visitors visitors;
};

// What the site's pages need of the server beyond the page objects: the
// visitors and the progress IDs handed to them, the size limit and free
// space, and upload folders.
class SiteTools final : public host::NamedMembers<SiteTools, IDispatch> {
public:
    explicit SiteTools(std::shared_ptr<SiteState> state) : mState(std::move(state)) {}

    const std::vector<host::Member<SiteTools>>& members() const {
        static const std::vector<host::Member<SiteTools>> kMembers = {
            {u"HandOut", 1, host::kCall, 1, 1, &SiteTools::handOut},
            {u"Owns", 2, host::kCall, 2, 2, &SiteTools::owns},
            {u"NewVisitorToken", 3, host::kCall, 0, 0, &SiteTools::newVisitorToken},
            {u"IsVisitorToken", 4, host::kCall, 1, 1, &SiteTools::isVisitorToken},
            {u"MaxUpload", 5, host::kGet, 0, 0, &SiteTools::maxUpload},
            {u"EnoughSpace", 6, host::kCall, 1, 1, &SiteTools::enoughSpace},
            {u"NewUploadFolder", 7, host::kCall, 0, 0, &SiteTools::newUploadFolder},
        };
        return kMembers;
    }

private:
    HRESULT handOut(WORD, const host::MemberArgs& args, VARIANT* result) {
        result->vt = VT_I4;
        result->lVal = static_cast<LONG>(mState->visitors.handOut(Utf16ToUtf8(host::ArgText(args[0]))));
        return S_OK;
    }
    HRESULT owns(WORD, const host::MemberArgs& args, VARIANT* result) {
        LONG id = 0;
        if (!host::ArgLong(args[1], &id)) return host::ReturnBool(result, false);
        return host::ReturnBool(result, mState->visitors.owns(Utf16ToUtf8(host::ArgText(args[0])), id));
    }
    HRESULT newVisitorToken(WORD, const host::MemberArgs&, VARIANT* result) {
        return host::ReturnText(result, Visitors::NewToken());
    }
    HRESULT isVisitorToken(WORD, const host::MemberArgs& args, VARIANT* result) {
        return host::ReturnBool(result, Visitors::IsToken(Utf16ToUtf8(host::ArgText(args[0]))));
    }
    HRESULT maxUpload(WORD, const host::MemberArgs&, VARIANT* result) {
        result->vt = VT_R8;
        result->dblVal = static_cast<double>(mState->options.maxUpload);
        return S_OK;
    }
    HRESULT enoughSpace(WORD, const host::MemberArgs& args, VARIANT* result) {
        platform::Variant length;
        if (FAILED(VariantChangeType(&length, args[0], 0, VT_R8))) return DISP_E_TYPEMISMATCH;
        return host::ReturnBool(result, EnoughSpace(mState->documentRoot, static_cast<long long>(length.dblVal)));
    }
    HRESULT newUploadFolder(WORD, const host::MemberArgs&, VARIANT* result) {
        return host::ReturnObject(result, new (std::nothrow) UploadFolderObject(mState->documentRoot));
    }
    std::shared_ptr<SiteState> mState;
};

}  // namespace

void AddSitePages(WebServer& server, const SiteOptions& options, script::ScriptPages& pages) {
    auto state = std::make_shared<SiteState>();
    state->options = options;
    state->documentRoot = server.documentRoot();
    if (auto link = Visitors::LinkFromSettings()) state->visitors.shareThrough(std::move(link));
    host::RegisterHostClass(u"Formix4Site.Tools", [state] { return new (std::nothrow) SiteTools(state); });
    server.addPage("/uploads/", UploadedFile, PageOptions{.prefix = true});
    // The site's addresses from before its pages were scripts.
    pages.addAlias(server, "/upload", "/upload.asp", PageOptions{.readsBody = true});
    pages.addAlias(server, "/progress", "/progress.asp", PageOptions{});
}
