"""Asynchronous messages: one process-wide callback of the library, handed to
a per-request Python callable.

The library has one callback for the whole process. This module installs its
own on the first asynchronous send and keeps the ctypes callback object for
the rest of the process (the library may call it at any time while it is
installed); at interpreter exit it is removed again, so the library's worker
never calls into a finalising interpreter. Callbacks run on the library's
worker thread. An exception raised by a user callable is caught there (it
never crosses into C), kept on the request (``callback_error``) and reported
through the hook set with ``set_callback_error_hook`` (default: the
traceback on stderr).
"""

import atexit
import ctypes
import sys
import threading
import traceback

from . import raw
from .errors import OrqExtError, error_for
from .records import AsyncResult

_lock = threading.Lock()
_pending = {}
_next_id = [0]
_installed = []  # the ctypes callback object, kept while it may be called


def _default_hook(request, exc):
    which = "request %d" % request.id if request is not None else "an unmatched request"
    sys.stderr.write("orqext: exception in the callback of asynchronous %s\n" % which)
    traceback.print_exception(type(exc), exc, exc.__traceback__, file=sys.stderr)


_hook = [_default_hook]


def set_callback_error_hook(hook):
    """Sets the function called as hook(request, exception) when a user
    callback raises (None: the default, which prints the traceback to
    stderr). Returns the previous hook."""
    previous = _hook[0]
    _hook[0] = hook or _default_hook
    return previous


def _report(request, exc):
    """Hands a callback's exception to the hook (request may be None when the
    answer could not be matched to one)."""
    try:
        _hook[0](request, exc)
    except BaseException:  # a failing hook must not reach C either
        try:
            traceback.print_exc(file=sys.stderr)
        except BaseException:
            pass


class AsyncRequest:
    """A queued asynchronous message. ``wait()`` blocks until its answer came
    and the callback ran (or it was cancelled) and returns the AsyncResult."""

    def __init__(self, request_id, callback):
        self.id = request_id
        self._callback = callback
        self._done = threading.Event()
        self.result = None
        self.cancelled = False
        self.cancel_result = None
        self.callback_error = None

    def done(self):
        return self._done.is_set()

    def wait(self, timeout=None):
        """The AsyncResult (None when cancelled). Raises TimeoutError when it
        did not finish within timeout seconds."""
        if not self._done.wait(timeout):
            raise TimeoutError("asynchronous request %d: no answer within %s s" % (self.id, timeout))
        return self.result

    def answer(self, timeout=None):
        """The answer bytes; a failed answer raises its OrqExtError."""
        r = self.wait(timeout)
        if r is None:
            raise OrqExtError(-4122, "asynchronous message", "the request was cancelled")
        if r.code < 0:
            raise error_for(r.code, "asynchronous message")
        return r.answer

    def cancel(self):
        """Cancels the request: True when the library took it out of its
        queue (its callback will not run), False when it had finished already.
        The library also sends a cancel to the server; that call's result is
        kept in ``cancel_result`` (a request not yet sent has nothing to
        cancel there, and the server may say so). It never raises: the rule
        every layer shares, docs/design.md ("Cancelling an asynchronous
        request in the layers")."""
        with _lock:
            if self._done.is_set():
                return False
        rc = raw.ORQExt_CancelAsync(0, self.id)
        if rc == -4122:
            return False
        with _lock:
            _pending.pop(self.id, None)
            self.cancelled = True
            self.cancel_result = rc
        self._done.set()
        return True

    def _complete(self, result):
        self.result = result
        try:
            if self._callback is not None:
                self._callback(result)
        except BaseException as e:  # never into C: kept and reported
            self.callback_error = e
            _report(self, e)
        finally:
            self._done.set()


def _dispatch(request_id, result, answer, answer_len):
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


def _install():
    with _lock:
        if _installed:
            return
        callback = raw.ORQExtAsyncCallback(_dispatch)
        raw.ORQExt_SetAsyncFunc(callback, None)
        _installed.append(callback)
    atexit.register(_uninstall)


def _uninstall():
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
        request.cancelled = True
        request._done.set()


def _new_id():
    # Ids are unique among the pending requests of the process, so each
    # answer reaches exactly its own callable.
    while True:
        _next_id[0] = _next_id[0] % 0x7FFFFFFF + 1
        if _next_id[0] not in _pending:
            return _next_id[0]


def send(handle, module, target, payload, callback, capacity):
    _install()
    with _lock:
        request = AsyncRequest(_new_id(), callback)
        _pending[request.id] = request
    rc = raw.ORQExt_AsyncSendMessage(handle, module, target, payload, len(payload),
                                     request.id, capacity)
    if rc < 0:
        with _lock:
            _pending.pop(request.id, None)
        raise error_for(rc, "ORQExt_AsyncSendMessage")
    return request
