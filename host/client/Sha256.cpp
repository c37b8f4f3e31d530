// SHA-256 through OpenSSL's libcrypto, which uses the processor's SHA
// instructions where it has them.
#include "client/Sha256.h"

#include <openssl/evp.h>

#include <stdexcept>

std::string Sha256Hex(const uint8_t* data, size_t size) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    static const uint8_t kNothing = 0;
    if (EVP_Digest(data ? data : &kNothing, size, digest, &length, EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 failed");
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * length);
    for (unsigned int i = 0; i < length; ++i) {
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 15];
    }
    return text;
}
