// Progress shared through a real Redis server by two stores, each with a
// link of its own, as two server processes have.
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/wait.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <thread>

#include "ProgressStore.h"
#include "RedisServer.h"
#include "SharedProgress.h"
#include "TestSupport.h"
#include "XProgress.h"
#include "formix4/ProgressIds.h"
#include "platform/System.h"

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

template <class Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds limit = 3000ms) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

struct TwoProcesses {
    explicit TwoProcesses(RedisServer& redis)
        : receiving(&GetTickCount, std::make_shared<platform::RedisLink>(redis.address(), "Formix")),
          watching(&GetTickCount, std::make_shared<platform::RedisLink>(redis.address(), "Formix")) {}
    ProgressStore receiving;
    ProgressStore watching;
};

size_t EntriesMentioning(const TempRegistry& registry, const std::string& text) {
    size_t n = 0;
    for (const auto& row : registry.events())
        if (row.size() > 5 && row[5].find(text) != std::string::npos) ++n;
    return n;
}

// Runs `body` in a child process with `files` (path to content) mounted
// over the system's own, in a mount namespace and, with `network`, a network
// namespace of its own with only the loopback up. The child's report is
// returned: empty when all went as expected.
std::string InIsolation(const std::map<std::string, std::string>& files, bool network,
                        const std::function<std::string()>& body) {
    char dir[] = "/tmp/isolated-XXXXXX";
    if (!mkdtemp(dir)) return "no folder";
    int report[2];
    if (pipe(report) != 0) return "no pipe";
    const pid_t child = fork();
    if (child == 0) {
        close(report[0]);
        std::string text = [&]() -> std::string {
            if (unshare(CLONE_NEWNS | (network ? CLONE_NEWNET : 0)) != 0) return "unshare failed";
            if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return "mounts stay shared";
            int n = 0;
            for (const auto& [path, content] : files) {
                const std::string copy = std::string(dir) + "/" + std::to_string(n++);
                std::ofstream(copy) << content;
                if (mount(copy.c_str(), path.c_str(), nullptr, MS_BIND, nullptr) != 0) return "cannot mount " + path;
            }
            if (network) {
                ifreq loopback{};
                std::strcpy(loopback.ifr_name, "lo");
                const int fd = socket(AF_INET, SOCK_DGRAM, 0);
                loopback.ifr_flags = IFF_UP | IFF_LOOPBACK | IFF_RUNNING;
                if (ioctl(fd, SIOCSIFFLAGS, &loopback) != 0) return "loopback stays down";
                close(fd);
            }
            return body();
        }();
        if (write(report[1], text.data(), text.size()) < 0) text.clear();
        _exit(0);  // no exit handlers of the test process in the child
    }
    close(report[1]);
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = read(report[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
    close(report[0]);
    waitpid(child, nullptr, 0);
    std::filesystem::remove_all(dir);
    return text;
}

platform::RedisAddress Named(const std::string& host, int port) {
    platform::RedisAddress address;
    address.host = host;
    address.port = port;
    return address;
}

}  // namespace

// An event log, a Redis server and two processes sharing progress through it.
class SharedProgressInRedis : public ::testing::Test {
protected:
    TempRegistry registry;
    RedisServer redis;
    TwoProcesses site{redis};
};

TEST_F(SharedProgressInRedis, AnotherProcessSeesTheUploadFromStartToEnd) {
    EXPECT_EQ(site.watching.QueryRecord(77).note, "Connecting...");

    const auto record = site.receiving.CreateRecord(77);
    site.receiving.SetNote(77, "Transferring data...");
    const ProgressCounter counter = site.receiving.Counter(77);
    counter.Set(4096, 1 << 20);
    ASSERT_TRUE(WaitFor([&] { return site.watching.QueryRecord(77).bytesDone == 4096; }));
    ProgressReading reading = site.watching.QueryRecord(77);
    EXPECT_EQ(reading.note, "Transferring data...");
    EXPECT_EQ(reading.bytesTotal, 1 << 20);
    EXPECT_TRUE(reading.started);
    EXPECT_FALSE(reading.finished);
    EXPECT_LT(reading.elapsedMs, 5000u);

    counter.Set(1 << 20, 1 << 20);
    site.receiving.MarkFinished(*record);
    ASSERT_TRUE(WaitFor([&] { return site.watching.QueryRecord(77).finished; }));
    EXPECT_EQ(XProgress::PercentDone(site.watching.QueryRecord(77)), 100);
    // The in-process store's idle expiry, as the key's time to live.
    const long long ttl = redis.command({"PTTL", SharedProgress::KeyFor(77)}).integer;
    EXPECT_GT(ttl, 55000);
    EXPECT_LE(ttl, 60000);

    site.receiving.RemoveRecord(77);
    ASSERT_TRUE(WaitFor([&] { return site.watching.QueryRecord(77).note == "Connecting..."; }));
    EXPECT_TRUE(registry.events().empty());
}

TEST_F(SharedProgressInRedis, ChunksAreCoalescedButEveryNoteIsWritten) {
    site.receiving.CreateRecord(5);
    const ProgressCounter counter = site.receiving.Counter(5);
    const long long before = redis.calls("hset");
    // 2 KB chunks for one second: 10,000 counts.
    const auto start = std::chrono::steady_clock::now();
    for (int i = 1; i <= 10000; ++i) {
        counter.Set(i * 2048, 10000 * 2048);
        if (i % 100 == 0) std::this_thread::sleep_for(10ms);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_TRUE(WaitFor([&] { return site.watching.QueryRecord(5).bytesDone == 10000 * 2048; }));
    const long long writes = redis.calls("hset") - before;
    EXPECT_GE(writes, 2);
    EXPECT_LE(writes, 2 + static_cast<long long>(seconds * 10)) << "over " << seconds << " s";

    // Notes are written as they change, however close together.
    const long long beforeNotes = redis.calls("hset");
    for (const char* note : {"Getting upload size...", "Transferring data...", "Processing Data..."}) {
        site.receiving.SetNote(5, note);
        ASSERT_TRUE(WaitFor([&] { return site.watching.QueryRecord(5).note == note; }, 500ms)) << note;
    }
    EXPECT_EQ(redis.calls("hset") - beforeNotes, 3);
}

TEST_F(SharedProgressInRedis, FormIdsOfTwoProcessesNeverMeet) {
    std::vector<int32_t> first, second;
    std::thread a([&] {
        for (int i = 0; i < 3000; ++i) first.push_back(site.receiving.NewId());
    });
    std::thread b([&] {
        for (int i = 0; i < 3000; ++i) second.push_back(site.watching.NewId());
    });
    a.join();
    b.join();
    std::set<int32_t> all(first.begin(), first.end());
    all.insert(second.begin(), second.end());
    EXPECT_EQ(all.size(), 6000u);
    for (const int32_t id : all) {
        ASSERT_GT(id, 0);
        ASSERT_EQ(id & 0x8000, 0);              // two 15-bit halves
        ASSERT_EQ(id & kSiteProgressIdBit, 0);  // the site's hand-outs have this bit
    }
    // A block of 1,024 IDs per command.
    EXPECT_LE(redis.calls("incr"), 8);

    // Redis back empty while both go on with their blocks: a process
    // started since draws from blocks of its own all the same.
    redis.stop();
    redis.start();
    ProgressStore later(&GetTickCount, std::make_shared<platform::RedisLink>(redis.address(), "Formix"));
    for (int i = 0; i < 3000; ++i) {
        all.insert(later.NewId());
        all.insert(site.receiving.NewId());
    }
    EXPECT_EQ(all.size(), 12000u);
}

TEST_F(SharedProgressInRedis, ARedisOutageCostsTheUploadNothingAndIsLoggedOnce) {
    site.receiving.CreateRecord(9);
    const ProgressCounter counter = site.receiving.Counter(9);
    counter.Set(100, 1000);
    ASSERT_TRUE(WaitFor([&] { return site.watching.QueryRecord(9).bytesDone == 100; }));

    redis.stop();
    // The upload goes on; every read during the outage answers at once.
    for (int i = 1; i <= 50; ++i) {
        counter.Set(100 + i, 1000);
        site.receiving.SetNote(9, "Transferring data...");
        EXPECT_EQ(site.watching.QueryRecord(9).note, "Connecting...");
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_NE(site.receiving.NewId(), 0);  // drawn in the process meanwhile
    // One entry per link that met the outage (each stands for a process).
    EXPECT_EQ(EntriesMentioning(registry, "cannot be reached"), 2u);

    redis.start();  // empty: what the outage lost is written again
    ASSERT_TRUE(WaitFor([&] { return site.watching.QueryRecord(9).bytesDone == 150; }, 10000ms));
    EXPECT_EQ(site.watching.QueryRecord(9).note, "Transferring data...");
    EXPECT_EQ(EntriesMentioning(registry, "cannot be reached"), 2u);
}

// A full Redis that evicts nothing refuses the writes: the refusal is
// logged (once, however many writes it refuses) and the record is written
// once there is room again.
TEST_F(SharedProgressInRedis, AFullRedisRefusesWritesAloudAndGetsThemLater) {
    redis.command({"CONFIG", "SET", "maxmemory-policy", "noeviction"});
    redis.command({"CONFIG", "SET", "maxmemory", "1"});
    site.receiving.CreateRecord(31);
    const ProgressCounter counter = site.receiving.Counter(31);
    for (int i = 1; i <= 10; ++i) {
        counter.Set(i * 10, 1000);
        std::this_thread::sleep_for(50ms);
    }
    ASSERT_TRUE(WaitFor([&] { return EntriesMentioning(registry, "refused a command (OOM") == 1; }));
    EXPECT_EQ(site.watching.QueryRecord(31).bytesDone, 0);
    redis.command({"CONFIG", "SET", "maxmemory", "0"});
    EXPECT_TRUE(WaitFor([&] { return site.watching.QueryRecord(31).bytesDone == 100; }));
    EXPECT_EQ(site.watching.QueryRecord(31).bytesTotal, 1000);
    EXPECT_EQ(EntriesMentioning(registry, "refused a command"), 1u);
}

TEST_F(SharedProgressInRedis, ARedisRestartedBetweenTwoCommandsGetsItsRecordsBack) {
    const auto record = site.receiving.CreateRecord(21);
    site.receiving.Counter(21).Set(300, 300);
    site.receiving.MarkFinished(*record);
    ASSERT_TRUE(WaitFor([&] { return site.watching.QueryRecord(21).finished; }));
    // Back empty before anyone noticed: only a lost connection tells.
    redis.stop();
    redis.start();
    ASSERT_TRUE(WaitFor([&] { return site.receiving.QueryRecord(21).finished; }));
    EXPECT_TRUE(WaitFor([&] { return site.watching.QueryRecord(21).bytesDone == 300; }));
    EXPECT_EQ(EntriesMentioning(registry, "cannot be reached"), 0u);  // one lost connection is no outage
}

TEST_F(SharedProgressInRedis, ARedisThatStopsAnsweringIsAbandonedAfterFiftyMilliseconds) {
    site.receiving.CreateRecord(3);
    site.receiving.Counter(3).Set(10, 20);
    ASSERT_TRUE(WaitFor([&] { return site.watching.QueryRecord(3).bytesDone == 10; }));
    redis.freeze();
    // One late answer is abandoned; the second in a row starts an outage.
    for (int i = 0; i < 2; ++i) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(site.watching.QueryRecord(3).note, "Connecting...");
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1000ms);  // never the frozen server's whole silence
        EXPECT_EQ(EntriesMentioning(registry, "no answer within 50 ms"), static_cast<size_t>(i));
    }
    redis.thaw();
    ASSERT_TRUE(WaitFor([&] { return site.watching.QueryRecord(3).bytesDone == 10; }, 10000ms));
    ASSERT_EQ(EntriesMentioning(registry, "no answer within 50 ms"), 1u);
}

TEST(RedisAddress, IsParsedOrRefusedWithAReason) {
    platform::RedisAddress address;
    std::string error;
    ASSERT_TRUE(platform::RedisAddress::Parse("redis://127.0.0.1:6381/2", &address, &error));
    EXPECT_EQ(address.host, "127.0.0.1");
    EXPECT_EQ(address.port, 6381);
    EXPECT_EQ(address.database, 2);
    ASSERT_TRUE(platform::RedisAddress::Parse("redis://:s3cret@cache.example", &address, &error));
    EXPECT_EQ(address.password, "s3cret");
    EXPECT_EQ(address.port, 6379);
    ASSERT_TRUE(platform::RedisAddress::Parse("redis://[::1]:7000", &address, &error));
    EXPECT_EQ(address.host, "::1");
    EXPECT_EQ(address.HostAndPort(), "[::1]:7000");
    for (const char* bad :
         {"http://127.0.0.1", "redis://", "redis://host:0", "redis://host:99999", "redis://host/x",
          "redis://user:pw@host", "redis://[::1", "redis://Z::1]:7000/3", "redis://a b:1", "redis://[host]:1"}) {
        EXPECT_FALSE(platform::RedisAddress::Parse(bad, &address, &error)) << bad;
        EXPECT_NE(error.find("is not a Redis address"), std::string::npos) << error;
    }
}

class RedisLinkByName : public ::testing::Test {
protected:
    void SetUp() override {
        if (getuid() != 0) GTEST_SKIP() << "needs root for a mount namespace";
    }
    TempRegistry registry;
};

TEST_F(RedisLinkByName, EveryAddressOfTheNameIsTried) {
    RedisServer redis;  // on 127.0.0.1 only; the resolver answers ::1 first
    const std::string report = InIsolation({{"/etc/hosts", "::1 redis.test\n127.0.0.1 redis.test\n"}}, false, [&] {
        platform::RedisLink link(Named("redis.test", redis.port()), "Formix");
        platform::RedisReply reply;
        if (!link.Run({"PING"}, &reply)) return std::string("PING failed");
        return reply.text == "PONG" ? std::string() : "PING answered " + reply.text;
    });
    EXPECT_EQ(report, "");
}

TEST_F(RedisLinkByName, ASilentNameServerCostsACommandNoMoreThanItsTimeout) {
    // A name server that takes every question and answers none.
    const std::map<std::string, std::string> files{
        {"/etc/hosts", "127.0.0.1 localhost\n"},
        {"/etc/resolv.conf", "nameserver 127.0.0.1\noptions timeout:5 attempts:1\n"}};
    const std::string report = InIsolation(files, true, [] {
        const int silent = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in where{};
        where.sin_family = AF_INET;
        where.sin_port = htons(53);
        where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(silent, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0) return std::string("port 53 taken");
        platform::RedisLink link(Named("redis.test", 6379), "Formix");
        for (int i = 0; i < 3; ++i) {
            const auto start = std::chrono::steady_clock::now();
            platform::RedisReply reply;
            if (link.Run({"PING"}, &reply)) return std::string("PING answered");
            using std::chrono::milliseconds;
            const auto took = std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start);
            // Without its own thread the resolver would hold the command for the name server's 5 s.
            if (took > 500ms) return "command " + std::to_string(i) + " took " + std::to_string(took.count()) + " ms";
        }
        return link.Outages() == 1 ? std::string() : "outages: " + std::to_string(link.Outages());
    });
    EXPECT_EQ(report, "");
    EXPECT_EQ(EntriesMentioning(registry, "the name redis.test is not resolved within 50 ms"), 1u);
}
