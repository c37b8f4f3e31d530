// formix4-inspect [--codepage N] FILE
// Parses a raw upload file the way a page would (by ProgID and late
// binding) and prints one JSON document; exit status 0, or 1 with
// {"Error": {...}} when a member fails.
#include <cstdio>
#include <cstring>
#include <string>

#include "client/FormReport.h"

namespace {

void Check(DispatchObject& object) {
    if (!object.ok()) throw MemberFailure{object.error()};
}

std::string Inspect(const std::string& path, const std::string& codePage) {
    DispatchObject form = DispatchObject::Create("Formix4.XForm");
    Check(form);
    if (!form.put("AbsolutePath", MakeBool(true))) Check(form);
    if (!codePage.empty() && !form.put("CodePage", MakeLong(std::stol(codePage)))) Check(form);
    if (!form.call("Read", {MakeString(path)})) Check(form);
    return FormReportJson(ReadFormReport(form));
}

}  // namespace

int main(int argc, char** argv) {
    std::string codePage, path;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--codepage") == 0 && i + 1 < argc)
            codePage = argv[++i];
        else if (path.empty())
            path = argv[i];
        else
            path.clear(), i = argc;
    }
    if (path.empty()) {
        std::fprintf(stderr, "usage: formix4-inspect [--codepage N] FILE\n");
        return 2;
    }
    try {
        std::printf("%s\n", Inspect(path, codePage).c_str());
        return 0;
    } catch (const MemberFailure& failure) {
        std::printf("%s\n", ScriptErrorJson(failure.error).c_str());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "formix4-inspect: %s\n", e.what());
        return 2;
    }
}
