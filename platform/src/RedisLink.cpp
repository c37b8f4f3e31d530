#include "platform/RedisLink.h"

#include <hiredis/hiredis.h>
#include <netdb.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <system_error>
#include <thread>

#include "platform/EventLog.h"

namespace platform {

namespace {

bool ParseNumber(const std::string& text, long lowest, long highest, long* value) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    *value = std::strtol(text.c_str(), nullptr, 10);
    return *value >= lowest && *value <= highest;
}

RedisReply Convert(const redisReply* raw) {
    RedisReply reply;
    switch (raw->type) {
        case REDIS_REPLY_INTEGER:
            reply.kind = RedisReply::Kind::Integer;
            reply.integer = raw->integer;
            break;
        case REDIS_REPLY_STRING:
        case REDIS_REPLY_STATUS:
        case REDIS_REPLY_ERROR:
            reply.kind = raw->type == REDIS_REPLY_STRING   ? RedisReply::Kind::Text
                         : raw->type == REDIS_REPLY_STATUS ? RedisReply::Kind::Status
                                                           : RedisReply::Kind::Error;
            reply.text.assign(raw->str, raw->len);
            break;
        case REDIS_REPLY_ARRAY:
            reply.kind = RedisReply::Kind::Array;
            for (size_t i = 0; i < raw->elements; ++i) reply.elements.push_back(Convert(raw->element[i]));
            break;
        default:
            break;  // nil
    }
    return reply;
}

// Sends the commands in one round trip and reads their replies.
bool Exchange(redisContext* connection, const std::vector<RedisCommand>& commands, std::vector<RedisReply>* replies,
              RedisLink::Failure* failure) {
    for (const RedisCommand& command : commands) {
        std::vector<const char*> arguments;
        std::vector<size_t> lengths;
        for (const std::string& argument : command) {
            arguments.push_back(argument.data());
            lengths.push_back(argument.size());
        }
        redisAppendCommandArgv(connection, static_cast<int>(arguments.size()), arguments.data(), lengths.data());
    }
    replies->clear();
    for (size_t i = 0; i < commands.size(); ++i) {
        void* raw = nullptr;
        errno = 0;
        if (redisGetReply(connection, &raw) != REDIS_OK || !raw) {
            failure->late = errno == EAGAIN || errno == EWOULDBLOCK;
            failure->reason = failure->late
                                  ? "no answer within " + std::to_string(RedisLink::kCommandTimeout.count()) + " ms"
                                  : std::string(connection->errstr);
            return false;
        }
        replies->push_back(Convert(static_cast<redisReply*>(raw)));
        freeReplyObject(raw);
    }
    return true;
}

bool IsNumericAddress(const std::string& host) {
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* found = nullptr;
    const bool numeric = getaddrinfo(host.c_str(), nullptr, &hints, &found) == 0;
    if (found) freeaddrinfo(found);
    return numeric;
}

// The name's addresses as numeric texts, in the resolver's order; a few
// suffice (a name for this machine has one per address family).
bool ResolveName(const std::string& host, std::vector<std::string>* addresses, std::string* error) {
    constexpr size_t kMostAddresses = 4;
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int status = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (status != 0) {
        *error = "the name " + host + " cannot be resolved: " + gai_strerror(status);
        return false;
    }
    addresses->clear();
    for (const addrinfo* entry = found; entry && addresses->size() < kMostAddresses; entry = entry->ai_next) {
        char text[NI_MAXHOST];
        if (getnameinfo(entry->ai_addr, entry->ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST) == 0)
            addresses->push_back(text);
    }
    freeaddrinfo(found);
    if (addresses->empty()) *error = "the name " + host + " has no address";
    return !addresses->empty();
}

void LogOutage(const std::string& source, const std::string& text) {
    HANDLE eventLog = RegisterEventSourceA(nullptr, source.c_str());
    if (!eventLog) return;
    LPCSTR strings[] = {text.c_str()};
    ReportEventA(eventLog, EVENTLOG_WARNING_TYPE, 1, 0x1000, nullptr, 1, 0, strings, nullptr);
    DeregisterEventSource(eventLog);
}

}  // namespace

void RedisLink::ReportRefusal(const std::string& reply) {
    const int64_t now = std::chrono::duration_cast<std::chrono::seconds>(Clock::now().time_since_epoch()).count();
    int64_t last = mLastRefusalLogged.load();
    if (last != 0 && now - last < 60) return;
    if (!mLastRefusalLogged.compare_exchange_strong(last, now)) return;
    LogOutage(mEventSource, "Redis at " + mAddress.HostAndPort() + " refused a command (" + reply + ")");
}

bool RedisAddress::Parse(const std::string& text, RedisAddress* address, std::string* error) {
    static const std::string kScheme = "redis://";
    RedisAddress parsed;
    auto fail = [&](const std::string& why) {
        *error = "\"" + text + "\" is not a Redis address (redis://[:password@]host[:port][/database]): " + why;
        return false;
    };
    if (text.compare(0, kScheme.size(), kScheme) != 0) return fail("it does not start with redis://");
    std::string rest = text.substr(kScheme.size());
    const size_t at = rest.rfind('@');
    if (at != std::string::npos) {
        const std::string user = rest.substr(0, at);
        if (user.empty() || user[0] != ':') return fail("only a password may come before @, after a colon");
        parsed.password = user.substr(1);
        rest.erase(0, at + 1);
    }
    const size_t slash = rest.find('/');
    if (slash != std::string::npos) {
        long databaseNumber = 0;
        if (!ParseNumber(rest.substr(slash + 1), 0, 1000000, &databaseNumber))
            return fail("the database is not a number");
        parsed.database = static_cast<int>(databaseNumber);
        rest.erase(slash);
    }
    size_t colon = rest.rfind(':');
    const bool ipv6 = !rest.empty() && rest[0] == '[';
    if (ipv6) {  // [IPv6]:port
        const size_t closing = rest.find(']');
        if (closing == std::string::npos) return fail("an IPv6 address lacks its ]");
        parsed.host = rest.substr(1, closing - 1);
        colon = closing + 1 < rest.size() && rest[closing + 1] == ':' ? closing + 1 : std::string::npos;
        if (colon == std::string::npos && closing + 1 != rest.size()) return fail("text after the ]");
    } else {
        parsed.host = rest.substr(0, colon);
    }
    if (colon != std::string::npos) {
        long portNumber = 0;
        if (!ParseNumber(rest.substr(colon + 1), 1, 65535, &portNumber)) return fail("the port is not 1 to 65535");
        parsed.port = static_cast<int>(portNumber);
    }
    if (parsed.host.empty()) return fail("no host");
    // A name or IPv4 address; an IPv6 address (with its zone) only in brackets.
    for (const char c : parsed.host) {
        const bool alphanumeric = std::isalnum(static_cast<unsigned char>(c)) != 0;
        const bool fits =
            ipv6 ? alphanumeric || c == ':' || c == '.' || c == '%' : alphanumeric || c == '.' || c == '-' || c == '_';
        if (!fits) return fail("the host has a character no host name has");
    }
    if (ipv6 && parsed.host.find(':') == std::string::npos) return fail("no IPv6 address in the brackets");
    *address = parsed;
    return true;
}

std::string RedisAddress::HostAndPort() const {
    const bool ipv6 = host.find(':') != std::string::npos;
    return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

void RedisLink::ContextDeleter::operator()(redisContext* context) const { redisFree(context); }

std::shared_ptr<RedisLink> RedisLink::Shared(const RedisAddress& address, const std::string& eventSource) {
    // Kept until the process ends: writers on other threads may use a link
    // while static objects are destroyed.
    static std::mutex* sLock = new std::mutex;
    static auto* sLinks = new std::map<std::string, std::shared_ptr<RedisLink>>;
    const std::string key = address.HostAndPort() + "/" + std::to_string(address.database) + "\n" + address.password;
    std::lock_guard<std::mutex> guard(*sLock);
    std::shared_ptr<RedisLink>& link = (*sLinks)[key];
    if (!link) link = std::make_shared<RedisLink>(address, eventSource);
    return link;
}

struct RedisLink::Names {
    std::mutex lock;
    std::condition_variable answered;
    std::vector<std::string> addresses;  // the last answer; kept while a new one is sought
    std::string error;                   // why the last resolution found nothing
    bool resolving = false;
    bool stale = false;  // no address could be connected to: the name is resolved again
};

RedisLink::RedisLink(RedisAddress address, std::string eventSource)
    : mAddress(std::move(address)),
      mEventSource(std::move(eventSource)),
      mHostIsAddress(IsNumericAddress(mAddress.host)),
      mNames(std::make_shared<Names>()) {}

RedisLink::~RedisLink() = default;

void RedisLink::Resolve() {
    if (mNames->resolving) return;
    mNames->resolving = true;
    mNames->stale = false;
    try {
        std::thread([names = mNames, host = mAddress.host] {
            std::vector<std::string> addresses;
            std::string error;
            const bool found = ResolveName(host, &addresses, &error);
            std::lock_guard<std::mutex> guard(names->lock);
            if (found) names->addresses = std::move(addresses);
            names->error = error;
            names->resolving = false;
            names->answered.notify_all();
        }).detach();
    } catch (const std::system_error& error) {
        mNames->resolving = false;
        mNames->error = std::string("no thread to resolve the name: ") + error.what();
    }
}

std::vector<std::string> RedisLink::Addresses(Failure* failure) {
    if (mHostIsAddress) return {mAddress.host};
    std::unique_lock<std::mutex> guard(mNames->lock);
    if (mNames->addresses.empty() || mNames->stale) Resolve();
    if (mNames->addresses.empty())
        mNames->answered.wait_for(guard, kCommandTimeout, [this] { return !mNames->resolving; });
    if (mNames->addresses.empty()) {
        failure->late = mNames->resolving;
        failure->reason = failure->late ? "the name " + mAddress.host + " is not resolved within " +
                                              std::to_string(kCommandTimeout.count()) + " ms"
                                        : mNames->error;
    }
    return mNames->addresses;
}

RedisLink::Connection RedisLink::Connect(Failure* failure) {
    const std::vector<std::string> addresses = Addresses(failure);
    for (const std::string& address : addresses) {
        if (Connection connection = ConnectTo(address, failure)) return connection;
        if (failure->late) return nullptr;  // an answer too late from one address uses up the time
    }
    if (!addresses.empty() && !mHostIsAddress) {
        std::lock_guard<std::mutex> guard(mNames->lock);
        mNames->stale = true;  // the server may have moved
    }
    return nullptr;
}

RedisLink::Connection RedisLink::ConnectTo(const std::string& address, Failure* failure) {
    const timeval timeout{0, static_cast<suseconds_t>(kCommandTimeout.count() * 1000)};
    Connection connection(redisConnectWithTimeout(address.c_str(), mAddress.port, timeout));
    if (!connection) {
        failure->reason = "no memory for a connection";
        return nullptr;
    }
    if (connection->err || redisSetTimeout(connection.get(), timeout) != REDIS_OK) {
        failure->reason = connection->errstr;
        return nullptr;
    }
    std::vector<RedisCommand> opening;
    if (!mAddress.password.empty()) opening.push_back({"AUTH", mAddress.password});
    if (mAddress.database != 0) opening.push_back({"SELECT", std::to_string(mAddress.database)});
    std::vector<RedisReply> replies;
    if (!Exchange(connection.get(), opening, &replies, failure)) return nullptr;
    for (size_t i = 0; i < replies.size(); ++i) {
        if (replies[i].kind == RedisReply::Kind::Error) {
            failure->reason = opening[i][0] + " refused: " + replies[i].text;
            return nullptr;
        }
    }
    return connection;
}

RedisLink::Connection RedisLink::Take(Failure* failure) {
    {
        std::lock_guard<std::mutex> guard(mLock);
        if (mDown.load()) {
            if (Clock::now() < mRetryAt || mProbing) return nullptr;
            mProbing = true;
        }
        if (!mIdle.empty()) {
            Connection idle = std::move(mIdle.back());
            mIdle.pop_back();
            return idle;
        }
    }
    Connection connection = Connect(failure);
    if (!connection) Failed(*failure);
    return connection;
}

void RedisLink::GiveBack(Connection connection) {
    std::lock_guard<std::mutex> guard(mLock);
    if (mIdle.size() < kMostIdle) mIdle.push_back(std::move(connection));
}

void RedisLink::Failed(const Failure& failure) {
    bool outageStarts = false;
    {
        std::lock_guard<std::mutex> guard(mLock);
        // A connection lost or refused, unlike a late answer, may be a
        // restarted server that lost what it held.
        if (!failure.late) mMayHaveRestarted = true;
        // The failed connection is dropped; the next command tries another.
        if (!mDown.load() && ++mFailuresInARow < kFailuresForOutage) return;
        if (!mDown.load()) {
            outageStarts = true;
            mBackOff = kFirstBackOff;
            mDown = true;
            ++mOutages;
        } else {
            mBackOff = std::min(mBackOff * 2, kLongestBackOff);
        }
        mRetryAt = Clock::now() + mBackOff;
        mProbing = false;
        mIdle.clear();  // connections made before the outage are as good as gone
    }
    if (outageStarts)
        LogOutage(mEventSource, "Redis at " + mAddress.HostAndPort() + " cannot be reached (" + failure.reason +
                                    "). Uploads go on; shared upload progress answers \"Connecting...\" until it "
                                    "is back, tried again after 0.1 s, then after pauses growing to 2 s.");
}

void RedisLink::Succeeded() {
    if (mFailuresInARow.load() == 0 && !mDown.load()) return;
    std::lock_guard<std::mutex> guard(mLock);
    mFailuresInARow = 0;
    if (mDown.load() || mMayHaveRestarted) ++mRecoveries;
    mMayHaveRestarted = false;
    mDown = false;
    mProbing = false;
    mBackOff = kFirstBackOff;
}

bool RedisLink::Run(const std::vector<RedisCommand>& commands, std::vector<RedisReply>* replies) {
    Failure failure;
    Connection connection = Take(&failure);
    if (!connection) return false;
    if (!Exchange(connection.get(), commands, replies, &failure)) {
        Failed(failure);  // a connection that timed out may still get the late answer: it is dropped
        return false;
    }
    GiveBack(std::move(connection));
    Succeeded();
    return true;
}

bool RedisLink::Run(const RedisCommand& command, RedisReply* reply) {
    std::vector<RedisReply> replies;
    if (!Run(std::vector<RedisCommand>{command}, &replies)) return false;
    *reply = std::move(replies.front());
    return true;
}

}  // namespace platform
