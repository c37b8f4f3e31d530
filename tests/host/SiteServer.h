// The product's server for tests, started as ./run.sh starts it: the site in
// a document root of its own, the component registered in a registry folder
// of its own, and, when the tests run as root, the pages running as the
// account formix4 (so the folders it reads are opened to it and the uploads
// folder is its own).
#pragma once

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "HttpSupport.h"
#include "TestSupport.h"

namespace http_support {

class SiteServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(RegisterComponent());
        namespace fs = std::filesystem;
        fs::create_directories(mRoot / "uploads");
        for (const auto& entry : fs::directory_iterator(SITE_DIR))
            if (entry.path().filename() != "uploads")
                fs::copy(entry.path(), mRoot / entry.path().filename(), fs::copy_options::recursive);
        // The server's account reads the registry and the site and appends
        // to the event log; it writes only the uploads folder.
        std::ofstream(mRegistry.logPath(), std::ios::app).close();
        for (const auto& entry : fs::recursive_directory_iterator(mRegistry.dir()))
            chmod(entry.path().c_str(), entry.is_directory() ? 0755 : 0644);
        chmod(mRegistry.dir().c_str(), 0755);
        chmod(mRegistry.logPath().c_str(), 0666);
        if (const passwd* account = getuid() == 0 ? getpwnam("formix4") : nullptr) {
            ASSERT_EQ(chown((mRoot / "uploads").c_str(), account->pw_uid, account->pw_gid), 0);
        }
    }

    // formix4-server with `arguments` beside the port and root, and
    // `environment` beside the registry's folder.
    std::unique_ptr<ServerProcess> Start(const std::vector<std::string>& arguments = {}, int threads = 0,
                                         std::map<std::string, std::string> environment = {}) {
        environment["PLATFORM_REGISTRY_DIR"] = mRegistry.registryDir().string();
        return std::make_unique<ServerProcess>(environment, mRoot.string(), std::vector<std::string>{}, threads,
                                               FORMIX4_SERVER_PATH, arguments);
    }

    // A visitor of the site: keeps the cookie the site gives.
    struct Visitor {
        std::string cookie;
        std::string headers() const { return cookie.empty() ? "" : "Cookie: " + cookie + "\r\n"; }
        void remember(const HttpResult& result) {
            const std::string set = result.header("Set-Cookie");
            if (!set.empty()) cookie = set.substr(0, set.find(';'));
        }
    };

    // GET /upload as `visitor`: the progress ID of the form's action with its
    // signature, "n&Sig=s", as the form's upload and progress polls give it.
    std::string FormId(int port, Visitor& visitor) {
        const HttpResult page =
            Exchange(port, "GET /upload HTTP/1.1\r\nHost: 127.0.0.1\r\n" + visitor.headers() + "\r\n");
        visitor.remember(page);
        std::smatch id;
        if (!std::regex_search(page.body, id, std::regex("action=\"/upload\\?ID=([0-9]+)&amp;Sig=([0-9a-f]{32})\"")))
            return "";
        return id[1].str() + "&Sig=" + id[2].str();
    }

    HttpResult Upload(int port, const std::string& body, bool json, const std::string& id, Visitor& visitor,
                      const std::string& boundary = "Site") {
        std::string head =
            "POST /upload?ID=" + id +
            " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: " + "multipart/form-data; boundary=" + boundary +
            "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n" + visitor.headers();
        head += json ? "Accept: application/json\r\n\r\n" : "Accept: text/html\r\n\r\n";
        const HttpResult result = Exchange(port, head + body, true);
        visitor.remember(result);
        return result;
    }

    HttpResult Get(int port, const std::string& target, const Visitor& visitor = {}) {
        return Exchange(port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + visitor.headers() + "\r\n");
    }

    // Writes a page (or any file) of the site, at `path` below the root.
    void Page(const std::string& path, const std::string& text) {
        std::filesystem::create_directories((mRoot / path).parent_path());
        std::ofstream(mRoot / path, std::ios::binary) << text;
    }
    // What the server has written to the event log so far.
    std::string Log() const {
        std::ifstream log(mRegistry.logPath());
        return std::string((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    }

    testing_support::TempRegistry mRegistry;
    std::filesystem::path mRoot = mRegistry.dir() / "www";
};

}  // namespace http_support
