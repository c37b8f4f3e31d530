// SHA-256 through OpenSSL's libcrypto, which uses the processor's SHA
// instructions where it has them.
#include "client/Sha256.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <stdexcept>
#include <vector>

#include "core/HttpText.h"

namespace {

// The algorithm, fetched from the library once: naming it at each digest
// looks it up again, which costs a form of 10,000 small fields more than
// their hashing.
const EVP_MD* Algorithm() {
    static EVP_MD* const kSha256 = EVP_MD_fetch(nullptr, "SHA2-256", nullptr);
    if (!kSha256) throw std::runtime_error("SHA-256 is not available");
    return kSha256;
}

}  // namespace

std::string Sha256Hex(const uint8_t* data, size_t size) {
    // One context per thread, set up anew for each digest: a report digests
    // each of 10,000 small fields, and a context allocated and freed for
    // each costs about what hashing a kilobyte does.
    struct Context {
        EVP_MD_CTX* context = EVP_MD_CTX_new();
        ~Context() { EVP_MD_CTX_free(context); }
    };
    static thread_local Context tContext;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!tContext.context || EVP_DigestInit_ex(tContext.context, Algorithm(), nullptr) != 1 ||
        (size && EVP_DigestUpdate(tContext.context, data, size) != 1) ||
        EVP_DigestFinal_ex(tContext.context, digest, &length) != 1)
        throw std::runtime_error("SHA-256 failed");
    return HexText(digest, length);
}

Sha256::Sha256() : mContext(EVP_MD_CTX_new()) {
    if (!mContext || EVP_DigestInit_ex(mContext, Algorithm(), nullptr) != 1) throw std::runtime_error("SHA-256 failed");
}

Sha256::~Sha256() { EVP_MD_CTX_free(mContext); }

void Sha256::add(const uint8_t* data, size_t size) {
    if (size && EVP_DigestUpdate(mContext, data, size) != 1) throw std::runtime_error("SHA-256 failed");
}

std::string Sha256::hex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(mContext, digest, &length) != 1) throw std::runtime_error("SHA-256 failed");
    return HexText(digest, length);
}

bool ReadFileInPieces(const char* path, const std::function<void(const uint8_t*, size_t)>& piece) {
    struct File {
        int fd;
        ~File() {
            if (fd >= 0) close(fd);
        }
    } file{open(path, O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0) return false;
    // Plain reads into one buffer: a mapping of each file would cost a
    // fault per page and a flush of every core's view when it goes.
    std::vector<uint8_t> buffer(256 * 1024);
    ssize_t n;
    while ((n = read(file.fd, buffer.data(), buffer.size())) > 0) piece(buffer.data(), static_cast<size_t>(n));
    return n == 0;
}

bool Sha256HexOfFile(const char* path, std::string* hexDigest, uint64_t* bytesRead) {
    Sha256 digest;
    uint64_t total = 0;
    if (!ReadFileInPieces(path, [&](const uint8_t* data, size_t size) {
            digest.add(data, size);
            total += size;
        }))
        return false;
    *hexDigest = digest.hex();
    *bytesRead = total;
    return true;
}
