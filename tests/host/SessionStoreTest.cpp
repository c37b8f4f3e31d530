// The ends of sessions kept in memory, as the site's Session_OnEnd hears of
// them: once each, and never while a request still holds the session.
#include <gtest/gtest.h>

#include <thread>

#include "script/SessionStore.h"

namespace {

using script::SessionStore;

TEST(SessionStore, EachSessionEndsOnceAndOnlyWhenNoRequestHoldsIt) {
    SessionStore store(2);
    std::vector<long> ended;
    store.onEnd([&](const std::shared_ptr<SessionStore::Session>& session) { ended.push_back(session->id); });
    std::string error, first, second, third;
    auto one = store.find(&first, "", &error);
    store.release(first, one);
    auto two = store.find(&second, "", &error);
    store.release(second, two);
    // A third session pushes out the least recently used.
    auto three = store.find(&third, "", &error);
    ASSERT_TRUE(one && two && three) << error;
    EXPECT_EQ(ended, std::vector<long>{one->id});
    // Abandoned while its request runs: it ends when the request gives it back.
    store.abandon(third, *three);
    EXPECT_EQ(ended.size(), 1u);
    store.release(third, three);
    EXPECT_EQ(ended, (std::vector<long>{one->id, three->id}));
    // Idle past its timeout: ended by the next sweep, once.
    two->timeout = std::chrono::minutes(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    store.sweep();
    store.sweep();
    EXPECT_EQ(ended, (std::vector<long>{one->id, three->id, two->id}));
    // A visitor who comes back after the end gets a new session.
    std::string again = second;
    auto renewed = store.find(&again, "", &error);
    ASSERT_TRUE(renewed);
    EXPECT_NE(again, second);
    EXPECT_NE(renewed->id, two->id);
}

}  // namespace
