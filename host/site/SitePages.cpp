// The upload site's pages use the component as a script does: objects made
// by ProgID, members called by name.
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
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "client/FormReport.h"
#include "client/Sha256.h"
#include "client/Script.h"
#include "site/Visitors.h"

namespace {

namespace fs = std::filesystem;

// The longest path the component saves to, in UTF-16 units.
constexpr size_t kMaxPathUnits = 259;
// Client names are kept to this many bytes in saved names, so that a name
// fits any volume (255 bytes) and leaves room for the folder.
constexpr size_t kMaxSavedNameBytes = 100;

bool WantsJson(const PageRequest& request) {
    return request.header("accept").find("application/json") != std::string::npos;
}

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void Replace(std::string& text, const std::string& placeholder, const std::string& value) {
    for (size_t at = text.find(placeholder); at != std::string::npos; at = text.find(placeholder, at + value.size()))
        text.replace(at, placeholder.size(), value);
}

std::string HtmlPage(const std::string& title, const std::string& body) {
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" + HtmlEscape(title) +
           "</title>\n<link rel=\"stylesheet\" href=\"/site.css\">\n</head>\n<body>\n<h1>" + HtmlEscape(title) +
           "</h1>\n" + body + "<p><a href=\"/upload\">Upload more files</a></p>\n</body>\n</html>\n";
}

void Fail(const PageRequest& request, Response& response, int status, const ScriptError& error) {
    response.status = status;
    if (WantsJson(request)) {
        response.contentType = "application/json";
        response.body = ScriptErrorJson(error) + "\n";
        return;
    }
    response.body = HtmlPage("The upload was not received",
                             "<p class=\"error\">" + HtmlEscape(error.description) + "</p>\n");
}

void BadParameter(const PageRequest& request, Response& response, const std::string& name) {
    Fail(request, response, 400, {E_INVALIDARG, "Formix4 site", "The parameter " + name + " must be a number."});
}

// The visitor's token, made and set as a cookie when the request has none.
std::string VisitorOf(const PageRequest& request, Response& response) {
    std::string token = request.cookie(Visitors::kCookie);
    if (!Visitors::IsToken(token)) {
        token = Visitors::NewToken();
        response.headers.emplace_back("Set-Cookie", std::string(Visitors::kCookie) + "=" + token +
                                                        "; Path=/; HttpOnly; SameSite=Strict");
    }
    return token;
}

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

    // Every file's Data value, in the order the files were added.
    std::vector<ReportValue> finish() {
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
            std::string digest;
            uint64_t length = 0;
            ReportValue value =
                Sha256HexOfFile(file.c_str(), &digest, &length) ? DigestValue(length, digest) : BytesValue(nullptr, 0);
            lock.lock();
            mResults[number] = std::move(value);
        }
    }

    std::mutex mLock;
    std::condition_variable mReady;
    std::vector<fs::path> mFiles;
    std::vector<ReportValue> mResults;
    size_t mNext = 0;
    bool mClosed = false;
    std::thread mHelper;
};

// Data from the saved file (the data fork), given by the digests once they
// are made; RawData and Resource differ from it only for MacBinary uploads,
// which are read through the members.
void AddFileBytes(DispatchObject& field, ItemReport& item, const fs::path& saved, SavedFileDigests& digests) {
    digests.add(saved);
    item.add("Data", {});
    if (item.text("MacBinary") == "true") {
        item.add("RawData", MemberBytes(field, "RawData"));
        item.add("Resource", MemberBytes(field, "Resource"));
    } else {
        item.add("RawData", {});
        item.add("Resource", BytesValue(nullptr, 0));
    }
}

// Puts the digests into the items of saved files, which are in the order
// the files were saved.
void FillDigests(FormReport& report, const std::vector<ReportValue>& digests) {
    size_t next = 0;
    for (FieldReport& field : report.fields)
        for (ItemReport& item : field.items) {
            if (item.text("SavedAs").empty() || next == digests.size()) continue;
            const ReportValue& data = digests[next++];
            item.set("Data", data);
            if (item.text("MacBinary") != "true") item.set("RawData", data);
        }
}

const char* ImageTypeName(const std::string& type) {
    static const char* const kNames[] = {"not an image", "JPEG (grey)", "JPEG", "JPEG (CMYK)", "GIF", "PNG", "BMP"};
    const int index = std::atoi(type.c_str());
    return index >= 0 && index <= 6 ? kNames[index] : "not an image";
}

std::string Cell(const std::string& text) { return "<td>" + HtmlEscape(text) + "</td>"; }

std::string SavedCell(const ItemReport& item) {
    const std::string saved = item.text("SavedAs");
    if (!saved.empty())
        return "<td><a href=\"" + HtmlEscape(UrlEncodePath(saved)) + "\">" + HtmlEscape(saved) + "</a></td>";
    const std::string error = item.text("SaveError");
    return error.empty() ? "<td>not saved</td>" : "<td class=\"error\">not saved: " + HtmlEscape(error) + "</td>";
}

std::string ItemRow(const ItemReport& item) {
    if (item.text("RawFilePath").empty()) {
        const std::string content = item.text("Content");
        return "<tr>" + Cell(content) + "<td colspan=\"6\">" + (content.empty() ? "empty" : "text field") + "</td></tr>\n";
    }
    std::string image = ImageTypeName(item.text("ImageType"));
    if (item.text("ImageType") != "0")
        image += ", " + HtmlEscape(item.text("ImageWidth")) + " &times; " + HtmlEscape(item.text("ImageHeight"));
    const std::string mac = item.text("MacBinary") == "true"
                                ? "MacBinary, type " + HtmlEscape(item.text("FileType")) + ", resource fork " +
                                      HtmlEscape(item.text("Resource"))
                                : "no";
    return "<tr>" + Cell(item.text("RawFilePath")) + Cell(item.text("MIMEType")) + Cell(item.text("Length") + " bytes") +
           "<td>" + image + "</td><td>" + mac + "</td>" + SavedCell(item) + Cell(item.text("Data")) + "</tr>\n";
}

std::string ResultsHtml(const FormReport& report) {
    std::string body = "<p>" + std::to_string(report.count) + " field name" + (report.count == 1 ? "" : "s") +
                       (report.multipart ? " (multipart form)" : " (URL-encoded form)") + ".</p>\n";
    for (const FieldReport& field : report.fields) {
        body += "<h2>" + HtmlEscape(field.name) + "</h2>\n<table class=\"field\">\n<tr><th>Value or file</th>"
                "<th>MIME type</th><th>Size</th><th>Image</th><th>Macintosh</th><th>Saved as</th><th>Data</th></tr>\n";
        for (const ItemReport& item : field.items) body += ItemRow(item);
        body += "</table>\n";
    }
    return HtmlPage("Upload received", body);
}

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
const ScriptError kNoSpace{kDiskFull, "Formix4 site",
                           "There is not enough space on the server for this upload."};

// A save that failed for want of space on the volume. The component gives
// the same error for a Macintosh resource fork larger than a file's
// attribute space: that is one item's failure, not a full disk.
bool VolumeIsFull(const ScriptError& error, const fs::path& folder, long long itemLength) {
    long long freeBytes = 0;
    dev_t device = 0;
    return error.hr == kDiskFull && FreeSpace(folder.string(), &freeBytes, &device) && freeBytes < itemLength;
}

struct NoSpace {};

// Saves a file item under the upload's folder and adds "SavedAs", or its
// "SaveError" when the component could not save it; a full disk ends the
// whole upload.
void SaveItem(DispatchObject& field, ItemReport& item, UploadFolder& folder, int* filesSeen,
              SavedFileDigests& digests) {
    if (item.text("FileExists") != "true") return item.add("SavedAs", {"null", ""});
    folder.create();
    const std::string name = SavedName(++*filesSeen, item.text("SafeFileName"));
    const std::string virtualPath = folder.virtualPath() + "/" + name;
    if (field.call("Save", {MakeString(virtualPath)})) {
        AddFileBytes(field, item, folder.physical() / name, digests);
        return item.add("SavedAs", {JsonString(virtualPath), virtualPath});
    }
    const ScriptError error = field.error();
    std::error_code ignored;
    fs::remove(folder.physical() / name, ignored);  // never a partial file
    if (VolumeIsFull(error, folder.physical(), std::atoll(item.text("Length").c_str()))) throw NoSpace{};
    for (const char* member : {"Data", "RawData", "Resource"}) item.add(member, MemberBytes(field, member));
    item.add("SavedAs", {"null", ""});
    item.add("SaveError", {ScriptErrorFieldsJson(error), error.description});
}

class Site {
public:
    explicit Site(const SiteOptions& options) : mOptions(options) {}

    void showUploadForm(const PageRequest& request, Response& response) {
        const long id = mVisitors.handOut(VisitorOf(request, response));
        std::string page = ReadText(fs::path(request.documentRoot) / "upload-form.html");
        Replace(page, "{{ID}}", std::to_string(id));
        Replace(page, "{{MaxUploadText}}", std::to_string(mOptions.maxUpload / 1000000) + " MB");
        response.headers.emplace_back("Cache-Control", "no-store");
        response.body = page;
    }

    void receiveUpload(const PageRequest& request, Response& response) {
        long id = 0;
        if (request.hasQuery("ID") && !ParseInt32(request.query("ID"), &id)) return BadParameter(request, response, "ID");
        // An ID not handed to this visitor is not theirs to report on.
        const std::string visitor = VisitorOf(request, response);
        if (!mVisitors.owns(visitor, id)) id = mVisitors.handOut(visitor);
        if (!EnoughSpace(request.documentRoot, request.contentLength)) return Fail(request, response, 507, kNoSpace);

        DispatchObject form = DispatchObject::Create("Formix4.XForm");
        if (!form.ok() || !form.put("MaxUploadSize", MakeLong(static_cast<long>(mOptions.maxUpload))) ||
            !form.put("ID", MakeLong(id)))
            return Fail(request, response, 500, form.error());
        UploadFolder folder(request.documentRoot);
        int saved = 0;
        ReportOptions options;
        // A file's bytes are not copied out of the form: they are saved, and
        // the saved file gives the digest.
        options.fileContent = false;
        options.fileBytes = false;
        SavedFileDigests digests;
        options.extras = [&](DispatchObject& field, ItemReport& item) {
            SaveItem(field, item, folder, &saved, digests);
        };
        try {
            FormReport report = ReadFormReport(form, options);
            FillDigests(report, digests.finish());
            if (request.header("content-type").rfind("multipart/form-data", 0) == 0 && !report.multipart)
                return Fail(request, response, 400,
                            {E_FAIL, "Formix4 site", "The request body is not the multipart form its Content-Type announces."});
            folder.keep();
            if (WantsJson(request)) {
                response.contentType = "application/json";
                response.body = FormReportJson(report) + "\n";
            } else {
                response.body = ResultsHtml(report);
            }
        } catch (const MemberFailure& failure) {
            // (A body the server stopped reading, too slow or with too many
            // fields, the server core answers itself.)
            const int status = request.contentLength > mOptions.maxUpload ? 413 : 400;
            if (status == 400 && !EnoughSpace(request.documentRoot, request.contentLength))
                return Fail(request, response, 507, kNoSpace);
            Fail(request, response, status, failure.error);
        } catch (const NoSpace&) {
            Fail(request, response, 507, kNoSpace);
        }
    }

    void progress(const PageRequest& request, Response& response) {
        long id = 0;
        if (!ParseInt32(request.query("ID"), &id)) return BadParameter(request, response, "ID");
        response.contentType = "application/json";
        response.headers.emplace_back("Cache-Control", "no-store");
        response.body = ProgressJson(id, mVisitors.owns(request.cookie(Visitors::kCookie), id)) + "\n";
    }

private:
    SiteOptions mOptions;
    Visitors mVisitors;
};

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

}  // namespace

std::string ProgressJson(long id, bool known) {
    DispatchObject progress = DispatchObject::Create("Formix4.XProgress");
    // Without a known ID the progress keeps the one it drew, which no form has.
    if (!progress.ok() || (known && !progress.put("ID", MakeLong(id)))) return ScriptErrorJson(progress.error());
    // Each member reads the record at its own moment while the upload goes
    // on: the bytes done are read before the total and the started flag, so
    // that done never exceeds total in one answer.
    const long done = progress.getLong("BytesDone");
    const long total = progress.getLong("BytesTotal");
    const bool started = progress.getBool("Started");
    std::string json = "{\"ID\": " + std::to_string(id);
    json += ", \"Note\": " + JsonString(progress.getString("Note"));
    json += std::string(", \"Started\": ") + (started ? "true" : "false");
    json += ", \"BytesTotal\": " + std::to_string(total) + ", \"BytesDone\": " + std::to_string(done);
    for (const char* name : {"PercentDone", "ElapsedSeconds", "SecondsLeft", "BytesPerSecond"})
        json += std::string(", \"") + name + "\": " + std::to_string(progress.getLong(name));
    return json + "}";
}

void AddSitePages(WebServer& server, const SiteOptions& options) {
    auto site = std::make_shared<Site>(options);
    server.addPage("/upload", [site](const PageRequest& request, Response& response) {
        if (request.method == "POST") site->receiveUpload(request, response);
        else site->showUploadForm(request, response);
    }, PageOptions{.readsBody = true});
    server.addPage("/progress", [site](const PageRequest& request, Response& response) {
        site->progress(request, response);
    });
    server.addPage("/uploads/", UploadedFile, PageOptions{.prefix = true});
}
