// The product's server against hostile and careless clients, over real
// sockets: only the site is served, bodies are refused before they are read
// when they cannot be taken, slow senders give way, visitors cannot follow
// or reset each other's uploads, saved files never run as pages, and a
// request that fails leaves nothing behind.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/mount.h>

#include <chrono>
#include <fstream>
#include <set>
#include <thread>

#include "SiteServer.h"
#include "core/FieldCounter.h"
#include "core/HttpText.h"

using namespace testing_support;
using namespace http_support;
using Clock = std::chrono::steady_clock;

namespace {

double Milliseconds(Clock::time_point since) {
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

// Whether `fd` has an answer within `ms` milliseconds.
bool AnswersWithin(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, ms) == 1;
}

std::string Head(const std::string& target, size_t length, const std::string& extra = "",
                 const std::string& type = "multipart/form-data; boundary=Site") {
    return "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: " + type +
           "\r\nContent-Length: " + std::to_string(length) + "\r\n" + extra + "\r\n";
}

std::string FileOf(const std::string& name, const std::string& content) {
    return MultipartBody("Site").field("note", "hi").file("file", name, content, "text/html").str();
}

class HttpEdges : public SiteServerTest {};

}  // namespace

TEST_F(HttpEdges, OnlyTheSiteIsServed) {
    auto server = Start();
    for (const char* path : {"/intake", "/fields", "/read?AbsolutePath=1&path=/etc/shadow", "/impersonate"})
        EXPECT_EQ(Get(server->port(), path).status, 404) << path;
    const std::string victim = (mRegistry.dir() / "victim.txt").string();
    const HttpResult intake =
        Exchange(server->port(), Head("/intake?AbsolutePath=1&Overwrite=1&save=" + victim, 1, "", "text/plain") + "x");
    EXPECT_EQ(intake.status, 413);
    EXPECT_FALSE(std::filesystem::exists(victim));
    // No listing of the uploads, no CORS, no other methods, no other hosts.
    EXPECT_NE(Get(server->port(), "/uploads/").status, 200);
    const HttpResult options = Exchange(server->port(), "OPTIONS /upload HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    EXPECT_EQ(options.status, 405);
    EXPECT_EQ(options.header("Access-Control-Allow-Origin"), "");
    EXPECT_EQ(Exchange(server->port(), "GET /upload HTTP/1.1\r\nHost: evil.example\r\n\r\n").status, 400);
    EXPECT_EQ(Exchange(server->port(), "GET /upload HTTP/1.1\r\nHost: localhost:8080\r\n\r\n").status, 200);
    const HttpResult page = Get(server->port(), "/upload");
    EXPECT_EQ(page.header("X-Content-Type-Options"), "nosniff");
    EXPECT_NE(page.header("Content-Security-Policy").find("script-src 'self'"), std::string::npos);
    EXPECT_EQ(Get(server->port(), "/site.css").header("X-Content-Type-Options"), "nosniff");

    // A site named by --host answers that name, and still its bound address
    // (a balancer's health check asks for it); never another name.
    auto named = Start({"--host", "upload.example"});
    const auto status = [&](const std::string& host) {
        return Exchange(named->port(), "GET /health HTTP/1.1\r\nHost: " + host + "\r\n\r\n").status;
    };
    EXPECT_EQ(status("upload.example"), 200);
    EXPECT_EQ(status("127.0.0.1"), 200);
    EXPECT_EQ(status("evil.example"), 400);
}

TEST_F(HttpEdges, PagesRunAsTheUnprivilegedAccountUnlessImpersonating) {
    if (getuid() != 0) GTEST_SKIP() << "needs root";
    const passwd* account = getpwnam("formix4");
    ASSERT_NE(account, nullptr);
    auto uids = [](pid_t pid) {
        std::set<std::string> seen;
        for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
            std::ifstream status(task.path() / "status");
            std::string line;
            while (std::getline(status, line))
                if (line.rfind("Uid:", 0) == 0) seen.insert(line.substr(5));
        }
        return seen;
    };
    auto server = Start();
    const std::string id = std::to_string(account->pw_uid);
    EXPECT_EQ(uids(server->pid()), std::set<std::string>{id + "\t" + id + "\t" + id + "\t" + id});
    // Every thread, the workers too, can never gain privileges by running a program.
    size_t threads = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(server->pid()) + "/task")) {
        std::ifstream status(task.path() / "status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("NoNewPrivs:", 0) == 0) {
                EXPECT_EQ(line, "NoNewPrivs:\t1") << task.path();
            }
        ++threads;
    }
    EXPECT_GT(threads, 2u);
    auto impersonating = Start({"--impersonation"});
    EXPECT_EQ(uids(impersonating->pid()), std::set<std::string>{"0\t0\t0\t0"});
}

TEST_F(HttpEdges, BodiesAreRefusedBeforeTheyAreRead) {
    auto server = Start({"--max-upload", "100000"});
    // 100 Continue at once for a body the page will read.
    const std::string body = FileOf("a.txt", "hello");
    int fd = Connect(server->port());
    const std::string expect = Head("/upload", body.size(), "Expect: 100-continue\r\n");
    auto start = Clock::now();
    SendAll(fd, expect.data(), expect.size());
    ASSERT_TRUE(AnswersWithin(fd, 1000));
    const double continueMs = Milliseconds(start);
    char answer[64] = {};
    ASSERT_GT(recv(fd, answer, sizeof answer - 1, 0), 0);
    EXPECT_EQ(std::string(answer).rfind("HTTP/1.1 100 Continue\r\n\r\n", 0), 0u) << answer;
    // Clients give up waiting for 100 Continue after a second and send
    // anyway; well below that, with room for a sanitized build on a busy machine.
    EXPECT_LT(continueMs, 300.0);
    SendAll(fd, body.data(), body.size());
    EXPECT_EQ(ReadResponse(fd).status, 200);
    close(fd);

    // Over the limit, chunked, or a length that is no number: answered
    // before any body byte is sent.
    const std::vector<std::pair<std::string, int>> refused = {
        {Head("/upload", 3000000000u), 413},
        {Head("/upload", 200000, "Expect: 100-continue\r\n"), 413},
        {"POST /upload HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: chunked\r\n\r\n", 411},
        {"POST /upload HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 12abc\r\n\r\n", 400},
        {"POST /upload HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 99999999999999999999999\r\n\r\n", 413},
        {Head("/progress?ID=1", 10), 413},
    };
    for (const auto& [head, status] : refused) {
        fd = Connect(server->port());
        SendAll(fd, head.data(), head.size());
        ASSERT_TRUE(AnswersWithin(fd, 2000)) << head;
        EXPECT_EQ(ReadResponse(fd).status, status) << head;
        close(fd);
    }
}

TEST_F(HttpEdges, SlowSendersDoNotBlockANormalUpload) {
    const int threads = 64;  // the default, as ./run.sh starts the server
    auto server = Start();
    // Four times the workers, each announcing a body and sending a byte of
    // it now and then.
    std::vector<int> slow;
    for (int i = 0; i < 4 * threads; ++i) {
        const int fd = Connect(server->port());
        const std::string head = Head("/upload", 1000) + "-";
        SendAll(fd, head.data(), head.size());
        slow.push_back(fd);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const std::string body = FileOf("big.bin", std::string(20 << 20, 'b'));
    Visitor visitor;
    const auto start = Clock::now();
    const HttpResult result = Upload(server->port(), body, true, "1", visitor);
    const double ms = Milliseconds(start);
    EXPECT_EQ(result.status, 200) << result.body.substr(0, 300);
    EXPECT_LT(ms, 5000.0);
    std::printf("20 MB upload behind %d slow senders: %.0f ms\n", 4 * threads, ms);
    for (int fd : slow) close(fd);
}

// Connections that send nothing wait in the kernel, not in a worker: behind
// many of them, with few workers, a page still answers at once.
TEST_F(HttpEdges, SilentConnectionsHoldNoWorker) {
    auto server = Start({"--threads", "4"});
    std::vector<int> silent;
    for (int i = 0; i < 200; ++i) silent.push_back(Connect(server->port()));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto start = Clock::now();
    const HttpResult page = Get(server->port(), "/index.html");
    EXPECT_EQ(page.status, 200);
    // Taken by the workers, the silent connections would keep the page
    // waiting the head's half second for each in turn (25 s with four).
    EXPECT_LT(Milliseconds(start), 2000.0);
    for (int fd : silent) close(fd);
}

TEST_F(HttpEdges, ProgressAnswersWhileUploadsFillTheWorkers) {
    auto server = Start();
    // 32 uploads in flight: each sends half its body and waits.
    std::vector<int> uploads;
    for (int i = 0; i < 32; ++i) {
        const int fd = Connect(server->port());
        const std::string head = Head("/upload", 200000) + std::string(100000, 'x');
        SendAll(fd, head.data(), head.size());
        uploads.push_back(fd);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Visitor visitor;
    const std::string id = FormId(server->port(), visitor);
    const auto start = Clock::now();
    const HttpResult progress = Get(server->port(), "/progress?ID=" + id, visitor);
    EXPECT_EQ(progress.status, 200);
    // A poll queued behind the stalled uploads would wait at least the half
    // second after which a stalled sender gives way; the bound stays below
    // that and above what a sanitized build on a busy machine takes to answer.
    EXPECT_LT(Milliseconds(start), 400.0);
    for (int fd : uploads) close(fd);
}

TEST_F(HttpEdges, ProgressBelongsToItsVisitor) {
    auto server = Start();
    Visitor owner, other;
    const std::string id = FormId(server->port(), owner);
    const std::string body = FileOf("a.txt", std::string(5000, 'a'));
    ASSERT_EQ(Upload(server->port(), body, true, id, owner).status, 200);
    EXPECT_EQ(JsonValue(Get(server->port(), "/progress?ID=" + id, owner).body, "PercentDone"), "100");
    const std::string seen = Get(server->port(), "/progress?ID=" + id, other).body;
    EXPECT_EQ(JsonValue(seen, "Note"), "Connecting...") << seen;
    EXPECT_EQ(JsonValue(seen, "BytesTotal"), "0");
    // Another visitor's post under that ID gets an ID of its own.
    ASSERT_EQ(Upload(server->port(), FileOf("b.txt", "b"), true, id, other).status, 200);
    EXPECT_EQ(JsonValue(Get(server->port(), "/progress?ID=" + id, owner).body, "BytesTotal"),
              std::to_string(body.size()));
    // IDs are spread over the whole range, not a sequence.
    std::set<long> ids;
    for (int i = 0; i < 20; ++i) ids.insert(std::stol(FormId(server->port(), owner)));
    EXPECT_EQ(ids.size(), 20u);
    EXPECT_GT(*ids.rbegin() - *ids.begin(), 1 << 24);
    EXPECT_EQ(Get(server->port(), "/progress?ID=12x").status, 400);
    EXPECT_NE(Get(server->port(), "/progress?ID=99999999999").body.find("The parameter ID must be a number."),
              std::string::npos);
}

TEST_F(HttpEdges, SavedFilesAreNeverPagesOfTheSite) {
    auto server = Start();
    Visitor visitor;
    const std::string picture = ReadFile(std::string(TEST_DATA_DIR) + "/images/picture.png");
    const std::string body = MultipartBody("Site")
                                 .field("<b>&'", "<script>alert(1)</script>")
                                 .file("file", "evil.html", "<script>alert(1)</script>", "text/html")
                                 .file("file", "a#b?c%41.txt", "odd name")  // saved as a#b?cA.txt, '?' mapped
                                 .file("file", "<img src=x onerror=alert(1)>.png", picture, "<i>type</i>")
                                 .str();
    const HttpResult json = Upload(server->port(), body, true, "1", visitor);
    const std::regex saved("\"SavedAs\": \"(/uploads/[^\"]+)\"");
    std::vector<std::string> paths;
    for (auto it = std::sregex_iterator(json.body.begin(), json.body.end(), saved); it != std::sregex_iterator(); ++it)
        paths.push_back((*it)[1]);
    ASSERT_EQ(paths.size(), 3u) << json.body;
    const HttpResult html = Get(server->port(), UrlEncodePath(paths[0]));
    EXPECT_EQ(html.body, "<script>alert(1)</script>");
    EXPECT_EQ(html.header("Content-Type"), "application/octet-stream");
    EXPECT_EQ(html.header("Content-Disposition").rfind("attachment;", 0), 0u);
    EXPECT_EQ(html.header("X-Content-Type-Options"), "nosniff");
    EXPECT_NE(html.head.find("Content-Security-Policy: sandbox"), std::string::npos);
    const HttpResult png = Get(server->port(), UrlEncodePath(paths[2]));
    EXPECT_EQ(png.body, picture);
    EXPECT_EQ(png.header("Content-Type"), "image/png");
    EXPECT_EQ(png.header("Content-Disposition").rfind("inline;", 0), 0u);

    // The results page escapes what it echoes and links by encoded paths.
    const HttpResult page = Upload(server->port(), body, false, "1", visitor);
    EXPECT_EQ(page.body.find("<script>"), std::string::npos);
    EXPECT_EQ(page.body.find("<img src=x"), std::string::npos);
    EXPECT_EQ(page.body.find("<i>"), std::string::npos);
    EXPECT_NE(page.body.find("<h2>&lt;b&gt;&amp;&#39;</h2>"), std::string::npos);
    const std::regex link("href=\"(/uploads/[^\"]*a%23b[^\"]*cA.txt)\"");
    std::smatch found;
    ASSERT_TRUE(std::regex_search(page.body, found, link)) << page.body;
    EXPECT_EQ(Get(server->port(), found[1]).body, "odd name");
}

TEST_F(HttpEdges, AFileThatCannotBeSavedIsReportedOnItsOwnRow) {
    // A document root so deep that a long client name does not fit the
    // component's path limit while a short one does.
    const std::filesystem::path deep = mRoot / std::string(100, 'd') / std::string(60, 'e');
    std::filesystem::create_directories(deep / "uploads");
    for (const char* file : {"upload.asp", "lib", "site.css"})
        std::filesystem::copy(mRoot / file, deep / file, std::filesystem::copy_options::recursive);
    chmod(deep.parent_path().c_str(), 0755);
    chmod(deep.c_str(), 0755);
    if (const passwd* account = getuid() == 0 ? getpwnam("formix4") : nullptr) {
        ASSERT_EQ(chown((deep / "uploads").c_str(), account->pw_uid, account->pw_gid), 0);
    }
    mRoot = deep;
    auto server = Start();
    Visitor visitor;
    const std::string body = MultipartBody("Site")
                                 .file("file", "short.txt", "kept")
                                 .file("file", std::string(90, 'n') + ".txt", "refused")
                                 .str();
    const HttpResult json = Upload(server->port(), body, true, "1", visitor);
    ASSERT_EQ(json.status, 200) << json.body;
    EXPECT_NE(json.body.find("\"SaveError\": {\"HRESULT\": \"0x800700ce\""), std::string::npos) << json.body;
    EXPECT_NE(json.body.find("The filename or extension is too long."), std::string::npos);
    const std::regex saved("\"SavedAs\": \"(/uploads/[^\"]+)\"");
    std::smatch path;
    ASSERT_TRUE(std::regex_search(json.body, path, saved));
    EXPECT_EQ(ReadFile(deep / path[1].str().substr(1)), "kept");
    size_t files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(deep / "uploads"))
        files += entry.is_regular_file();
    EXPECT_EQ(files, 1u);  // nothing under a cut name
}

TEST_F(HttpEdges, LongNamesAreShortenedKeepingTheirExtension) {
    auto server = Start();
    Visitor visitor;
    // Within the client name limit (259), beyond what fits the saved path.
    const std::string name = std::string(240, 'x') + ".php.jpg";
    const HttpResult json =
        Upload(server->port(), MultipartBody("Site").file("file", name, "data").str(), true, "1", visitor);
    ASSERT_EQ(json.status, 200) << json.body;
    std::smatch path;
    ASSERT_TRUE(std::regex_search(json.body, path, std::regex("\"SavedAs\": \"(/uploads/[^\"]+)\""))) << json.body;
    EXPECT_EQ(path[1].str().substr(path[1].str().size() - 4), ".jpg");
    EXPECT_EQ(ReadFile(mRoot / path[1].str().substr(1)), "data");  // SavedAs names the file written
}

TEST_F(HttpEdges, AFullDiskAnswers507AndLeavesNothing) {
    if (getuid() != 0) GTEST_SKIP() << "needs root to mount a small volume";
    const std::filesystem::path volume = mRegistry.dir() / "small";
    std::filesystem::create_directories(volume);
    ASSERT_EQ(mount("tmpfs", volume.c_str(), "tmpfs", 0, "size=4m,mode=0777"), 0);
    std::filesystem::create_directories(volume / "tmp");
    chmod((volume / "tmp").c_str(), 01777);
    std::filesystem::remove_all(mRoot / "uploads");
    std::filesystem::create_directory_symlink(volume, mRoot / "uploads");
    auto server = std::make_unique<ServerProcess>(
        std::map<std::string, std::string>{{"PLATFORM_REGISTRY_DIR", mRegistry.registryDir().string()},
                                           {"TMPDIR", (volume / "tmp").string()}},
        mRoot.string(), std::vector<std::string>{}, 0, FORMIX4_SERVER_PATH);
    Visitor visitor;
    const HttpResult tooBig = Upload(server->port(), FileOf("big.bin", std::string(3 << 20, 'x')), false, "1", visitor);
    EXPECT_EQ(tooBig.status, 507);
    EXPECT_NE(tooBig.body.find("not enough space"), std::string::npos) << tooBig.body;
    size_t leftovers = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(volume))
        leftovers += entry.is_regular_file();
    EXPECT_EQ(leftovers, 0u);
    EXPECT_EQ(Upload(server->port(), FileOf("small.bin", std::string(100000, 'y')), true, "1", visitor).status, 200);
    server.reset();
    umount2(volume.c_str(), MNT_DETACH);
}

TEST_F(HttpEdges, AFormWithTooManyFieldsIsStoppedAtTheCap) {
    auto server = Start({"--max-fields", "1000"});
    std::string pairs;
    for (int i = 0; i < 200000; ++i) pairs += "&";
    const HttpResult result =
        Exchange(server->port(),
                 Head("/upload", pairs.size(), "Accept: text/html\r\n", "application/x-www-form-urlencoded") + pairs);
    EXPECT_EQ(result.status, 413);
    EXPECT_NE(result.body.find("The form has more fields than this server takes (1000)."), std::string::npos)
        << result.body;
    // Within the cap the form is read as usual.
    std::string fine;
    for (int i = 0; i < 999; ++i) fine += "a=1&";
    const HttpResult ok = Exchange(
        server->port(),
        Head("/upload", fine.size(), "Accept: application/json\r\n", "application/x-www-form-urlencoded") + fine);
    EXPECT_EQ(ok.status, 200) << ok.body.substr(0, 200);
}

// The form is read by its own boundary, whatever the Content-Type says: the
// cap counts the fields the form will have, not those the headers promise.
TEST_F(HttpEdges, TheFieldCapCountsWhatTheBodyHolds) {
    auto server = Start({"--max-fields", "1000"});
    MultipartBody parts("abc");
    for (int i = 0; i < 3000; ++i) parts.file("f" + std::to_string(i), "x.txt", "1");
    const std::string body = parts.str();
    for (const std::string type :
         {"multipart/form-data; boundary=ZZZ", "text/plain", "application/x-www-form-urlencoded"}) {
        const HttpResult refused =
            Exchange(server->port(), Head("/upload", body.size(), "Accept: text/html\r\n", type) + body);
        EXPECT_EQ(refused.status, 413) << type << ": " << refused.body.substr(0, 200);
    }
    // Pairs sent as a multipart form are counted as the pairs they are read as.
    std::string pairs;
    for (int i = 0; i < 3000; ++i) pairs += "a=--1&";
    const HttpResult manyPairs =
        Exchange(server->port(), Head("/upload", pairs.size(), "Accept: text/html\r\n") + pairs);
    EXPECT_EQ(manyPairs.status, 413) << manyPairs.body.substr(0, 200);
    // A file full of '&' and of delimiters that are not the body's is one field.
    std::string ampersands(3 << 20, '&');
    for (size_t at = 0; at < ampersands.size(); at += 100) ampersands.replace(at, 5, "--Sit");
    const std::string one = FileOf("amp.bin", ampersands);
    const HttpResult accepted =
        Exchange(server->port(), Head("/upload", one.size(), "Accept: application/json\r\n", "text/plain") + one);
    EXPECT_EQ(accepted.status, 200) << accepted.body.substr(0, 200);
}

// A client may send its next request on the same connection: pages, uploads
// and static files answer with their length and leave it open, unless the
// client asks for the end or the page leaves part of the body unread.
TEST_F(HttpEdges, ConnectionsStayOpenForTheNextRequest) {
    auto server = Start();
    const int fd = Connect(server->port());
    ASSERT_GE(fd, 0);
    const auto ask = [&](const std::string& request) {
        return SendAll(fd, request.data(), request.size()) ? ReadResponse(fd) : HttpResult{};
    };
    const HttpResult form = ask("GET /upload HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    ASSERT_EQ(form.status, 200);
    EXPECT_EQ(form.header("Connection"), "keep-alive");
    const std::string cookie = form.header("Set-Cookie").substr(0, form.header("Set-Cookie").find(';'));
    const std::string body = FileOf("kept.txt", "kept open");
    const HttpResult upload =
        ask(Head("/upload?ID=1", body.size(), "Cookie: " + cookie + "\r\nAccept: application/json\r\n") + body);
    ASSERT_EQ(upload.status, 200) << upload.body;
    EXPECT_NE(upload.body.find("\"SavedAs\": \"/uploads/"), std::string::npos);
    EXPECT_EQ(ask("GET /site.css HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n").status, 200);
    const HttpResult last = ask("GET /upload HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(last.status, 200);
    EXPECT_EQ(last.header("Connection"), "close");
    char byte;
    EXPECT_TRUE(AnswersWithin(fd, 1000));
    EXPECT_EQ(recv(fd, &byte, 1, 0), 0);  // closed by the server
    close(fd);

    // An HTTP/1.0 client keeps its connection only when it asks to.
    const HttpResult old = Exchange(server->port(), "GET /upload HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n", true);
    EXPECT_EQ(old.header("Connection"), "close");
}

// A kept connection holds its worker while it waits: once half the workers
// hold connections, answers close theirs, so that idle clients never take
// the workers a new client needs.
TEST_F(HttpEdges, KeptConnectionsLeaveWorkersForOthers) {
    auto server = Start({}, 4);
    std::vector<int> idle;
    for (int i = 0; i < 4; ++i) {
        const int fd = Connect(server->port());
        ASSERT_GE(fd, 0);
        const std::string request = "GET /site.css HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        SendAll(fd, request.data(), request.size());
        EXPECT_EQ(ReadResponse(fd).status, 200);
        idle.push_back(fd);
    }
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(Get(server->port(), "/upload").status, 200);
    EXPECT_LT(Milliseconds(start), 1000.0);  // well before a kept connection's 2 s wait ends
    for (int fd : idle) close(fd);
}

// Ranges of a static file and of a saved upload: a range that starts past
// the end, or ends before it starts, is answered 416 with the file's size,
// never a partial answer of negative length; a good one is answered 206.
TEST_F(HttpEdges, UnsatisfiableRangesAre416) {
    auto server = Start();
    const std::string css = ReadFile(mRoot / "site.css");
    Visitor visitor;
    const HttpResult upload =
        Upload(server->port(), FileOf("r.txt", std::string(96, 'r')), true, FormId(server->port(), visitor), visitor);
    std::smatch saved;
    ASSERT_TRUE(std::regex_search(upload.body, saved, std::regex("\"SavedAs\": \"(/uploads/[^\"]+)\""))) << upload.body;
    for (const auto& [target, size] : {std::pair<std::string, size_t>{"/site.css", css.size()}, {saved[1].str(), 96}}) {
        SCOPED_TRACE(target);
        const std::string& path = target;  // a structured binding is not captured by every compiler
        const auto ask = [&](const std::string& range) {
            return Exchange(
                server->port(),
                "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nRange: " + range + "\r\nConnection: close\r\n\r\n",
                true);
        };
        for (const std::string& bad :
             {std::string("bytes=5-1"), "bytes=" + std::to_string(size) + "-" + std::to_string(size + 100),
              std::string("bytes=x-2")}) {
            const HttpResult refused = ask(bad);
            EXPECT_EQ(refused.status, 416) << bad;
            EXPECT_EQ(refused.header("Content-Range"), "bytes */" + std::to_string(size)) << bad;
        }
        const HttpResult part = ask("bytes=2-5");
        EXPECT_EQ(part.status, 206);
        EXPECT_EQ(part.body.size(), 4u);
    }
}

// A body refused once its reading has begun, after "100 Continue": the
// refusal is a whole answer, status line and head included.
TEST_F(HttpEdges, ARefusalAfterContinueIsAWholeAnswer) {
    auto server = Start({"--max-fields", "1000"});
    MultipartBody many("Site");
    for (int i = 0; i < 20000; ++i) many.field("f" + std::to_string(i), std::string(50, 'v'));
    const std::string body = many.str();
    const int fd = Connect(server->port());
    const std::string head = Head("/upload", body.size(), "Expect: 100-continue\r\n");
    SendAll(fd, head.data(), head.size());
    char interim[64] = {};
    ASSERT_GT(recv(fd, interim, sizeof interim - 1, 0), 0);
    ASSERT_EQ(std::string(interim), "HTTP/1.1 100 Continue\r\n\r\n");
    SendAll(fd, body.data(), body.size());
    const HttpResult refusal = ReadResponse(fd);
    close(fd);
    EXPECT_EQ(refusal.status, 413) << refusal.head << refusal.body;
    EXPECT_EQ(refusal.header("Content-Length"), std::to_string(refusal.body.size()));
    EXPECT_NE(refusal.body.find("The form has more fields than this server takes (1000)."), std::string::npos);
}

// A request that says two things (two hosts, two different lengths) or names
// a host no URL could (a name after a bracketed one, a second port) is
// refused, not read one way here and another way by a proxy in front.
TEST_F(HttpEdges, AmbiguousHostsAndLengthsAreRefused) {
    auto server = Start();
    const auto status = [&](const std::string& head) { return Exchange(server->port(), head + "\r\n", true).status; };
    EXPECT_EQ(status("GET / HTTP/1.1\r\nHost: [localhost]evil.com\r\n"), 400);
    EXPECT_EQ(status("GET / HTTP/1.1\r\nHost: 127.0.0.1:80:evil\r\n"), 400);
    EXPECT_EQ(status("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nHost: evil.example\r\n"), 400);
    EXPECT_EQ(status("POST /upload HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 5\r\nContent-Length: 50\r\n"), 400);
    // As they should be: answered.
    EXPECT_EQ(status("GET / HTTP/1.1\r\nHost: 127.0.0.1:8080\r\n"), 200);
    EXPECT_EQ(status("GET / HTTP/1.1\r\nHost: LocalHost\r\n"), 200);
}

// Every request line has an answer: a URL as the target is served when it
// names this server and refused otherwise (the server is no proxy), and "*"
// is refused.
TEST_F(HttpEdges, EveryRequestLineIsAnswered) {
    auto server = Start();
    const std::string self = "http://127.0.0.1:" + std::to_string(server->port());
    const auto status = [&](const std::string& line) {
        return Exchange(server->port(), line + "\r\nHost: 127.0.0.1\r\n\r\n", true).status;
    };
    EXPECT_EQ(status("GET " + self + "/index.html HTTP/1.1"), 200);
    EXPECT_EQ(status("OPTIONS * HTTP/1.1"), 405);
    EXPECT_EQ(status("GET * HTTP/1.1"), 400);
    EXPECT_EQ(status("GET http://evil.example/index.html HTTP/1.1"), 400);
    EXPECT_EQ(status("GET http://127.0.0.1:9/index.html HTTP/1.1"), 400);
    EXPECT_EQ(status("POST https://evil.example/upload HTTP/1.1\r\nContent-Length: 3"), 400);
}

// A body's '&'s are counted in blocks: a long run of them, from any start,
// counts every one.
TEST(FieldCounting, EveryAmpersandOfALongRunCounts) {
    const std::string body(255 * 16 + 17 + 3, '&');
    for (size_t start = 0; start < 3; ++start) {
        FieldCounter counter;
        counter.add(body.data() + start, body.size() - start);
        counter.finish();
        EXPECT_EQ(counter.fields(), static_cast<long long>(body.size() - start) + 1) << "from " << start;
    }
}
