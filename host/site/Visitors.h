// Who may follow which upload. Each visitor of the site carries a random
// token in a cookie; the upload form hands out a progress ID together with a
// signature of that ID and the visitor's token (an HMAC with the site's
// secret), which the form's upload and its progress polls carry back
// (`Sig`). Any server of the site that knows the secret checks it without
// asking anyone: nothing about hand-outs is kept, in the process or in
// Redis, so a restart, an outage or a flush of Redis changes nothing.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/RedisLink.h"

class Visitors {
public:
    static constexpr const char* kCookie = "fmxvisitor";

    // The servers' shared secret: the registry value FormSecret of
    // HKLM\SOFTWARE\Venhale\Formix4Site (at least 32 hexadecimal digits);
    // without it, one of this process's own, and then only this process
    // recognises its hand-outs.
    static std::string SecretFromSettings(bool* shared);
    // IDs are numbered through `link` when given (one counter for every
    // server of the site), else by this process.
    Visitors(std::string secret, std::shared_ptr<platform::RedisLink> link);

    // A new visitor token: 32 random hexadecimal digits.
    static std::string NewToken();
    // Whether `token` has the form NewToken gives.
    static bool IsToken(const std::string& token);
    // A progress ID of the form formix4/ProgressIds.h lays out, with the
    // site's bit set: the component's own IDs in a shared progress store
    // have it clear. IDs come from a counter that starts at a random
    // number (and again after a flush of Redis), spread over the range, so
    // that no two forms open at once have the same ID, whichever server
    // handed them out; only 2^29 forms later does an ID return.
    long newId();
    // The signature that hands `id` to `visitor`: 32 hexadecimal digits.
    std::string signature(const std::string& visitor, long id) const;
    bool owns(const std::string& visitor, long id, const std::string& signature) const;

private:
    std::string mSecret;
    std::shared_ptr<platform::RedisLink> mLink;
    std::atomic<uint32_t> mNext;  // this process's counter, without Redis or while it cannot be reached
};
