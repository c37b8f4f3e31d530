#include "site/Visitors.h"

#include <openssl/crypto.h>
#include <openssl/hmac.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/HttpText.h"
#include "formix4/ProgressIds.h"
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

namespace {

const char* const kIdCounterKey = "formix4:form-ids";
constexpr uint32_t kIdMask = kProgressIdNumberMask;

// Counts spread over the whole range of IDs, so that forms handed out one
// after another do not get neighbouring IDs: a bijection of 29-bit numbers
// (odd multipliers and a shift that keeps the high bits), the same on every
// server, so that distinct counts stay distinct IDs.
uint32_t Spread(uint32_t number) {
    number = (number * 331804481u) & kIdMask;  // the golden ratio of 2^29
    number ^= number >> 15;
    return (number * 0x2C1B3C6Du) & kIdMask;
}

uint32_t RandomIdNumber() {
    uint32_t number = 0;
    RandomBytes(&number, sizeof number);
    return number & kIdMask;
}

}  // namespace

Visitors::Visitors(std::string secret, std::shared_ptr<platform::RedisLink> link)
    : mSecret(std::move(secret)), mLink(std::move(link)), mNext(RandomIdNumber()) {}

long Visitors::newId() {
    uint32_t number = mNext++;
    // A counter Redis does not have yet (new, or back empty) starts at a
    // random number, so that it does not hand out again the IDs of forms
    // still open.
    std::vector<platform::RedisReply> replies;
    if (mLink &&
        mLink->Run({{"SET", kIdCounterKey, std::to_string(RandomIdNumber()), "NX"}, {"INCR", kIdCounterKey}},
                   &replies) &&
        replies.size() == 2 && replies[1].kind == platform::RedisReply::Kind::Integer)
        number = static_cast<uint32_t>(replies[1].integer);
    return kSiteProgressIdBit | ProgressIdOfNumber(Spread(number & kIdMask));
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
