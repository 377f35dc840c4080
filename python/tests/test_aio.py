"""orqext.aio against xsr-sim: asynchronous messages as futures, cancellation
into the library, closed connections and event loops under waiting tasks,
and the calls that run in the thread pool. Every test runs its own event
loop (asyncio.run)."""

import asyncio
import collections
import logging
import sys
import threading

import pytest

import orqext
import orqext.aio
from orqext import _async, aio, raw

SLOW = "delay=5000 size=4"  # answers after 5 s: long enough to be cancelled first


def run(main):
    """run(main) with a guard against hanging: a loop that is never
    woken (a future resolved from the wrong thread) fails the test after 120 s
    instead of stopping the suite. A guard, not a measure: nothing here
    comes near it."""
    async def guarded():
        return await asyncio.wait_for(main(), 120)
    return asyncio.run(guarded())


@pytest.fixture
def completions(monkeypatch):
    """How often each asynchronous request was completed by the library's
    callback, by request id."""
    counts = collections.Counter()
    complete = _async.AsyncRequest._complete

    def counting(self, result):
        counts[self.id] += 1
        complete(self, result)
    monkeypatch.setattr(_async.AsyncRequest, "_complete", counting)
    return counts


def sent_ids(monkeypatch):
    """Collects the ids of the asynchronous requests queued from now on."""
    ids = []
    send = _async.send

    def recording(*args):
        request = send(*args)
        ids.append(request.id)
        return request
    monkeypatch.setattr(_async, "send", recording)
    return ids


def still_queued(request_id):
    """True while the library holds a queued request with the id. (Only
    asked for ids whose request is known to be gone or cancelled: a hit
    would cancel it.)"""
    return raw.ORQExt_CancelAsync(0, request_id) != -4122


def test_many_requests_on_one_and_several_connections(sim, completions, monkeypatch):
    ids = sent_ids(monkeypatch)
    settled_on = set()
    settle = aio._settle

    def recording_settle(future, result):
        settled_on.add(threading.get_ident())
        settle(future, result)
    monkeypatch.setattr(aio, "_settle", recording_settle)

    async def main():
        loop_thread = threading.get_ident()
        async with await orqext.aio.connect("127.0.0.1", sim.port, "admin", "admin") as one:
            others = [await orqext.aio.connect("127.0.0.1", sim.port, "admin", "admin")
                      for _ in range(3)]
            try:
                calls = [one.send("Echo", "one %d" % i) for i in range(40)]
                calls += [c.send("Echo", "conn %d message %d" % (n, i))
                          for n, c in enumerate(others) for i in range(15)]
                answers = await asyncio.gather(*calls)
            finally:
                for c in others:
                    await c.close()
        return loop_thread, answers

    loop_thread, answers = run(main)
    assert answers == ([b"one %d" % i for i in range(40)] +
                       [b"conn %d message %d" % (n, i) for n in range(3) for i in range(15)])
    assert len(ids) == len(set(ids)) == 85
    assert all(completions[i] == 1 for i in ids) and sum(completions.values()) == 85
    # Resolved on the loop's thread, never on the library's worker.
    assert settled_on == {loop_thread}
    assert not set(ids) & set(_async._pending)


CANCELLERS = {
    "task.cancel": lambda call: _cancel_soon(call),
    "asyncio.wait_for": lambda call: asyncio.wait_for(call, 0.3),
    "timeout argument": None,
}
if sys.version_info >= (3, 11):
    CANCELLERS["asyncio.timeout"] = lambda call: _in_timeout(call)


async def _cancel_soon(call):
    task = asyncio.ensure_future(call)
    await asyncio.sleep(0.3)
    task.cancel()
    return await task


async def _in_timeout(call):
    async with asyncio.timeout(0.3):  # type: ignore[attr-defined]
        return await call


@pytest.mark.parametrize("how", sorted(CANCELLERS))
def test_cancelling_the_waiting_task_cancels_the_request(sim, completions, monkeypatch, how):
    ids = sent_ids(monkeypatch)

    async def main():
        async with await orqext.aio.connect("127.0.0.1", sim.port, "admin", "admin") as conn:
            if how == "timeout argument":
                waiting = conn.send("Script", SLOW, timeout=0.3)
            else:
                waiting = CANCELLERS[how](conn.send("Script", SLOW))
            with pytest.raises((asyncio.CancelledError, TimeoutError)) as e:
                await waiting
            # The connection serves the next request as usual.
            assert await conn.send("Echo", "next") == b"next"
            return e.value

    error = run(main)
    if how == "task.cancel":
        assert isinstance(error, asyncio.CancelledError)
    else:
        assert isinstance(error, TimeoutError)
    if how == "timeout argument":
        assert isinstance(error, orqext.Timeout) and error.code == -1113
    slow = ids[0]
    assert completions[slow] == 0 and not still_queued(slow)
    assert slow not in _async._pending


def test_a_closed_connection_under_waiting_tasks(sims, completions, monkeypatch):
    ids = sent_ids(monkeypatch)
    # A server of its own: its module calls outlast the test (never answered
    # in time), and it cancels them as it stops.
    server = sims()
    never = "delay=100000 size=4"

    async def main():
        conn = await orqext.aio.connect("127.0.0.1", server.port, "admin", "admin")
        waiting = [asyncio.ensure_future(conn.send("Script", never)) for _ in range(3)]
        in_thread = asyncio.ensure_future(conn.send("Script", never, via="thread"))
        await asyncio.sleep(0.5)
        await conn.close()
        outcomes = await asyncio.gather(*waiting, in_thread, return_exceptions=True)
        with pytest.raises(orqext.NoConnection):
            await conn.send("Echo", "after close")
        with pytest.raises(orqext.NoConnection):
            await conn.segment("after close")
        await conn.close()  # a second close does nothing
        return outcomes

    outcomes = run(main)
    for e in outcomes:
        assert isinstance(e, orqext.NoConnection) and isinstance(e, ConnectionError), e
    assert outcomes[0].code == -4100
    assert all(completions[i] == 0 and not still_queued(i) for i in ids)


def test_a_lost_server_under_a_waiting_task(sims):
    server = sims()

    async def main():
        async with await orqext.aio.connect("127.0.0.1", server.port, "admin", "admin") as conn:
            waiting = asyncio.ensure_future(conn.send("Script", SLOW))
            await asyncio.sleep(0.5)
            server.kill()
            with pytest.raises(orqext.OrqExtError) as e:
                await waiting
            return e.value

    error = run(main)
    assert isinstance(error, orqext.NoConnection), error


def test_the_loop_ending_with_requests_pending(sim, completions, monkeypatch):
    ids = sent_ids(monkeypatch)

    async def leave_pending():
        conn = await orqext.aio.connect("127.0.0.1", sim.port, "admin", "admin")
        for i in range(3):
            asyncio.ensure_future(conn.send("Script", SLOW))
        await asyncio.sleep(0.3)
        return conn  # asyncio.run cancels the three tasks as it ends

    conn = run(leave_pending)
    assert len(ids) == 3
    assert all(completions[i] == 0 and not still_queued(i) for i in ids)
    assert not set(ids) & set(_async._pending)
    conn.connection.close()


def test_an_answer_after_its_loop_closed_is_dropped_quietly(sim, completions, monkeypatch, caplog):
    ids = sent_ids(monkeypatch)
    reported = []
    previous = orqext.set_callback_error_hook(lambda request, exc: reported.append(exc))
    caplog.set_level(logging.DEBUG, logger="orqext")
    loop = asyncio.new_event_loop()
    try:
        conn = loop.run_until_complete(
            orqext.aio.connect("127.0.0.1", sim.port, "admin", "admin"))

        async def start():
            return asyncio.ensure_future(conn.send("Script", "delay=300 size=4"))
        task = loop.run_until_complete(start())
        loop.run_until_complete(asyncio.sleep(0))  # the request is queued
        loop.close()  # with the task still waiting, never cancelled
        request = _async._pending.get(ids[0])
        assert request is not None
        request.wait(10)
        assert completions[ids[0]] == 1 and reported == []
        assert any("after its event loop closed" in r.getMessage() for r in caplog.records)
        conn.connection.close()
        del task
    finally:
        orqext.set_callback_error_hook(previous)


@pytest.mark.parametrize("via", ["async", "thread"])
def test_failures_raise_their_class(sim, via):
    async def main():
        async with orqext.aio.connect("127.0.0.1", sim.port, "admin", "admin", via=via) as conn:
            assert conn.via == via
            with pytest.raises(orqext.OrqExtError) as unknown:
                await conn.send("NoSuchModule", "x")
            with pytest.raises(orqext.BadArgument) as bad:
                await conn.send("Ec\0ho", "x")
            return unknown.value, bad.value

    unknown, bad = run(main)
    assert unknown.code == -20101
    assert bad.argument == "module" and "'module'" in str(bad)


def test_an_answer_longer_than_the_capacity(conn, sim):
    async def main():
        async with await orqext.aio.connect("127.0.0.1", sim.port, "admin", "admin") as c:
            with pytest.raises(orqext.AnswerTooLong) as e:
                await c.send("Script", "size=300", capacity=128)
            # Through the thread the answer sizes itself.
            answer = await c.send("Script", "size=300", capacity=128, via="thread")
            return e.value, answer

    error, answer = run(main)
    assert error.code == -1107 and error.length == 128
    assert answer == bytes(97 + i % 26 for i in range(300))


def test_blocking_calls_run_in_the_thread_pool(sim):
    threads = set()

    async def main():
        loop_thread = threading.get_ident()
        async with await orqext.aio.connect("127.0.0.1", sim.port, "admin", "admin") as conn:
            listed = await conn.module_list()
            tokens = await conn.segment("New York")
            own = await conn.run(lambda: threads.add(threading.get_ident()) or 7)
            answers = await asyncio.gather(*[conn.send("Echo", "t%d" % i, via="thread")
                                             for i in range(20)])
            return loop_thread, listed, tokens, own, answers

    loop_thread, listed, tokens, own, answers = run(main)
    assert b"KExt_NLPE" in listed
    assert [t.word for t in tokens] and all(isinstance(t, orqext.Token) for t in tokens)
    assert own == 7 and loop_thread not in threads
    assert answers == [b"t%d" % i for i in range(20)]


def test_coroutines_say_what_comes_back():
    conn = aio.AsyncConnection.__new__(aio.AsyncConnection)
    conn._conn = orqext.Connection.__new__(orqext.Connection)
    conn._conn._handle = 0
    segment = conn.segment
    assert asyncio.iscoroutinefunction(segment)
    assert "list of Token" in segment.__doc__ and "thread pool" in segment.__doc__
    assert "segment" in dir(conn) and "send_async" not in dir(conn)
    with pytest.raises(AttributeError):
        conn.send_async
    with pytest.raises(orqext.BadArgument) as e:
        aio.AsyncConnection(conn._conn, via="carrier pigeon")
    assert e.value.argument == "via"
