#include "site/SiteTools.h"

#include <atomic>
#include <chrono>
#include <limits>
#include <new>
#include <vector>

#include "core/HostClasses.h"
#include "core/NamedMembers.h"
#include "platform/CodePage.h"
#include "platform/ComPtr.h"
#include "site/DiskSpace.h"
#include "site/UploadFolder.h"
#include "site/UploadFolderObject.h"
#include "site/Visitors.h"

namespace {

using platform::codepage::Utf16ToUtf8;

struct SiteState {
    SiteState(SiteOptions options, std::string documentRoot, std::string secret,
              std::shared_ptr<platform::RedisLink> link)
        : options(options), documentRoot(std::move(documentRoot)), visitors(std::move(secret), std::move(link)) {}
    SiteOptions options;
    std::string documentRoot;
    Visitors visitors;
    std::atomic<int64_t> lastSweep{std::numeric_limits<int64_t>::min() / 2};

    // Abandoned staging folders are swept by the first upload (as the pages'
    // account, never as root) and then at most once a minute.
    void sweepNowAndThen() {
        int64_t last = lastSweep.load();
        const int64_t now = NowSeconds();
        if (now - last >= 60 && lastSweep.compare_exchange_strong(last, now))
            SweepAbandonedUploads(documentRoot, options.abandonedUploadSeconds);
    }
    static int64_t NowSeconds() {
        return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
};

// What the site's pages need of the server beyond the page objects: the
// visitors and the progress IDs handed to them, the size limit and free
// space, and upload folders.
class SiteTools final : public host::NamedMembers<SiteTools, IDispatch> {
public:
    explicit SiteTools(std::shared_ptr<SiteState> state) : mState(std::move(state)) {}

    const std::vector<host::Member<SiteTools>>& members() const {
        static const std::vector<host::Member<SiteTools>> kMembers = {
            {u"HandOut", 1, host::kCall, 0, 0, &SiteTools::handOut},
            {u"Owns", 2, host::kCall, 3, 3, &SiteTools::owns},
            {u"Signature", 8, host::kCall, 2, 2, &SiteTools::signature},
            {u"NewVisitorToken", 3, host::kCall, 0, 0, &SiteTools::newVisitorToken},
            {u"IsVisitorToken", 4, host::kCall, 1, 1, &SiteTools::isVisitorToken},
            {u"MaxUpload", 5, host::kGet, 0, 0, &SiteTools::maxUpload},
            {u"EnoughSpace", 6, host::kCall, 1, 1, &SiteTools::enoughSpace},
            {u"NewUploadFolder", 7, host::kCall, 0, 0, &SiteTools::newUploadFolder},
        };
        return kMembers;
    }

private:
    HRESULT handOut(WORD, const host::MemberArgs&, VARIANT* result) {
        result->vt = VT_I4;
        result->lVal = static_cast<LONG>(mState->visitors.newId());
        return S_OK;
    }
    HRESULT signature(WORD, const host::MemberArgs& args, VARIANT* result) {
        LONG id = 0;
        if (!host::ArgLong(args[1], &id)) return DISP_E_TYPEMISMATCH;
        return host::ReturnText(result, mState->visitors.signature(Utf16ToUtf8(host::ArgText(args[0])), id));
    }
    HRESULT owns(WORD, const host::MemberArgs& args, VARIANT* result) {
        LONG id = 0;
        if (!host::ArgLong(args[1], &id)) return host::ReturnBool(result, false);
        return host::ReturnBool(result, mState->visitors.owns(Utf16ToUtf8(host::ArgText(args[0])), id,
                                                              Utf16ToUtf8(host::ArgText(args[2]))));
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
        mState->sweepNowAndThen();
        return host::ReturnObject(result, CreateUploadFolderObject(mState->documentRoot));
    }
    std::shared_ptr<SiteState> mState;
};

}  // namespace

void RegisterSiteTools(const SiteOptions& options, const std::string& documentRoot, std::string secret,
                       std::shared_ptr<platform::RedisLink> link) {
    auto state = std::make_shared<SiteState>(options, documentRoot, std::move(secret), std::move(link));
    host::RegisterHostClass(u"Formix4Site.Tools", [state] { return new (std::nothrow) SiteTools(state); });
}
