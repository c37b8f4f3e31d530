// SHA-256 through OpenSSL's libcrypto, which uses the processor's SHA
// instructions where it has them.
#include "client/Sha256.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <memory>
#include <stdexcept>
#include <vector>

namespace {

std::string Hex(const unsigned char* digest, unsigned int length) {
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * length);
    for (unsigned int i = 0; i < length; ++i) {
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 15];
    }
    return text;
}

}  // namespace

std::string Sha256Hex(const uint8_t* data, size_t size) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    static const uint8_t kNothing = 0;
    if (EVP_Digest(data ? data : &kNothing, size, digest, &length, EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 failed");
    return Hex(digest, length);
}

bool Sha256HexOfFile(const char* path, std::string* outDigest, uint64_t* outLength) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    // Plain reads into one buffer: a mapping of each file would cost a
    // fault per page and a flush of every core's view when it goes.
    std::vector<unsigned char> buffer(256 * 1024);
    bool ok = context && EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) == 1;
    uint64_t total = 0;
    for (ssize_t n; ok && (n = read(fd, buffer.data(), buffer.size())) != 0;) {
        ok = n > 0 && EVP_DigestUpdate(context.get(), buffer.data(), static_cast<size_t>(n)) == 1;
        total += n > 0 ? static_cast<uint64_t>(n) : 0;
    }
    close(fd);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!ok || EVP_DigestFinal_ex(context.get(), digest, &length) != 1) return false;
    *outDigest = Hex(digest, length);
    *outLength = total;
    return true;
}
