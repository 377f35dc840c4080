"""Asynchronous messages: one process-wide callback of the library, handed to
a per-request Python callable.

The library has one callback for the whole process. This module installs its
own on the first asynchronous send and keeps the ctypes callback object for
the rest of the process (the library may call it at any time while it is
installed); at interpreter exit it is removed again, so the library's worker
never calls into a finalising interpreter. Callbacks run on the library's
worker thread. An exception raised by a user callable is caught there (it
never crosses into C), kept on the request (``callback_error``) and reported
through the hook set with ``set_callback_error_hook`` (default: logged as an
error with its traceback to the "orqext" logger).
"""

from __future__ import annotations

import atexit
import concurrent.futures
import ctypes
import logging
import sys
import threading
import traceback
from typing import Any, Callable, Dict, List, Optional

from . import raw
from .errors import error_for
from .records import AsyncCallback, AsyncResult

#: hook(request or None, exception): told of an exception in a callback.
ErrorHook = Callable[["Optional[AsyncRequest]", BaseException], object]

_lock = threading.Lock()
_pending: Dict[int, "AsyncRequest"] = {}
_next_id = [0]
_installed: List[Any] = []  # the ctypes callback object, kept while it may be called


log = logging.getLogger("orqext")


def _default_hook(request: "Optional[AsyncRequest]", exc: BaseException) -> None:
    which = "request %d" % request.id if request is not None else "an unmatched request"
    log.error("exception in the callback of asynchronous %s", which,
              exc_info=(type(exc), exc, exc.__traceback__))


_hook: List[ErrorHook] = [_default_hook]


def set_callback_error_hook(hook: "Optional[ErrorHook]") -> "ErrorHook":
    """Sets the function called as hook(request, exception) when a user
    callback raises (None: the default, which logs the exception with its
    traceback to the "orqext" logger). Returns the previous hook."""
    previous = _hook[0]
    _hook[0] = hook or _default_hook
    return previous


def _report(request: "Optional[AsyncRequest]", exc: BaseException) -> None:
    """Hands a callback's exception to the hook (request may be None when the
    answer could not be matched to one)."""
    try:
        _hook[0](request, exc)
    except BaseException:  # a failing hook must not reach C either
        try:
            traceback.print_exc(file=sys.stderr)
        except BaseException:
            pass


class AsyncRequest(concurrent.futures.Future[AsyncResult]):
    """A queued asynchronous message, as a ``concurrent.futures.Future`` of
    its AsyncResult: ``result()``, ``add_done_callback``, ``as_completed`` and
    ``concurrent.futures.wait`` work as with any future, and a cancelled
    request raises ``CancelledError``. The future is done once the answer came
    and the request's own callback ran, or once it was cancelled."""

    def __init__(self, request_id: int, callback: Optional[AsyncCallback],
                 where: Optional[str] = None) -> None:
        super().__init__()
        self.id = request_id
        self._callback = callback
        #: The server the request went to, for messages (None: not known).
        self.where = where
        self.cancel_result: Optional[int] = None
        self.callback_error: Optional[BaseException] = None

    def wait(self, timeout: Optional[float] = None) -> Optional[AsyncResult]:
        """The AsyncResult (None when cancelled). Raises TimeoutError when it
        did not finish within timeout seconds."""
        try:
            result: AsyncResult = self.result(timeout)
            return result
        except concurrent.futures.CancelledError:
            return None
        except concurrent.futures.TimeoutError:
            raise TimeoutError("asynchronous request %d: no answer within %s s"
                               % (self.id, timeout)) from None

    def answer(self, timeout: Optional[float] = None) -> bytes:
        """The answer bytes; a failed answer raises its OrqExtError, a
        cancelled request CancelledError."""
        r: AsyncResult = self.result(timeout)
        if r.code < 0:
            raise error_for(r.code, "asynchronous message", self.where)
        return r.answer

    def cancel(self) -> bool:
        """Cancels the request: True when the library took it out of its
        queue (its callback will not run; the future is cancelled), False when
        it had finished already. The library also sends a cancel to the
        server; that call's result is kept in ``cancel_result`` (a request not
        yet sent has nothing to cancel there, and the server may say so). It
        never raises: the rule every layer shares, docs/design.md
        ("Cancelling an asynchronous request in the layers")."""
        if self.done():
            return False
        rc = raw.ORQExt_CancelAsync(0, self.id)
        if rc == -4122:
            return False
        with _lock:
            _pending.pop(self.id, None)
        self.cancel_result = rc
        return super().cancel()

    def _complete(self, result: AsyncResult) -> None:
        try:
            if self._callback is not None:
                self._callback(result)
        except BaseException as e:  # never into C: kept and reported
            self.callback_error = e
            _report(self, e)
        finally:
            self.set_result(result)


def _dispatch(request_id: int, result: int, answer: Optional[int], answer_len: int) -> None:
    request = None
    try:
        # The answer bytes are the library's and valid during this call only.
        data = ctypes.string_at(answer, answer_len) if answer and answer_len > 0 else b""
        with _lock:
            request = _pending.pop(request_id, None)
        if request is not None:
            request._complete(AsyncResult(request_id, result, data))
    except BaseException as e:  # nothing may unwind into the library
        _report(request, e)


def _install() -> None:
    with _lock:
        if _installed:
            return
        callback = raw.ORQExtAsyncCallback(_dispatch)
        raw.ORQExt_SetAsyncFunc(callback, None)
        _installed.append(callback)
    atexit.register(_uninstall)


def _uninstall() -> None:
    """Removes the callback: the library drops every queued request without
    calling back; the requests still pending end as cancelled."""
    with _lock:
        if not _installed:
            return
    raw.ORQExt_SetAsyncFunc(raw.ORQExtAsyncCallback(), None)
    # The worker holds its queue lock for a whole pass, callbacks included,
    # and a cancel takes that lock: once this cancel of an id never used
    # returns, no pass that could still call the removed callback is running.
    raw.ORQExt_CancelAsync(0, 0)
    with _lock:
        _installed.clear()
        left = list(_pending.values())
        _pending.clear()
    for request in left:
        concurrent.futures.Future.cancel(request)


def _new_id() -> int:
    while True:
        _next_id[0] = _next_id[0] % 0x7FFFFFFF + 1
        if _next_id[0] not in _pending:
            return _next_id[0]


def send(handle: int, module: bytes, target: Optional[bytes], payload: bytes,
         callback: Optional[AsyncCallback], capacity: int,
         where: Optional[str] = None) -> AsyncRequest:
    """Queues a message; ``where`` names the server in the messages of its
    failures."""
    _install()
    with _lock:
        request = AsyncRequest(_new_id(), callback, where)
        _pending[request.id] = request
    rc = raw.ORQExt_AsyncSendMessage(handle, module, target, payload, len(payload),
                                     request.id, capacity)
    if rc < 0:
        with _lock:
            _pending.pop(request.id, None)
        raise error_for(rc, "ORQExt_AsyncSendMessage", where)
    return request
