// Parse speed of the body parser over bodies held in a mapped file, beside a
// plain memmem scan of the same bytes:
//   parse_bench [MEGABYTES]   (default 256)
//   parse_bench --body FILE   one body file: "MB/s file-bytes" (best of three),
//                             as the peers of bench/compare print it
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <unistd.h>

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

// Parses one body file as the form holds it, a read-only mapping.
int MeasureBodyFile(const char* path) {
    MappedFileSource source;
    if (source.open(path)) {
        std::fprintf(stderr, "parse_bench: cannot map %s\n", path);
        return 1;
    }
    Multipart engine;
    int32_t fileBytes = 0;
    const double seconds = BestSeconds([&] {
        engine.ParseBlock(source.start(), static_cast<int32_t>(source.size()));
        fileBytes = 0;
        for (int g = 0; g < engine.GroupCount(); ++g)
            for (int i = 0; i < engine.GroupAt(g)->count(); ++i) fileBytes += engine.GroupAt(g)->itemAt(i)->length;
    });
    std::printf("%.1f %d\n", source.size() / 1048576.0 / seconds, fileBytes);
    return 0;
}

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--body") == 0) {
        setenv("PLATFORM_REGISTRY_DIR", "/tmp/parse_bench_registry", 1);
        return MeasureBodyFile(argv[2]);
    }
    const size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    const size_t size = megabytes << 20;
    setenv("PLATFORM_REGISTRY_DIR", "/tmp/parse_bench_registry", 1);
    for (int parts : {2, 100, 10000}) Measure(("multipart, " + std::to_string(parts) + " parts").c_str(), MultipartBody(size, parts));
    // Adversarial bodies.
    Measure("header lines in one part", "--b\r\n" + Repeat("Content-Disposition: form-data; x\r\n", size / 4) +
                                            "Content-Disposition: form-data; name=\"last\"\r\n\r\nv\r\n--b--\r\n");
    Measure("no end of headers", "--b\r\n" + Repeat("X-Header: value\r\n", size / 4));
    Measure("near-matches of the boundary", "--b\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n" +
                                                Repeat("--c", size / 4) + "\r\n--b--\r\n");
    Measure("line ends", "--b\r\n" + Repeat("\r\n", size / 4));
    Measure("dashes", std::string(size / 4, '-'));
    return 0;
}
