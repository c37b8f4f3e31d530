// The upload site under load: UPLOADS clients upload MEGABYTES-sized files
// one after another for SECONDS while a reader asks the progress page
// READS_PER_SECOND times a second. Every saved file must equal what was
// sent, every response must be right, the temporary folder must be empty at
// the end, and the server's open files and memory must come back to where
// they were before the load.
//   load_bench SERVER DOCUMENT_ROOT TEMP_DIR [UPLOADS=50] [MEGABYTES=20] [SECONDS=60] [READS_PER_SECOND=500]
//   load_bench --cluster CLUSTER_SCRIPT BUILD_DIR DOCUMENT_ROOT TEMP_DIR [UPLOADS...]
// (the registry comes from $PLATFORM_REGISTRY_DIR; bench/load.sh sets it all up)
// --cluster runs the load through the balancer of scripts/cluster.sh (two
// servers and Redis), checks both servers, and counts Redis's commands.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"

using namespace bench;

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<long> gFailures{0};
std::mutex gLogMutex;

void Failure(const std::string& what) {
    if (++gFailures <= 20) {
        std::lock_guard<std::mutex> lock(gLogMutex);
        std::fprintf(stderr, "FAILURE: %s\n", what.c_str());
    }
}

size_t Entries(const std::string& folder) {
    size_t n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) (void)entry, ++n;
    return n;
}

// The bytes of one upload's file, made again from its seed when checking.
void FillBlock(uint64_t seed, size_t blockIndex, std::string& block) {
    uint64_t state = seed * 0x9E3779B97F4A7C15ull + blockIndex + 1;
    for (size_t i = 0; i < block.size(); i += 8) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        std::memcpy(&block[i], &state, std::min<size_t>(8, block.size() - i));
    }
}

constexpr size_t kBlock = 1 << 20;

bool SavedFileMatches(const std::string& path, uint64_t seed, size_t size) {
    std::ifstream in(path, std::ios::binary);
    std::string expected(kBlock, '\0'), actual(kBlock, '\0');
    for (size_t block = 0; block * kBlock < size; ++block) {
        const size_t n = std::min(kBlock, size - block * kBlock);
        expected.resize(n);
        actual.resize(n);
        FillBlock(seed, block, expected);
        if (!in.read(&actual[0], static_cast<std::streamsize>(n)) || actual != expected) return false;
    }
    return in.peek() == std::char_traits<char>::eof();
}

std::string JsonValue(const std::string& json, const std::string& key) {
    const size_t at = json.find("\"" + key + "\": ");
    if (at == std::string::npos) return "";
    size_t start = at + key.size() + 4;
    if (json[start] == '"') return json.substr(start + 1, json.find('"', start + 1) - start - 1);
    return json.substr(start, json.find_first_of(",}", start) - start);
}

struct Load {
    int port;
    std::string root;
    size_t fileSize;
    Clock::time_point end;
    std::atomic<long> uploads{0};
    std::atomic<long> progressReads{0};
    std::mutex idsMutex;
    // The forms in flight ("n&Sig=s": the ID and its signature) and their visitors' cookies.
    std::vector<std::pair<std::string, std::string>> activeIds;
};

// What a visitor's browser gets from the upload page: a form ID and the
// cookie that makes it theirs.
// A new form of the upload page: its "ID=" query value (the ID and its
// signature) and the visitor's cookie.
std::pair<std::string, std::string> NewForm(int port) {
    const int fd = Connect(port);
    if (fd < 0) return {"", ""};
    const std::string request = "GET /upload HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    SendAll(fd, request.data(), request.size());
    const std::string response = ReadAll(fd);
    close(fd);
    std::string lower = response.substr(0, response.find("\r\n\r\n"));
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const size_t cookieAt = lower.find("set-cookie: ");  // a balancer may send header names in lower case
    const size_t idAt = response.find("/upload?ID=");
    if (cookieAt == std::string::npos || idAt == std::string::npos) return {"", ""};
    const size_t start = cookieAt + 12;
    std::string form = response.substr(idAt + 11, response.find('"', idAt) - idAt - 11);
    if (const size_t amp = form.find("&amp;"); amp != std::string::npos) form.replace(amp, 5, "&");
    return {form, response.substr(start, response.find(';', start) - start)};
}

void UploadOnce(Load& load, uint64_t seed, const std::string& id, const std::string& cookie) {
    const std::string head = "--LoadB\r\nContent-Disposition: form-data; name=\"note\"\r\n\r\nupload " +
                             std::to_string(seed) +
                             "\r\n--LoadB\r\nContent-Disposition: form-data; name=\"file\"; "
                             "filename=\"load.bin\"\r\nContent-Type: application/octet-stream\r\n\r\n";
    const std::string tail = "\r\n--LoadB--\r\n";
    const int fd = Connect(load.port);
    if (fd < 0) return Failure("cannot connect");
    const std::string request = "POST /upload?ID=" + id +
                                " HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                "Cookie: " +
                                cookie +
                                "\r\nAccept: "
                                "application/json\r\nContent-Type: multipart/form-data; boundary=LoadB\r\n"
                                "Content-Length: " +
                                std::to_string(head.size() + load.fileSize + tail.size()) +
                                "\r\nConnection: close\r\n\r\n" + head;
    bool sent = SendAll(fd, request.data(), request.size());
    std::string block(kBlock, '\0');
    for (size_t b = 0; sent && b * kBlock < load.fileSize; ++b) {
        block.resize(std::min(kBlock, load.fileSize - b * kBlock));
        FillBlock(seed, b, block);
        sent = SendAll(fd, block.data(), block.size());
    }
    sent = sent && SendAll(fd, tail.data(), tail.size());
    const std::string response = ReadAll(fd);
    close(fd);
    if (!sent) return Failure("upload " + std::to_string(seed) + " could not be sent");
    if (response.rfind("HTTP/1.1 200", 0) != 0) return Failure("upload answered " + response.substr(0, 200));
    const std::string body = response.substr(response.find("\r\n\r\n") + 4);
    if (JsonValue(body, "Count") != "2" ||
        body.find("\"Content\": \"upload " + std::to_string(seed) + "\"") == std::string::npos)
        return Failure("wrong fields: " + body.substr(0, 300));
    // The file item's saved path (the text field's is null).
    const size_t savedAt = body.find("\"SavedAs\": \"/uploads/");
    if (savedAt == std::string::npos) return Failure("no file saved: " + body.substr(0, 300));
    const size_t start = savedAt + 12;
    const std::string path = load.root + body.substr(start, body.find('"', start) - start);
    if (!SavedFileMatches(path, seed, load.fileSize)) Failure("saved file differs: " + path);
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    std::filesystem::remove(std::filesystem::path(path).parent_path(), ignored);
    ++load.uploads;
}

void Uploader(Load& load, int number) {
    for (uint64_t round = 0; Clock::now() < load.end; ++round) {
        const auto [id, cookie] = NewForm(load.port);
        if (id.empty()) {
            Failure("the upload page gave no form ID");
            continue;
        }
        {
            std::lock_guard<std::mutex> lock(load.idsMutex);
            load.activeIds.emplace_back(id, cookie);
        }
        UploadOnce(load, static_cast<uint64_t>(number) * 1000003 + round, id, cookie);
        std::lock_guard<std::mutex> lock(load.idsMutex);
        load.activeIds.erase(std::find(load.activeIds.begin(), load.activeIds.end(), std::make_pair(id, cookie)));
    }
}

void ProgressReader(Load& load, int readsPerSecond, int number) {
    std::mt19937 random(static_cast<unsigned>(99 + number));
    const auto interval = std::chrono::microseconds(1000000 / readsPerSecond);
    auto next = Clock::now();
    while (Clock::now() < load.end) {
        std::string id = "0", cookie;
        {
            std::lock_guard<std::mutex> lock(load.idsMutex);
            if (!load.activeIds.empty()) std::tie(id, cookie) = load.activeIds[random() % load.activeIds.size()];
        }
        const int fd = Connect(load.port);
        if (fd < 0) {
            Failure("progress: cannot connect");
        } else {
            const std::string request = "GET /progress?ID=" + id +
                                        " HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                        "Cookie: " +
                                        cookie + "\r\nConnection: close\r\n\r\n";
            SendAll(fd, request.data(), request.size());
            const std::string response = ReadAll(fd);
            close(fd);
            const std::string body = response.substr(std::min(response.size(), response.find("\r\n\r\n") + 4));
            const long total = std::atol(JsonValue(body, "BytesTotal").c_str());
            const long done = std::atol(JsonValue(body, "BytesDone").c_str());
            const long percent = std::atol(JsonValue(body, "PercentDone").c_str());
            if (response.rfind("HTTP/1.1 200", 0) != 0 || JsonValue(body, "ID") != id.substr(0, id.find('&')) ||
                done > total || percent < 0 || percent > 100)
                Failure("progress answered " + body.substr(0, 300));
            ++load.progressReads;
        }
        next += interval;
        std::this_thread::sleep_until(next);
    }
}

size_t OpenFiles(pid_t pid) { return Entries("/proc/" + std::to_string(pid) + "/fd"); }

// The site under load: one server, or the cluster script's two servers
// behind its balancer (with Redis).
struct Site {
    pid_t leader = -1;           // the server, or the cluster script (leading its process group)
    std::vector<pid_t> servers;  // whose files and memory are checked
    int port = 0;                // where the load goes
    int redisPort = 0;           // 0: no Redis
};

bool Listening(int port) {
    const int fd = Connect(port);
    if (fd >= 0) close(fd);
    return fd >= 0;
}

// The formix4-server process serving `port`.
pid_t ServerOnPort(int port) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream in(entry.path() / "cmdline");
        std::string cmdline((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        for (char& c : cmdline) c = c == '\0' ? ' ' : c;
        if (cmdline.find("formix4-server") != std::string::npos &&
            cmdline.find("--port " + std::to_string(port) + " ") != std::string::npos)
            return std::atoi(entry.path().filename().c_str());
    }
    return -1;
}

Site StartCluster(const std::string& script, const std::string& build, const std::string& root,
                  const std::string& temp) {
    Site site;
    const int ports[2] = {FreePort(), FreePort()};
    site.port = FreePort();
    site.redisPort = FreePort();
    site.leader = fork();
    if (site.leader == 0) {
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        setenv("FORMIX4_PORT", std::to_string(site.port).c_str(), 1);
        setenv("FORMIX4_PORT_ONE", std::to_string(ports[0]).c_str(), 1);
        setenv("FORMIX4_PORT_TWO", std::to_string(ports[1]).c_str(), 1);
        setenv("FORMIX4_REDIS_PORT", std::to_string(site.redisPort).c_str(), 1);
        setenv("TMPDIR", temp.c_str(), 1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        execl(script.c_str(), script.c_str(), build.c_str(), root.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    setpgid(site.leader, site.leader);
    for (int i = 0; i < 300 && !(Listening(site.port) && Listening(ports[0]) && Listening(ports[1])); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    for (const int port : ports) site.servers.push_back(ServerOnPort(port));
    if (std::count(site.servers.begin(), site.servers.end(), -1) != 0) site.port = 0;
    return site;
}

// How many times Redis has run each command, from INFO commandstats.
std::map<std::string, long long> RedisCommands(int port) {
    std::map<std::string, long long> calls;
    FILE* info = popen(("redis-cli -p " + std::to_string(port) + " info commandstats").c_str(), "r");
    if (!info) return calls;
    char line[512];
    while (std::fgets(line, sizeof line, info)) {
        const char* count = std::strstr(line, ":calls=");
        if (std::strncmp(line, "cmdstat_", 8) == 0 && count)
            calls[std::string(line + 8, static_cast<size_t>(count - (line + 8)))] = std::atoll(count + 7);
    }
    pclose(info);
    return calls;
}

}  // namespace

int main(int argc, char** argv) {
    const bool cluster = argc > 1 && std::string(argv[1]) == "--cluster";
    std::string clusterScript, buildDir;
    if (cluster) {
        if (argc < 6) {
            std::fprintf(stderr,
                         "usage: load_bench --cluster CLUSTER_SCRIPT BUILD_DIR DOCUMENT_ROOT TEMP_DIR [UPLOADS] "
                         "[MEGABYTES] [SECONDS] [READS]\n");
            return 2;
        }
        clusterScript = argv[2];
        buildDir = argv[3];
        argv += 2;  // then as without --cluster, the cluster standing for SERVER
        argc -= 2;
        argv[1] = const_cast<char*>("cluster");
    }
    if (argc < 4) {
        std::fprintf(stderr,
                     "usage: load_bench SERVER DOCUMENT_ROOT TEMP_DIR [UPLOADS] [MEGABYTES] [SECONDS] [READS]\n");
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    const int uploaders = argc > 4 ? std::atoi(argv[4]) : 50;
    const size_t megabytes = argc > 5 ? std::strtoul(argv[5], nullptr, 10) : 20;
    const int seconds = argc > 6 ? std::atoi(argv[6]) : 60;
    const int readsPerSecond = argc > 7 ? std::atoi(argv[7]) : 500;
    Load load;
    Site site;
    if (cluster) {
        site = StartCluster(clusterScript, buildDir, argv[2], argv[3]);
    } else {
        site.leader =
            StartServer(argv[1], {"--root", argv[2]}, {{"TMPDIR", argv[3]}}, &site.port);  // the shipped options
        site.servers = {site.leader};
    }
    load.port = site.port;
    if (load.port == 0) return 1;
    load.root = argv[2];
    load.fileSize = megabytes << 20;

    // One small upload per server first, so that what each keeps for good
    // (its threads, the component, the registry) is in place before measuring.
    load.end = Clock::now() + std::chrono::seconds(1);
    for (size_t i = 0; i < site.servers.size(); ++i) {
        const auto [firstId, firstCookie] = NewForm(load.port);
        UploadOnce(load, 1 + i, firstId, firstCookie);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::vector<size_t> filesBefore;
    std::vector<long> rssBefore, anonBefore, anonPeak(site.servers.size(), 0);
    for (const pid_t server : site.servers) {
        filesBefore.push_back(OpenFiles(server));
        rssBefore.push_back(StatusKb(server, "VmRSS:"));
        anonBefore.push_back(StatusKb(server, "RssAnon:"));
    }
    const auto redisBefore = site.redisPort ? RedisCommands(site.redisPort) : std::map<std::string, long long>{};

    load.uploads = 0;
    load.progressReads = 0;
    const auto start = Clock::now();
    load.end = start + std::chrono::seconds(seconds);
    std::vector<std::thread> threads;
    for (int i = 0; i < uploaders; ++i) threads.emplace_back(Uploader, std::ref(load), i + 1);
    // Readers of their own share, each on its own connections.
    constexpr int kReaders = 25;
    for (int i = 0; i < kReaders; ++i)
        threads.emplace_back(ProgressReader, std::ref(load), std::max(1, readsPerSecond / kReaders), i);
    while (Clock::now() < load.end) {
        for (size_t i = 0; i < site.servers.size(); ++i)
            anonPeak[i] = std::max(anonPeak[i], StatusKb(site.servers[i], "RssAnon:"));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (std::thread& thread : threads) thread.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    auto redisCommands = site.redisPort ? RedisCommands(site.redisPort) : std::map<std::string, long long>{};
    for (auto& [name, calls] : redisCommands) calls -= redisBefore.count(name) ? redisBefore.at(name) : 0;

    std::this_thread::sleep_for(std::chrono::seconds(2));  // idle connections close
    const size_t leftInTemp = Entries(argv[3]);
    std::printf(
        "%s: %d uploaders x %zu MB for %.0f s: %ld uploads (%.2f uploads/s, %.1f MB/s), %ld progress reads "
        "(%.0f/s)\n",
        cluster ? "two servers behind the balancer, progress in Redis" : "one server", uploaders, megabytes, elapsed,
        load.uploads.load(), load.uploads / elapsed, load.uploads * static_cast<double>(megabytes) / elapsed,
        load.progressReads.load(), load.progressReads / elapsed);
    if (site.redisPort) {
        // A progress read is one HMGET (form IDs are signed, not looked up);
        // the rest is the uploads' own.
        long long total = 0;
        std::string each;
        for (const auto& [name, calls] : redisCommands) {
            if (name == "info" || calls == 0) continue;
            total += calls;
            each += " " + name + " " + std::to_string(calls);
        }
        const long long reads = redisCommands["hmget"];
        std::printf("Redis: %lld commands (%s); per upload %.1f without the progress reads, per progress read %.2f\n",
                    total, each.c_str() + 1, static_cast<double>(total - reads) / std::max(1L, load.uploads.load()),
                    static_cast<double>(reads) / std::max(1L, load.progressReads.load()));
    }
    // The allocator may keep some freed memory; more than 32 MB would be a
    // leak. (Under ThreadSanitizer its own allocator and shadow memory grow.)
    const bool sanitized = std::getenv("LOAD_UNDER_TSAN") != nullptr;
    for (size_t i = 0; i < site.servers.size(); ++i) {
        const pid_t server = site.servers[i];
        const size_t filesAfter = OpenFiles(server);
        const long rssAfter = StatusKb(server, "VmRSS:");
        const long anonAfter = StatusKb(server, "RssAnon:");
        std::printf(
            "server %zu: open files %zu -> %zu, RSS %.1f -> %.1f MB, anonymous %.1f -> %.1f MB (peak %.1f MB)\n", i + 1,
            filesBefore[i], filesAfter, rssBefore[i] / 1024.0, rssAfter / 1024.0, anonBefore[i] / 1024.0,
            anonAfter / 1024.0, anonPeak[i] / 1024.0);
        // Each server's Redis link keeps up to 4 idle connections.
        const size_t linkConnections = site.redisPort ? 4 : 0;
        if (filesAfter > filesBefore[i] + linkConnections)
            Failure("the server keeps " + std::to_string(filesAfter - filesBefore[i]) + " more open files");
        if (!sanitized && anonAfter > anonBefore[i] + 32 * 1024)
            Failure("the server's heap grew by " + std::to_string((anonAfter - anonBefore[i]) / 1024) + " MB");
    }
    std::printf("temporary folder: %zu entries left\n", leftInTemp);
    if (leftInTemp != 0) Failure("files left in the temporary folder");
    if (load.uploads == 0) Failure("no upload completed");
    if (cluster) {
        kill(-site.leader, SIGTERM);
        waitpid(site.leader, nullptr, 0);
    } else {
        kill(site.leader, SIGTERM);
        int status = 0;
        waitpid(site.leader, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Failure("the server did not stop cleanly");
    }
    std::printf("%s (%ld failures)\n", gFailures ? "FAILED" : "passed", gFailures.load());
    return gFailures ? 1 : 0;
}
