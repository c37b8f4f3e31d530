// The upload site's server side: the saved files it serves, and the tools
// its script pages (site/*.asp) use beside the component.
#include "site/SitePages.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "client/Sha256.h"
#include "core/HostClasses.h"
#include "core/NamedMembers.h"
#include "platform/CodePage.h"
#include "site/Visitors.h"

namespace {

namespace fs = std::filesystem;
using platform::codepage::Utf16ToUtf8;

// Client names are kept to this many bytes in saved names, so that a name
// fits any volume (255 bytes) and leaves room for the folder.
constexpr size_t kMaxSavedNameBytes = 100;

// A folder of its own for each upload: the time and a sequence number. It
// is removed with everything in it unless the upload is kept.
class UploadFolder {
public:
    explicit UploadFolder(const std::string& documentRoot) {
        static std::atomic<unsigned> sequence{0};
        const std::time_t now = std::time(nullptr);
        std::tm utc{};
        gmtime_r(&now, &utc);
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &utc);
        mVirtual = "/uploads/" + std::string(stamp) + "-" + std::to_string(getpid()) + "-" + std::to_string(++sequence);
        mPhysical = fs::path(documentRoot) / mVirtual.substr(1);
    }
    ~UploadFolder() {
        std::error_code ignored;
        if (!mKept) fs::remove_all(mPhysical, ignored);
    }
    UploadFolder(const UploadFolder&) = delete;
    UploadFolder& operator=(const UploadFolder&) = delete;

    const std::string& virtualPath() const { return mVirtual; }
    const fs::path& physical() const { return mPhysical; }
    void create() {
        std::error_code ignored;
        fs::create_directories(mPhysical, ignored);
    }
    void keep() { mKept = true; }

private:
    std::string mVirtual;
    fs::path mPhysical;
    bool mKept = false;
};

// Cuts UTF-8 text to at most `bytes` bytes without splitting a character.
std::string CutUtf8(const std::string& text, size_t bytes) {
    if (text.size() <= bytes) return text;
    size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

// The name a saved file gets: its item number and the client's safe name,
// shortened in the middle so that its extension stays.
std::string SavedName(int number, std::string safeName) {
    for (char& c : safeName)
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 32) c = '_';
    if (safeName.empty() || safeName == "." || safeName == "..") safeName = "file";
    if (safeName.size() > kMaxSavedNameBytes) {
        const size_t dot = safeName.rfind('.');
        const std::string extension =
            dot != std::string::npos && safeName.size() - dot <= 16 ? safeName.substr(dot) : std::string();
        safeName = CutUtf8(safeName.substr(0, safeName.size() - extension.size()),
                           kMaxSavedNameBytes - extension.size()) + extension;
    }
    return std::to_string(number) + "-" + safeName;
}

// The digests of a form's saved files, made on a helper thread while the
// form's next items are read and saved; the page's own thread joins in when
// the last file is saved. Digesting is the largest part of an upload's work
// after the body has arrived, and the client's core is idle by then.
class SavedFileDigests {
public:
    ~SavedFileDigests() { finish(); }

    void add(const fs::path& saved) {
        std::lock_guard<std::mutex> lock(mLock);
        mFiles.push_back(saved);
        mResults.emplace_back();
        if (!mHelper.joinable()) mHelper = std::thread([this] { work(); });
        mReady.notify_one();
    }

    struct Digest {
        uint64_t length = 0;
        std::string sha256;
    };

    // Every file's length and digest, in the order the files were added; a
    // file that cannot be read gives those of no bytes.
    std::vector<Digest> finish() {
        {
            std::lock_guard<std::mutex> lock(mLock);
            mClosed = true;
        }
        mReady.notify_all();
        work();
        if (mHelper.joinable()) mHelper.join();
        return mResults;
    }

private:
    void work() {
        std::unique_lock<std::mutex> lock(mLock);
        for (;;) {
            mReady.wait(lock, [this] { return mNext < mFiles.size() || mClosed; });
            if (mNext == mFiles.size()) return;
            const size_t number = mNext++;
            const fs::path file = mFiles[number];
            lock.unlock();
            Digest value;
            if (!Sha256HexOfFile(file.c_str(), &value.sha256, &value.length)) value = {0, Sha256Hex(nullptr, 0)};
            lock.lock();
            mResults[number] = std::move(value);
        }
    }

    std::mutex mLock;
    std::condition_variable mReady;
    std::vector<fs::path> mFiles;
    std::vector<Digest> mResults;
    size_t mNext = 0;
    bool mClosed = false;
    std::thread mHelper;
};

// The bytes a folder's volume has free for the server, and its device;
// false when the folder cannot be examined.
bool FreeSpace(const std::string& folder, long long* freeBytes, dev_t* device) {
    struct statvfs volume{};
    struct stat place{};
    if (statvfs(folder.c_str(), &volume) != 0 || stat(folder.c_str(), &place) != 0) return false;
    *freeBytes = static_cast<long long>(volume.f_bavail * volume.f_frsize);
    *device = place.st_dev;
    return true;
}

// Room for an upload of `length` bytes: its copy in the temporary folder
// and its saved files (one figure when both are on one volume).
bool EnoughSpace(const std::string& documentRoot, long long length) {
    const char* tmp = std::getenv("TMPDIR");
    long long tempFree = 0, uploadsFree = 0;
    dev_t tempDevice = 0, uploadsDevice = 0;
    if (!FreeSpace(tmp && *tmp ? tmp : "/tmp", &tempFree, &tempDevice) ||
        !FreeSpace(documentRoot + "/uploads", &uploadsFree, &uploadsDevice))
        return true;  // nothing known: the upload tells
    if (tempDevice == uploadsDevice) return tempFree >= 2 * length;
    return tempFree >= length && uploadsFree >= length;
}

constexpr HRESULT kDiskFull = static_cast<HRESULT>(0x80040070);  // the component's ERROR_DISK_FULL
// A save that failed for want of space on the volume. The component gives
// the same error for a Macintosh resource fork larger than a file's
// attribute space: that is one item's failure, not a full disk.
bool VolumeIsFull(HRESULT hr, const fs::path& folder, long long itemLength) {
    long long freeBytes = 0;
    dev_t device = 0;
    return hr == kDiskFull && FreeSpace(folder.string(), &freeBytes, &device) && freeBytes < itemLength;
}

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

// The form's folder for a page: where its files are saved, their names,
// the digests of the saved files, and the folder's end (removed unless kept).
class UploadFolderObject final : public host::NamedMembers<UploadFolderObject, IDispatch> {
public:
    explicit UploadFolderObject(const std::string& documentRoot) : mFolder(documentRoot) {}

    const std::vector<host::Member<UploadFolderObject>>& members() const {
        using Self = UploadFolderObject;
        static const std::vector<host::Member<Self>> kMembers = {
            {u"VirtualPath", 1, host::kGet, 0, 0, &Self::virtualPath},
            {u"FileName", 2, host::kCall, 2, 2, &Self::fileName},
            {u"Create", 3, host::kCall, 0, 0, &Self::create},
            {u"Keep", 4, host::kCall, 0, 0, &Self::keep},
            {u"RemoveFile", 5, host::kCall, 1, 1, &Self::removeFile},
            {u"IsFull", 6, host::kCall, 2, 2, &Self::isFull},
            {u"DigestLater", 7, host::kCall, 1, 1, &Self::digestLater},
            {u"FinishDigests", 8, host::kCall, 0, 0, &Self::finishDigests},
            {u"SavedLength", 9, host::kCall, 1, 1, &Self::savedLength},
            {u"SavedDigest", 10, host::kCall, 1, 1, &Self::savedDigest},
        };
        return kMembers;
    }

private:
    HRESULT virtualPath(WORD, const host::MemberArgs&, VARIANT* result) {
        return host::ReturnText(result, mFolder.virtualPath());
    }
    // The name the number'th saved file gets from the client's safe name.
    HRESULT fileName(WORD, const host::MemberArgs& args, VARIANT* result) {
        LONG number = 0;
        if (!host::ArgLong(args[0], &number)) return DISP_E_TYPEMISMATCH;
        return host::ReturnText(result, SavedName(number, Utf16ToUtf8(host::ArgText(args[1]))));
    }
    HRESULT create(WORD, const host::MemberArgs&, VARIANT*) {
        mFolder.create();
        return S_OK;
    }
    HRESULT keep(WORD, const host::MemberArgs&, VARIANT*) {
        mFolder.keep();
        return S_OK;
    }
    // Removes a file the component left partly written: never a partial file.
    HRESULT removeFile(WORD, const host::MemberArgs& args, VARIANT*) {
        std::error_code ignored;
        fs::remove(mFolder.physical() / Leaf(args[0]), ignored);
        return S_OK;
    }
    HRESULT isFull(WORD, const host::MemberArgs& args, VARIANT* result) {
        LONG hr = 0;
        platform::Variant length;
        if (!host::ArgLong(args[0], &hr) || FAILED(VariantChangeType(&length, args[1], 0, VT_R8))) return DISP_E_TYPEMISMATCH;
        return host::ReturnBool(result, VolumeIsFull(static_cast<HRESULT>(hr), mFolder.physical(), static_cast<long long>(length.dblVal)));
    }
    HRESULT digestLater(WORD, const host::MemberArgs& args, VARIANT*) {
        mDigests.add(mFolder.physical() / Leaf(args[0]));
        return S_OK;
    }
    HRESULT finishDigests(WORD, const host::MemberArgs&, VARIANT*) {
        mResults = mDigests.finish();
        return S_OK;
    }
    const SavedFileDigests::Digest* result(const VARIANT* index) const {
        LONG number = 0;
        return host::ArgLong(index, &number) && number >= 0 && static_cast<size_t>(number) < mResults.size()
                   ? &mResults[static_cast<size_t>(number)]
                   : nullptr;
    }
    HRESULT savedLength(WORD, const host::MemberArgs& args, VARIANT* value) {
        const auto* digest = result(args[0]);
        if (!digest) return DISP_E_BADINDEX;
        value->vt = VT_R8;
        value->dblVal = static_cast<double>(digest->length);
        return S_OK;
    }
    HRESULT savedDigest(WORD, const host::MemberArgs& args, VARIANT* value) {
        const auto* digest = result(args[0]);
        return digest ? host::ReturnText(value, digest->sha256) : DISP_E_BADINDEX;
    }
    // A file name inside the folder: never a path that leaves it.
    static std::string Leaf(const VARIANT* name) {
        return fs::path(Utf16ToUtf8(host::ArgText(name))).filename().string();
    }

    UploadFolder mFolder;
    SavedFileDigests mDigests;
    std::vector<SavedFileDigests::Digest> mResults;
};

struct SiteState {
    SiteOptions options;
    std::string documentRoot;
    Visitors visitors;
};

// What the site's pages need of the server beyond the page objects: the
// visitors and the progress IDs handed to them, the size limit and free
// space, upload folders, and SHA-256 digests.
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
            {u"Sha256", 8, host::kCall, 1, 1, &SiteTools::sha256},
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
    // The digest of a byte array, read where it lies.
    HRESULT sha256(WORD, const host::MemberArgs& args, VARIANT* result) {
        const VARIANT* bytes = args[0];
        if (bytes && bytes->vt == (VT_BYREF | VT_VARIANT)) bytes = bytes->pvarVal;
        if (!bytes || bytes->vt != (VT_ARRAY | VT_UI1) || !bytes->parray) return Fail(DISP_E_TYPEMISMATCH, "Sha256 takes an array of bytes.");
        return host::ReturnText(result, Sha256Hex(static_cast<const uint8_t*>(bytes->parray->pvData),
                                                  bytes->parray->rgsabound[0].cElements));
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
