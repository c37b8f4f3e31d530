#include "site/UploadFolderObject.h"

#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/NamedMembers.h"
#include "script/ResponseObject.h"
#include "site/UploadFolder.h"
#include "site/UploadReport.h"

namespace {

// What an upload gave, for the page to answer with: Multipart, VolumeFull
// (the upload ended because a save found the volume full), and
// WriteJson(Response) and WriteHtml(Response), which write the report (a
// line of JSON) or the results page's body to the page's answer as bytes:
// a report of 10,000 fields is megabytes, which the page language would
// convert and copy several times.
class UploadReportObject final : public host::NamedMembers<UploadReportObject, IDispatch> {
public:
    explicit UploadReportObject(UploadReport report)
        : mReport(std::make_shared<const UploadReport>(std::move(report))) {}

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
        return host::ReturnBool(result, mReport->form.multipart);
    }
    HRESULT volumeFull(WORD, const host::MemberArgs&, VARIANT* result) {
        return host::ReturnBool(result, mReport->volumeFull);
    }
    // The JSON is sent from the report itself: the answer keeps the report,
    // and the text between its pieces, until it is sent.
    HRESULT writeJson(WORD, const host::MemberArgs& args, VARIANT*) {
        struct Answer {
            std::shared_ptr<const UploadReport> report;
            std::string between;
        };
        auto answer = std::make_shared<Answer>();
        answer->report = mReport;
        std::vector<std::string_view> pieces = FormReportJsonPieces(mReport->form, &answer->between);
        pieces.push_back("\n");
        const VARIANT* response = args[0];
        if (!IsObject(response) || !script::WriteToResponse(response->pdispVal, pieces, std::move(answer)))
            return NotAResponse();
        return S_OK;
    }
    HRESULT writeHtml(WORD, const host::MemberArgs& args, VARIANT*) {
        const VARIANT* response = args[0];
        if (!IsObject(response) || !script::WriteToResponse(response->pdispVal, ResultsHtml(mReport->form)))
            return NotAResponse();
        return S_OK;
    }
    static bool IsObject(const VARIANT* value) { return value && value->vt == VT_DISPATCH && value->pdispVal; }
    HRESULT NotAResponse() { return Fail(DISP_E_TYPEMISMATCH, "The report is written to the page's Response object."); }

    std::shared_ptr<const UploadReport> mReport;
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
        if (!form || form->vt != VT_DISPATCH || !form->pdispVal)
            return Fail(DISP_E_TYPEMISMATCH, "Receive takes a form.");
        form->pdispVal->AddRef();
        DispatchObject formObject(form->pdispVal);
        try {
            return host::ReturnObject(result,
                                      new (std::nothrow) UploadReportObject(ReceiveUpload(formObject, mFolder)));
        } catch (const MemberFailure& failure) {
            const ScriptError& error = failure.error;
            return Fail(error.hr, error.description.empty() ? "The form could not be read." : error.description,
                        error.source);
        }
    }
    HRESULT keep(WORD, const host::MemberArgs&, VARIANT*) {
        return mFolder.keep() ? S_OK : Fail(E_FAIL, "The upload's files could not be put in place.");
    }

    UploadFolder mFolder;
};

}  // namespace

IDispatch* CreateUploadFolderObject(const std::string& documentRoot) {
    return new (std::nothrow) UploadFolderObject(documentRoot);
}
