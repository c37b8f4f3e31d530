#include "script/PageCalls.h"

#include <fstream>

#include "core/VirtualPaths.h"
#include "script/ScriptPages.h"

namespace script {

namespace fs = std::filesystem;

namespace {

constexpr HRESULT kPageFailed = E_FAIL;
constexpr HRESULT kTransferred = E_ABORT;                      // the calling page ends, as with End
constexpr HRESULT kNoPage = static_cast<HRESULT>(0x80070002);  // file not found

// The text of line `number` of a site file, for the error page.
std::string LineOfFile(const std::string& root, const SourceLine& where) {
    std::string physical;
    if (where.file.empty() || where.line <= 0 || !MapVirtualPath(root, "/", where.file, &physical)) return "";
    std::ifstream in(physical, std::ios::binary);
    std::string line;
    for (int n = 0; n < where.line; ++n)
        if (!std::getline(in, line)) return "";
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

AspErrorInfo Describe(const std::string& root, const RunOutcome& failure) {
    AspErrorInfo info;
    info.number = failure.number ? failure.number : kPageFailed;
    info.category = failure.category;
    info.file = failure.where.file;
    info.line = failure.where.line;
    info.source = LineOfFile(root, failure.where);
    info.description = failure.description.empty() ? failure.error : failure.description;
    return info;
}

}  // namespace

PageCalls::PageCalls(std::string root, RunFile runFile, IDispatch* responseObject)
    : mRoot(std::move(root)), mRunFile(std::move(runFile)), mResponse(responseObject) {}

ServerPageHooks PageCalls::hooks() {
    return {.run = [this](const std::string& path, bool transfer,
                          std::string* error) { return run(path, transfer, error); },
            .lastError = [this] { return CreateAspErrorObject(mLastError); }};
}

RunOutcome PageCalls::runAt(const std::string& virtualPath, const fs::path& file) {
    mRunning.push_back(virtualPath);
    RunOutcome outcome = mRunFile(file);
    mRunning.pop_back();
    return outcome;
}

RunOutcome PageCalls::runFirst(const std::string& virtualPath, const fs::path& file) {
    const RunOutcome outcome = runAt(virtualPath, file);
    return mFailure ? *mFailure : outcome;
}

std::optional<RunOutcome> PageCalls::runErrorPage(const std::string& virtualPath, const RunOutcome& failure) {
    std::string physical;
    std::error_code error;
    if (!MapVirtualPath(mRoot, "/", virtualPath, &physical) || !fs::is_regular_file(physical, error))
        return std::nullopt;
    mLastError = Describe(mRoot, failure);
    mFailure.reset();  // the error page runs on
    return runFirst(physical.substr(mRoot.size()), physical);
}

HRESULT PageCalls::run(const std::string& path, bool transfer, std::string* error) {
    const std::string method = transfer ? "Server.Transfer" : "Server.Execute";
    if (mRunning.size() >= static_cast<size_t>(kMaxDepth)) {
        *error = method + " of " + path + ": pages run one another more than " + std::to_string(kMaxDepth) +
                 " deep (a page that runs itself?).";
        return kPageFailed;
    }
    std::string physical;
    if (!MapVirtualPath(mRoot, mRunning.empty() ? "/" : mRunning.back(), path, &physical)) {
        *error = method + " of " + path + ": the path leaves the site's folder.";
        return E_ACCESSDENIED;
    }
    std::error_code missing;
    if (!ScriptPages::IsPagePath(physical) || !fs::is_regular_file(physical, missing)) {
        *error = method + " of " + path + ": there is no script page there.";
        return kNoPage;
    }
    const std::string virtualPath = physical.substr(mRoot.size());
    const RunOutcome outcome = runAt(virtualPath, physical);
    if (!outcome.ok || outcome.timedOut) {
        if (!mFailure) mFailure = outcome;  // the innermost failure is the request's
        *error = "The page " + virtualPath + " failed.";
        return kPageFailed;
    }
    if (!transfer) return S_OK;
    endResponse();
    *error = "The page transferred the request to " + virtualPath + ".";
    return kTransferred;
}

// Ends the response as Response.End does, so that the calling page stops
// and nothing it writes afterwards is sent.
void PageCalls::endResponse() {
    LPOLESTR name = const_cast<LPOLESTR>(u"End");
    DISPID id = 0;
    if (FAILED(mResponse->GetIDsOfNames(GUID_NULL, &name, 1, 0, &id))) return;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    mResponse->Invoke(id, GUID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
}

}  // namespace script
