// Sessions kept in Redis, for a site on several servers behind a balancer:
// a visitor's next request may reach any of them. A request takes its
// session (waiting while another request of the same session holds it, on
// whichever server: classic servers run a session's requests one at a
// time), reads its values, and gives it back at its end with the values it
// left, which live for the session's timeout.
//
// Keys: "formix4:session:<token>" holds the session, encoded; a
// "...:lock" key beside it names the request that holds it (for at most two
// minutes, so that a server that died holding it does not keep it);
// "formix4:session:ids" counts the sessions' numbers;
// "formix4:session-makers:<address>" lists the sessions a client address
// made, newest last, for as long as a session lives.
#pragma once

#include <memory>
#include <string>

#include "platform/RedisLink.h"
#include "script/SessionStore.h"

namespace script {

class SharedSessions {
public:
    // A client address keeps at most `perAddress` sessions: a new one past
    // that removes the oldest it made.
    SharedSessions(std::shared_ptr<platform::RedisLink> link, size_t perAddress)
        : mLink(std::move(link)), mPerAddress(perAddress) {}

    // Takes the session of *token for this request, or makes a new one for
    // the client at `address` (its token in *token) when there is none;
    // false with a reason when Redis cannot be reached or the session stays
    // held by another request.
    bool take(std::string* token, const std::string& address, SessionStore::Session* session, std::string* error);
    // Writes the session back (or removes it when abandoned) and lets the
    // next request of it in; a new session is listed with its client's.
    void give(const std::string& token, const SessionStore::Session& session, bool abandoned);

    // The session as kept: its number, timeout and values (texts, numbers,
    // booleans, dates, Empty and Null), each value's bytes as they stand,
    // then its code page and locale.
    static std::string Encode(const SessionStore::Session& session);
    static bool Decode(const std::string& encoded, SessionStore::Session* session);

private:
    std::string where() const;

    std::shared_ptr<platform::RedisLink> mLink;
    size_t mPerAddress;
};

}  // namespace script
