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

bool ParseNumber(const std::string& inText, long inLowest, long inHighest, long* outValue) {
    if (inText.empty() || inText.size() > 9 || inText.find_first_not_of("0123456789") != std::string::npos)
        return false;
    *outValue = std::strtol(inText.c_str(), nullptr, 10);
    return *outValue >= inLowest && *outValue <= inHighest;
}

RedisReply Convert(const redisReply* inReply) {
    RedisReply theReply;
    switch (inReply->type) {
        case REDIS_REPLY_INTEGER:
            theReply.kind = RedisReply::Kind::Integer;
            theReply.integer = inReply->integer;
            break;
        case REDIS_REPLY_STRING:
        case REDIS_REPLY_STATUS:
        case REDIS_REPLY_ERROR:
            theReply.kind = inReply->type == REDIS_REPLY_STRING   ? RedisReply::Kind::Text
                            : inReply->type == REDIS_REPLY_STATUS ? RedisReply::Kind::Status
                                                                  : RedisReply::Kind::Error;
            theReply.text.assign(inReply->str, inReply->len);
            break;
        case REDIS_REPLY_ARRAY:
            theReply.kind = RedisReply::Kind::Array;
            for (size_t i = 0; i < inReply->elements; ++i) theReply.elements.push_back(Convert(inReply->element[i]));
            break;
        default:
            break;  // nil
    }
    return theReply;
}

// Sends the commands in one round trip and reads their replies.
bool Exchange(redisContext* inConnection, const std::vector<RedisCommand>& inCommands,
              std::vector<RedisReply>* outReplies, RedisLink::Failure* outFailure) {
    for (const RedisCommand& theCommand : inCommands) {
        std::vector<const char*> theArguments;
        std::vector<size_t> theLengths;
        for (const std::string& theArgument : theCommand) {
            theArguments.push_back(theArgument.data());
            theLengths.push_back(theArgument.size());
        }
        redisAppendCommandArgv(inConnection, static_cast<int>(theArguments.size()), theArguments.data(),
                               theLengths.data());
    }
    outReplies->clear();
    for (size_t i = 0; i < inCommands.size(); ++i) {
        void* theReply = nullptr;
        errno = 0;
        if (redisGetReply(inConnection, &theReply) != REDIS_OK || !theReply) {
            outFailure->late = errno == EAGAIN || errno == EWOULDBLOCK;
            outFailure->reason = outFailure->late
                                     ? "no answer within " + std::to_string(RedisLink::kCommandTimeout.count()) + " ms"
                                     : std::string(inConnection->errstr);
            return false;
        }
        outReplies->push_back(Convert(static_cast<redisReply*>(theReply)));
        freeReplyObject(theReply);
    }
    return true;
}

bool IsNumericAddress(const std::string& inHost) {
    addrinfo theHints{};
    theHints.ai_flags = AI_NUMERICHOST;
    addrinfo* theFound = nullptr;
    const bool theNumeric = getaddrinfo(inHost.c_str(), nullptr, &theHints, &theFound) == 0;
    if (theFound) freeaddrinfo(theFound);
    return theNumeric;
}

// The name's addresses as numeric texts, in the resolver's order; a few
// suffice (a name for this machine has one per address family).
bool ResolveName(const std::string& inHost, std::vector<std::string>* outAddresses, std::string* outError) {
    constexpr size_t kMostAddresses = 4;
    addrinfo theHints{};
    theHints.ai_socktype = SOCK_STREAM;
    addrinfo* theFound = nullptr;
    const int theResult = getaddrinfo(inHost.c_str(), nullptr, &theHints, &theFound);
    if (theResult != 0) {
        *outError = "the name " + inHost + " cannot be resolved: " + gai_strerror(theResult);
        return false;
    }
    outAddresses->clear();
    for (const addrinfo* theEntry = theFound; theEntry && outAddresses->size() < kMostAddresses;
         theEntry = theEntry->ai_next) {
        char theText[NI_MAXHOST];
        if (getnameinfo(theEntry->ai_addr, theEntry->ai_addrlen, theText, sizeof theText, nullptr, 0,
                        NI_NUMERICHOST) == 0)
            outAddresses->push_back(theText);
    }
    freeaddrinfo(theFound);
    if (outAddresses->empty()) *outError = "the name " + inHost + " has no address";
    return !outAddresses->empty();
}

void LogOutage(const std::string& inSource, const std::string& inText) {
    HANDLE theLog = RegisterEventSourceA(nullptr, inSource.c_str());
    if (!theLog) return;
    LPCSTR theStrings[] = {inText.c_str()};
    ReportEventA(theLog, EVENTLOG_WARNING_TYPE, 1, 0x1000, nullptr, 1, 0, theStrings, nullptr);
    DeregisterEventSource(theLog);
}

}  // namespace

void RedisLink::ReportRefusal(const std::string& inReply) {
    const int64_t theNow = std::chrono::duration_cast<std::chrono::seconds>(Clock::now().time_since_epoch()).count();
    int64_t theLast = mLastRefusalLogged.load();
    if (theLast != 0 && theNow - theLast < 60) return;
    if (!mLastRefusalLogged.compare_exchange_strong(theLast, theNow)) return;
    LogOutage(mEventSource, "Redis at " + mAddress.HostAndPort() + " refused a command (" + inReply + ")");
}

bool RedisAddress::Parse(const std::string& inText, RedisAddress* outAddress, std::string* outError) {
    static const std::string kScheme = "redis://";
    RedisAddress theAddress;
    auto fail = [&](const std::string& inWhy) {
        *outError = "\"" + inText + "\" is not a Redis address (redis://[:password@]host[:port][/database]): " + inWhy;
        return false;
    };
    if (inText.compare(0, kScheme.size(), kScheme) != 0) return fail("it does not start with redis://");
    std::string theRest = inText.substr(kScheme.size());
    const size_t theAt = theRest.rfind('@');
    if (theAt != std::string::npos) {
        const std::string theUser = theRest.substr(0, theAt);
        if (theUser.empty() || theUser[0] != ':') return fail("only a password may come before @, after a colon");
        theAddress.password = theUser.substr(1);
        theRest.erase(0, theAt + 1);
    }
    const size_t theSlash = theRest.find('/');
    if (theSlash != std::string::npos) {
        long theDatabase = 0;
        if (!ParseNumber(theRest.substr(theSlash + 1), 0, 1000000, &theDatabase))
            return fail("the database is not a number");
        theAddress.database = static_cast<int>(theDatabase);
        theRest.erase(theSlash);
    }
    size_t theColon = theRest.rfind(':');
    const bool theIPv6 = !theRest.empty() && theRest[0] == '[';
    if (theIPv6) {  // [IPv6]:port
        const size_t theClose = theRest.find(']');
        if (theClose == std::string::npos) return fail("an IPv6 address lacks its ]");
        theAddress.host = theRest.substr(1, theClose - 1);
        theColon = theClose + 1 < theRest.size() && theRest[theClose + 1] == ':' ? theClose + 1 : std::string::npos;
        if (theColon == std::string::npos && theClose + 1 != theRest.size()) return fail("text after the ]");
    } else {
        theAddress.host = theRest.substr(0, theColon);
    }
    if (theColon != std::string::npos) {
        long thePort = 0;
        if (!ParseNumber(theRest.substr(theColon + 1), 1, 65535, &thePort)) return fail("the port is not 1 to 65535");
        theAddress.port = static_cast<int>(thePort);
    }
    if (theAddress.host.empty()) return fail("no host");
    // A name or IPv4 address; an IPv6 address (with its zone) only in brackets.
    for (const char c : theAddress.host) {
        const bool theAlphanumeric = std::isalnum(static_cast<unsigned char>(c)) != 0;
        const bool theFits = theIPv6 ? theAlphanumeric || c == ':' || c == '.' || c == '%'
                                     : theAlphanumeric || c == '.' || c == '-' || c == '_';
        if (!theFits) return fail("the host has a character no host name has");
    }
    if (theIPv6 && theAddress.host.find(':') == std::string::npos) return fail("no IPv6 address in the brackets");
    *outAddress = theAddress;
    return true;
}

std::string RedisAddress::HostAndPort() const {
    const bool theIPv6 = host.find(':') != std::string::npos;
    return (theIPv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

void RedisLink::ContextDeleter::operator()(redisContext* inContext) const { redisFree(inContext); }

std::shared_ptr<RedisLink> RedisLink::Shared(const RedisAddress& inAddress, const std::string& inEventSource) {
    // Kept until the process ends: writers on other threads may use a link
    // while static objects are destroyed.
    static std::mutex* sLock = new std::mutex;
    static auto* sLinks = new std::map<std::string, std::shared_ptr<RedisLink>>;
    const std::string theKey = inAddress.HostAndPort() + "/" + std::to_string(inAddress.database) + "\n" +
                               inAddress.password;
    std::lock_guard<std::mutex> theGuard(*sLock);
    std::shared_ptr<RedisLink>& theLink = (*sLinks)[theKey];
    if (!theLink) theLink = std::make_shared<RedisLink>(inAddress, inEventSource);
    return theLink;
}

struct RedisLink::Names {
    std::mutex lock;
    std::condition_variable answered;
    std::vector<std::string> addresses;  // the last answer; kept while a new one is sought
    std::string error;                   // why the last resolution found nothing
    bool resolving = false;
    bool stale = false;  // no address could be connected to: the name is resolved again
};

RedisLink::RedisLink(RedisAddress inAddress, std::string inEventSource)
    : mAddress(std::move(inAddress)),
      mEventSource(std::move(inEventSource)),
      mHostIsAddress(IsNumericAddress(mAddress.host)),
      mNames(std::make_shared<Names>()) {}

RedisLink::~RedisLink() = default;

void RedisLink::Resolve() {
    if (mNames->resolving) return;
    mNames->resolving = true;
    mNames->stale = false;
    try {
        std::thread([theNames = mNames, theHost = mAddress.host] {
            std::vector<std::string> theAddresses;
            std::string theError;
            const bool theFound = ResolveName(theHost, &theAddresses, &theError);
            std::lock_guard<std::mutex> theGuard(theNames->lock);
            if (theFound) theNames->addresses = std::move(theAddresses);
            theNames->error = theError;
            theNames->resolving = false;
            theNames->answered.notify_all();
        }).detach();
    } catch (const std::system_error& theError) {
        mNames->resolving = false;
        mNames->error = std::string("no thread to resolve the name: ") + theError.what();
    }
}

std::vector<std::string> RedisLink::Addresses(Failure* outFailure) {
    if (mHostIsAddress) return {mAddress.host};
    std::unique_lock<std::mutex> theGuard(mNames->lock);
    if (mNames->addresses.empty() || mNames->stale) Resolve();
    if (mNames->addresses.empty())
        mNames->answered.wait_for(theGuard, kCommandTimeout, [this] { return !mNames->resolving; });
    if (mNames->addresses.empty()) {
        outFailure->late = mNames->resolving;
        outFailure->reason = outFailure->late ? "the name " + mAddress.host + " is not resolved within " +
                                                    std::to_string(kCommandTimeout.count()) + " ms"
                                              : mNames->error;
    }
    return mNames->addresses;
}

RedisLink::Connection RedisLink::Connect(Failure* outFailure) {
    const std::vector<std::string> theAddresses = Addresses(outFailure);
    for (const std::string& theAddress : theAddresses) {
        if (Connection theConnection = ConnectTo(theAddress, outFailure)) return theConnection;
        if (outFailure->late) return nullptr;  // an answer too late from one address uses up the time
    }
    if (!theAddresses.empty() && !mHostIsAddress) {
        std::lock_guard<std::mutex> theGuard(mNames->lock);
        mNames->stale = true;  // the server may have moved
    }
    return nullptr;
}

RedisLink::Connection RedisLink::ConnectTo(const std::string& inAddress, Failure* outFailure) {
    const timeval theTimeout{0, static_cast<suseconds_t>(kCommandTimeout.count() * 1000)};
    Connection theConnection(redisConnectWithTimeout(inAddress.c_str(), mAddress.port, theTimeout));
    if (!theConnection) {
        outFailure->reason = "no memory for a connection";
        return nullptr;
    }
    if (theConnection->err || redisSetTimeout(theConnection.get(), theTimeout) != REDIS_OK) {
        outFailure->reason = theConnection->errstr;
        return nullptr;
    }
    std::vector<RedisCommand> theOpening;
    if (!mAddress.password.empty()) theOpening.push_back({"AUTH", mAddress.password});
    if (mAddress.database != 0) theOpening.push_back({"SELECT", std::to_string(mAddress.database)});
    std::vector<RedisReply> theReplies;
    if (!Exchange(theConnection.get(), theOpening, &theReplies, outFailure)) return nullptr;
    for (size_t i = 0; i < theReplies.size(); ++i) {
        if (theReplies[i].kind == RedisReply::Kind::Error) {
            outFailure->reason = theOpening[i][0] + " refused: " + theReplies[i].text;
            return nullptr;
        }
    }
    return theConnection;
}

RedisLink::Connection RedisLink::Take(Failure* outFailure) {
    {
        std::lock_guard<std::mutex> theGuard(mLock);
        if (mDown.load()) {
            if (Clock::now() < mRetryAt || mProbing) return nullptr;
            mProbing = true;
        }
        if (!mIdle.empty()) {
            Connection theConnection = std::move(mIdle.back());
            mIdle.pop_back();
            return theConnection;
        }
    }
    Connection theConnection = Connect(outFailure);
    if (!theConnection) Failed(*outFailure);
    return theConnection;
}

void RedisLink::GiveBack(Connection inConnection) {
    std::lock_guard<std::mutex> theGuard(mLock);
    if (mIdle.size() < kMostIdle) mIdle.push_back(std::move(inConnection));
}

void RedisLink::Failed(const Failure& inFailure) {
    bool theOutageStarts = false;
    {
        std::lock_guard<std::mutex> theGuard(mLock);
        // A connection lost or refused, unlike a late answer, may be a
        // restarted server that lost what it held.
        if (!inFailure.late) mMayHaveRestarted = true;
        // The failed connection is dropped; the next command tries another.
        if (!mDown.load() && ++mFailuresInARow < kFailuresForOutage) return;
        if (!mDown.load()) {
            theOutageStarts = true;
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
    if (theOutageStarts)
        LogOutage(mEventSource, "Redis at " + mAddress.HostAndPort() + " cannot be reached (" + inFailure.reason +
                                    "). Uploads go on; shared upload progress answers \"Connecting...\" until it "
                                    "is back, tried again after 0.1 s, then after pauses growing to 2 s.");
}

void RedisLink::Succeeded() {
    if (mFailuresInARow.load() == 0 && !mDown.load()) return;
    std::lock_guard<std::mutex> theGuard(mLock);
    mFailuresInARow = 0;
    if (mDown.load() || mMayHaveRestarted) ++mRecoveries;
    mMayHaveRestarted = false;
    mDown = false;
    mProbing = false;
    mBackOff = kFirstBackOff;
}

bool RedisLink::Run(const std::vector<RedisCommand>& inCommands, std::vector<RedisReply>* outReplies) {
    Failure theFailure;
    Connection theConnection = Take(&theFailure);
    if (!theConnection) return false;
    if (!Exchange(theConnection.get(), inCommands, outReplies, &theFailure)) {
        Failed(theFailure);  // a connection that timed out may still get the late answer: it is dropped
        return false;
    }
    GiveBack(std::move(theConnection));
    Succeeded();
    return true;
}

bool RedisLink::Run(const RedisCommand& inCommand, RedisReply* outReply) {
    std::vector<RedisReply> theReplies;
    if (!Run(std::vector<RedisCommand>{inCommand}, &theReplies)) return false;
    *outReply = std::move(theReplies.front());
    return true;
}

}  // namespace platform
