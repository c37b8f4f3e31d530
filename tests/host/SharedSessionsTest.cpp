// Sessions kept in Redis, against a real Redis: one request of a session at
// a time, and a request that outlived its hold on the session writes nothing
// over what a later request saved.
#include <gtest/gtest.h>

#include "RedisServer.h"
#include "platform/ComPtr.h"
#include "script/SharedSessions.h"

using script::SessionStore;
using script::SharedSessions;

namespace {

void PutNumber(SessionStore::Session& session, const std::u16string& name, long number) {
    platform::Variant value;
    value.vt = VT_I4;
    value.lVal = number;
    ASSERT_EQ(session.values->put(name, value), S_OK);
}

long Number(SessionStore::Session& session, const std::u16string& name) {
    platform::Variant value;
    session.values->get(name, &value);
    return value.vt == VT_I4 ? value.lVal : -1;
}

}  // namespace

TEST(SharedSessions, ARequestThatOutlivedItsHoldWritesNothing) {
    RedisServer redis;
    SharedSessions sessions(std::make_shared<platform::RedisLink>(redis.address(), "SessionTest"), 100);
    std::string token, error;
    SessionStore::Session first;
    ASSERT_TRUE(sessions.take(&token, "", &first, &error)) << error;
    PutNumber(first, u"n", 1);
    sessions.give(token, first, false);

    // A slow request holds the session; its hold runs out (taken away here).
    SessionStore::Session slow;
    std::string same = token;
    ASSERT_TRUE(sessions.take(&same, "", &slow, &error)) << error;
    ASSERT_EQ(same, token);
    EXPECT_EQ(Number(slow, u"n"), 1);
    redis.command({"DEL", "formix4:session:" + token + ":lock"});
    SessionStore::Session later;
    ASSERT_TRUE(sessions.take(&same, "", &later, &error)) << error;
    PutNumber(later, u"n", 2);
    sessions.give(token, later, false);
    PutNumber(slow, u"n", 99);
    sessions.give(token, slow, false);  // too late: not its hold any more

    SessionStore::Session last;
    ASSERT_TRUE(sessions.take(&same, "", &last, &error)) << error;
    EXPECT_EQ(Number(last, u"n"), 2);
    sessions.give(token, last, true);  // abandoned
    SessionStore::Session fresh;
    ASSERT_TRUE(sessions.take(&same, "", &fresh, &error)) << error;
    EXPECT_NE(same, token);
    EXPECT_EQ(fresh.values->count(), 0u);
}

// A client address keeps a share of the sessions: its sixth new session
// removes the first it made, and another client's stays.
TEST(SharedSessions, OneClientKeepsOnlyItsShare) {
    RedisServer redis;
    SharedSessions sessions(std::make_shared<platform::RedisLink>(redis.address(), "SessionTest"), 5);
    const auto make = [&](const std::string& address, long number) {
        std::string token, error;
        SessionStore::Session session;
        EXPECT_TRUE(sessions.take(&token, address, &session, &error)) << error;
        PutNumber(session, u"n", number);
        sessions.give(token, session, false);
        return token;
    };
    const auto kept = [&](std::string token) {
        std::string error;
        SessionStore::Session session;
        const std::string asked = token;
        EXPECT_TRUE(sessions.take(&token, "", &session, &error)) << error;
        sessions.give(token, session, false);
        return token == asked && Number(session, u"n") >= 0;
    };
    const std::string other = make("198.51.100.7", 0);
    std::vector<std::string> tokens;
    for (int i = 1; i <= 6; ++i) tokens.push_back(make("203.0.113.9", i));
    EXPECT_FALSE(kept(tokens[0]));
    for (int i = 1; i < 6; ++i) EXPECT_TRUE(kept(tokens[i])) << i;
    EXPECT_TRUE(kept(other));
}

// The session's code page and locale travel with it; a session kept before
// they existed reads with neither, and a code page no server knows is no
// session.
TEST(SharedSessions, CodePageAndLocaleAreKept) {
    SessionStore::Session session;
    session.id = 7;
    PutNumber(session, u"n", 3);
    session.codePage = 1252;
    session.lcid = 1031;
    const std::string encoded = SharedSessions::Encode(session);
    SessionStore::Session read;
    ASSERT_TRUE(SharedSessions::Decode(encoded, &read));
    EXPECT_EQ(read.codePage, 1252u);
    EXPECT_EQ(read.lcid, 1031u);
    EXPECT_EQ(Number(read, u"n"), 3);

    const std::string older = encoded.substr(0, encoded.size() - std::string("4:12524:1031").size());
    SessionStore::Session old;
    ASSERT_TRUE(SharedSessions::Decode(older, &old));
    EXPECT_EQ(old.codePage, 0u);
    EXPECT_EQ(old.lcid, 1033u);
    EXPECT_EQ(Number(old, u"n"), 3);

    SessionStore::Session refused;
    EXPECT_FALSE(SharedSessions::Decode(older + "5:123454:1031", &refused));
    EXPECT_FALSE(SharedSessions::Decode(older + "1:04:9999", &refused));
}
