// A link to one Redis server that several server processes share, for what
// they must agree on (upload progress, the IDs handed to visitors).
//
// What depends on Redis must never wait on it: every command has 50 ms to
// answer (and to resolve the server's name), after which its connection is
// abandoned. A second failure in a row starts an outage (one late answer on
// a busy machine is not one): one event-log entry, then no attempt at all
// until the back-off (100 ms, doubling to 2 s) has passed, so callers get
// their failure at once and carry on without Redis.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct redisContext;

namespace platform {

// Where a Redis server is: "redis://[:password@]host[:port][/database]".
struct RedisAddress {
    std::string host;
    int port = 6379;
    int database = 0;
    std::string password;

    // False with the reason when the text is not such an address.
    static bool Parse(const std::string& text, RedisAddress* address, std::string* error);
    std::string HostAndPort() const;
};

// One reply, as far as the callers need: integers, texts and nil, and the
// arrays of them that HMGET and friends answer.
struct RedisReply {
    enum class Kind { Nil, Integer, Text, Status, Error, Array };
    Kind kind = Kind::Nil;
    long long integer = 0;
    std::string text;  // Text, Status and Error
    std::vector<RedisReply> elements;
};

using RedisCommand = std::vector<std::string>;

class RedisLink {
public:
    static constexpr std::chrono::milliseconds kCommandTimeout{50};
    static constexpr std::chrono::milliseconds kFirstBackOff{100};
    static constexpr std::chrono::milliseconds kLongestBackOff{2000};
    // Connections kept open between commands; more are made while more
    // threads need one at once, and closed again after use.
    static constexpr size_t kMostIdle = 4;
    static constexpr int kFailuresForOutage = 2;

    // The process's link to the address, made at the first call; entries of
    // its outages go to the event log under `eventSource`.
    static std::shared_ptr<RedisLink> Shared(const RedisAddress& address, const std::string& eventSource);

    RedisLink(RedisAddress address, std::string eventSource);
    ~RedisLink();
    RedisLink(const RedisLink&) = delete;
    RedisLink& operator=(const RedisLink&) = delete;

    // Sends the commands in one round trip and collects their replies. False,
    // at once, during an outage's back-off; false when the server cannot be
    // reached or takes longer than the timeout (which may start an outage).
    // A reply of kind Error is an answer, not a failure of the link.
    bool Run(const std::vector<RedisCommand>& commands, std::vector<RedisReply>* replies);
    bool Run(const RedisCommand& command, RedisReply* reply);

    // A command the server answered with an error (a full Redis refuses
    // writes rather than evicting): one event-log entry a minute at most.
    void ReportRefusal(const std::string& reply);

    // Whether the last attempt reached the server.
    bool Reachable() const { return !mDown.load(); }
    // Outages seen so far; one event-log entry each.
    uint64_t Outages() const { return mOutages.load(); }
    // Rises each time the server is reached again after an outage or a lost
    // connection, so that writers know to write again what Redis may have lost.
    uint64_t Recoveries() const { return mRecoveries.load(); }
    const RedisAddress& Address() const { return mAddress; }

    struct Failure {
        std::string reason;
        bool late = false;  // no answer in time, as opposed to a connection lost or refused
    };

private:
    using Clock = std::chrono::steady_clock;
    struct ContextDeleter {
        void operator()(redisContext* context) const;
    };
    using Connection = std::unique_ptr<redisContext, ContextDeleter>;
    // What the host name resolved to last; kept apart from the link so that
    // a resolution still running when the link goes can finish.
    struct Names;

    // An idle connection, or a new one; null during the back-off or when
    // the server cannot be reached.
    Connection Take(Failure* failure);
    void GiveBack(Connection connection);
    Connection Connect(Failure* failure);
    Connection ConnectTo(const std::string& address, Failure* failure);
    // Where to connect: the host itself when it is an address. A name is
    // resolved on a thread of its own, since the resolver keeps no time
    // limit; a command waits for it at most its own timeout, and later ones
    // use the last answer while a new one is sought.
    std::vector<std::string> Addresses(Failure* failure);
    void Resolve();  // with mNames locked
    void Failed(const Failure& failure);
    void Succeeded();

    const RedisAddress mAddress;
    const std::string mEventSource;
    const bool mHostIsAddress;
    const std::shared_ptr<Names> mNames;

    std::mutex mLock;  // guards the idle connections and the back-off
    std::vector<Connection> mIdle;
    Clock::time_point mRetryAt{};
    std::chrono::milliseconds mBackOff{kFirstBackOff};
    bool mProbing = false;  // one caller tries the server when the back-off ends
    bool mMayHaveRestarted = false;

    std::atomic<bool> mDown{false};
    std::atomic<int> mFailuresInARow{0};
    std::atomic<uint64_t> mOutages{0};
    std::atomic<uint64_t> mRecoveries{0};
    std::atomic<int64_t> mLastRefusalLogged{0};  // seconds of the steady clock
};

}  // namespace platform
