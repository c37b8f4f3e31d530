// The upload site end to end beside the upload handlers a user would write
// with other stacks and beside a minimal receiver, over loopback, with this
// one client and the same request bodies, the rounds alternating between
// the servers. Every answer is checked (each item; each saved file's size and
// SHA-256 as the server reports it), then, outside the timed part, every saved
// file is read back from disk and compared with what was sent.
//   e2e_bench BODIES_DIR A_MEGABYTES ROUNDS TABLE_FILE [KIND PORT PID ROOT LABEL]...
// (E2E_SHAPES=CD in the environment: only shapes C and D)
// KIND "site": Formix4's upload page (GET /upload gives a form ID and the
// visitor's cookie, then POST /upload?ID=n; saved paths are virtual paths
// under ROOT, the files in ROOT/uploads). KIND "peer" or "ceiling": POST
// /upload answered {"files": [{"name", "filename", "length", "sha256",
// "saved"}], "fields": [{"name", "value"}]}, saved paths under ROOT; the
// ceiling may leave "sha256" empty. The ratio column compares the site with
// the best "peer". bench/e2e/run.sh starts the servers and runs it.
#include <fcntl.h>
#include <netinet/tcp.h>
#include <openssl/evp.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <latch>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include "../BenchSupport.h"
#include "Json.h"

using namespace bench;
using Clock = std::chrono::steady_clock;

namespace {

constexpr char kBoundary[] = "----E2eBoundary5pQ8vXr2Kd7LmW3z";
constexpr double kMB = 1048576.0;

std::string Sha256Hex(EVP_MD_CTX* context) {
    unsigned char digest[32];
    EVP_DigestFinal_ex(context, digest, nullptr);
    char hex[65];
    for (int i = 0; i < 32; ++i) std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    return hex;
}

struct Sha256 {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context{EVP_MD_CTX_new(), EVP_MD_CTX_free};
    Sha256() { EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr); }
    void update(const void* data, size_t size) { EVP_DigestUpdate(context.get(), data, size); }
    std::string hex() { return Sha256Hex(context.get()); }
};

// One form item: as sent, or as a server reports it.
struct Item {
    std::string name, filename, value, sha256, saved;
    bool file = false;
    double length = 0;
};

struct Shape {
    std::string key, label;
    std::vector<Item> items;
    const char* body = nullptr;
    size_t size = 0;
    int clients = 1;
    // Forms sent one after another in one measurement (one client): a form
    // that takes a tenth of a second is timed over several.
    int repeats = 1;
};

// Writes a multipart body to a file and records its items; file contents
// come from a xorshift generator, text values are letters and digits.
class BodyWriter {
public:
    BodyWriter(const std::string& path, uint64_t seed)
        : path_(path), out_(std::fopen(path.c_str(), "wb")), state_(seed) {}

    void text(const std::string& name, size_t size) {
        static const char kAlnum[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
        Item item{name, "", std::string(size, 'x'), "", "", false, static_cast<double>(size)};
        for (char& c : item.value) c = kAlnum[next() % 62];
        head("form-data; name=\"" + name + "\"\r\n");
        put(item.value.data(), size);
        items_.push_back(std::move(item));
    }
    void file(const std::string& name, const std::string& filename, const std::string& type, size_t size) {
        head("form-data; name=\"" + name + "\"; filename=\"" + filename + "\"\r\nContent-Type: " + type + "\r\n");
        Sha256 digest;
        std::string block;
        for (size_t done = 0; done < size; done += block.size()) {
            block.resize(std::min<size_t>(1 << 20, size - done));
            for (size_t i = 0; i < block.size(); i += 8) {
                const uint64_t word = next();
                std::memcpy(&block[i], &word, std::min<size_t>(8, block.size() - i));
            }
            digest.update(block.data(), block.size());
            put(block.data(), block.size());
        }
        items_.push_back({name, filename, "", digest.hex(), "", true, static_cast<double>(size)});
    }
    // Closes the body and maps it for sending.
    Shape finish(const std::string& key, const std::string& label, int clients = 1) {
        const std::string tail = std::string("\r\n--") + kBoundary + "--\r\n";
        put(tail.data(), tail.size());
        std::fclose(out_);
        const int fd = open(path_.c_str(), O_RDONLY);
        struct stat status {};
        fstat(fd, &status);
        const size_t size = static_cast<size_t>(status.st_size);
        // Mapped in whole now: the first server to receive a body would
        // otherwise wait for the client's page faults on it.
        void* body = mmap(nullptr, size, PROT_READ, MAP_SHARED | MAP_POPULATE, fd, 0);
        close(fd);
        if (body == MAP_FAILED) std::abort();
        return {key, label, std::move(items_), static_cast<const char*>(body), size, clients};
    }

private:
    uint64_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return state_;
    }
    void put(const char* data, size_t size) {
        if (std::fwrite(data, 1, size, out_) != size) std::abort();
    }
    void head(const std::string& disposition) {
        const std::string text = std::string(items_.empty() ? "--" : "\r\n--") + kBoundary +
                                 "\r\nContent-Disposition: " + disposition + "\r\n";
        put(text.data(), text.size());
    }

    std::string path_;
    std::FILE* out_;
    uint64_t state_;
    std::vector<Item> items_;
};

std::vector<Shape> MakeShapes(const std::string& folder, size_t aMegabytes) {
    std::vector<Shape> shapes;
    BodyWriter a(folder + "/a.body", 1);
    a.file("file", "big.bin", "application/octet-stream", aMegabytes << 20);
    shapes.push_back(a.finish("A", "A: one file of " + std::to_string(aMegabytes) + " MB"));
    BodyWriter b(folder + "/b.body", 2);
    for (int i = 0; i < 10; ++i) b.text("text" + std::to_string(i), 40);
    for (int i = 0; i < 3; ++i)
        b.file("upload" + std::to_string(i), "IMG_000" + std::to_string(i) + ".JPG", "image/jpeg", 5 << 20);
    shapes.push_back(b.finish("B", "B: browser form, 10 text fields + 3 files of 5 MB"));
    shapes.back().repeats = 4;
    BodyWriter c(folder + "/c.body", 3);
    for (int i = 0; i < 1000; ++i) c.file("files", "scan" + std::to_string(i) + ".pdf", "application/pdf", 64 << 10);
    shapes.push_back(c.finish("C", "C: 1,000 files of 64 KB"));
    shapes.back().repeats = 2;
    BodyWriter d(folder + "/d.body", 4);
    for (int i = 0; i < 10000; ++i) d.text("field" + std::to_string(i), 1024);
    shapes.push_back(d.finish("D", "D: 10,000 text fields of 1 KB"));
    shapes.back().repeats = 6;
    Shape e = shapes[1];
    e.key = "E";
    e.label = "E: 100 clients at once, each sending B (aggregate)";
    e.clients = 100;
    e.repeats = 1;
    shapes.push_back(e);
    return shapes;
}

struct Answer {
    int status = 0;
    bool keepAlive = false;
    std::string head, body;  // head: the status line and headers, names in lower case
};

// A header's value from a head whose names are in lower case; "" when absent.
std::string Header(const std::string& head, const std::string& name) {
    const size_t at = head.find("\r\n" + name + ":");
    if (at == std::string::npos) return "";
    const size_t start = head.find_first_not_of(' ', at + name.size() + 3);
    return head.substr(start, head.find("\r\n", start) - start);
}

// The memory of the last answer checked on this thread, for the next answer:
// the client receives into memory it already has, whatever the answer's
// length, so that its own page faults do not count in a server's time.
thread_local std::string tSpareBody;

// Reads one response (its length from Content-Length, chunks, or the end of
// the connection); false when the connection ends before it is whole.
bool ReadAnswer(int fd, Answer* answer) {
    std::string data;
    char buffer[65536];
    auto need = [&](size_t size) {
        while (data.size() < size) {
            const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) return false;
            data.append(buffer, static_cast<size_t>(n));
        }
        return true;
    };
    size_t headEnd;
    while ((headEnd = data.find("\r\n\r\n")) == std::string::npos)
        if (!need(data.size() + 1)) return false;
    std::string& head = answer->head;
    head = data.substr(0, headEnd + 2);
    for (size_t i = 0, colon;
         (i = head.find("\r\n", i)) != std::string::npos && (colon = head.find(':', i)) != std::string::npos; ++i)
        std::transform(head.begin() + static_cast<long>(i), head.begin() + static_cast<long>(colon),
                       head.begin() + static_cast<long>(i),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    answer->status = head.size() > 12 ? std::atoi(head.c_str() + 9) : 0;
    std::string connection = Header(head, "connection");
    for (char& c : connection) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    answer->keepAlive = head.rfind("HTTP/1.1", 0) == 0 ? connection != "close" : connection == "keep-alive";
    data.erase(0, headEnd + 4);
    if (const std::string length = Header(head, "content-length"); !length.empty()) {
        // Received straight into the body (in the spare memory): the
        // client's own copies would count in the time, more for a longer
        // answer.
        const size_t size = std::strtoull(length.c_str(), nullptr, 10);
        std::string& body = answer->body;
        body = std::move(tSpareBody);
        body.assign(data, 0, std::min(size, data.size()));
        body.resize(size);
        for (size_t have = std::min(size, data.size()); have < size;) {
            const ssize_t n = recv(fd, body.data() + have, size - have, 0);
            if (n <= 0) return false;
            have += static_cast<size_t>(n);
        }
    } else if (Header(head, "transfer-encoding").find("chunked") != std::string::npos) {
        for (;;) {
            size_t line;
            while ((line = data.find("\r\n")) == std::string::npos)
                if (!need(data.size() + 1)) return false;
            const size_t size = std::strtoull(data.c_str(), nullptr, 16);
            if (!need(line + 2 + size + 2)) return false;
            answer->body.append(data, line + 2, size);
            data.erase(0, line + 2 + size + 2);
            if (size == 0) break;
        }
    } else {
        while (need(data.size() + 1)) {}
        answer->body = data;
        answer->keepAlive = false;
    }
    return true;
}

struct Server {
    std::string kind, root, label;
    int port = 0;
    pid_t pid = 0;
    std::string uploads() const { return kind == "site" ? root + "/uploads" : root; }
};

// What a browser holds before it sends the form: for the site, a form ID and
// the visitor's cookie from the upload page, and the connection when the
// server keeps it open. The other servers need nothing.
struct Form {
    int fd = -1;
    std::string target = "/upload", cookie;
};

std::string Prepare(const Server& server, Form* form) {
    if (server.kind != "site") return "";
    form->fd = Connect(server.port);
    const std::string request = "GET /upload HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    Answer answer;
    const bool answered =
        form->fd >= 0 && SendAll(form->fd, request.data(), request.size()) && ReadAnswer(form->fd, &answer);
    if (form->fd >= 0 && !(answered && answer.keepAlive)) close(form->fd), form->fd = -1;
    if (!answered) return "the upload page did not answer";
    const size_t id = answer.body.find("/upload?ID=");
    const std::string cookie = Header(answer.head, "set-cookie");
    if (answer.status != 200 || id == std::string::npos || cookie.empty())
        return "the upload page gave no form ID or cookie";
    form->target = answer.body.substr(id, answer.body.find('"', id) - id);
    if (const size_t amp = form->target.find("&amp;"); amp != std::string::npos) form->target.replace(amp, 5, "&");
    form->cookie = cookie.substr(0, cookie.find(';'));
    return "";
}

// Sends the form and reads the answer. The time runs from the connection
// (or from the request, on a connection kept from the upload page) to the
// answer's last byte.
double Post(const Server& server, const Shape& shape, Form& form, Answer* answer, std::string* error) {
    const auto start = Clock::now();
    if (form.fd < 0) form.fd = Connect(server.port);
    // As browsers do: the body's last partial segment goes out at once
    // rather than after the server's delayed acknowledgement.
    const int on = 1;
    if (form.fd >= 0) setsockopt(form.fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    const std::string head = "POST " + form.target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: application/json\r\n" +
                             (form.cookie.empty() ? "" : "Cookie: " + form.cookie + "\r\n") +
                             "Content-Type: multipart/form-data; boundary=" + kBoundary +
                             "\r\nContent-Length: " + std::to_string(shape.size) + "\r\n\r\n";
    // A server that refuses the body may answer before it is all sent.
    const bool sent =
        form.fd >= 0 && SendAll(form.fd, head.data(), head.size()) && SendAll(form.fd, shape.body, shape.size);
    const bool read = form.fd >= 0 && ReadAnswer(form.fd, answer);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (form.fd >= 0) close(form.fd);
    if (!read) *error = sent ? "no whole answer" : "the body could not be sent";
    return seconds;
}

// The items an answer reports, in its order.
std::vector<Item> Reported(const Server& server, const e2e::Json& json) {
    std::vector<Item> items;
    if (server.kind == "site") {
        for (const e2e::Json& field : json["Fields"].items)
            for (const e2e::Json& item : field["Items"].items)
                items.push_back({item["Name"].text, item["RawFileName"].text, item["Content"].text,
                                 item["Data"]["SHA256"].text, item["SavedAs"].text, item["FileExists"].boolean,
                                 item["Data"]["Length"].number});
        return items;
    }
    for (const e2e::Json& file : json["files"].items)
        items.push_back({file["name"].text, file["filename"].text, "", file["sha256"].text, file["saved"].text, true,
                         file["length"].number});
    for (const e2e::Json& field : json["fields"].items)
        items.push_back({field["name"].text, "", field["value"].text, "", "", false,
                         static_cast<double>(field["value"].text.size())});
    return items;
}

struct Saved {
    std::string path;
    const Item* sent;
};

// "" when the answer reports every item sent, as sent; the saved files are
// added to `saved`, for reading back later.
std::string CheckAnswer(const Server& server, const Shape& shape, const Answer& answer, std::vector<Saved>* saved) {
    if (answer.status != 200) return "status " + std::to_string(answer.status) + ": " + answer.body.substr(0, 300);
    e2e::Json json;
    if (!e2e::JsonReader(answer.body).read(&json)) return "not JSON: " + answer.body.substr(0, 300);
    // Items are matched by name and by their order under that name: the
    // site reports them grouped by name.
    std::map<std::string, std::vector<Item>> reported;
    for (Item& item : Reported(server, json)) reported[item.name].push_back(std::move(item));
    std::map<std::string, size_t> seen;
    size_t count = 0;
    for (const Item& sent : shape.items) {
        const std::vector<Item>& named = reported[sent.name];
        const size_t n = seen[sent.name]++;
        const std::string which = "item " + sent.name + " #" + std::to_string(n + 1);
        if (n >= named.size()) return which + " missing";
        const Item& got = named[n];
        if (got.file != sent.file || got.length != sent.length) return which + ": wrong kind or length";
        if (!sent.file && got.value != sent.value) return which + ": wrong value";
        if (sent.file) {
            if (got.filename != sent.filename) return which + ": file name " + got.filename;
            if (got.sha256 != sent.sha256 && !(got.sha256.empty() && server.kind == "ceiling"))
                return which + ": wrong SHA-256";
            if (got.saved.empty()) return which + ": not saved";
            saved->push_back({server.root + got.saved, &sent});
        }
    }
    for (const auto& [name, named] : reported) count += named.size();
    if (count != shape.items.size())
        return std::to_string(count) + " items reported, " + std::to_string(shape.items.size()) + " sent";
    return "";
}

// "" when every saved file holds the bytes sent.
std::string CheckDisk(const std::vector<Saved>& saved) {
    std::vector<char> buffer(1 << 20);
    for (const Saved& file : saved) {
        const int fd = open(file.path.c_str(), O_RDONLY);
        if (fd < 0) return "cannot open " + file.path;
        Sha256 digest;
        size_t size = 0;
        ssize_t n;
        while ((n = read(fd, buffer.data(), buffer.size())) > 0)
            digest.update(buffer.data(), static_cast<size_t>(n)), size += static_cast<size_t>(n);
        close(fd);
        if (size != file.sent->length || digest.hex() != file.sent->sha256)
            return file.path + " differs from what was sent";
    }
    return "";
}

struct Result {
    bool ok = false;
    double megabytesPerSecond = 0, p50 = 0;
    long peakKb = 0;
    int round = 0;
};

// One measurement: the shape sent by its number of clients at once, or by
// one client its number of repeats one after another (each with a form of
// its own from the upload page, outside the time). The server's peak
// resident size is reset first (clear_refs 5), so that the peak read after
// is this measurement's.
Result Measure(const Server& server, const Shape& shape) {
    std::ofstream("/proc/" + std::to_string(server.pid) + "/clear_refs") << "5";
    const int clients = shape.clients;
    const size_t posts = static_cast<size_t>(clients == 1 ? shape.repeats : clients);
    std::vector<Form> forms(posts);
    std::vector<Answer> answers(forms.size());
    std::vector<std::string> errors(forms.size());
    std::vector<double> seconds(forms.size());
    std::vector<Saved> saved;
    std::string error;
    // An answer is checked once it is received (outside the time) and let
    // go: the client receives the next into memory it already has, whatever
    // the answer's length.
    const auto check = [&](size_t i) {
        if (error.empty()) error = errors[i].empty() ? CheckAnswer(server, shape, answers[i], &saved) : errors[i];
        tSpareBody = std::move(answers[i].body);
        answers[i] = Answer();
    };
    double wall = 0;
    if (clients == 1) {
        for (size_t i = 0; i < forms.size(); ++i) {
            errors[i] = Prepare(server, &forms[i]);
            if (errors[i].empty()) seconds[i] = Post(server, shape, forms[i], &answers[i], &errors[i]);
            wall += seconds[i];
            check(i);
        }
    } else {
        std::latch ready(clients), go(1);
        std::vector<std::thread> threads;
        for (size_t i = 0; i < forms.size(); ++i)
            threads.emplace_back([&, i] {
                errors[i] = Prepare(server, &forms[i]);
                ready.count_down();
                go.wait();
                if (errors[i].empty()) seconds[i] = Post(server, shape, forms[i], &answers[i], &errors[i]);
            });
        ready.wait();
        const auto start = Clock::now();
        go.count_down();
        for (std::thread& thread : threads) thread.join();
        wall = std::chrono::duration<double>(Clock::now() - start).count();
    }
    Result result;
    result.peakKb = StatusKb(server.pid, "VmHWM:");
    if (clients > 1)
        for (size_t i = 0; i < forms.size(); ++i) check(i);
    if (error.empty()) error = CheckDisk(saved);
    if (!error.empty())
        std::fprintf(stderr, "FAILED: %s, %s: %s\n", server.label.c_str(), shape.key.c_str(), error.c_str());
    result.ok = error.empty();
    result.megabytesPerSecond = shape.size * forms.size() / kMB / wall;
    std::sort(seconds.begin(), seconds.end());
    result.p50 = seconds[seconds.size() / 2];
    // Outside the time: the next measurement starts with an empty folder and
    // nothing left to write back.
    for (const auto& entry : std::filesystem::directory_iterator(server.uploads()))
        std::filesystem::remove_all(entry.path());
    sync();
    return result;
}

// The CPU time a process has used, in clock ticks (user and system).
long long CpuTicks(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t end = text.rfind(')');  // the command's name may hold blanks
    if (end == std::string::npos) return 0;
    std::istringstream fields(text.substr(end + 2));
    std::string field;
    long long user = 0, system = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) user = std::atoll(field.c_str());
        if (i == 15) system = std::atoll(field.c_str());
    }
    return user + system;
}

// Waits, up to five seconds, until a server that was just measured has
// stopped working (its collector, its memory given back): the next server
// measured has both cores to itself, whichever comes after which.
void WaitUntilIdle(pid_t pid) {
    long long before = CpuTicks(pid);
    for (int i = 0; i < 50; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const long long now = CpuTicks(pid);
        if (now == before) return;
        before = now;
    }
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 10 || (argc - 5) % 5 != 0) {
        std::fprintf(stderr,
                     "usage: e2e_bench BODIES_DIR A_MEGABYTES ROUNDS TABLE_FILE [KIND PORT PID ROOT LABEL]...\n");
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    std::vector<Server> servers;
    for (int i = 5; i < argc; i += 5)
        servers.push_back({argv[i], argv[i + 3], argv[i + 4], std::atoi(argv[i + 1]), std::atoi(argv[i + 2])});
    const int rounds = std::max(1, std::atoi(argv[3]));
    std::fprintf(stderr, "writing the bodies...\n");
    const std::vector<Shape> shapes = MakeShapes(argv[1], std::strtoull(argv[2], nullptr, 10));
    // The bodies just written go to the disk now, not during the first
    // measurements.
    sync();
    // E2E_SHAPES=CD measures only those shapes (to profile one server on one).
    const char* only = std::getenv("E2E_SHAPES");
    auto measured = [&](const Shape& shape) { return !only || std::strchr(only, shape.key[0]); };
    // results[shape][server]: one per round that passed its checks.
    std::vector<std::vector<std::vector<Result>>> results(shapes.size(),
                                                          std::vector<std::vector<Result>>(servers.size()));
    bool failed = false;
    for (int round = 0; round < rounds; ++round)
        for (size_t s = 0; s < shapes.size(); ++s) {
            // Before the first round of a shape sent by one client, each
            // server receives it once untimed (checked all the same): a
            // server's first forms of a kind are slower than the ones after
            // (code compiled, memory mapped in), whichever is measured first.
            // Not before A, measured first, on servers that have seen nothing.
            if (round == 0 && measured(shapes[s]) && shapes[s].clients == 1 && s > 0)
                for (const Server& server : servers) {
                    failed = !Measure(server, shapes[s]).ok || failed;
                    WaitUntilIdle(server.pid);
                }
            for (size_t k = 0; measured(shapes[s]) && k < servers.size(); ++k) {
                const size_t v =
                    (k + static_cast<size_t>(round)) % servers.size();  // each round starts with another server
                Result result = Measure(servers[v], shapes[s]);
                WaitUntilIdle(servers[v].pid);
                result.round = round;
                std::fprintf(stderr, "round %d/%d  %s  %-18s %8.1f MB/s%s\n", round + 1, rounds, shapes[s].key.c_str(),
                             servers[v].label.c_str(), result.megabytesPerSecond, result.ok ? "" : "  FAILED");
                if (result.ok) results[s][v].push_back(result);
                failed = failed || !result.ok;
            }
        }

    // One row: a cell per server (the median of the rounds, or for memory a
    // peak) and the site's figure over the best peer's (the highest speed,
    // the lowest latency or memory).
    std::string table = "| shape |";
    for (const Server& server : servers) table += " " + server.label + " |";
    table += " ratio to best peer |";
    // The site's share of each ceiling: the one that syncs does what the
    // site promises (its files on the disk before it answers).
    std::vector<size_t> ceilings;
    for (size_t v = 0; v < servers.size(); ++v)
        if (servers[v].kind == "ceiling") ceilings.push_back(v), table += " site / " + servers[v].label + " |";
    table += "\n|---|";
    for (size_t v = 0; v <= servers.size() + ceilings.size(); ++v) table += "---:|";
    table += "\n";
    enum Figure { kMedian, kLargest, kFirstRound };
    auto row = [&](const std::string& label, size_t s, double (*value)(const Result&), bool higherIsBetter,
                   Figure kind) {
        if (!measured(shapes[s])) return;
        table += "| " + label + " |";
        double site = 0, best = 0;
        std::vector<double> figures(servers.size(), 0);
        for (size_t v = 0; v < servers.size(); ++v) {
            std::vector<double> values;
            for (const Result& result : results[s][v])
                if (kind != kFirstRound || result.round == 0) values.push_back(value(result));
            if (values.empty()) {
                table += " failed |";
                continue;
            }
            const double figure = kind == kMedian ? Median(values) : *std::max_element(values.begin(), values.end());
            char cell[32];
            std::snprintf(cell, sizeof cell, higherIsBetter || kind != kMedian ? "%.1f" : "%.2f", figure);
            table += " " + std::string(cell) + " |";
            figures[v] = figure;
            if (servers[v].kind == "site") site = figure;
            if (servers[v].kind == "peer" && (best == 0 || (higherIsBetter ? figure > best : figure < best)))
                best = figure;
        }
        char ratio[32] = "-";
        if (site > 0 && best > 0) std::snprintf(ratio, sizeof ratio, "%.2f", site / best);
        table += " " + std::string(ratio) + " |";
        for (size_t v : ceilings) {
            char share[32] = "-";
            if (higherIsBetter && site > 0 && figures[v] > 0)
                std::snprintf(share, sizeof share, "%.0f %%", 100 * site / figures[v]);
            table += " " + std::string(share) + " |";
        }
        table += "\n";
    };
    for (size_t s = 0; s < shapes.size(); ++s)
        row(
            shapes[s].label + ", MB/s", s, [](const Result& r) { return r.megabytesPerSecond; }, true, kMedian);
    const size_t a = 0, e = shapes.size() - 1;
    row(
        "E: latency, median of the 100 requests, s", e, [](const Result& r) { return r.p50; }, false, kMedian);
    // A's peak from the first round, on a server that has seen nothing else
    // (later, the memory its allocator kept after E would be counted); E's,
    // the largest of the rounds.
    row(
        "peak resident memory on A (first round), MB", a, [](const Result& r) { return r.peakKb / 1024.0; }, false,
        kFirstRound);
    row(
        "peak resident memory on E, MB", e, [](const Result& r) { return r.peakKb / 1024.0; }, false, kLargest);
    std::printf("%s", table.c_str());
    std::ofstream(argv[4]) << table;
    return failed ? 1 : 0;
}
