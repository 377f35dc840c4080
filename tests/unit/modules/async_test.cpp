// Asynchronous messages: queueing, the worker's passes, answers and their
// bytes, cancels, removal of the callback, the idle end, and unload with a
// worker. The worker's cycles are handed out one by one (WorkerClock), so
// every check runs between two passes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/unit/modules/async_support.h"

using namespace xsrdouble;
using namespace modules_test;

namespace {

TEST_F(AsyncTest, SendRefusesUnusableArgumentsWithoutQueueing) {
    const char payload[] = "p";
    struct Case {
        const char* module;
        const void* payload;
        int32_t len;
        int32_t capacity;
    };
    const Case cases[] = {
        {nullptr, payload, 1, 0},  {"", payload, 1, 0},          {"M", payload, 0, 0},
        {"M", payload, -1, 0},     {"M", nullptr, 1, 0},         {"M", payload, 1, 268435457},
        {"M", payload, 1, INT32_MAX},
    };
    const uint32_t started = orq::async::workers_started();
    for (const Case& k : cases)
        EXPECT_EQ(ORQExt_AsyncSendMessage(7, k.module, nullptr, k.payload, k.len, 1, k.capacity), -1100);
    EXPECT_EQ(orq::async::queued_count(), 0);
    EXPECT_EQ(orq::async::workers_started(), started) << "no worker for a refused send";
}

TEST_F(AsyncTest, SendWithoutCallbackIsRefused) {
    ORQExtAsyncCallback previous = nullptr;
    EXPECT_EQ(ORQExt_SetAsyncFunc(nullptr, &previous), 0);
    EXPECT_EQ(previous, &record);
    EXPECT_EQ(send(1), -4120);
    EXPECT_EQ(orq::async::queued_count(), 0);
    EXPECT_FALSE(orq::async::worker_running());
    EXPECT_EQ(ORQExt_SetAsyncFunc(record, &previous), 0);
    EXPECT_EQ(previous, nullptr);
}

TEST_F(AsyncTest, RequestsStayQueuedUntilTheirCallbackRan) {
    const uint32_t started = orq::async::workers_started();
    push({ok("one"), ok("two")});
    EXPECT_EQ(send(1, "a"), 1);
    EXPECT_EQ(send(2, "b"), 2);
    EXPECT_EQ(orq::async::workers_started(), started + 1) << "one worker for both";
    ASSERT_TRUE(clock_.wait_parked());
    EXPECT_EQ(commands().size(), 0u) << "nothing goes out before the worker's first cycle";
    const uint32_t before = clock_.now();
    ASSERT_TRUE(clock_.cycles(1));
    EXPECT_EQ(clock_.now() - before, 200u) << "one cycle is 200 ms";
    EXPECT_EQ(answers(), (std::vector<Answer>{{1, 0, "one"}, {2, 0, "two"}}));
    EXPECT_EQ(orq::async::queued_count(), 0);
    EXPECT_EQ(ORQExt_CancelAsync(0, 1), -4122) << "finished requests cannot be cancelled";
}

TEST_F(AsyncTest, SendCarriesNamesPayloadAndTheAnswerCapacity) {
    const std::string payload("x\0y", 3);
    struct Case {
        const char* target;
        int32_t capacity;
        std::string names;
        int32_t offered;
    };
    const Case cases[] = {
        {nullptr, 0, std::string("Mod\0\0", 5), 128},
        {"", -5, std::string("Mod\0\0", 5), 128},
        {"Tgt", 127, std::string("Mod\0Tgt\0\0", 9), 128},
        {nullptr, 129, std::string("Mod\0\0", 5), 129},
        {nullptr, 5000, std::string("Mod\0\0", 5), 5000},
    };
    int32_t id = 0;
    for (const Case& k : cases) {
        ++id;
        send(id, payload, k.capacity, 40 + id, "Mod", k.target);
    }
    ASSERT_TRUE(clock_.cycles(1));
    auto cs = commands();
    ASSERT_EQ(cs.size(), 5u);
    for (std::size_t i = 0; i < cs.size(); ++i) {
        const Case& k = cases[i];
        EXPECT_EQ(cs[i].handle, static_cast<int32_t>(41 + i)) << "the caller's handle, unrouted";
        EXPECT_EQ(cs[i].magic, 32639);
        EXPECT_EQ(cs[i].reserved1, 0);
        EXPECT_EQ(cs[i].timeout_hint, 45000);
        EXPECT_EQ(cs[i].header, header(3, -1, 0));
        EXPECT_EQ(cs[i].header_len, 16);
        EXPECT_EQ(cs[i].body, k.names);
        EXPECT_EQ(cs[i].body_len, static_cast<int32_t>(k.names.size()));
        EXPECT_FALSE(cs[i].body2_null);
        EXPECT_EQ(cs[i].body2, payload);
        EXPECT_EQ(cs[i].body2_len, 3);
        EXPECT_EQ(cs[i].capacity, k.offered);
    }
}

TEST_F(AsyncTest, LargestAnswerCapacityIsAccepted) {
    EXPECT_EQ(send(1, "p", 268435456), 1);
    push(fail(-3));
    EXPECT_EQ(ORQExt_CancelAsync(0, 1), -3);
}

TEST_F(AsyncTest, PendingAnswerIsPolledWithItsTicketOncePerCycle) {
    push({pending(7, 9), part("abc"), ok("de")});
    send(5, "p", 200);
    ASSERT_TRUE(clock_.cycles(1));
    ASSERT_EQ(commands().size(), 1u);
    EXPECT_TRUE(answers().empty());
    ASSERT_TRUE(clock_.cycles(1));
    ASSERT_EQ(commands().size(), 2u) << "one poll per cycle";
    ASSERT_TRUE(clock_.cycles(1));
    auto cs = commands();
    ASSERT_EQ(cs.size(), 3u);
    for (int i : {1, 2}) {
        EXPECT_EQ(cs[i].header, header(5, 32639, 0));
        EXPECT_EQ(cs[i].body, le32(7) + le32(9));
        EXPECT_TRUE(cs[i].body2_null);
    }
    EXPECT_EQ(cs[1].capacity, 200);
    EXPECT_EQ(cs[2].capacity, 197) << "the room left after the part";
    EXPECT_EQ(answers(), (std::vector<Answer>{{5, 0, "abcde"}}));
}

TEST_F(AsyncTest, FailureIsReportedWithWhatArrivedAndNotRetried) {
    push(fail(-1234, "xy"));
    send(8);
    ASSERT_TRUE(clock_.cycles(3));
    EXPECT_EQ(answers(), (std::vector<Answer>{{8, -1234, "xy"}}));
    EXPECT_EQ(commands().size(), 1u);
}

TEST_F(AsyncTest, FirstSendAnsweredInPartsIsPolledNotSentAgain) {
    push({part("ab"), ok("cd")});
    send(3);
    ASSERT_TRUE(clock_.cycles(2));
    auto cs = commands();
    ASSERT_EQ(cs.size(), 2u);
    EXPECT_EQ(cs[0].code(), 3);
    EXPECT_EQ(cs[1].header, header(5, 32639, 0));
    EXPECT_EQ(cs[1].body, le32(-1) + le32(-1)) << "the ticket the request holds";
    EXPECT_EQ(cs[1].capacity, 126);
    EXPECT_EQ(answers(), (std::vector<Answer>{{3, 0, "abcd"}}));
}

TEST_F(AsyncTest, LengthsBeyondTheRoomOfferedAreNotTrusted) {
    push({Reply{-1108, "abc", 1000}, Reply{0, "", 50}});
    send(1);
    ASSERT_TRUE(clock_.cycles(2));
    auto cs = commands();
    ASSERT_EQ(cs.size(), 2u);
    EXPECT_EQ(cs[1].capacity, 0) << "the part filled the 128-byte buffer";
    auto a = answers();
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].bytes.size(), 128u);
    EXPECT_EQ(a[0].bytes.substr(0, 3), "abc");
}

TEST_F(AsyncTest, CancelTakesTheOldestRequestWithTheIdAndSendsItsTicket) {
    send(1, "a", 0, 11);
    send(2, "b", 0, 12);
    send(1, "c", 0, 13);
    push(fail(-31));
    EXPECT_EQ(ORQExt_CancelAsync(999, 1), -31) << "the cancel's result";
    auto cs = commands();
    ASSERT_EQ(cs.size(), 1u);
    EXPECT_EQ(cs[0].handle, 11);
    EXPECT_EQ(cs[0].header, header(5, 32639, 0));
    EXPECT_EQ(cs[0].body, le32(-1) + le32(-1)) << "not sent yet";
    EXPECT_EQ(cs[0].capacity, 256);

    push({pending(5, 6), pending(8, 9)});
    ASSERT_TRUE(clock_.cycles(1));
    ASSERT_EQ(commands().size(), 3u);
    EXPECT_EQ(commands()[1].body2, "b");
    EXPECT_EQ(commands()[2].body2, "c");
    reset();
    EXPECT_EQ(ORQExt_CancelAsync(0, 1), 0);
    cs = commands();
    ASSERT_EQ(cs.size(), 1u);
    EXPECT_EQ(cs[0].handle, 13);
    EXPECT_EQ(cs[0].body, le32(8) + le32(9));
    EXPECT_EQ(ORQExt_CancelAsync(0, 1), -4122);
    EXPECT_EQ(ORQExt_CancelAsync(0, 77), -4122);

    push(ok("B"));
    ASSERT_TRUE(clock_.cycles(1));
    EXPECT_EQ(answers(), (std::vector<Answer>{{2, 0, "B"}}));
}

TEST_F(AsyncTest, RemovingTheCallbackDropsTheQueueAndEndsTheWorker) {
    set_handler([](const Call&) { return pending(1, 1); });
    send(1);
    send(2);
    ASSERT_TRUE(clock_.cycles(1));
    const std::size_t sent = commands().size();
    ORQExtAsyncCallback previous = nullptr;
    ORQExt_SetAsyncFunc(nullptr, &previous);
    EXPECT_EQ(previous, &record);
    ASSERT_TRUE(clock_.cycles(1));
    EXPECT_FALSE(orq::async::worker_running()) << "ended within one cycle";
    EXPECT_EQ(orq::async::queued_count(), 0);
    EXPECT_EQ(commands().size(), sent) << "dropped without a call";
    EXPECT_TRUE(answers().empty());
    EXPECT_EQ(send(3), -4120);

    const uint32_t started = orq::async::workers_started();
    ORQExt_SetAsyncFunc(record, nullptr);
    set_handler(nullptr);
    EXPECT_EQ(send(4), 1);
    EXPECT_EQ(orq::async::workers_started(), started + 1) << "a later send starts a new worker";
    ASSERT_TRUE(clock_.cycles(1));
    EXPECT_EQ(answers(), (std::vector<Answer>{{4, 0, ""}}));
}

TEST_F(AsyncTest, IdleWorkerEndsAfterMoreThan180000msAndTheNextSendStartsAnother) {
    send(1);
    ASSERT_TRUE(clock_.cycles(1));
    ASSERT_EQ(answers().size(), 1u);
    // The pass ran at t; the next cycles come at t + 200, t + 400, ...
    clock_.advance(180000 - 200);
    ASSERT_TRUE(clock_.cycles(1));  // t + 180000: not more than the limit
    EXPECT_TRUE(orq::async::worker_running());
    ASSERT_TRUE(clock_.cycles(1));  // t + 180200
    EXPECT_FALSE(orq::async::worker_running());

    const uint32_t started = orq::async::workers_started();
    EXPECT_EQ(send(2), 1);
    EXPECT_EQ(orq::async::workers_started(), started + 1);
    ASSERT_TRUE(clock_.cycles(1));
    EXPECT_EQ(answers().size(), 2u);
}

TEST_F(AsyncTest, TrafficKeepsTheWorkerAlive) {
    set_handler([](const Call&) { return pending(2, 2); });
    send(1);
    ASSERT_TRUE(clock_.cycles(1));
    clock_.advance(400000);
    ASSERT_TRUE(clock_.cycles(2));
    EXPECT_TRUE(orq::async::worker_running()) << "a queued request is no idleness";
}

TEST_F(AsyncTest, CallbackMayQueueAndCancelDuringThePass) {
    int32_t queued_from_callback = 0, cancel_other = 0, cancel_own = 0;
    recorder().hook = [&](int32_t id) {
        if (id != 1) return;
        queued_from_callback = send(10, "late");
        cancel_other = ORQExt_CancelAsync(0, 3);
        cancel_own = ORQExt_CancelAsync(0, 1);
    };
    send(1, "one");
    send(2, "two");
    send(3, "three");
    ASSERT_TRUE(clock_.cycles(1));
    EXPECT_EQ(queued_from_callback, 4) << "1 (its callback runs), 2, 3 and the new one";
    EXPECT_EQ(cancel_other, 0);
    EXPECT_EQ(cancel_own, -4122) << "the request in hand is no longer cancellable";
    EXPECT_EQ(answers(), (std::vector<Answer>{{1, 0, ""}, {2, 0, ""}}))
        << "3 was cancelled; 10 waits for the next pass";
    ASSERT_TRUE(clock_.cycles(1));
    ASSERT_EQ(answers().size(), 3u);
    EXPECT_EQ(answers().back(), (Answer{10, 0, ""}));
    EXPECT_EQ(orq::async::queued_count(), 0);
}

TEST_F(AsyncTest, CallbackRemovedInsideThePassFinishesTheRestSilently) {
    recorder().hook = [](int32_t) { ORQExt_SetAsyncFunc(nullptr, nullptr); };
    send(1);
    send(2);
    ASSERT_TRUE(clock_.cycles(1));
    EXPECT_EQ(answers().size(), 1u);
    EXPECT_EQ(commands().size(), 1u) << "request 2 is not sent";
    EXPECT_EQ(orq::async::queued_count(), 0);
    ASSERT_TRUE(clock_.cycles(1));
    EXPECT_FALSE(orq::async::worker_running());
}

TEST_F(AsyncTest, UnloadWithABusyWorkerGivesItUpWithoutCallingBack) {
    Gate* gate = new Gate();  // lives until the worker has let go of it
    set_handler([gate](const Call&) {
        gate->arrive();
        return ok("late");
    });
    send(1);
    send(2);
    clock_.release_one();
    ASSERT_TRUE(gate->wait_arrived());
    const uint32_t given_up = orq::async::workers_given_up();

    orq::lifecycle::unload();

    EXPECT_EQ(orq::async::workers_given_up(), given_up + 1);
#if defined(_WIN32)
    EXPECT_EQ(orq::async::workers_alive(), 0u) << "terminated inside XSR_CommandEx: no longer alive";
#else
    EXPECT_EQ(orq::async::workers_alive(), 1u) << "still inside XSR_CommandEx";
#endif
#if defined(_WIN32)
    // Windows ends the thread where it stands (TerminateThread): it never
    // comes back from the call, and the gate it waits in stays as it is.
    EXPECT_TRUE(answers().empty()) << "neither the request in hand nor the queued one";
    EXPECT_EQ(commands().size(), 1u) << "the terminated worker sends nothing more";
    set_handler(nullptr);
#else
    gate->open();
    ASSERT_TRUE(eventually([] { return orq::async::workers_alive() == 0; }));
    EXPECT_TRUE(answers().empty()) << "neither the request in hand nor the queued one";
    EXPECT_EQ(commands().size(), 1u) << "the stopped worker sends nothing more";
    set_handler(nullptr);
    delete gate;
#endif
    orq::lifecycle::load();
}

TEST_F(AsyncTest, UnloadStopsARunningWorkerAndDropsItsRequests) {
    set_handler([](const Call&) { return pending(4, 4); });
    send(1);
    send(2);
    ASSERT_TRUE(clock_.cycles(1));
    const uint32_t given_up = orq::async::workers_given_up();
    orq::lifecycle::unload();
    EXPECT_EQ(orq::async::workers_given_up(), given_up) << "it ended when asked";
    EXPECT_EQ(orq::async::workers_alive(), 0u) << "and was waited for";
    EXPECT_TRUE(answers().empty());
    orq::lifecycle::load();
    EXPECT_EQ(orq::async::queued_count(), 0);
}

TEST_F(AsyncTest, UnloadAfterTheWorkerEndedDoesNotWait) {
    send(1);
    ORQExt_SetAsyncFunc(nullptr, nullptr);
    ASSERT_TRUE(clock_.cycles(1));
    ASSERT_TRUE(eventually([] { return orq::async::workers_alive() == 0; }));
    const uint32_t sleeps = clock_.other_sleeps();
    const uint32_t given_up = orq::async::workers_given_up();
    orq::lifecycle::unload();
    EXPECT_EQ(clock_.other_sleeps(), sleeps);
    EXPECT_EQ(orq::async::workers_given_up(), given_up);
    orq::lifecycle::load();
}

}  // namespace
