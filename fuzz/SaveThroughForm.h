// Saves the one file part of a raw upload through the component's own
// members, as a page does: XForm.Read, then XField.Save to a relative and to
// absolute targets in a folder of the fuzz run. Every save must end (the
// run's time limit per input catches a hang), and a save that reports
// success must have written its file.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "XForm.h"
#include "Formix4.h"
#include "platform/CodePage.h"
#include "platform/ComPtr.h"

namespace fuzz_save {

inline void Require(bool condition) {
    if (!condition) std::abort();
}

// The run's folder, made once: the current folder of the process, so that
// relative targets land in it, and its registry folder.
inline const std::filesystem::path& Folder() {
    static char made[] = "/tmp/formix4-fuzz-save-XXXXXX";
    static const std::filesystem::path folder = [] {
        Require(mkdtemp(made) != nullptr);
        setenv("PLATFORM_REGISTRY_DIR", (std::string(made) + "/registry").c_str(), 1);
        std::filesystem::current_path(made);
        // Removed at exit by its name, which outlives the path object.
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(made, ignored);
        });
        return std::filesystem::path(made);
    }();
    return folder;
}

inline void SaveThroughForm(const std::string& fileName, const std::string& content, const char* contentType) {
    namespace fs = std::filesystem;
    const fs::path& folder = Folder();
    const fs::path raw = folder / "upload.raw";
    std::ofstream(raw, std::ios::binary) << "--F\r\nContent-Disposition: form-data; name=\"f\"; filename=\"" << fileName
                                         << "\"\r\nContent-Type: " << contentType << "\r\n\r\n"
                                         << content << "\r\n--F--\r\n";
    platform::ComPtr<IXForm> form;
    Require(XForm::CreateInstance(nullptr, IID_IXForm, form.putVoid()) == S_OK);
    form->put_AbsolutePath(VARIANT_TRUE);
    form->put_Overwrite(VARIANT_TRUE);
    form->put_Streams(VARIANT_TRUE);
    platform::Bstr rawPath(platform::codepage::Utf8ToUtf16(raw.string()).c_str());
    if (FAILED(form->Read(rawPath.get()))) return;
    platform::Variant name, fields, one, field;
    name.vt = VT_BSTR;
    name.bstrVal = SysAllocString(u"f");
    if (FAILED(form->get_Item(name, &fields)) || fields.vt != VT_DISPATCH) return;
    platform::ComPtr<IXFields> group;
    Require(fields.pdispVal->QueryInterface(IID_IXFields, group.putVoid()) == S_OK);
    one.vt = VT_I4;
    one.lVal = 1;
    Require(SUCCEEDED(group->get_Item(one, &field)) && field.vt == VT_DISPATCH);
    platform::ComPtr<IXField> item;
    Require(field.pdispVal->QueryInterface(IID_IXField, item.putVoid()) == S_OK);

    platform::Bstr safeName;
    item->get_SafeFileName(safeName.put());
    const std::u16string absoluteSafe = platform::codepage::Utf8ToUtf16((folder / "abs-").string()) + safeName.str();
    for (const std::u16string& target : {std::u16string(u"rel-out.bin"), absoluteSafe,
                                         platform::codepage::Utf8ToUtf16((folder / "abs-fixed.bin").string())}) {
        platform::Bstr path(target.c_str());
        if (item->Save(path.get()) == S_OK) {
            const std::string written = platform::codepage::Utf16ToUtf8(target);
            Require(fs::is_regular_file(written[0] == '/' ? fs::path(written) : folder / written));
        }
    }
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename() != "registry") fs::remove_all(entry.path());
}

}  // namespace fuzz_save
