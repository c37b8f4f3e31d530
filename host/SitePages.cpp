// The upload site's pages use the component as a script does: objects made
// by ProgID, members called by name.
#include "SitePages.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "FormReport.h"
#include "Page.h"
#include "Script.h"

namespace {

constexpr long kDefaultMaxUpload = 2000000000;

long MaxUpload() {
    const char* setting = std::getenv("FORMIX4_MAX_UPLOAD");
    if (!setting || !*setting) return kDefaultMaxUpload;
    char* end = nullptr;
    const long value = std::strtol(setting, &end, 10);
    return end && !*end && value > 0 ? value : kDefaultMaxUpload;
}

bool WantsJson(const PageRequest& request) {
    return request.header("accept").find("application/json") != std::string::npos;
}

std::string ReadText(const std::filesystem::path& path) {
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

// A folder of its own for each upload: the time and a sequence number.
std::string NewUploadFolder() {
    static std::atomic<unsigned> sequence{0};
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &utc);
    return "/uploads/" + std::string(stamp) + "-" + std::to_string(getpid()) + "-" + std::to_string(++sequence);
}

// The name a saved file gets: its item number and the client's safe name.
std::string SavedName(int number, std::string safeName) {
    for (char& c : safeName)
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 32) c = '_';
    if (safeName.empty() || safeName == "." || safeName == "..") safeName = "file";
    return std::to_string(number) + "-" + safeName;
}

// Data from the saved file (the data fork); RawData and Resource differ
// from it only for MacBinary uploads, which are read through the members.
void AddFileBytes(DispatchObject& field, ItemReport& item, const std::filesystem::path& saved) {
    ReportValue data = BytesValue(nullptr, 0);
    const int fd = open(saved.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st{};
    if (fd >= 0 && fstat(fd, &st) == 0 && st.st_size > 0) {
        void* view = mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (view != MAP_FAILED) {
            data = BytesValue(static_cast<const uint8_t*>(view), static_cast<size_t>(st.st_size));
            munmap(view, static_cast<size_t>(st.st_size));
        }
    }
    if (fd >= 0) close(fd);
    item.add("Data", data);
    if (item.text("MacBinary") == "true") {
        item.add("RawData", MemberBytes(field, "RawData"));
        item.add("Resource", MemberBytes(field, "Resource"));
    } else {
        item.add("RawData", data);
        item.add("Resource", BytesValue(nullptr, 0));
    }
}

const char* ImageTypeName(const std::string& type) {
    static const char* const kNames[] = {"not an image", "JPEG (grey)", "JPEG", "JPEG (CMYK)", "GIF", "PNG", "BMP"};
    const int index = std::atoi(type.c_str());
    return index >= 0 && index <= 6 ? kNames[index] : "not an image";
}

std::string ItemRow(const ItemReport& item) {
    auto cell = [](const std::string& text) { return "<td>" + HtmlEscape(text) + "</td>"; };
    if (item.text("RawFilePath").empty()) {
        const std::string content = item.text("Content");
        return "<tr>" + cell(content) + "<td colspan=\"6\">" + (content.empty() ? "empty" : "text field") + "</td></tr>\n";
    }
    std::string image = ImageTypeName(item.text("ImageType"));
    if (item.text("ImageType") != "0") image += ", " + item.text("ImageWidth") + " &times; " + item.text("ImageHeight");
    std::string mac = item.text("MacBinary") == "true"
                          ? "MacBinary, type " + HtmlEscape(item.text("FileType")) + ", resource fork " +
                                HtmlEscape(item.text("Resource"))
                          : "no";
    const std::string saved = item.text("SavedAs");
    return "<tr>" + cell(item.text("RawFilePath")) + cell(item.text("MIMEType")) + cell(item.text("Length") + " bytes") +
           "<td>" + image + "</td><td>" + mac + "</td>" +
           (saved.empty() ? std::string("<td>not saved</td>")
                          : "<td><a href=\"" + HtmlEscape(saved) + "\">" + HtmlEscape(saved) + "</a></td>") +
           cell(item.text("Data")) + "</tr>\n";
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

void ShowUploadForm(const PageRequest& request, Response& response) {
    DispatchObject progress = DispatchObject::Create("Formix4.XProgress");
    const long id = progress.getLong("ID");
    if (!progress.ok()) return Fail(request, response, 500, progress.error());
    std::string page = ReadText(std::filesystem::path(request.documentRoot) / "upload-form.html");
    Replace(page, "{{ID}}", std::to_string(id));
    Replace(page, "{{MaxUploadText}}", std::to_string(MaxUpload() / 1000000) + " MB");
    response.headers.emplace_back("Cache-Control", "no-store");
    response.body = page;
}

void ReceiveUpload(const PageRequest& request, Response& response) {
    const long limit = MaxUpload();
    DispatchObject form = DispatchObject::Create("Formix4.XForm");
    if (!form.ok() || !form.put("MaxUploadSize", MakeLong(limit)) ||
        (!request.query("ID").empty() && !form.put("ID", MakeLong(std::atol(request.query("ID").c_str())))))
        return Fail(request, response, 500, form.error());
    const std::string folder = NewUploadFolder();
    int saved = 0;
    ReportOptions options;
    // A file's bytes are not copied out of the form: they are saved, and the
    // saved file gives the digest.
    options.fileContent = false;
    options.fileBytes = false;
    options.extras = [&](DispatchObject& field, ItemReport& item) {
        if (item.text("FileExists") != "true") return item.add("SavedAs", {"null", ""});
        const std::filesystem::path folderOnDisk = std::filesystem::path(request.documentRoot) / folder.substr(1);
        std::filesystem::create_directories(folderOnDisk);
        const std::string name = SavedName(++saved, item.text("SafeFileName"));
        if (!field.call("Save", {MakeString(folder + "/" + name)})) throw MemberFailure{field.error()};
        AddFileBytes(field, item, folderOnDisk / name);
        item.add("SavedAs", {JsonString(folder + "/" + name), folder + "/" + name});
    };
    try {
        const FormReport report = ReadFormReport(form, options);
        if (request.header("content-type").rfind("multipart/form-data", 0) == 0 && !report.multipart)
            return Fail(request, response, 400,
                        {E_FAIL, "Formix4 site", "The request body is not the multipart form its Content-Type announces."});
        if (WantsJson(request)) {
            response.contentType = "application/json";
            response.body = FormReportJson(report) + "\n";
        } else {
            response.body = ResultsHtml(report);
        }
    } catch (const MemberFailure& failure) {
        const bool tooLarge = request.contentLength > limit;
        Fail(request, response, tooLarge ? 413 : 400, failure.error);
    }
}

}  // namespace

void AddSitePages(WebServer& server) {
    server.addPage("/upload", [](const PageRequest& request, Response& response) {
        if (request.method == "POST") ReceiveUpload(request, response);
        else ShowUploadForm(request, response);
    });
}
