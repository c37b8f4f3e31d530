// Any filename= bytes decode into names of at most 259 units; the safe name
// holds nothing a Windows file name cannot, the URL-safe name only
// [a-z0-9._-]. A file part under that name is then saved through the form.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ClientFileNames.h"
#include "SaveThroughForm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static const int kPages[] = {0, 1252, 1251, 932, 12345};
    const int codePage = kPages[data[0] % 5];
    std::string raw(reinterpret_cast<const char*>(data + 1), size - 1);
    raw = raw.substr(0, raw.find('\0')).substr(0, 259);
    const ClientFileNames names = BuildClientFileNames(raw.c_str(), 0, codePage);
    if (names.rawPath.size() > 259 || names.safeName.size() > 259 || names.urlSafeName.size() > 259) std::abort();
    for (char16_t c : names.urlSafeName)
        if (!((c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'.' || c == u'-' || c == u'_'))
            std::abort();
    for (char16_t c : names.safeName)
        if (c < 0x20 || std::u16string_view(u"\"*/<>?\\|").find(c) != std::u16string_view::npos) std::abort();
    RawFileName(names.rawPath);
    RawFileType(names.rawPath);
    // A quote or line end would end the header early: the part then has
    // another name, still a name to save under.
    fuzz_save::SaveThroughForm(raw, "content", "text/plain");
    return 0;
}
