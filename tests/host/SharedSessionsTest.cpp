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
    SharedSessions sessions(std::make_shared<platform::RedisLink>(redis.address(), "SessionTest"));
    std::string token, error;
    SessionStore::Session first;
    ASSERT_TRUE(sessions.take(&token, &first, &error)) << error;
    PutNumber(first, u"n", 1);
    sessions.give(token, first, false);

    // A slow request holds the session; its hold runs out (taken away here).
    SessionStore::Session slow;
    std::string same = token;
    ASSERT_TRUE(sessions.take(&same, &slow, &error)) << error;
    ASSERT_EQ(same, token);
    EXPECT_EQ(Number(slow, u"n"), 1);
    redis.command({"DEL", "formix4:session:" + token + ":lock"});
    SessionStore::Session later;
    ASSERT_TRUE(sessions.take(&same, &later, &error)) << error;
    PutNumber(later, u"n", 2);
    sessions.give(token, later, false);
    PutNumber(slow, u"n", 99);
    sessions.give(token, slow, false);  // too late: not its hold any more

    SessionStore::Session last;
    ASSERT_TRUE(sessions.take(&same, &last, &error)) << error;
    EXPECT_EQ(Number(last, u"n"), 2);
    sessions.give(token, last, true);  // abandoned
    SessionStore::Session fresh;
    ASSERT_TRUE(sessions.take(&same, &fresh, &error)) << error;
    EXPECT_NE(same, token);
    EXPECT_EQ(fresh.values->count(), 0u);
}
