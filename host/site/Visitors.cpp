#include "site/Visitors.h"

#include <openssl/crypto.h>
#include <openssl/hmac.h>

#include <cstdint>

#include "core/HttpText.h"
#include "platform/RegistryValues.h"

namespace {
const char* const kSiteSettingsKey = "SOFTWARE\\Venhale\\Formix4Site";
constexpr size_t kMinimumSecretDigits = 32;
constexpr size_t kSignatureBytes = 16;
}  // namespace

std::string Visitors::SecretFromSettings(bool* shared) {
    std::string secret;
    *shared = platform::registry::ReadString(HKEY_LOCAL_MACHINE, kSiteSettingsKey, "FormSecret", &secret) &&
              secret.size() >= kMinimumSecretDigits &&
              secret.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
    if (*shared) return secret;
    return RandomToken() + RandomToken();
}

std::string Visitors::NewToken() { return RandomToken(); }

bool Visitors::IsToken(const std::string& token) { return IsRandomToken(token); }

long Visitors::NewId() {
    uint16_t halves[2];
    RandomBytes(halves, sizeof halves);
    return 0x40000000L | (static_cast<long>(halves[0] & 0x3FFF) << 16) | (halves[1] & 0x7FFF);
}

std::string Visitors::signature(const std::string& visitor, long id) const {
    const std::string message = std::to_string(id) + ":" + visitor;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    HMAC(EVP_sha256(), mSecret.data(), static_cast<int>(mSecret.size()),
         reinterpret_cast<const unsigned char*>(message.data()), message.size(), digest, &length);
    return HexText(digest, kSignatureBytes);
}

bool Visitors::owns(const std::string& visitor, long id, const std::string& given) const {
    if (visitor.empty() || given.size() != kSignatureBytes * 2) return false;
    const std::string expected = signature(visitor, id);
    return CRYPTO_memcmp(expected.data(), given.data(), expected.size()) == 0;
}
