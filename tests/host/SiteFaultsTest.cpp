// The upload site's server when things go wrong around it: killed while it
// saves, stopped, short of disk. What a visitor can fetch afterwards is
// always whole, and what the server leaves behind is cleaned up.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/time.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <thread>

#include "SiteServer.h"
#include "TempFolder.h"
#include "site/UploadFolder.h"

using namespace testing_support;
using namespace http_support;
namespace fs = std::filesystem;

namespace {

class SiteFaults : public SiteServerTest {
protected:
    // The entries of uploads/ a visitor could ask for (the staging folder
    // aside), and every regular file under them.
    std::vector<fs::path> VisibleUploads() const {
        std::vector<fs::path> found;
        for (const auto& entry : fs::recursive_directory_iterator(mRoot / "uploads")) {
            if (entry.path().filename().string().rfind('.', 0) == 0 && entry.is_directory()) continue;
            if (entry.path().string().find("/.incoming") != std::string::npos) continue;
            found.push_back(entry.path());
        }
        return found;
    }

    // The files under the staging folder.
    std::vector<fs::path> StagedFiles() const {
        std::vector<fs::path> found;
        std::error_code ignored;
        for (fs::recursive_directory_iterator it(mRoot / "uploads/.incoming", ignored), end; !ignored && it != end;
             it.increment(ignored))
            if (it->is_regular_file()) found.push_back(it->path());
        return found;
    }
};

}  // namespace

// A server killed while it saves an upload's files leaves nothing under
// uploads/ that can be fetched: the files wait in a staging folder that is
// never served, and the folder is swept once it is older than the server's
// --abandoned-after. The next uploads go on, each in a folder named by the
// time and 64 random bits.
TEST_F(SiteFaults, AServerKilledWhileSavingLeavesNoPartialFileInSight) {
    auto server = Start();
    MultipartBody many("Site");
    for (int i = 0; i < 100; ++i)
        many.file("file" + std::to_string(i), "f" + std::to_string(i) + ".bin", std::string(2 << 20, 'x'));
    const std::string body = many.str();
    Visitor visitor;
    const std::string id = FormId(server->port(), visitor);
    std::thread client([&] { Upload(server->port(), body, true, id, visitor); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (StagedFiles().size() < 3 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    server->stop(SIGKILL);
    client.join();
    const std::vector<fs::path> staged = StagedFiles();
    ASSERT_GE(staged.size(), 3u) << "the saves were not caught in progress";
    EXPECT_TRUE(VisibleUploads().empty()) << VisibleUploads().front();

    server = Start({"--abandoned-after", "60"});
    const std::string stagedAddress = "/" + fs::relative(staged.front(), mRoot).string();
    EXPECT_EQ(Get(server->port(), stagedAddress).status, 404) << stagedAddress;

    // Not yet old enough: an upload leaves it.
    const std::string small = MultipartBody("Site").file("one", "one.txt", "whole").str();
    ASSERT_EQ(Upload(server->port(), small, true, FormId(server->port(), visitor), visitor).status, 200);
    EXPECT_TRUE(fs::exists(staged.front()));
    // Two hours old: the next upload a minute later sweeps it.
    const fs::path folder = staged.front().parent_path();
    const timeval old[2] = {{time(nullptr) - 7200, 0}, {time(nullptr) - 7200, 0}};
    ASSERT_EQ(utimes(folder.c_str(), old), 0);
    server = Start({"--abandoned-after", "60"});
    const HttpResult kept = Upload(server->port(), small, true, FormId(server->port(), visitor), visitor);
    ASSERT_EQ(kept.status, 200);
    EXPECT_FALSE(fs::exists(folder));
    std::smatch saved;
    ASSERT_TRUE(std::regex_search(kept.body, saved,
                                  std::regex("\"SavedAs\": \"/uploads/([0-9]{8}-[0-9]{6}-[0-9a-f]{16})/1-one.txt\"")))
        << kept.body.substr(0, 400);
    EXPECT_EQ(ReadFile(mRoot / "uploads" / saved[1].str() / "1-one.txt"), "whole");
    EXPECT_EQ(Get(server->port(), "/uploads/" + saved[1].str() + "/1-one.txt").body, "whole");
}

// SIGTERM drains: the health address turns 503 at once, the upload in flight
// is still read to its end, saved and answered, a new request is still
// answered, and then the server ends by itself. A request that stalls is
// not waited for beyond --drain-seconds.
TEST_F(SiteFaults, AStopSignalLetsTheUploadInFlightFinish) {
    auto server = Start({"--drain-seconds", "20"});
    ASSERT_EQ(Get(server->port(), "/health").status, 200);
    EXPECT_EQ(Get(server->port(), "/health").body, "ready\n");
    const std::string file(8 << 20, 'z');
    const std::string body = MultipartBody("Site").file("file1", "big.bin", file).str();
    Visitor visitor;
    const std::string id = FormId(server->port(), visitor);
    const int fd = Connect(server->port());
    const std::string head = "POST /upload?ID=" + id + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: " +
                             "multipart/form-data; boundary=Site\r\nContent-Length: " + std::to_string(body.size()) +
                             "\r\nAccept: application/json\r\n" + visitor.headers() + "\r\n";
    ASSERT_TRUE(SendAll(fd, head.data(), head.size()));
    ASSERT_TRUE(SendAll(fd, body.data(), body.size() / 2));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(server->pid(), SIGTERM);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const HttpResult health = Get(server->port(), "/health");
    EXPECT_EQ(health.status, 503);
    EXPECT_EQ(health.body, "draining\n");
    EXPECT_EQ(Get(server->port(), "/index.html").status, 200);  // still answered meanwhile
    ASSERT_TRUE(SendAll(fd, body.data() + body.size() / 2, body.size() - body.size() / 2));
    const HttpResult answer = ReadResponse(fd);
    close(fd);
    ASSERT_EQ(answer.status, 200) << answer.body.substr(0, 300);
    std::smatch saved;
    ASSERT_TRUE(std::regex_search(answer.body, saved, std::regex("\"SavedAs\": \"(/uploads/[^\"]+)\"")));
    EXPECT_EQ(ReadFile(mRoot / saved[1].str().substr(1)), file);
    // Then it ends on its own, well before the deadline.
    const int status = server->waitForExit(5000);
    EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    // A client that sends half a body and stops is cut at the deadline.
    auto stalled = Start({"--drain-seconds", "1"});
    const int idle = Connect(stalled->port());
    ASSERT_TRUE(SendAll(idle, head.data(), head.size()));
    ASSERT_TRUE(SendAll(idle, body.data(), 1000));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto signalled = std::chrono::steady_clock::now();
    stalled->stop(SIGTERM);
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::seconds(5));
    close(idle);
}

// A form carries its ID's signature: any server with the registry's
// FormSecret recognises it, so a form handed out before a restart (or by
// another server) still shows its upload's progress, with nothing kept
// anywhere about hand-outs. A signature that is not the visitor's is not.
TEST_F(SiteFaults, FormsOutliveTheServerThatHandedThemOut) {
    platform::registry::WriteString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Venhale\\Formix4Site", "FormSecret",
                                    std::string(64, 'c'));
    chmod((mRegistry.registryDir() / "HKLM.reg").c_str(), 0644);
    Visitor visitor, stranger;
    auto before = Start();
    const std::string form = FormId(before->port(), visitor);
    const std::string strangersForm = FormId(before->port(), stranger);
    before.reset();

    auto after = Start();
    const std::string body = MultipartBody("Site").file("file1", "a.txt", std::string(3000, 'a')).str();
    ASSERT_EQ(Upload(after->port(), body, true, form, visitor).status, 200);
    const std::string progress = Get(after->port(), "/progress?ID=" + form, visitor).body;
    EXPECT_EQ(JsonValue(progress, "PercentDone"), "100") << progress;
    EXPECT_EQ(JsonValue(progress, "ID"), form.substr(0, form.find('&')));

    // The stranger's signature does not hand the visitor's ID to the stranger,
    // nor one ID's signature another ID.
    const std::string strangersSignature = strangersForm.substr(strangersForm.find('&'));
    for (const std::string& forged :
         {form.substr(0, form.find('&')) + strangersSignature, form.substr(0, form.find('&'))}) {
        SCOPED_TRACE(forged);
        EXPECT_EQ(JsonValue(Get(after->port(), "/progress?ID=" + forged, stranger).body, "Note"), "Connecting...");
        EXPECT_EQ(JsonValue(Get(after->port(), "/progress?ID=" + forged, visitor).body, "Note"), "Connecting...");
    }
}

namespace {

// A tmpfs of `megabytes` mounted on `path` for the test's time (root only).
class SmallVolume {
public:
    SmallVolume(const fs::path& path, int megabytes) : mPath(path) {
        fs::create_directories(path);
        const std::string size = "size=" + std::to_string(megabytes) + "m,mode=1777";
        mMounted = mount("tmpfs", path.c_str(), "tmpfs", 0, size.c_str()) == 0;
    }
    ~SmallVolume() {
        if (mMounted) umount2(mPath.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mMounted; }

private:
    fs::path mPath;
    bool mMounted = false;
};

}  // namespace

// Uploads that together outgrow the temporary folder's volume, or the
// uploads folder's, while each alone fits: an upload that met the full
// disk is answered 507 (never 400, as if the client had stopped, nor 200
// with a file missing), however much room the others' clean-up leaves by
// the time it answers; an upload answered 200 has every file whole.
TEST_F(SiteFaults, UploadsThatFillADiskAreAnswered507) {
    for (const bool temporaryFolder : {true, false}) {
        SCOPED_TRACE(temporaryFolder ? "temporary folder" : "uploads folder");
        const fs::path small = temporaryFolder ? mRegistry.dir() / "tmp" : mRoot / "uploads";
        SmallVolume volume(small, 4);
        if (!volume.mounted()) GTEST_SKIP() << "mounting a small volume needs root";
        std::map<std::string, std::string> environment{{"PLATFORM_REGISTRY_DIR", mRegistry.registryDir().string()}};
        if (temporaryFolder) environment["TMPDIR"] = small.string();
        auto server = std::make_unique<ServerProcess>(environment, mRoot.string(), std::vector<std::string>{}, 0,
                                                      FORMIX4_SERVER_PATH, std::vector<std::string>{});
        const std::string file(temporaryFolder ? 3 << 20 : 3 << 19, 'u');
        const std::string body = MultipartBody("Site").file("file1", "u.bin", file).file("file2", "v.bin", file).str();
        constexpr int kUploads = 3;
        Visitor visitors[kUploads];
        std::string forms[kUploads];
        for (int i = 0; i < kUploads; ++i) forms[i] = FormId(server->port(), visitors[i]);
        HttpResult answers[kUploads];
        std::vector<std::thread> clients;
        for (int i = 0; i < kUploads; ++i)
            clients.emplace_back([&, i] {
                const int fd = Connect(server->port());
                const std::string head = "POST /upload?ID=" + forms[i] + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                                         "Content-Type: multipart/form-data; boundary=Site\r\nContent-Length: " +
                                         std::to_string(body.size()) + "\r\nAccept: application/json\r\n" +
                                         visitors[i].headers() + "\r\n";
                SendAll(fd, head.data(), head.size());
                for (size_t at = 0; at < body.size(); at += 256 << 10) {
                    SendAll(fd, body.data() + at, std::min<size_t>(256 << 10, body.size() - at));
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                }
                answers[i] = ReadResponse(fd);
                close(fd);
            });
        for (auto& client : clients) client.join();
        int full = 0;
        for (const HttpResult& answer : answers) {
            if (answer.status == 507) {
                ++full;
                continue;
            }
            ASSERT_EQ(answer.status, 200) << answer.body.substr(0, 300);
            EXPECT_EQ(answer.body.find("SaveError"), std::string::npos);
            const std::regex saved("\"SavedAs\": \"(/uploads/[^\"]+)\"");
            int whole = 0;
            for (auto it = std::sregex_iterator(answer.body.begin(), answer.body.end(), saved);
                 it != std::sregex_iterator(); ++it)
                whole += ReadFile(mRoot / (*it)[1].str().substr(1)) == file;
            EXPECT_EQ(whole, 2);
        }
        EXPECT_GE(full, 1);
        server.reset();
        std::error_code ignored;
        for (const auto& entry : fs::directory_iterator(mRoot / "uploads", ignored))
            fs::remove_all(entry.path(), ignored);
    }
}

// A sync that failed is never taken back by a second one (the kernel reports
// a write error once, and a later sync of the same pages succeeds): the
// folder is not kept. A file saved again under a name already synced is
// synced again.
TEST(UploadFolders, AFailedSyncKeepsTheUploadOutOfSight) {
    TempFolder root("formix4-folder");
    const auto stage = [&](UploadFolder& folder, const std::string& name) {
        ASSERT_TRUE(folder.create());
        std::ofstream(folder.staging() / name) << "bytes";
    };
    UploadFolder failed(root.path().string());
    stage(failed, "1-a.txt");
    failed.fileSynced("1-a.txt", false);
    EXPECT_FALSE(failed.keep());
    EXPECT_FALSE(fs::exists(root.path() / failed.virtualPath().substr(1)));

    UploadFolder synced(root.path().string());
    stage(synced, "1-a.txt");
    synced.fileSynced("1-a.txt", true);
    EXPECT_TRUE(synced.keep());
    EXPECT_EQ(ReadFile(root.path() / synced.virtualPath().substr(1) / "1-a.txt"), "bytes");

    UploadFolder resaved(root.path().string());
    stage(resaved, "1-a.txt");
    resaved.fileSynced("1-a.txt", false);
    resaved.removeFile("1-a.txt");  // what a second save of the name does first
    stage(resaved, "1-a.txt");
    EXPECT_TRUE(resaved.keep());
}
