#include "script/SharedSessions.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "core/HttpText.h"
#include "platform/CodePage.h"

namespace script {

namespace {

const std::string kPrefix = "formix4:session:";
const std::string kMakersPrefix = "formix4:session-makers:";
// How long a request holds its session at most: a server that ends while
// holding it does not keep the visitor's next requests out for longer.
constexpr long kHoldMs = 120000;
// How long a request waits for its session while another request has it.
constexpr auto kLongestWait = std::chrono::seconds(30);
constexpr auto kRetryPause = std::chrono::milliseconds(5);
// Writes the session back (ARGV[2]: its bytes, ARGV[3]: its time to live in
// milliseconds; no bytes: removed) and gives the hold back, only while the
// hold is still this request's: a request that outlived its hold writes
// nothing over what a later request of the session saved.
const char* const kGiveBackScript =
    "if redis.call('GET', KEYS[2]) ~= ARGV[1] then return 0 end "
    "if ARGV[2] == '' then redis.call('DEL', KEYS[1]) else redis.call('SET', KEYS[1], ARGV[2], 'PX', ARGV[3]) end "
    "redis.call('DEL', KEYS[2]) return 1";

// Lists a new session (KEYS[2]) with those its client address made
// (KEYS[1], kept as long as a session lives: ARGV[2] milliseconds) and,
// past ARGV[1] of them, removes the oldest.
const char* const kListMadeScript =
    "redis.call('RPUSH', KEYS[1], KEYS[2]) redis.call('PEXPIRE', KEYS[1], ARGV[2]) "
    "if redis.call('LLEN', KEYS[1]) > tonumber(ARGV[1]) then redis.call('DEL', redis.call('LPOP', KEYS[1])) end "
    "return 1";

// The bytes of a value, by its type: the text's UTF-16 units, or the
// number's own bytes.
size_t ValueSize(VARTYPE type) {
    switch (type) {
        case VT_EMPTY:
        case VT_NULL:
            return 0;
        case VT_I1:
        case VT_UI1:
            return 1;
        case VT_I2:
        case VT_UI2:
        case VT_BOOL:
            return 2;
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_R4:
            return 4;
        case VT_I8:
        case VT_UI8:
        case VT_R8:
        case VT_DATE:
        case VT_CY:
            return 8;
        default:
            return SIZE_MAX;
    }
}

// Netstring-like: the length, a colon, the bytes.
void Put(std::string& out, const std::string& bytes) {
    out += std::to_string(bytes.size());
    out += ':';
    out += bytes;
}

bool Take(const std::string& in, size_t* at, std::string* bytes) {
    const size_t colon = in.find(':', *at);
    if (colon == std::string::npos || colon == *at || colon - *at > 12) return false;
    size_t length = 0;
    for (size_t i = *at; i < colon; ++i) {
        if (in[i] < '0' || in[i] > '9') return false;
        length = length * 10 + static_cast<size_t>(in[i] - '0');
    }
    if (length > in.size() - colon - 1) return false;
    *bytes = in.substr(colon + 1, length);
    *at = colon + 1 + length;
    return true;
}

bool TakeNumber(const std::string& in, size_t* at, long long* number) {
    std::string text;
    return Take(in, at, &text) && ParseDigits(text, number);
}

std::string Utf16Bytes(const std::u16string& text) {
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(char16_t));
}

bool FromUtf16Bytes(const std::string& bytes, std::u16string* text) {
    if (bytes.size() % sizeof(char16_t) != 0) return false;
    text->resize(bytes.size() / sizeof(char16_t));
    std::memcpy(text->data(), bytes.data(), bytes.size());
    return true;
}

}  // namespace

std::string SharedSessions::Encode(const SessionStore::Session& session) {
    std::string out;
    Put(out, std::to_string(session.id));
    Put(out, std::to_string(session.timeout.count()));
    host::ValueStore& values = *session.values;
    const size_t count = values.count();
    Put(out, std::to_string(count));
    for (size_t i = 0; i < count; ++i) {
        const std::u16string name = values.key(i);
        platform::Variant value;
        values.get(name, &value);
        // The store takes no other types; one would be kept as Empty.
        if (value.vt != VT_BSTR && ValueSize(value.vt) == SIZE_MAX) VariantClear(&value);
        Put(out, Utf16Bytes(name));
        Put(out, std::to_string(value.vt));
        if (value.vt == VT_BSTR)
            Put(out, Utf16Bytes(std::u16string(value.bstrVal ? value.bstrVal : u"", SysStringLen(value.bstrVal))));
        else
            Put(out, std::string(reinterpret_cast<const char*>(&value.llVal), ValueSize(value.vt)));
    }
    Put(out, std::to_string(session.codePage));
    Put(out, std::to_string(session.lcid));
    return out;
}

bool SharedSessions::Decode(const std::string& encoded, SessionStore::Session* session) {
    size_t at = 0;
    long long id = 0, timeout = 0, count = 0;
    if (!TakeNumber(encoded, &at, &id) || !TakeNumber(encoded, &at, &timeout) || !TakeNumber(encoded, &at, &count) ||
        timeout < 1 || timeout > 24 * 60)
        return false;
    session->id = static_cast<long>(id);
    session->timeout = std::chrono::minutes(timeout);
    for (long long i = 0; i < count; ++i) {
        std::string nameBytes, typeText, bytes;
        std::u16string name;
        long long type = 0;
        if (!Take(encoded, &at, &nameBytes) || !FromUtf16Bytes(nameBytes, &name) || !Take(encoded, &at, &typeText) ||
            !ParseDigits(typeText, &type) || !Take(encoded, &at, &bytes))
            return false;
        platform::Variant value;
        if (type == VT_BSTR) {
            std::u16string text;
            if (!FromUtf16Bytes(bytes, &text)) return false;
            value.vt = VT_BSTR;
            value.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        } else {
            if (type > 0xFFFF || ValueSize(static_cast<VARTYPE>(type)) != bytes.size()) return false;
            value.vt = static_cast<VARTYPE>(type);
            std::memcpy(&value.llVal, bytes.data(), bytes.size());
        }
        if (FAILED(session->values->put(name, value))) return false;
    }
    // A session kept before sessions had a code page and locale has neither.
    if (at == encoded.size()) return true;
    long long codePage = 0, lcid = 0;
    if (!TakeNumber(encoded, &at, &codePage) || !TakeNumber(encoded, &at, &lcid) ||
        (codePage != 0 && (codePage > 0xFFFF || !IsValidCodePage(static_cast<UINT>(codePage)))) || lcid > 0xFFFF ||
        !FindLocale(static_cast<LONG>(lcid)))
        return false;
    session->codePage = static_cast<UINT>(codePage);
    session->lcid = static_cast<LCID>(lcid);
    return at == encoded.size();
}

std::string SharedSessions::where() const { return "Redis at " + mLink->Address().HostAndPort(); }

bool SharedSessions::take(std::string* token, const std::string& address, SessionStore::Session* session,
                          std::string* error) {
    const std::string unreachable =
        "The session cannot be read: the session store (" + where() + ") cannot be reached.";
    session->holder = RandomToken();
    if (IsRandomToken(*token)) {
        const auto deadline = std::chrono::steady_clock::now() + kLongestWait;
        for (;;) {
            std::vector<platform::RedisReply> replies;
            if (!mLink->Run({{"SET", kPrefix + *token + ":lock", session->holder, "NX", "PX", std::to_string(kHoldMs)},
                             {"GET", kPrefix + *token}},
                            &replies) ||
                replies.size() != 2) {
                *error = unreachable;
                return false;
            }
            if (replies[0].kind == platform::RedisReply::Kind::Error) {
                mLink->ReportRefusal(replies[0].text);
                *error = "The session cannot be read: the session store (" + where() + ") refused it (" +
                         replies[0].text + ").";
                return false;
            }
            if (replies[0].kind == platform::RedisReply::Kind::Status) {
                if (replies[1].kind == platform::RedisReply::Kind::Text && Decode(replies[1].text, session))
                    return true;
                // Gone (expired, abandoned) or unreadable: a new session, and this hold is not needed.
                give(*token, *session, true);
                break;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                *error = "The session is held by another request of it for longer than " +
                         std::to_string(std::chrono::seconds(kLongestWait).count()) + " s.";
                return false;
            }
            std::this_thread::sleep_for(kRetryPause);
        }
    }
    platform::RedisReply number;
    if (!mLink->Run({"INCR", kPrefix + "ids"}, &number) || number.kind != platform::RedisReply::Kind::Integer) {
        *error = unreachable;
        return false;
    }
    *session = SessionStore::Session{};
    session->id = static_cast<long>(number.integer & 0x7FFFFFFF);
    session->holder = RandomToken();
    session->fresh = true;
    session->maker = address;
    *token = RandomToken();
    // A new token is known to no other request yet: nothing to hold.
    return true;
}

void SharedSessions::give(const std::string& token, const SessionStore::Session& session, bool abandoned) {
    // A new session was held by nobody: its hold is made as it is written.
    std::vector<platform::RedisCommand> commands;
    if (session.fresh)
        commands.push_back({"SET", kPrefix + token + ":lock", session.holder, "NX", "PX", std::to_string(kHoldMs)});
    commands.push_back({"EVAL", kGiveBackScript, "2", kPrefix + token, kPrefix + token + ":lock", session.holder,
                        abandoned ? std::string() : Encode(session),
                        std::to_string(std::chrono::milliseconds(session.timeout).count())});
    // A client that cannot be told from others (a proxy on this machine
    // that names none) counts toward no one's share.
    if (session.fresh && !abandoned && !session.maker.empty())
        commands.push_back({"EVAL", kListMadeScript, "2", kMakersPrefix + session.maker, kPrefix + token,
                            std::to_string(mPerAddress),
                            std::to_string(std::chrono::milliseconds(session.timeout).count())});
    std::vector<platform::RedisReply> replies;
    if (!mLink->Run(commands, &replies)) return;  // not reached: the hold runs out by itself
    for (const platform::RedisReply& reply : replies)
        if (reply.kind == platform::RedisReply::Kind::Error) mLink->ReportRefusal(reply.text);
}

}  // namespace script
