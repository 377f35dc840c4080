// The C++ layer's asynchronous dispatcher over the scripted double, with the
// worker's cycles in the test's hand: each request's own callback, cancel,
// callbacks that send or cancel, and teardown with requests still queued.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>
#include <string>

#include "tests/unit/cpp/async_support.h"

using namespace xsrdouble;
using namespace cpp_async_test;

namespace {

// The worker thread runs the callbacks while the test thread sends and
// cancels: also run under ThreadSanitizer.
class CppAsyncConcurrencyTest : public CppAsyncTest {};

TEST_F(CppAsyncConcurrencyTest, TwoRequestersEachGetOnlyTheirOwnAnswers) {
    set_handler(echo_first_send);
    Book book_a, book_b;
    orqext::async_requester a, b;
    const auto a1 = a.send_async(conn_, "M", "a1", book_a.note());
    const auto b1 = b.send_async(conn_, "M", "b1", book_b.note());
    const auto a2 = a.send_async(conn_, "M", "a2", book_a.note());
    EXPECT_NE(a1, b1);
    EXPECT_NE(a1, a2);
    EXPECT_EQ(a.pending(), 2u);
    EXPECT_EQ(b.pending(), 1u);
    ASSERT_TRUE(clock_.cycles(1));
    EXPECT_EQ(book_a.only(a1).answer, "ans:a1");
    EXPECT_EQ(book_a.only(a2).answer, "ans:a2");
    EXPECT_EQ(book_b.only(b1).answer, "ans:b1");
    EXPECT_FALSE(book_a.only(a1).error);
    EXPECT_EQ(book_a.total(), 2u);
    EXPECT_EQ(book_b.total(), 1u);
    EXPECT_EQ(a.pending(), 0u);
}

TEST_F(CppAsyncConcurrencyTest, FailuresReachTheCallbackAsErrorCodes) {
    set_handler([](const Call& c) { return c.code() == 3 ? fail(-20101, "why") : ok(""); });
    Book book;
    orqext::async_requester r;
    const auto id = r.send_async(conn_, "M", "p", book.note());
    ASSERT_TRUE(clock_.cycles(1));
    const auto got = book.only(id);
    EXPECT_EQ(got.result, -20101);
    EXPECT_EQ(got.error, orqext::make_error_code(-20101));
    EXPECT_FALSE(got.cancelled());
}

TEST_F(CppAsyncConcurrencyTest, CancelTellsTheCallbackOnceAndItsAnswerNeverComes) {
    set_handler(always_pending);
    Book book;
    orqext::async_requester r;
    const auto keep = r.send_async(conn_, "M", "keep", book.note());
    const auto drop = r.send_async(conn_, "M", "drop", book.note());
    ASSERT_TRUE(clock_.cycles(1));  // both pending on the server now
    EXPECT_TRUE(r.cancel(drop));
    EXPECT_TRUE(book.only(drop).cancelled());
    EXPECT_EQ(cancels(), 1u);
    EXPECT_FALSE(r.cancel(drop));
    std::error_code ec;
    EXPECT_FALSE(r.cancel(drop, ec));
    EXPECT_FALSE(ec);
    // The other one is answered later; the cancelled one never again.
    set_handler([](const Call& c) { return c.code() == 5 && c.capacity != 256 ? ok("late") : ok(""); });
    ASSERT_TRUE(clock_.cycles(1));
    EXPECT_EQ(book.only(keep).answer, "late");
    EXPECT_EQ(book.calls(drop), 1u);
}

// A cancel succeeds whenever the request was still queued, whatever the
// server says to it (docs/design.md): before the first pass the library
// cancels ticket (-1, -1) and the server refuses that; neither overload
// throws or reports it, and the other requests go on.
TEST_F(CppAsyncConcurrencyTest, CancelBeforeDuringAndAfterTheAnswer) {
    set_handler([](const Call& c) {
        if (is_cancel_without_ticket(c)) return fail(-20103);
        if (c.code() == 3 && c.body2 == "held") return pending(7, 7);
        if (c.code() == 5 && c.capacity != 256) return pending(7, 7);
        return c.code() == 3 ? ok("ans:" + c.body2) : ok("");
    });
    Book book;
    orqext::async_requester r;
    const auto early1 = r.send_async(conn_, "M", "early1", book.note());
    const auto early2 = r.send_async(conn_, "M", "early2", book.note());
    const auto held = r.send_async(conn_, "M", "held", book.note());
    const auto keep = r.send_async(conn_, "M", "keep", book.note());

    // Before the worker's first pass.
    bool done = false;
    EXPECT_NO_THROW(done = r.cancel(early1));
    EXPECT_TRUE(done);
    std::error_code ec = orqext::make_error_code(-1);
    EXPECT_TRUE(r.cancel(early2, ec));
    EXPECT_FALSE(ec) << ec.message();
    for (auto id : {early1, early2}) {
        EXPECT_TRUE(book.only(id).cancelled()) << id;
        EXPECT_EQ(book.only(id).result, -20103) << "the server's word is kept in the reply";
    }
    EXPECT_EQ(r.pending(), 2u);

    // During a pending answer.
    ASSERT_TRUE(clock_.cycles(1));
    EXPECT_EQ(book.only(keep).answer, "ans:keep");
    EXPECT_EQ(book.calls(held), 0u);
    EXPECT_TRUE(r.cancel(held, ec));
    EXPECT_FALSE(ec);
    EXPECT_TRUE(book.only(held).cancelled());
    EXPECT_EQ(book.only(held).result, 0);

    // After the answer: nothing to cancel, nothing called back again.
    EXPECT_FALSE(r.cancel(keep));
    EXPECT_FALSE(r.cancel(keep, ec));
    EXPECT_FALSE(ec);
    EXPECT_EQ(cancels(), 3u);
    ASSERT_TRUE(clock_.cycles(1));
    EXPECT_EQ(book.total(), 4u);
    EXPECT_EQ(r.pending(), 0u);
}

// The future form: ready exactly once, with the answer, the failure, or
// operation_canceled when cancelled or when its requester goes first.
TEST_F(CppAsyncConcurrencyTest, FuturesAreReadyWithTheAnswerTheFailureOrTheCancel) {
    set_handler([](const Call& c) {
        if (is_cancel_without_ticket(c)) return fail(-20103);
        if (c.code() == 3 && c.body2 == "bad") return fail(-20101, "why");
        return c.code() == 3 ? ok("ans:" + c.body2) : ok("");
    });
    const auto canceled_with = [](std::future<std::string>& f) {
        try {
            f.get();
        } catch (const std::system_error& e) {
            return e.code() == std::errc::operation_canceled;
        }
        return false;
    };
    auto r = std::make_unique<orqext::async_requester>();
    auto good = r->send_async(conn_, "M", "good");
    auto bad = r->send_async(conn_, "M", "bad");
    orqext::request_id id = 0;
    auto dropped = r->send_async(conn_, "M", "dropped", orqext::async_options{}, &id);
    ASSERT_NE(id, 0);
    EXPECT_TRUE(r->cancel(id));
    ASSERT_EQ(dropped.wait_for(std::chrono::seconds(0)), std::future_status::ready);
    EXPECT_TRUE(canceled_with(dropped));
    EXPECT_EQ(good.wait_for(std::chrono::seconds(0)), std::future_status::timeout);

    ASSERT_TRUE(clock_.cycles(1));
    EXPECT_EQ(good.get(), "ans:good");
    try {
        bad.get();
        ADD_FAILURE() << "no failure";
    } catch (const orqext::error& e) {
        EXPECT_EQ(e.result(), -20101);
    }

    auto orphan = r->send_async(conn_, "M", "orphan");
    r.reset();
    EXPECT_TRUE(canceled_with(orphan));
    EXPECT_THROW(orqext::async_requester().send_async(conn_, "", "p"), orqext::error);
}

// A request still pending when its connection is closed ends as cancelled,
// not with the closed handle's failure; requests on other connections go on.
TEST_F(CppAsyncConcurrencyTest, ClosingTheConnectionCancelsItsPendingRequests) {
    // The server answers "pending" on handle 7 for ever; handle 8 answers.
    set_handler([](const Call& c) { return c.handle == 8 ? echo_first_send(c) : always_pending(c); });
    orqext::connection other = orqext::connection::adopt(8);  // the double takes any handle
    orqext::async_requester r;
    Book book;
    const auto id = r.send_async(conn_, "M", "gone", book.note());
    auto future = r.send_async(conn_, "M", "gone too");
    const auto kept = r.send_async(other, "M", "kept", book.note());
    ASSERT_TRUE(clock_.cycles(1));  // sent; both still pending on the server
    EXPECT_EQ(book.calls(id), 0u);
    EXPECT_EQ(book.only(kept).answer, "ans:kept");
    ASSERT_EQ(future.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
    std::error_code ec;
    conn_.close(ec);  // the library does not know handle 7: its result is no matter here
    ASSERT_TRUE(clock_.cycles(1));
    ASSERT_EQ(future.wait_for(std::chrono::seconds(0)), std::future_status::ready);
    try {
        future.get();
        ADD_FAILURE() << "no failure";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code(), std::errc::operation_canceled) << e.what();
    }
    EXPECT_TRUE(book.only(id).cancelled());
    EXPECT_EQ(r.pending(), 0u);
    other.release();
}

// Requests with a time limit, on a clock in the test's hand (the timer is a
// thread: also run under ThreadSanitizer).
class CppAsyncTimeLimitConcurrencyTest : public CppAsyncConcurrencyTest {
protected:
    static orqext::async_options within(std::chrono::milliseconds limit) {
        orqext::async_options o;
        o.time_limit = limit;
        return o;
    }
    FakeAsyncClock time_;
    Book book_;
};

// A request with a time limit that the server keeps pending ends once, at
// the limit, with the synchronous calls' time-out after a cancel
// (errc::timeout_cancelled); the cancel reaches the server, and the answer
// that comes later is dropped. The future form holds the same orqext::error.
TEST_F(CppAsyncTimeLimitConcurrencyTest, EndsAPendingRequestOnceWithTheTimeOut) {
    set_handler(always_pending);
    orqext::async_requester r(time_);
    Book& book = book_;
    const orqext::async_options limited = within(std::chrono::milliseconds(500));
    const auto id = r.send_async(conn_, "M", "p", limited, book.note());
    orqext::request_id future_id = 0;
    auto future = r.send_async(conn_, "M", "f", limited, &future_id);
    ASSERT_TRUE(clock_.cycles(1));  // sent; pending on the server
    ASSERT_TRUE(time_.advance_and_settle(std::chrono::milliseconds(499)));
    EXPECT_EQ(book.calls(id), 0u);
    EXPECT_EQ(future.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
    EXPECT_EQ(cancels(), 0u);

    time_.advance(std::chrono::milliseconds(1));
    ASSERT_EQ(future.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    ASSERT_TRUE(modules_test::eventually([&] { return book.calls(id) == 1; }));
    const auto got = book.only(id);
    EXPECT_EQ(got.error, orqext::make_error_code(orqext::errc::timeout_cancelled));
    EXPECT_TRUE(got.error == std::errc::timed_out);
    EXPECT_EQ(got.result, ORQEXT_E_TIMEOUT_CANCELLED);
    EXPECT_FALSE(got.cancelled());
    try {
        future.get();
        ADD_FAILURE() << "no failure";
    } catch (const orqext::error& e) {
        EXPECT_EQ(e.code(), orqext::make_error_code(orqext::errc::timeout_cancelled));
        EXPECT_EQ(e.code().message(), orqext::make_error_code(ORQEXT_E_TIMEOUT_CANCELLED).message());
    }
    EXPECT_EQ(cancels(), 2u) << "each request is cancelled on the server";
    EXPECT_EQ(r.pending(), 0u);
    EXPECT_FALSE(r.cancel(id));
    EXPECT_FALSE(r.cancel(future_id));

    // Whatever the server says next reaches nobody.
    set_handler([](const Call&) { return ok("late"); });
    ASSERT_TRUE(clock_.cycles(2));
    EXPECT_EQ(book.total(), 1u);
}

// An answer before the limit is the request's only call back; the limit
// passing later ends nothing and cancels nothing. A limit of zero ends a
// request the worker has not sent yet, and it is never sent then.
TEST_F(CppAsyncTimeLimitConcurrencyTest, EndsOnlyWhatIsStillPending) {
    set_handler(echo_first_send);
    orqext::async_requester r(time_);
    Book& book = book_;
    orqext::async_options limited = within(std::chrono::milliseconds(500));
    const auto answered = r.send_async(conn_, "M", "a", limited, book.note());
    ASSERT_TRUE(clock_.cycles(1));
    EXPECT_EQ(book.only(answered).answer, "ans:a");
    ASSERT_TRUE(time_.advance_and_settle(std::chrono::milliseconds(1000)));
    EXPECT_EQ(book.calls(answered), 1u);
    EXPECT_EQ(cancels(), 0u);

    limited.time_limit = std::chrono::milliseconds(0);
    const auto at_once = r.send_async(conn_, "M", "z", limited, book.note());
    ASSERT_TRUE(modules_test::eventually([&] { return book.calls(at_once) == 1; }));
    EXPECT_EQ(book.only(at_once).error, orqext::make_error_code(orqext::errc::timeout_cancelled));
    ASSERT_TRUE(clock_.cycles(1));
    EXPECT_EQ(book.calls(at_once), 1u);
    for (const auto& c : commands()) EXPECT_NE(c.body2, "z") << "a timed-out request is never sent";
}

// A negative limit is refused before anything is queued, naming it.
TEST_F(CppAsyncTimeLimitConcurrencyTest, ANegativeLimitIsRefused) {
    Book& book = book_;
    orqext::async_requester r;
    const orqext::async_options limited = within(std::chrono::milliseconds(-1));
    std::error_code ec;
    EXPECT_EQ(r.send_async(conn_, "M", "p", limited, book.note(), ec), 0);
    EXPECT_EQ(ec, orqext::errc::bad_argument);
    try {
        r.send_async(conn_, "M", "p", limited, book.note());
        ADD_FAILURE() << "not refused";
    } catch (const orqext::error& e) {
        EXPECT_EQ(e.argument(), "time_limit");
    }
    EXPECT_EQ(r.pending(), 0u);
    ASSERT_TRUE(clock_.cycles(1));
    EXPECT_TRUE(commands().empty());
    EXPECT_EQ(book.total(), 0u);
}

// The time-out's callback runs on the requester's timer thread and may
// destroy the requester there; the other request ends as cancelled.
TEST_F(CppAsyncTimeLimitConcurrencyTest, ARequesterMayBeDestroyedInItsOwnTimeOut) {
    set_handler(always_pending);
    Book& book = book_;
    auto r = std::make_unique<orqext::async_requester>(time_);
    std::atomic<bool> gone{false};
    const auto first = r->send_async(conn_, "M", "first", within(std::chrono::milliseconds(100)), [&](orqext::async_reply rep) {
        book.note()(rep);
        r.reset();
        gone = true;
    });
    const auto second = r->send_async(conn_, "M", "second", within(std::chrono::milliseconds(200)), book.note());
    ASSERT_TRUE(clock_.cycles(1));
    time_.advance(std::chrono::milliseconds(100));
    ASSERT_TRUE(modules_test::eventually([&] { return gone.load(); }));
    EXPECT_EQ(book.only(first).error, orqext::make_error_code(orqext::errc::timeout_cancelled));
    EXPECT_TRUE(book.only(second).cancelled());
}

TEST_F(CppAsyncConcurrencyTest, ARequesterCannotCancelAnothersRequest) {
    set_handler(always_pending);
    Book book;
    orqext::async_requester mine, theirs;
    const auto id = theirs.send_async(conn_, "M", "p", book.note());
    EXPECT_FALSE(mine.cancel(id));
    EXPECT_EQ(book.calls(id), 0u);
    EXPECT_EQ(theirs.pending(), 1u);
}

TEST_F(CppAsyncConcurrencyTest, ACallbackMaySendAgainAndCancel) {
    set_handler([](const Call& c) {
        if (c.code() == 3 && c.body2 == "held") return pending(7, 7);
        if (c.code() == 5 && c.capacity != 256) return pending(7, 7);
        return c.code() == 3 ? ok("ans:" + c.body2) : ok("");
    });
    Book book;
    orqext::async_requester r;
    const auto held = r.send_async(conn_, "M", "held", book.note());
    orqext::request_id child = 0;
    bool cancelled_held = false;
    const auto first = r.send_async(conn_, "M", "first", [&](orqext::async_reply rep) {
        book.note()(rep);
        child = r.send_async(conn_, "M", "child", book.note());  // on the worker
        cancelled_held = r.cancel(held);
    });
    ASSERT_TRUE(clock_.cycles(1));
    EXPECT_EQ(book.only(first).answer, "ans:first");
    EXPECT_TRUE(cancelled_held);
    EXPECT_TRUE(book.only(held).cancelled());
    ASSERT_NE(child, 0);
    EXPECT_EQ(book.calls(child), 0u);  // queued for the next pass
    ASSERT_TRUE(clock_.cycles(1));
    EXPECT_EQ(book.only(child).answer, "ans:child");
    EXPECT_EQ(book.calls(held), 1u);
    EXPECT_EQ(r.pending(), 0u);
}

TEST_F(CppAsyncConcurrencyTest, TeardownWithQueuedRequestsTellsEachCallbackOnce) {
    set_handler(always_pending);
    Book book;
    std::vector<orqext::request_id> ids;
    {
        orqext::async_requester r;
        for (int i = 0; i < 3; ++i) ids.push_back(r.send_async(conn_, "M", "p" + std::to_string(i), book.note()));
        ASSERT_TRUE(clock_.cycles(1));
        ids.push_back(r.send_async(conn_, "M", "not sent yet", book.note()));
    }
    for (auto id : ids) EXPECT_TRUE(book.only(id).cancelled()) << id;
    EXPECT_EQ(cancels(), 4u);
    // Nothing more reaches them, whatever the server says next.
    set_handler([](const Call&) { return ok("late"); });
    ASSERT_TRUE(clock_.cycles(2));
    EXPECT_EQ(book.total(), ids.size());
}

TEST_F(CppAsyncConcurrencyTest, ARequesterMayBeDestroyedInsideItsOwnCallback) {
    set_handler([](const Call& c) {
        if (c.code() == 3 && c.body2 == "trigger") return ok("bye");
        return c.code() == 5 && c.capacity == 256 ? ok("") : pending(7, 7);
    });
    Book book;
    auto r = std::make_unique<orqext::async_requester>();
    const auto other = r->send_async(conn_, "M", "other", book.note());
    const auto trigger = r->send_async(conn_, "M", "trigger", [&](orqext::async_reply rep) {
        book.note()(rep);
        r.reset();
    });
    ASSERT_TRUE(clock_.cycles(1));
    EXPECT_EQ(r, nullptr);
    EXPECT_EQ(book.only(trigger).answer, "bye");
    EXPECT_TRUE(book.only(other).cancelled());
}

// A requester destroyed on another thread while the worker runs one of its
// callbacks returns only after that callback: the callback still uses it.
// The callback learns that the destructor has begun from a probe send that
// the closing requester refuses (an empty module name is refused by the
// library otherwise, so nothing is queued either way).
TEST_F(CppAsyncConcurrencyTest, DestroyingWaitsForACallbackRunningOnTheWorker) {
    set_handler(echo_first_send);
    auto* raw = new orqext::async_requester();
    std::atomic<bool> started{false}, done{false}, closing_seen{false};
    raw->send_async(conn_, "M", "x", [&](orqext::async_reply) {
        started = true;
        closing_seen = modules_test::eventually([&] {
            std::error_code ec;
            raw->send_async(conn_, "", "probe", nullptr, ec);
            return ec == std::errc::operation_canceled;
        });
        done = true;
    });
    clock_.release_one();
    ASSERT_TRUE(modules_test::eventually([&] { return started.load(); }));
    bool done_when_destroyed = false;
    std::thread destroyer([&] {
        delete raw;
        done_when_destroyed = done.load();
    });
    destroyer.join();
    EXPECT_TRUE(closing_seen.load());
    EXPECT_TRUE(done_when_destroyed);
    ASSERT_TRUE(clock_.cycles(1));
}

TEST_F(CppAsyncConcurrencyTest, AFailedSendCallsNothingBack) {
    Book book;
    orqext::async_requester r;
    std::error_code ec;
    EXPECT_EQ(r.send_async(conn_, "M", "", book.note(), ec), 0);  // empty payload
    EXPECT_EQ(ec, orqext::errc::bad_argument);
    EXPECT_EQ(r.send_async(conn_, "", "p", book.note(), ec), 0);
    EXPECT_EQ(ec, orqext::errc::bad_argument);
    EXPECT_THROW(r.send_async(conn_, "M", "", book.note()), orqext::error);
    EXPECT_EQ(r.pending(), 0u);
    ASSERT_TRUE(clock_.cycles(1));
    EXPECT_EQ(book.total(), 0u);
}

TEST_F(CppAsyncConcurrencyTest, AThrowingCallbackDoesNotStopTheOthers) {
    set_handler(echo_first_send);
    Book book;
    orqext::async_requester r;
    r.send_async(conn_, "M", "a", [](orqext::async_reply) { throw std::runtime_error("callback"); });
    const auto b = r.send_async(conn_, "M", "b", book.note());
    ASSERT_TRUE(clock_.cycles(1));
    EXPECT_EQ(book.only(b).answer, "ans:b");
}

TEST_F(CppAsyncConcurrencyTest, TheLastRequesterRemovesTheLibrarysCallback) {
    set_handler(always_pending);
    {
        orqext::async_requester r;
        r.send_async(conn_, "M", "p", nullptr);
    }
    // With no callback installed the library refuses sends of the C API.
    const char p[] = "p";
    EXPECT_EQ(ORQExt_AsyncSendMessage(7, "M", nullptr, p, 1, 1, 0), ORQEXT_E_NO_CALLBACK);
}

}  // namespace
