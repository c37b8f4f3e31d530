#include "site/UploadReport.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "client/Sha256.h"
#include "core/HttpText.h"
#include "platform/System.h"
#include "site/DiskSpace.h"
#include "site/SavedFileDigests.h"

namespace {

// Texts longer than this many characters are shown cut.
constexpr size_t kMaxReportedText = 65536;

struct VolumeFull {};

// The items the report saved, by their place in the report, so that their
// digests can be put in once all of them are made.
struct SavedItems {
    SavedFileDigests digests;
    std::vector<size_t> ordinals;  // the n'th item of the report, counted from 0
    std::vector<std::string> names;
};

// Saves a field to a path of the system rather than of the site: the form
// takes the path as it stands for this one save.
bool SaveAtSystemPath(DispatchObject& form, DispatchObject& field, const std::string& path) {
    platform::Variant absolute;
    if (!form.get("AbsolutePath", &absolute) || !form.put("AbsolutePath", MakeBool(true))) return false;
    const bool saved = field.call("Save", {MakeString(path)});
    return form.put("AbsolutePath", absolute) && saved;
}

// Saves a file item into the upload's folder and adds "SavedAs", or its
// "SaveError" when the component could not save it. A saved file's bytes
// are not copied out of the form: its digest comes from the saved file,
// made while the next items are read.
void SaveItem(DispatchObject& form, DispatchObject& field, ItemReport& item, size_t ordinal, UploadFolder& folder,
              SavedItems& saved) {
    if (item.value("FileExists") != "true") return item.add("SavedAs", "null");
    const std::string name = SavedName(static_cast<int>(saved.ordinals.size() + 1), item.text("SafeFileName"));
    const bool made = folder.create();
    if (!made && folder.noSpace()) throw VolumeFull{};
    const std::string virtualPath = folder.virtualPath() + "/" + name;  // the name is final once made
    if (made) folder.removeFile(name);  // a form received twice into one folder saves its names again
    if (!made || !SaveAtSystemPath(form, field, (folder.staging() / name).string())) {
        const ScriptError error =
            made ? field.error() : ScriptError{E_FAIL, "Formix4 site", "The upload's folder could not be made."};
        folder.removeFile(name);  // never a partial file
        if (VolumeIsFull(error.hr, folder.staging().parent_path(), std::atoll(item.text("Length").c_str()),
                         item.value("MacBinary") == "true"))
            throw VolumeFull{};
        AddItemBytes(field, item);
        item.add("SavedAs", "null");
        item.add("SaveError", ScriptErrorFieldsJson(error));
        return;
    }
    saved.digests.add(folder.staging() / name);
    saved.ordinals.push_back(ordinal);
    saved.names.push_back(name);
    item.add("Data", "null");  // the digest, once made
    if (item.value("MacBinary") == "true") {
        // RawData and Resource differ from the data fork only for MacBinary uploads.
        item.add("RawData", MemberBytes(field, "RawData"));
        item.add("Resource", MemberBytes(field, "Resource"));
    } else {
        item.add("RawData", "null");
        item.add("Resource", NoBytesValue());
    }
    item.add("SavedAs", JsonString(virtualPath));
}

// Puts each saved file's length and digest into its item, and tells the
// folder which files are on the disk.
void PutDigests(FormReport& report, SavedItems& saved, UploadFolder& folder) {
    const std::vector<SavedFileDigests::Digest> digests = saved.digests.finish();
    using Sync = SavedFileDigests::Digest::Sync;
    for (size_t i = 0; i < digests.size(); ++i)
        if (digests[i].sync != Sync::NotTried) folder.fileSynced(saved.names[i], digests[i].sync == Sync::OnDisk);
    size_t ordinal = 0, next = 0;
    for (FieldReport& field : report.fields)
        for (ItemReport& item : field.items) {
            if (next < saved.ordinals.size() && saved.ordinals[next] == ordinal) {
                const std::string value = DigestValue(digests[next].length, digests[next].sha256);
                item.set("Data", value);
                if (item.value("MacBinary") != "true") item.set("RawData", value);
                ++next;
            }
            ++ordinal;
        }
}

// A text's bytes come out of the form only whole (Data), which would hold a
// text of 200 MB in memory once more. Saved by the component to a scratch
// file outside the site and read back in pieces, a long text costs what a
// file of its size costs. False when it cannot be saved or read.
bool ReadThroughScratchFile(DispatchObject& form, DispatchObject& field,
                            const std::function<void(const uint8_t*, size_t)>& piece) {
    std::error_code error;
    std::string folder = (std::filesystem::temp_directory_path(error) / "formix4-text-XXXXXX").string();
    if (error || !mkdtemp(folder.data())) return false;
    struct Scratch {
        std::string folder, file;
        ~Scratch() {
            unlink(file.c_str());
            rmdir(folder.c_str());
        }
    } scratch{folder, folder + "/text"};
    return SaveAtSystemPath(form, field, scratch.file) && ReadFileInPieces(scratch.file.c_str(), piece);
}

const char* const kImageTypes[] = {"not an image", "JPEG (grey)", "JPEG", "JPEG (CMYK)", "GIF", "PNG", "BMP"};

std::string Cell(const std::string& text) { return "<td>" + HtmlEscape(text) + "</td>"; }

// A text as shown, with what was cut from it.
std::string ShownText(const ItemReport& item) {
    const std::string cut = item.text("ContentCut");
    return cut.empty() ? item.text("Content") : item.text("Content") + " [... " + cut + " more characters]";
}

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
        return "<tr>" + Cell(ShownText(item)) + "<td colspan=\"6\">" + (content.empty() ? "empty" : "text field") +
               "</td></tr>\n";
    }
    const int type = std::atoi(item.text("ImageType").c_str());
    std::string image = kImageTypes[type >= 0 && type <= 6 ? type : 0];
    if (item.text("ImageType") != "0")
        image += ", " + HtmlEscape(item.text("ImageWidth")) + " &times; " + HtmlEscape(item.text("ImageHeight"));
    const std::string mac = item.text("MacBinary") == "true"
                                ? "MacBinary, type " + HtmlEscape(item.text("FileType")) + ", resource fork " +
                                      HtmlEscape(item.text("Resource"))
                                : "no";
    return "<tr>" + Cell(item.text("RawFilePath")) + Cell(item.text("MIMEType")) +
           Cell(item.text("Length") + " bytes") + "<td>" + image + "</td><td>" + mac + "</td>" + SavedCell(item) +
           Cell(item.text("Data")) + "</tr>\n";
}

}  // namespace

std::string ResultsHtml(const FormReport& report) {
    std::string body = "<p>" + std::to_string(report.count) + " field name" + (report.count == 1 ? "" : "s") +
                       (report.multipart ? " (multipart form)" : " (URL-encoded form)") + ".</p>\n";
    for (const FieldReport& field : report.fields) {
        body += "<h2>" + HtmlEscape(field.name) +
                "</h2>\n<table class=\"field\">\n<tr><th>Value or file</th>"
                "<th>MIME type</th><th>Size</th><th>Image</th><th>Macintosh</th><th>Saved as</th><th>Data</th></tr>\n";
        for (const ItemReport& item : field.items) body += ItemRow(item);
        body += "</table>\n";
    }
    return body;
}

UploadReport ReceiveUpload(DispatchObject& form, UploadFolder& folder) {
    SavedItems saved;
    size_t ordinal = 0;
    ReportOptions options;
    options.fileContent = false;  // a file's bytes are in the saved file, not repeated as text
    options.fileBytes = false;
    options.maxTextLength = kMaxReportedText;
    options.longTextBytes = [&form](DispatchObject& field, const std::function<void(const uint8_t*, size_t)>& piece) {
        return ReadThroughScratchFile(form, field, piece);
    };
    options.extras = [&](DispatchObject& field, ItemReport& item) {
        SaveItem(form, field, item, ordinal++, folder, saved);
    };
    UploadReport result;
    // The form reads the body at its first use. When that fails it says only
    // that the body stopped; a full disk met on this thread meanwhile (the
    // body's copy in the temporary folder) says why, however much room other
    // uploads have freed since.
    const uint64_t diskFullBefore = platform::DiskFullErrorsOnThisThread();
    platform::Variant count;
    if (!form.get("Count", &count)) {
        if (platform::DiskFullErrorsOnThisThread() == diskFullBefore) throw MemberFailure{form.error()};
        result.volumeFull = true;
        return result;
    }
    try {
        result.form = ReadFormReport(form, options);
    } catch (const VolumeFull&) {
        result.volumeFull = true;
        return result;
    }
    PutDigests(result.form, saved, folder);
    return result;
}
