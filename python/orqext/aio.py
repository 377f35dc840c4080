"""asyncio access: ``await orqext.aio.connect(...)``.

    import orqext.aio

    async with await orqext.aio.connect("127.0.0.1", 7300, "admin", "admin") as conn:
        answer = await conn.send("Echo", "hello")            # asynchronous message
        tokens = await conn.segment("New York")              # in the thread pool

How the calls map onto the library:

- ``send`` (the default ``via="async"``) is one asynchronous message of the
  library (ORQExt_AsyncSendMessage) with one future. The library's worker
  thread calls the package's callback with the answer; that callback only
  hands the answer to the event loop with ``loop.call_soon_threadsafe``, and
  the future is resolved there, never on the worker thread. Cancelling the
  awaiting task (``task.cancel()``, ``asyncio.timeout``, ``wait_for``, the
  loop shutting down its tasks) cancels the request in the library
  (ORQExt_CancelAsync) before the CancelledError goes on. The library's
  worker passes over its queue every 200 ms, so an asynchronous message
  answers after about 200 ms however fast the server is; this layer adds
  nothing to that.
- ``send(..., via="thread")`` and every other method of Connection (they
  have no asynchronous form in the library) run the synchronous call in a
  thread pool (the loop's default executor, or ``executor=``) and answer as
  fast as the call itself (a local message: well under a millisecond). The
  library allows every export to be called from several threads at once on
  one connection, so calls of one connection may run in several threads
  together. A task cancelled while its call runs in a thread stops waiting at
  once, but the call itself runs to its end; give ``timeout=`` to bound it in
  the library.
- Queuing and cancelling an asynchronous message are made on the loop's
  thread; they wait while the library's worker is in a pass over its queue
  (its server calls, never its 200 ms sleep).
"""

from __future__ import annotations

import asyncio
import concurrent.futures
import functools
import logging
from types import TracebackType
from typing import Any, Callable, Dict, Generator, List, Optional, Set, Type, TypeVar

from . import _async
from ._aio_calls import AsyncCalls
from ._codec import Codec
from .connection import DEFAULT_ANSWER_SIZE, DEFAULT_MAX_ANSWER_SIZE, Connection
from .errors import (AnswerTooLong, BadArgument, NoConnection, Timeout, error_for, milliseconds,
                     int32)
from .records import AsyncResult, Text

__all__ = ["connect", "AsyncConnection", "VIAS"]

log = logging.getLogger("orqext")

#: The ways ``send`` can go: the library's asynchronous message, or the
#: synchronous call in a thread.
VIAS = ("async", "thread")

T = TypeVar("T")

_ASYNC_CALL = "ORQExt_AsyncSendMessage"


def _settle(future: "asyncio.Future[AsyncResult]", result: AsyncResult) -> None:
    """Runs on the event loop: the first outcome of a future wins."""
    if not future.done():
        future.set_result(result)


def _fail(future: "asyncio.Future[AsyncResult]", exc: BaseException) -> None:
    if not future.done():
        future.set_exception(exc)


class AsyncConnection(AsyncCalls):
    """An open connection for asyncio. ``async with`` closes it; so does
    ``await conn.close()``.

    ``send`` is an asynchronous message of the library; every other method of
    Connection is here as a coroutine of the same name and arguments that
    runs the synchronous call in the thread pool (``await conn.segment(text)``
    returns what ``Connection.segment`` returns). Those coroutines are
    written out in orqext/_aio_calls.py (generated from Connection), so type
    checkers, help() and IDEs see each one."""

    def __init__(self, connection: Connection, *, via: str = "async",
                 executor: Optional[concurrent.futures.Executor] = None) -> None:
        if via not in VIAS:
            raise BadArgument(-1100, None, "must be one of %s, got %r" % (", ".join(VIAS), via),
                              argument="via")
        self._conn = connection
        self._via = via
        self._executor = executor
        # Asynchronous messages waiting for their answer, with their futures:
        # close() ends them.
        self._waiting: Dict[_async.AsyncRequest, "asyncio.Future[AsyncResult]"] = {}

    @property
    def connection(self) -> Connection:
        """The synchronous Connection underneath."""
        return self._conn

    @property
    def handle(self) -> int:
        """The library's connection handle (0 once closed)."""
        return self._conn.handle

    @property
    def closed(self) -> bool:
        """True once the connection is closed."""
        return self._conn.closed

    @property
    def via(self) -> str:
        """How ``send`` goes unless a call says otherwise: "async" or "thread"."""
        return self._via

    @property
    def codec(self) -> Codec:
        """The connection's codec for texts."""
        return self._conn.codec

    @property
    def server(self) -> str:
        """The server the connection was opened to."""
        return self._conn.server

    @property
    def port(self) -> int:
        """The server's port."""
        return self._conn.port

    def decode(self, answer: bytes) -> str:
        """An answer as text, in the connection's encoding (Connection.decode)."""
        return self._conn.decode(answer)

    def __repr__(self) -> str:
        return "<orqext.aio.AsyncConnection %s:%d handle=%d%s>" % (
            self._conn.server, self._conn.port, self._conn.handle,
            " closed" if self._conn.closed else "")

    async def __aenter__(self) -> "AsyncConnection":
        return self

    async def __aexit__(self, exc_type: Optional[Type[BaseException]],
                        exc: Optional[BaseException], tb: Optional[TracebackType]) -> None:
        await self.close()

    async def run(self, function: Callable[..., T], *args: Any, **kwargs: Any) -> T:
        """Runs ``function(*args, **kwargs)`` in the thread pool and returns
        its result: for calls of your own that use the synchronous
        connection (``self.connection``)."""
        loop = asyncio.get_running_loop()
        return await loop.run_in_executor(self._executor,
                                          functools.partial(function, *args, **kwargs))

    async def send(self, module: Text, payload: Text = b"", *, target: Optional[Text] = None,
                   timeout: Optional[float] = None, capacity: Optional[int] = None,
                   via: Optional[str] = None) -> bytes:
        """Sends a message to a module; returns the answer bytes.

        ``via="async"`` (the default unless the connection was opened with
        another ``via``): an asynchronous message of the library; it answers
        after the worker's next pass (about 200 ms). Cancelling the awaiting
        task cancels the request in the library. ``capacity``: room for the
        answer (default 64 KiB); a longer answer raises AnswerTooLong.

        ``via="thread"``: the synchronous call in the thread pool, for low
        latency; a longer answer than ``capacity`` is fetched again with its
        whole length, as Connection.send does.

        ``timeout`` (seconds): with no answer by then the request is
        cancelled in the library and Timeout (-1113, also a TimeoutError) is
        raised. Raises NoConnection when the connection is or gets closed."""
        how = self._via if via is None else via
        if how == "thread":
            return await self.run(self._conn.send, module, payload, target=target,
                                  timeout=timeout, cancel=timeout is not None, capacity=capacity)
        if how != "async":
            raise BadArgument(-1100, "send", "must be one of %s, got %r" % (", ".join(VIAS), how),
                              argument="via")
        if timeout is not None:
            milliseconds(timeout)  # refused here as the synchronous call would
        codec = self._conn.codec
        data = codec.data(payload, "payload")
        if not data:
            raise BadArgument(-1100, "send", "an asynchronous message needs a payload",
                              argument="payload")
        mod = codec.text(module, "module")
        tgt = codec.text(target, "target", allow_none=True)
        room = DEFAULT_ANSWER_SIZE if capacity is None else int32(capacity, "capacity")
        loop = asyncio.get_running_loop()
        future: "asyncio.Future[AsyncResult]" = loop.create_future()

        def answered(result: AsyncResult) -> None:
            # On the library's worker thread: hand over to the loop, nothing more.
            try:
                loop.call_soon_threadsafe(_settle, future, result)
            except RuntimeError:  # the loop is closed: nobody waits for it any more
                log.debug("asynchronous request %d answered after its event loop closed",
                          result.request_id)

        request = _async.send(self._conn._h(), mod, tgt, data, answered, room, self._conn._where())
        self._waiting[request] = future
        try:
            if timeout is None:
                result = await future
            else:
                result = await asyncio.wait_for(future, float(timeout))
        except asyncio.TimeoutError:
            request.cancel()
            raise Timeout(-1113, _ASYNC_CALL, self._conn._where(
                "no answer within %s s; the request was cancelled" % timeout)) from None
        except BaseException:  # cancelled (or the loop stopped): so is the request
            request.cancel()
            raise
        finally:
            self._waiting.pop(request, None)
        if result.code == -1107:
            raise AnswerTooLong(-1107, _ASYNC_CALL, self._conn._where(
                "the answer is longer than capacity=%d" % room),
                                length=len(result.answer))
        if result.code < 0:
            raise error_for(result.code, _ASYNC_CALL, self._conn._where())
        return result.answer

    async def close(self) -> None:
        """Closes the connection. Asynchronous messages still waiting are
        cancelled in the library and raise NoConnection in their tasks;
        calls running in threads end with the library's answer for a closed
        connection. A second close does nothing."""
        waiting = list(self._waiting.items())
        self._waiting.clear()
        for request, future in waiting:
            if request.cancel():
                _fail(future, NoConnection(-4100, _ASYNC_CALL, self._conn._where(
                    "the connection was closed while the request waited")))
        if not self._conn.closed:
            await self.run(self._conn.close)


class _Opening:
    """What ``connect`` returns: await it for the AsyncConnection, or use it
    directly in ``async with``."""

    def __init__(self, args: Any, options: Dict[str, Any], via: str,
                 executor: Optional[concurrent.futures.Executor]) -> None:
        self._args = args
        self._options = options
        self._via = via
        self._executor = executor
        self._conn: Optional[AsyncConnection] = None

    async def _open(self) -> AsyncConnection:
        if self._via not in VIAS:
            raise BadArgument(-1100, "connect", "must be one of %s, got %r"
                              % (", ".join(VIAS), self._via), argument="via")
        loop = asyncio.get_running_loop()
        conn = await loop.run_in_executor(self._executor, functools.partial(
            Connection, *self._args, **self._options))
        return AsyncConnection(conn, via=self._via, executor=self._executor)

    def __await__(self) -> Generator[Any, None, AsyncConnection]:
        return self._open().__await__()

    async def __aenter__(self) -> AsyncConnection:
        self._conn = await self._open()
        return self._conn

    async def __aexit__(self, exc_type: Optional[Type[BaseException]],
                        exc: Optional[BaseException], tb: Optional[TracebackType]) -> None:
        if self._conn is not None:
            await self._conn.close()


def connect(server: Text, port: int, user: Text, password: Text, *, via: str = "async",
            executor: Optional[concurrent.futures.Executor] = None,
            encoding: str = 'utf-8', errors: str = 'strict',
            answer_size: int = DEFAULT_ANSWER_SIZE,
            max_answer_size: int = DEFAULT_MAX_ANSWER_SIZE,
            timeout: Optional[float] = None) -> _Opening:
    """Opens a connection for asyncio (the login runs in the thread pool):
    ``async with await orqext.aio.connect("127.0.0.1", 7300, "admin", "admin")
    as conn:`` (``async with orqext.aio.connect(...) as conn:`` works too).

    ``via``: how ``send`` goes by default, "async" (the library's
    asynchronous messages, about 200 ms each) or "thread" (the synchronous
    call in the thread pool, for low latency). ``executor``: the thread pool
    (default: the loop's). The other options are those of ``orqext.connect``."""
    options: Dict[str, Any] = dict(encoding=encoding, errors=errors, answer_size=answer_size,
                                   max_answer_size=max_answer_size, timeout=timeout)
    return _Opening((server, port, user, password), options, via, executor)
