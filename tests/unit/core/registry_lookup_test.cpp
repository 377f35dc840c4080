// The lookup of the message path reads a copy of the registry without the
// lock. These tests hold it to the records themselves: after any sequence of
// appends, removals and switch changes, across the copy's growth and its
// clean-ups, and while other threads change the registry.
#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <map>
#include <random>
#include <thread>
#include <vector>

#include "core/registry.h"
#include "tests/support/fixture.h"

namespace {

namespace reg = orq::registry;
using RegistryLookupTest = testing_support::LibraryTest;

// Each step changes the registry under its lock and keeps a model of the
// records per handle (their cluster_enabled, in insertion order).
struct Model {
    std::map<int32_t, std::deque<bool>> records;

    void append(int32_t h, bool on) {
        orq::platform::Guard g(reg::lock());
        reg::append_locked(h, on, false);
        records[h].push_back(on);
    }
    void remove_first(int32_t h) {
        orq::platform::Guard g(reg::lock());
        reg::remove_first_locked(h);
        auto it = records.find(h);
        if (it == records.end()) return;
        it->second.pop_front();
        if (it->second.empty()) records.erase(it);
    }
    void set_first(int32_t h, bool on) {
        orq::platform::Guard g(reg::lock());
        reg::Record* r = reg::find_locked(h);
        ASSERT_NE(r, nullptr);
        reg::set_cluster_enabled_locked(r, on);
        records[h].front() = on;
    }
    // Every handle with records answers its first record's switch, and the
    // lookup makes no record for it.
    void check_all() const {
        const int before = reg::count();
        for (const auto& e : records)
            ASSERT_EQ(reg::cluster_enabled_or_create(e.first), e.second.front()) << "handle " << e.first;
        ASSERT_EQ(reg::count(), before) << "a lookup made a record for a handle that had one";
    }
};

// The message paths look a handle up without the lock once it has a record:
// a lookup that always missed its lock-free copy would still answer right,
// so the lock is counted. A foreign handle takes it once, to make its
// record.
TEST_F(RegistryLookupTest, MessagesOnAHandleWithARecordNeverTakeTheRegistryLock) {
    using namespace xsrdouble;
    const int32_t own = connect();
    const int32_t foreign = 4242;  // opened elsewhere, unknown to the library
    char answer[200];
    int32_t len = 0;
    int32_t items[4];
    int16_t marks[4];
    const StmTextItem texts[1] = {{1, 0, "text"}};
    const StmClassifierOptions options = {1, 2, 1};
    // A message, a time-limited message with its limit off, a service call
    // sent from the caller's buffer and one received in a reply area.
    auto calls = [&](int32_t conn) {
        len = sizeof answer;
        EXPECT_EQ(ORQExt_SendMessage(conn, "M", nullptr, "x", 1, answer, &len), 0);
        len = sizeof answer;
        EXPECT_EQ(ORQExt_SendMessageTimeOut(conn, "M", nullptr, "x", 1, answer, &len, -1, 0), 0);
        len = sizeof answer;
        EXPECT_EQ(ORQExt_STM_TextClassifier_Do(conn, 3, answer, &len, texts, 1, &options), 0);
        EXPECT_EQ(ORQExt_NLPE_WordSect(conn, "text", items, 4, 0, 0, marks, 0, 0, 0), 1);
    };
    set_handler([](const Call&) {
        // A segmentation reply of one entry; any other call takes it too.
        return ok(le32(1) + le32(7) + std::string("\x02\x00", 2));
    });

    const uint64_t start = reg::lock_acquisitions();
    calls(own);
    EXPECT_EQ(reg::lock_acquisitions(), start) << "a connection the library opened";

    calls(foreign);
    EXPECT_EQ(reg::lock_acquisitions(), start + 1) << "the foreign handle's record is made once";
    const uint64_t made = reg::lock_acquisitions();
    for (int i = 0; i < 3; ++i) {
        calls(own);
        calls(foreign);
    }
    EXPECT_EQ(reg::lock_acquisitions(), made) << "later calls read without the lock";
    EXPECT_EQ(count(Fn::Command), 8u * 4u) << "every call went out";
}

TEST_F(RegistryLookupTest, LookupsFollowEveryChangeOfTheRecords) {
    Model m;
    std::mt19937 rng(20261210);
    // Handles from a small range (so they repeat: duplicates, removals,
    // re-appends) and bursts of new ones (so the copy grows and is cleaned).
    int32_t fresh = 100000;
    for (int step = 0; step < 4000; ++step) {
        const int32_t h = static_cast<int32_t>(rng() % 200) - 50;  // negative handles too
        switch (rng() % 5) {
            case 0:
            case 1:
                m.append(h, rng() % 2 == 0);
                break;
            case 2:
                m.remove_first(h);
                break;
            case 3:
                if (m.records.count(h)) m.set_first(h, rng() % 2 == 0);
                break;
            default:
                for (int i = 0; i < 40; ++i) m.append(fresh++, i % 3 == 0);
                for (int i = 0; i < 40; ++i) m.remove_first(fresh - 1 - i);
                break;
        }
        if (step % 97 == 0) m.check_all();
    }
    m.check_all();

    // A handle without records gets a foreign one from the setting, once.
    orq::settings::set_cluster_enable(true);
    const int before = reg::count();
    EXPECT_TRUE(reg::cluster_enabled_or_create(777777));
    orq::settings::set_cluster_enable(false);
    EXPECT_TRUE(reg::cluster_enabled_or_create(777777)) << "the record made first is the one read";
    EXPECT_EQ(reg::count(), before + 1);
}

// Through the exports: the switch of a connection, a handle that lost its
// record, and the unload's clear.
TEST_F(RegistryLookupTest, SwitchAndDisconnectAreSeenByTheNextLookup) {
    std::vector<int32_t> handles;
    for (int i = 0; i < 300; ++i) handles.push_back(connect());
    for (std::size_t i = 0; i < handles.size(); i += 3) ORQExt_EnableCluster(handles[i], 1);
    for (std::size_t i = 0; i < handles.size(); ++i)
        ASSERT_EQ(ORQExt_IsClusterEnable(handles[i]), i % 3 == 0 ? 1 : 0) << i;

    ASSERT_EQ(ORQExt_EnableCluster(handles[0], 0), 0);
    EXPECT_EQ(ORQExt_IsClusterEnable(handles[0]), 0);
    // Clustering on and no cluster list: a module message is refused.
    EXPECT_EQ(ORQExt_SendMessage(handles[3], "M", nullptr, "x", 1, nullptr, nullptr), -1203);
    EXPECT_EQ(ORQExt_SendMessage(handles[1], "M", nullptr, "x", 1, nullptr, nullptr), 0);

    // After the disconnect the handle is unknown: the next lookup makes a
    // foreign record from the setting (off), not the old record's "on".
    ASSERT_EQ(ORQExt_DisConnect(handles[6]), 0);
    const int before = reg::count();
    EXPECT_EQ(ORQExt_IsClusterEnable(handles[6]), 0);
    EXPECT_EQ(reg::count(), before + 1);

    {
        orq::platform::Guard g(reg::lock());
        reg::close_all_locked();
    }
    EXPECT_EQ(reg::count(), 0);
    EXPECT_EQ(ORQExt_IsClusterEnable(handles[3]), 0) << "cleared records are not read";
    EXPECT_EQ(reg::count(), 1);
}

// Readers on two handles whose records never change, while a writer grows
// and cleans the lookup copy with thousands of other handles: every read
// gives the record's value and makes no record.
TEST_F(RegistryLookupTest, ConcurrencyReadersSeeStableRecordsWhileOthersChange) {
    Model m;
    m.append(11, true);
    m.append(12, false);
    std::atomic<bool> stop{false};
    std::atomic<long> wrong{0}, reads{0};
    auto reader = [&] {
        while (!stop.load()) {
            if (!reg::cluster_enabled_or_create(11)) ++wrong;
            if (reg::cluster_enabled_or_create(12)) ++wrong;
            ++reads;
        }
    };
    std::thread r1(reader), r2(reader);
    int32_t next = 1000;
    for (int round = 0; round < 30; ++round) {
        std::vector<int32_t> batch;
        for (int i = 0; i < 200; ++i) batch.push_back(next++);
        {
            orq::platform::Guard g(reg::lock());
            for (int32_t h : batch) reg::append_locked(h, h % 2 == 0, false);
        }
        {
            orq::platform::Guard g(reg::lock());
            for (int32_t h : batch) reg::remove_first_locked(h);
        }
    }
    // Let the readers run at least a little past the last change.
    const long seen = reads.load();
    while (reads.load() < seen + 100) std::this_thread::yield();
    stop = true;
    r1.join();
    r2.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(reg::count(), 2) << "no reader made a record";
}

}  // namespace
