// Parse speed of the body parser over bodies held in a mapped file, beside a
// plain memmem scan of the same bytes:
//   parse_bench [MEGABYTES]       (default 256)
//   parse_bench --body FILE       one body file: "MB/s items" (best of three),
//                                 as the peers of bench/compare print it
//   parse_bench --parallel FILE   one parse alone, then one on each of two
//                                 threads at once: the seconds of each, and
//                                 their ratio
//   parse_bench --heap FILE       memory the parsed form holds, per item
// The component is registered in the registry folder PLATFORM_REGISTRY_DIR
// names; when it is unset, in a folder the benchmark makes for itself.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <unistd.h>

#include "BenchSupport.h"
#include "FileUtilities.h"
#include "Multipart.h"
#include "platform/Files.h"

namespace {

using Clock = std::chrono::steady_clock;

double BestSeconds(const std::function<void()>& work, int rounds = 3) {
    double best = 1e30;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        work();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

// A multipart body of about `size` bytes split into `parts` file parts.
std::string MultipartBody(size_t size, int parts) {
    std::string body;
    body.reserve(size + 1024);
    const size_t each = size / static_cast<size_t>(parts);
    uint32_t state = 12345;
    for (int p = 0; p < parts; ++p) {
        body += "--BenchBoundary7MA4YWxkTrZu0gW\r\nContent-Disposition: form-data; name=\"f" + std::to_string(p) +
                "\"; filename=\"file" + std::to_string(p) + ".bin\"\r\nContent-Type: application/octet-stream\r\n\r\n";
        for (size_t i = 0; i < each; ++i) {
            state = state * 1103515245u + 12345u;
            const char c = static_cast<char>(state >> 24);
            body += c == '-' ? '+' : c;
        }
        body += "\r\n";
    }
    body += "--BenchBoundary7MA4YWxkTrZu0gW--\r\n";
    return body;
}

std::string Repeat(const std::string& unit, size_t size) {
    std::string out;
    out.reserve(size + unit.size());
    while (out.size() < size) out += unit;
    return out;
}

void Measure(const char* name, const std::string& body) {
    // Hold the body as the form does: a read-only mapping of a file.
    char path[] = "/tmp/parse_benchXXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0 || write(fd, body.data(), body.size()) != static_cast<ssize_t>(body.size())) std::abort();
    close(fd);
    MappedFileSource source;
    if (source.open(path)) std::abort();
    unlink(path);
    const uint8_t* data = source.start();
    const auto size = static_cast<int32_t>(source.size());
    Multipart engine;
    int groups = 0;
    const double parse = BestSeconds([&] {
        engine.ParseBlock(data, size);
        groups = engine.GroupCount();
    });
    volatile const void* sink = nullptr;
    const double scan = BestSeconds([&] { sink = memmem(data, static_cast<size_t>(size), "\r\n--NotInTheBody", 16); });
    (void)sink;
    const double megabytes = size / 1048576.0;
    std::printf("%-34s %8.1f MB  parse %8.1f MB/s  memmem %8.1f MB/s  ratio %5.2f  groups %d\n", name, megabytes,
                megabytes / parse, megabytes / scan, scan / parse, groups);
}

}  // namespace

int Items(const Multipart& engine) {
    int items = 0;
    for (int g = 0; g < engine.GroupCount(); ++g) items += engine.GroupAt(g)->count();
    return items;
}

// Parses one body file as the form holds it, a read-only mapping.
int MeasureBodyFile(const MappedFileSource& source) {
    Multipart engine;
    int items = 0;
    const double seconds = BestSeconds([&] {
        engine.ParseBlock(source.start(), static_cast<int32_t>(source.size()));
        items = Items(engine);
    });
    std::printf("%.1f %d\n", source.size() / 1048576.0 / seconds, items);
    return 0;
}

// Seconds of `work` alone, then of `work` on two threads at once; the work
// is repeated to last about a quarter of a second, so that starting a
// thread does not count.
void OneAndTwo(const char* what, const std::function<void()>& once) {
    const double single = BestSeconds(once, 1);
    const int repeats = std::max(1, static_cast<int>(0.25 / std::max(single, 1e-6)));
    const auto work = [&] {
        for (int i = 0; i < repeats; ++i) once();
    };
    const double one = BestSeconds(work);
    const double two = BestSeconds([&] {
        std::thread other(work);
        work();
        other.join();
    });
    std::printf("%-34s one %.4f s, two in parallel %.4f s, ratio %.2f\n", what, one, two, two / one);
}

// One parse alone against two at once; beside it, a copy of the same bytes,
// which shows what the machine's memory allows two cores.
int MeasureParallel(const MappedFileSource& source) {
    OneAndTwo("parse", [&] {
        Multipart engine;
        engine.ParseBlock(source.start(), static_cast<int32_t>(source.size()));
    });
    OneAndTwo("copy of the body (the machine)", [&] {
        thread_local std::string copy;
        copy.assign(reinterpret_cast<const char*>(source.start()), source.size());
    });
    return 0;
}

// Anonymous memory the process gains by holding one parsed form (the body
// itself is a file mapping and not counted), per item.
int MeasureHeap(const MappedFileSource& source) {
    // The code page and the allocator's first use, on a body too small to
    // leave blocks that the measured parse could draw on.
    Multipart warm;
    static const uint8_t kSmall[] = "a=1&b=2";
    warm.ParseBlock(kSmall, sizeof kSmall - 1);
    warm.Clear();
    const long before = bench::StatusKb(getpid(), "RssAnon:");
    Multipart engine;
    engine.ParseBlock(source.start(), static_cast<int32_t>(source.size()));
    const long after = bench::StatusKb(getpid(), "RssAnon:");
    const int items = Items(engine);
    std::printf("%d items, %.0f bytes per item\n", items, (after - before) * 1024.0 / (items ? items : 1));
    return 0;
}

// The component registered where PLATFORM_REGISTRY_DIR says, or by the
// build's regsvr in a folder of the benchmark's own.
void UseRegisteredComponent() {
    if (std::getenv("PLATFORM_REGISTRY_DIR")) return;
    static char folder[] = "/tmp/parse_bench_registryXXXXXX";
    if (!mkdtemp(folder)) std::abort();
    setenv("PLATFORM_REGISTRY_DIR", folder, 1);
    std::atexit([] { std::filesystem::remove_all(folder); });
    const std::string command = std::string("'") + REGSVR_PATH + "' '" + FORMIX4_MODULE + "' >/dev/null";
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "parse_bench: registering the component failed\n");
        std::exit(1);
    }
}

int main(int argc, char** argv) {
    UseRegisteredComponent();
    if (argc == 3 && argv[1][0] == '-') {
        MappedFileSource source;
        if (source.open(argv[2])) {
            std::fprintf(stderr, "parse_bench: cannot map %s\n", argv[2]);
            return 1;
        }
        if (std::strcmp(argv[1], "--body") == 0) return MeasureBodyFile(source);
        if (std::strcmp(argv[1], "--parallel") == 0) return MeasureParallel(source);
        if (std::strcmp(argv[1], "--heap") == 0) return MeasureHeap(source);
        std::fprintf(stderr, "parse_bench: unknown option %s\n", argv[1]);
        return 2;
    }
    const size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    const size_t size = megabytes << 20;
    for (int parts : {2, 100, 10000})
        Measure(("multipart, " + std::to_string(parts) + " parts").c_str(), MultipartBody(size, parts));
    // Adversarial bodies.
    Measure("header lines in one part", "--b\r\n" + Repeat("Content-Disposition: form-data; x\r\n", size / 4) +
                                            "Content-Disposition: form-data; name=\"last\"\r\n\r\nv\r\n--b--\r\n");
    Measure("no end of headers", "--b\r\n" + Repeat("X-Header: value\r\n", size / 4));
    Measure("near-matches of the boundary",
            "--b\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n" + Repeat("--c", size / 4) + "\r\n--b--\r\n");
    Measure("line ends", "--b\r\n" + Repeat("\r\n", size / 4));
    Measure("dashes", std::string(size / 4, '-'));
    return 0;
}
