// The upload site as `./run.sh cluster` runs it: Redis, two formix4-server
// processes and HAProxy in front (scripts/cluster.sh), over real HTTP. A
// poll of the progress may reach either server, whichever one receives the
// upload.
#include <gtest/gtest.h>
#include <sys/prctl.h>

#include <atomic>
#include <fstream>
#include <regex>
#include <set>
#include <thread>

#include "LoopbackSocket.h"
#include "SiteServer.h"
#include "TempFolder.h"

using namespace testing_support;
using namespace http_support;
using namespace std::chrono_literals;

namespace {

// Redis, two servers and the balancer, in a process group of their own.
class Cluster {
public:
    Cluster(const std::filesystem::path& registry, const std::filesystem::path& root)
        : balancer(loopback::FreePort()),
          one(loopback::FreePort()),
          two(loopback::FreePort()),
          redis(loopback::FreePort()) {
        mGroup = fork();
        if (mGroup == 0) {
            setpgid(0, 0);
            prctl(PR_SET_PDEATHSIG, SIGTERM);  // the script stops the rest when the test ends early
            setenv("PLATFORM_REGISTRY_DIR", registry.c_str(), 1);
            setenv("FORMIX4_PORT", std::to_string(balancer).c_str(), 1);
            setenv("FORMIX4_PORT_ONE", std::to_string(one).c_str(), 1);
            setenv("FORMIX4_PORT_TWO", std::to_string(two).c_str(), 1);
            setenv("FORMIX4_REDIS_PORT", std::to_string(redis).c_str(), 1);
            setenv("FORMIX4_RUN_DIR", mRunDir.path().c_str(), 1);
            execl(CLUSTER_SCRIPT, CLUSTER_SCRIPT, BUILD_DIR, root.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        setpgid(mGroup, mGroup);
    }
    ~Cluster() {
        kill(-mGroup, SIGTERM);
        waitpid(mGroup, nullptr, 0);
    }
    bool ready() {
        for (int i = 0; i < 300; ++i) {
            if (Answers(balancer) && Answers(one) && Answers(two)) return true;
            std::this_thread::sleep_for(100ms);
        }
        return false;
    }
    // Asks the cluster's supervisor, as an operator would: "stop redis",
    // "restart server-one"...; its output.
    std::string control(const std::string& command) const {
        std::string output;
        FILE* pipe =
            popen(("supervisorctl -s unix://" + mRunDir.path().string() + "/supervisor.sock " + command).c_str(), "r");
        char buffer[256];
        while (pipe && fgets(buffer, sizeof buffer, pipe)) output += buffer;
        if (pipe) pclose(pipe);
        return output;
    }
    void stopRedis() { control("stop redis"); }
    void startRedisAgain() { control("start redis"); }
    // The process of one of the cluster's programs (server-one, server-two,
    // redis, haproxy), as its supervisor knows it.
    pid_t pidOf(const std::string& program) const { return std::atoi(control("pid " + program).c_str()); }
    // Whether a server's health address says it is ready.
    static bool Ready(int port) {
        return Exchange(port, "GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n").body == "ready\n";
    }

    const int balancer, one, two, redis;

private:
    static bool Answers(int port) {
        const int fd = Connect(port);
        if (fd < 0) return false;
        close(fd);
        return Exchange(port, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n").status == 200;
    }
    TempFolder mRunDir{"formix4-cluster"};
    pid_t mGroup = -1;
};

struct Poll {
    long long done = 0, total = 0, percent = 0;
    std::string note, server;
};

class ClusterTest : public SiteServerTest {
protected:
    Poll PollProgress(const std::string& id, const Visitor& visitor) {
        const HttpResult result = Get(mCluster->balancer, "/progress?ID=" + id, visitor);
        Poll poll;
        poll.server = result.header("X-Served-By");
        poll.note = JsonValue(result.body, "Note");
        poll.done = std::atoll(JsonValue(result.body, "BytesDone").c_str());
        poll.total = std::atoll(JsonValue(result.body, "BytesTotal").c_str());
        poll.percent = std::atoll(JsonValue(result.body, "PercentDone").c_str());
        return poll;
    }

    // One file of `size` bytes of a pattern, as a multipart body.
    static std::string Content(size_t size, char seed) {
        std::string content(size, '\0');
        for (size_t i = 0; i < size; ++i) content[i] = static_cast<char>(seed + i * 131 + (i >> 12));
        return content;
    }
    static std::string Body(const std::string& content) {
        return MultipartBody("Site").file("file", "big.bin", content, "application/octet-stream").str();
    }
    static std::string Body(size_t size, char seed) { return Body(Content(size, seed)); }

    // Sends the upload in 1 MB pieces with a pause after each, so that it
    // lasts while the test looks.
    HttpResult SlowUpload(int port, const std::string& id, const std::string& body, const Visitor& visitor,
                          std::chrono::milliseconds pause) {
        const int fd = Connect(port);
        const std::string head = "POST /upload?ID=" + id +
                                 " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: multipart/form-data; boundary=Site\r\n"
                                 "Content-Length: " +
                                 std::to_string(body.size()) + "\r\n" + visitor.headers() +
                                 "Accept: application/json\r\nConnection: close\r\n\r\n";
        SendAll(fd, head.data(), head.size());
        for (size_t at = 0; at < body.size(); at += 1 << 20) {
            SendAll(fd, body.data() + at, std::min<size_t>(1 << 20, body.size() - at));
            std::this_thread::sleep_for(pause);
        }
        HttpResult result = ReadResponse(fd);
        close(fd);
        return result;
    }

    // The saved file the report names.
    std::string Saved(const HttpResult& report) {
        std::smatch saved;
        if (!std::regex_search(report.body, saved, std::regex("\"SavedAs\": \"(/uploads/[^\"]+)\""))) return "";
        return ReadFile(mRoot / saved[1].str().substr(1));
    }

    // An upload of one file through the balancer, on a form of its own,
    // sent slowly (SlowUpload) on a thread of its own.
    struct UploadInFlight {
        Visitor visitor;
        std::string id, content, body;
        HttpResult report;
        std::atomic<bool> finished{false};
        std::thread sender;
    };
    std::unique_ptr<UploadInFlight> StartUpload(size_t size, char seed, std::chrono::milliseconds pause) {
        auto upload = std::make_unique<UploadInFlight>();
        upload->id = FormId(mCluster->balancer, upload->visitor);
        upload->content = Content(size, seed);
        upload->body = Body(upload->content);
        upload->sender = std::thread([this, pause, sent = upload.get()] {
            sent->report = SlowUpload(mCluster->balancer, sent->id, sent->body, sent->visitor, pause);
            sent->finished = true;
        });
        return upload;
    }
    // Waits for the upload's answer: 200, and its saved file is the file sent.
    void ExpectSavedWhole(UploadInFlight& upload) {
        upload.sender.join();
        ASSERT_EQ(upload.report.status, 200) << upload.report.body.substr(0, 500);
        EXPECT_EQ(Saved(upload.report), upload.content);
    }

    size_t OutageEntries() {
        size_t n = 0;
        for (const auto& row : mRegistry.events())
            if (row.size() > 5 && row[5].find("cannot be reached") != std::string::npos) ++n;
        return n;
    }

    void StartCluster() {
        mCluster = std::make_unique<Cluster>(mRegistry.registryDir(), mRoot);
        ASSERT_TRUE(mCluster->ready());
    }

    std::unique_ptr<Cluster> mCluster;
};

}  // namespace

TEST_F(ClusterTest, ProgressFollowsAnUploadThroughEitherServer) {
    StartCluster();
    const auto upload = StartUpload(200u << 20, 'a', 5ms);
    ASSERT_FALSE(upload->id.empty());
    const std::string& id = upload->id;
    const Visitor& visitor = upload->visitor;
    const std::string& body = upload->body;
    std::vector<Poll> polls;
    while (!upload->finished) {
        polls.push_back(PollProgress(id, visitor));
        std::this_thread::sleep_for(20ms);
    }
    ExpectSavedWhole(*upload);

    std::map<std::string, int> servers;
    long long last = 0;
    int growing = 0;
    for (const Poll& poll : polls) {
        ++servers[poll.server];
        EXPECT_GE(poll.done, last) << "from " << poll.server;
        if (poll.done > last && poll.done < static_cast<long long>(body.size())) ++growing;
        last = std::max(last, poll.done);
        if (poll.total != 0) {
            EXPECT_EQ(poll.total, static_cast<long long>(body.size()));
        }
    }
    EXPECT_GT(servers["one"], 2);
    EXPECT_GT(servers["two"], 2);
    EXPECT_GE(growing, 5);
    // Once the upload is done, either server says so.
    for (int i = 0; i < 2; ++i) {
        const Poll end = PollProgress(id, visitor);
        EXPECT_EQ(end.done, static_cast<long long>(body.size())) << end.server;
        EXPECT_EQ(end.percent, 100) << end.server;
    }
}

TEST_F(ClusterTest, TwoServersNeverShareAnIdOrEachOthersFigures) {
    StartCluster();
    // 1,000 forms from each server, asked at the same time.
    std::vector<std::string> ids[2];
    std::thread askers[2];
    for (int s = 0; s < 2; ++s) {
        askers[s] = std::thread([&, s] {
            const int port = s == 0 ? mCluster->one : mCluster->two;
            for (int i = 0; i < 1000; ++i) {
                Visitor visitor;
                const std::string id = FormId(port, visitor);
                ids[s].push_back(id.substr(0, id.find('&')));  // the number, without its signature
            }
        });
    }
    for (auto& asker : askers) asker.join();
    std::set<std::string> all(ids[0].begin(), ids[0].end());
    all.insert(ids[1].begin(), ids[1].end());
    EXPECT_EQ(all.size(), 2000u);
    EXPECT_EQ(all.count(""), 0u);

    // Two uploads of different sizes at the same moment, one on each server,
    // each watched through the balancer.
    Visitor visitors[2];
    std::string uploadIds[2];
    std::string bodies[2] = {Body(40u << 20, 'x'), Body(60u << 20, 'y')};
    for (int s = 0; s < 2; ++s) uploadIds[s] = FormId(s == 0 ? mCluster->one : mCluster->two, visitors[s]);
    std::atomic<int> running{2};
    std::thread uploads[2];
    for (int s = 0; s < 2; ++s) {
        uploads[s] = std::thread([&, s] {
            const HttpResult report =
                SlowUpload(s == 0 ? mCluster->one : mCluster->two, uploadIds[s], bodies[s], visitors[s], 10ms);
            EXPECT_EQ(report.status, 200);
            --running;
        });
    }
    int seen[2] = {0, 0};
    while (running > 0) {
        for (int s = 0; s < 2; ++s) {
            const Poll poll = PollProgress(uploadIds[s], visitors[s]);
            if (poll.total == 0) continue;
            ++seen[s];
            EXPECT_EQ(poll.total, static_cast<long long>(bodies[s].size())) << "upload " << s;
        }
        std::this_thread::sleep_for(20ms);
    }
    for (auto& upload : uploads) upload.join();
    EXPECT_GT(seen[0], 0);
    EXPECT_GT(seen[1], 0);
}

TEST_F(ClusterTest, AnUploadGoesOnWhileRedisIsDown) {
    StartCluster();
    const auto upload = StartUpload(100u << 20, 'r', 60ms);
    const std::string& id = upload->id;
    const Visitor& visitor = upload->visitor;
    const std::atomic<bool>& finished = upload->finished;
    Poll poll;
    for (int i = 0; i < 200 && poll.done == 0; ++i) {
        std::this_thread::sleep_for(20ms);
        poll = PollProgress(id, visitor);
    }
    ASSERT_GT(poll.done, 0);

    mCluster->stopRedis();
    std::set<std::string> notesWhileDown;
    for (int i = 0; i < 20; ++i) {
        std::this_thread::sleep_for(50ms);
        notesWhileDown.insert(PollProgress(id, visitor).note);
    }
    EXPECT_EQ(notesWhileDown, std::set<std::string>{"Connecting..."});
    EXPECT_FALSE(finished) << "the upload should outlast the outage";

    mCluster->startRedisAgain();
    // Progress comes back while the upload still runs.
    long long resumedAt = 0;
    for (int i = 0; i < 300 && !finished; ++i) {
        std::this_thread::sleep_for(20ms);
        const Poll again = PollProgress(id, visitor);
        if (again.note != "Connecting..." && again.done > poll.done) {
            resumedAt = again.done;
            break;
        }
    }
    EXPECT_GT(resumedAt, poll.done);
    ExpectSavedWhole(*upload);
    // Each server reads Redis again once its back-off (at most 2 s) has passed.
    std::set<std::string> doneOn;
    for (int i = 0; i < 200 && doneOn.size() < 2; ++i) {
        std::this_thread::sleep_for(50ms);
        const Poll end = PollProgress(id, visitor);
        if (end.percent == 100) doneOn.insert(end.server);
    }
    EXPECT_EQ(doneOn, (std::set<std::string>{"one", "two"}));
    // One entry for each server that met the outage, however many polls and chunks.
    EXPECT_GE(OutageEntries(), 1u);
    EXPECT_LE(OutageEntries(), 2u);
}

// A server killed outright is started again by the supervisor within
// seconds, and meanwhile the balancer sends every request to the other one:
// no visitor sees a failure.
TEST_F(ClusterTest, AKilledServerIsBackWhileTheOtherServes) {
    StartCluster();
    const pid_t killed = mCluster->pidOf("server-one");
    ASSERT_GT(killed, 0);
    ASSERT_EQ(kill(killed, SIGKILL), 0);
    const auto start = std::chrono::steady_clock::now();
    int failed = 0, asked = 0;
    while (!Cluster::Ready(mCluster->one) && std::chrono::steady_clock::now() - start < 20s) {
        if (Get(mCluster->balancer, "/index.html").status != 200) ++failed;
        ++asked;
        std::this_thread::sleep_for(50ms);
    }
    const auto back = std::chrono::steady_clock::now() - start;
    EXPECT_LE(back, 10s);
    EXPECT_NE(mCluster->pidOf("server-one"), killed);
    EXPECT_EQ(failed, 0) << "of " << asked;
}

// A server that hangs (stopped) fails its health checks and is taken out
// within a few seconds; every request after that goes to the other one.
TEST_F(ClusterTest, AHungServerIsTakenOut) {
    StartCluster();
    const pid_t hung = mCluster->pidOf("server-two");
    ASSERT_EQ(kill(hung, SIGSTOP), 0);
    std::this_thread::sleep_for(5s);
    std::set<std::string> servedBy;
    for (int i = 0; i < 10; ++i) {
        const auto asked = std::chrono::steady_clock::now();
        const HttpResult page = Get(mCluster->balancer, "/index.html");
        EXPECT_EQ(page.status, 200);
        EXPECT_LT(std::chrono::steady_clock::now() - asked, 1s);
        servedBy.insert(page.header("X-Served-By"));
    }
    kill(hung, SIGCONT);
    EXPECT_EQ(servedBy, std::set<std::string>{"one"});
}

// Both servers restarted one after the other by their supervisor while an
// upload runs through the balancer: the server that has it drains, so the
// upload is answered and its file is whole; new requests are served
// throughout.
TEST_F(ClusterTest, ARestartOfEveryServerDuringAnUploadLosesNothing) {
    StartCluster();
    const auto upload = StartUpload(30u << 20, 'q', 50ms);
    std::this_thread::sleep_for(300ms);
    const pid_t before[2] = {mCluster->pidOf("server-one"), mCluster->pidOf("server-two")};
    std::atomic<bool> restarted{false};
    std::thread restart([&] {
        mCluster->control("restart server-one");
        mCluster->control("restart server-two");
        restarted = true;
    });
    int failed = 0;
    while (!restarted) {
        if (Get(mCluster->balancer, "/index.html").status != 200) ++failed;
        std::this_thread::sleep_for(50ms);
    }
    restart.join();
    ExpectSavedWhole(*upload);
    EXPECT_EQ(failed, 0);
    EXPECT_NE(mCluster->pidOf("server-one"), before[0]);
    EXPECT_NE(mCluster->pidOf("server-two"), before[1]);
}

// Forms open while Redis is flushed still show their uploads' progress,
// whichever server hands them out, receives them or answers the polls: the
// form's signature proves the visitor's ID without anything kept in Redis.
TEST_F(ClusterTest, FormsOpenBeforeARedisFlushStillShowProgress) {
    StartCluster();
    constexpr int kForms = 4;
    Visitor visitors[kForms];
    std::string forms[kForms];
    for (int i = 0; i < kForms; ++i) forms[i] = FormId(mCluster->balancer, visitors[i]);
    ASSERT_EQ(std::system(("redis-cli -p " + std::to_string(mCluster->redis) + " flushall >/dev/null").c_str()), 0);
    const std::string body = Body(12u << 20, 'f');
    std::atomic<int> running{kForms};
    std::vector<std::thread> uploads;
    for (int i = 0; i < kForms; ++i)
        uploads.emplace_back([&, i] {
            EXPECT_EQ(SlowUpload(mCluster->balancer, forms[i], body, visitors[i], 60ms).status, 200);
            --running;
        });
    long long seen[kForms] = {};
    while (running > 0) {
        for (int i = 0; i < kForms; ++i) seen[i] = std::max(seen[i], PollProgress(forms[i], visitors[i]).done);
        std::this_thread::sleep_for(20ms);
    }
    for (auto& upload : uploads) upload.join();
    for (int i = 0; i < kForms; ++i) EXPECT_GT(seen[i], 0) << "form " << i;
    // No hand-out is kept in Redis.
    FILE* keys = popen(
        ("redis-cli -p " + std::to_string(mCluster->redis) + " --scan --pattern 'formix4:visitor:*'").c_str(), "r");
    char line[128];
    EXPECT_EQ(std::fgets(line, sizeof line, keys), nullptr);
    pclose(keys);
}

// A page's Session through the balancer: every request of the visitor sees
// the values the one before left, whichever server answers; the requests of
// one session run one at a time across both servers, so that increments
// made at once are all kept; and while Redis is down a page that uses
// Session fails with a page that says why.
TEST_F(ClusterTest, SessionsFollowTheVisitorAcrossServers) {
    WriteFile(mRoot / "count.asp",
              "<%@ Language=\"JScript\" %><%\n"
              "var n = Session(\"n\") || 0;\n"
              "Session(\"n\") = n + 1;\n"
              "if (Session(\"n\") > 1 && Session(\"half\") !== (Session(\"n\") - 1) / 2) Response.Write(\"lost \");\n"
              "Session(\"half\") = Session(\"n\") / 2;\n"
              "Response.Write(Session(\"n\") + \" \" + Session.SessionID);\n"
              "%>");
    StartCluster();
    const auto ask = [&](const std::string& cookie) { return Get(mCluster->balancer, "/count.asp", Visitor{cookie}); };
    const HttpResult first = ask("");
    ASSERT_EQ(first.status, 200) << first.body;
    const std::string cookie = first.header("Set-Cookie").substr(0, first.header("Set-Cookie").find(';'));
    const std::string id = first.body.substr(first.body.find(' ') + 1);
    std::set<std::string> servers;
    for (int i = 2; i <= 10; ++i) {
        const HttpResult next = ask(cookie);
        EXPECT_EQ(next.body, std::to_string(i) + " " + id);
        servers.insert(next.header("X-Served-By"));
    }
    EXPECT_EQ(servers, (std::set<std::string>{"one", "two"}));

    std::vector<std::thread> atOnce;
    for (int i = 0; i < 20; ++i) atOnce.emplace_back([&] { EXPECT_EQ(ask(cookie).status, 200); });
    for (auto& request : atOnce) request.join();
    EXPECT_EQ(ask(cookie).body, "31 " + id);
    // Another visitor has a session of its own.
    EXPECT_EQ(ask("").body.substr(0, 2), "1 ");

    mCluster->stopRedis();
    const HttpResult down = ask(cookie);
    EXPECT_EQ(down.status, 500);
    EXPECT_NE(down.body.find("the session store (Redis at 127.0.0.1:" + std::to_string(mCluster->redis) +
                             ") cannot be reached"),
              std::string::npos)
        << down.body;
    mCluster->startRedisAgain();
}
