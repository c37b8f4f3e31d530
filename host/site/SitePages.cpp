// The upload site's server side: the saved files it serves, and the tools
// its script pages (site/*.asp) use beside the component.
#include "site/SitePages.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <limits>
#include <memory>
#include <vector>

#include "core/HostClasses.h"
#include "core/NamedMembers.h"
#include "platform/CodePage.h"
#include "platform/RedisLink.h"
#include "platform/RegistryValues.h"
#include "site/DiskSpace.h"
#include "site/UploadFolder.h"
#include "site/UploadFolderObject.h"
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
    if (request.path.find("/.") != std::string::npos || !realpath((request.documentRoot + "/uploads").c_str(), uploads) ||
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

// GET /health, for a balancer: 200 when this server takes uploads; 503 while
// it drains before it stops, or when the pages' account cannot write the
// uploads folder.
void Health(const WebServer& server, const PageRequest& request, Response& response) {
    const std::string uploads = request.documentRoot + "/uploads";
    const char* problem = server.draining()                ? "draining\n"
                          : access(uploads.c_str(), W_OK) != 0 ? "the uploads folder cannot be written\n"
                                                                : nullptr;
    response.status = problem ? 503 : 200;
    response.contentType = "text/plain; charset=utf-8";
    response.headers.emplace_back("Cache-Control", "no-store");
    response.body = problem ? problem : "ready\n";
}

// The Redis server the component's setting ProgressStore names, if any:
// the site's servers share their pages' sessions and the numbering of form
// IDs there too.
std::shared_ptr<platform::RedisLink> ProgressStoreLink() {
    std::string text;
    platform::RedisAddress address;
    std::string error;  // a setting that names no Redis server is the component's to report
    if (!platform::registry::ReadString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Venhale\\Formix\\4.0", "ProgressStore", &text) ||
        text.empty() || !platform::RedisAddress::Parse(text, &address, &error))
        return nullptr;
    return platform::RedisLink::Shared(address, "Formix");
}

struct SiteState {
    SiteState(SiteOptions options, std::string documentRoot, std::string secret,
              std::shared_ptr<platform::RedisLink> link)
        : options(std::move(options)), documentRoot(std::move(documentRoot)), visitors(std::move(secret), std::move(link)) {}
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

void AddSitePages(WebServer& server, const SiteOptions& options, script::ScriptPages& pages) {
    const std::shared_ptr<platform::RedisLink> link = ProgressStoreLink();
    if (link) pages.shareSessionsThrough(link);
    bool shared = false;
    std::string secret = Visitors::SecretFromSettings(&shared);
    auto state = std::make_shared<SiteState>(options, server.documentRoot(), std::move(secret), link);
    if (!shared)
        std::fprintf(stderr, "formix4-server: no FormSecret in the registry: the form IDs this server hands out are "
                             "recognised by this process only\n");
    host::RegisterHostClass(u"Formix4Site.Tools", [state] { return new (std::nothrow) SiteTools(state); });
    server.addPage("/uploads/", UploadedFile, PageOptions{.prefix = true});
    server.addPage("/health", [&server](const PageRequest& request, Response& response) { Health(server, request, response); });
    // The site's addresses from before its pages were scripts.
    pages.addAlias(server, "/upload", "/upload.asp", PageOptions{.readsBody = true});
    pages.addAlias(server, "/progress", "/progress.asp", PageOptions{});
}
