#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "ProgressStore.h"
#include "TestSupport.h"
#include "XProgress.h"
#include "platform/ComPtr.h"

using namespace testing_support;

namespace {

uint32_t gNow = 0;
uint32_t FakeClock() { return gNow; }

ProgressReading Reading(int32_t done, int32_t total, uint32_t elapsed, bool finished) {
    ProgressReading r;
    r.bytesDone = done;
    r.bytesTotal = total;
    r.elapsedMs = elapsed;
    r.finished = finished;
    return r;
}

}  // namespace

TEST(Progress, DerivedValuesFollowTheWatchersArithmetic) {
    EXPECT_EQ(XProgress::PercentDone(Reading(500, 1000, 0, false)), 47);
    EXPECT_EQ(XProgress::PercentDone(Reading(1000, 1000, 0, false)), 95);
    EXPECT_EQ(XProgress::PercentDone(Reading(1000, 1000, 0, true)), 100);
    EXPECT_EQ(XProgress::PercentDone(Reading(0, 0, 0, true)), 100);
    EXPECT_EQ(XProgress::PercentDone(Reading(0, 0, 0, false)), 0);
    EXPECT_EQ(XProgress::BytesPerSecond(Reading(1000, 0, 1000, false)), 999);  // single-precision 0.001
    EXPECT_EQ(XProgress::BytesPerSecond(Reading(1000, 0, 0, false)), 0);
    EXPECT_EQ(XProgress::SecondsLeft(Reading(1000, 2000, 1000, false)), 1);
    EXPECT_EQ(XProgress::SecondsLeft(Reading(1000, 3000, 1000, false)), 2);
    EXPECT_EQ(XProgress::SecondsLeft(Reading(0, 3000, 1000, false)), 0);
}

TEST(Progress, NotesAreCleanedAndCut) {
    TempRegistry registry;
    EXPECT_EQ(XProgress::CleanNote("a\"b'c\\d\te\nf\rg h"), "a b c d e f g h");
    const std::string longNote(300, 'x');
    EXPECT_EQ(XProgress::CleanNote(longNote), std::string(259, 'x'));
    ASSERT_EQ(registry.events().size(), 1u);
    EXPECT_NE(registry.events()[0][5].find("(len < inArraySize)"), std::string::npos);
    // In the UTF-8 code page a cut never splits a character: "é" would
    // straddle the 259th byte.
    EXPECT_EQ(XProgress::CleanNote(std::string(258, 'x') + "\xC3\xA9" + std::string(40, 'y')), std::string(258, 'x'));
    EXPECT_EQ(XProgress::CleanNote(std::string(257, 'x') + "\xC3\xA9" + std::string(40, 'y')),
              std::string(257, 'x') + "\xC3\xA9");
}

TEST(Progress, IdsDifferAcrossThreadsAndKeepTheirForm) {
    // Every worker thread's first form must get an ID of its own.
    std::set<int32_t> firsts;
    for (int i = 0; i < 16; ++i) std::thread([&] { firsts.insert(NewProgressId()); }).join();
    EXPECT_EQ(firsts.size(), 16u);
    std::thread([] {
        std::set<int32_t> seen;
        for (int i = 0; i < 10000; ++i) {
            const int32_t id = NewProgressId();
            ASSERT_GT(id, 0);
            ASSERT_EQ(id & 0x8000, 0);  // two 15-bit draws
            seen.insert(id);
        }
        // Random 30-bit IDs: 10,000 of them meet twice about once in twenty
        // runs, so a few repeats are allowed; a generator stuck in a short
        // cycle repeats thousands.
        EXPECT_GE(seen.size(), 9990u);
    }).join();
}

TEST(Progress, StoreRecordsQueriesAndExpiry) {
    gNow = 1000;
    ProgressStore store(&FakeClock);
    ProgressReading unknown = store.QueryRecord(5);
    EXPECT_EQ(unknown.note, "Connecting...");
    EXPECT_FALSE(unknown.started);
    const auto first = store.CreateRecord(5);
    store.CreateRecord(5);  // duplicates: lookups see the first
    store.Counter(5).Set(10, 100);
    store.SetNote(5, "Transferring data...");
    gNow = 3500;
    ProgressReading reading = store.QueryRecord(5);
    EXPECT_EQ(reading.bytesDone, 10);
    EXPECT_EQ(reading.bytesTotal, 100);
    EXPECT_TRUE(reading.started);
    EXPECT_EQ(reading.elapsedMs, 2500u);
    EXPECT_EQ(reading.note, "Transferring data...");
    store.MarkFinished(*first);
    EXPECT_TRUE(store.QueryRecord(5).finished);
    store.SetNote(99, "nobody");  // an unknown ID is ignored
    EXPECT_EQ(store.RecordCount(), 2u);

    // Records untouched for more than a minute go at the next removal,
    // including one that directly follows a removed record.
    store.CreateRecord(6);
    store.CreateRecord(7);
    store.CreateRecord(8);
    gNow += 60001;
    store.Counter(8).Set(1, 1);  // touched: stays
    store.RemoveRecord(6);
    EXPECT_EQ(store.RecordCount(), 1u);
    EXPECT_EQ(store.QueryRecord(8).bytesDone, 1);
    // The tick counter's wrap-around is harmless.
    gNow = 0xFFFFFF00u;
    store.CreateRecord(9);
    gNow = 0x100;
    store.RemoveRecord(42);
    EXPECT_EQ(store.QueryRecord(9).elapsedMs, 0x200u);
    // A record touched just "after" the remover's moment (another thread
    // read the clock later) is young: an upload in progress keeps its record.
    store.Counter(9).Set(5, 10);
    gNow = 0x100 - 3;
    store.RemoveRecord(42);
    EXPECT_EQ(store.QueryRecord(9).bytesDone, 5);
}

TEST(Progress, ACounterCountsWithoutTheStoreAndOutlivesItsRecord) {
    ProgressStore store(&FakeClock);
    gNow = 1000;
    store.CreateRecord(21);
    const ProgressCounter counter = store.Counter(21);
    counter.Set(300, 900);
    ProgressReading reading = store.QueryRecord(21);
    EXPECT_TRUE(reading.started);
    EXPECT_EQ(reading.bytesDone, 300);
    EXPECT_EQ(reading.bytesTotal, 900);
    // Another page takes the ID away mid-upload: the form goes on counting
    // into its own record, and nobody else's figures change.
    store.RemoveRecord(21);
    store.CreateRecord(21);
    counter.Set(600, 900);
    EXPECT_EQ(store.QueryRecord(21).bytesDone, 0);
    store.Counter(404).Set(1, 1);  // no record: counts nothing
    EXPECT_FALSE(store.QueryRecord(404).started);
}

TEST(Progress, TheStoreStaysBoundedWithoutRemovals) {
    // Pages that never set an ID never remove a record: new forms sweep.
    gNow = 5000;
    ProgressStore store(&FakeClock);
    for (int32_t id = 1; id <= 1000; ++id) store.CreateRecord(id);
    gNow += 60001;
    store.CreateRecord(2000);
    EXPECT_EQ(store.RecordCount(), 1u);
    // A record idle for 25 days (past half the tick counter) is old, not young.
    store.CreateRecord(2001);
    gNow += 25u * 24 * 3600 * 1000;
    store.CreateRecord(2002);
    EXPECT_EQ(store.RecordCount(), 1u);
    EXPECT_EQ(store.QueryRecord(2001).note, "Connecting...");
}

TEST(Progress, XProgressReadsTheRecordOfItsId) {
    TempRegistry registry;
    platform::ComPtr<IXProgress> progress;
    ASSERT_EQ(XProgress::CreateInstance(nullptr, IID_IXProgress, progress.putVoid()), S_OK);
    ProgressStore& store = ProgressStore::Instance();
    store.CreateRecord(424242);
    ASSERT_EQ(progress->put_ID(424242), S_OK);
    LONG value = -1;
    progress->get_BytesTotal(&value);
    EXPECT_EQ(value, 0);
    VARIANT_BOOL started = VARIANT_TRUE;
    progress->get_Started(&started);
    EXPECT_EQ(started, VARIANT_FALSE);
    store.Counter(424242).Set(250, 1000);
    progress->get_PercentDone(&value);
    EXPECT_EQ(value, 23);
    platform::Bstr note(u"Hello \"world\"");
    ASSERT_EQ(progress->put_Note(note.get()), S_OK);
    platform::Bstr read;
    ASSERT_EQ(progress->get_Note(read.put()), S_OK);
    EXPECT_EQ(read.str(), u"Hello  world ");
    EXPECT_EQ(progress->get_Note(nullptr), E_POINTER);
    store.RemoveRecord(424242);
    progress->get_Note(read.put());
    EXPECT_EQ(read.str(), u"Connecting...");
}
