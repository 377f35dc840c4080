"""Runs in a child interpreter whose library takes its XSRClient functions from
the scripted double: the double is loaded first (RTLD_GLOBAL, soname
libXSRClient.so), so the library's dependency resolves to it. The functions
below are called from the tests through a process pool and return plain
data."""

import ctypes
import struct
import threading

_ctl = None


def setup(double_lib, control_lib, library):
    global _ctl
    ctypes.CDLL(double_lib, mode=ctypes.RTLD_GLOBAL)
    _ctl = ctypes.CDLL(control_lib)
    _ctl.dbl_push.argtypes = [ctypes.c_int32, ctypes.c_char_p, ctypes.c_int32, ctypes.c_int32]
    _ctl.dbl_set_open_result.argtypes = [ctypes.c_char_p, ctypes.c_int32]
    _ctl.dbl_command_body.argtypes = [ctypes.c_int32, ctypes.c_char_p, ctypes.c_int32]
    _ctl.dbl_answer_after.argtypes = [_TOUCH, ctypes.c_char_p, ctypes.c_int32]
    _ctl.dbl_hold.argtypes = [ctypes.c_int32, ctypes.c_int32, ctypes.c_int32, ctypes.c_int32,
                              ctypes.c_char_p, ctypes.c_int32, _TOUCH]
    from orqext import raw
    raw.load(library)


def le32(v):
    return struct.pack("<i", v)


def script(replies):
    """replies: (result, bytes, reported length or -1)."""
    _ctl.dbl_reset()
    for result, data, reported in replies:
        _ctl.dbl_push(result, data, len(data), reported)


def commands():
    """(code, capacity offered, body) of every XSR_CommandEx so far."""
    out = []
    for i in range(_ctl.dbl_command_count()):
        n = _ctl.dbl_command_body(i, None, 0)
        buf = ctypes.create_string_buffer(max(n, 1))
        _ctl.dbl_command_body(i, buf, n)
        out.append((_ctl.dbl_command_code(i), _ctl.dbl_command_capacity(i), buf.raw[:n]))
    return out


_TOUCH = ctypes.CFUNCTYPE(None)
# The double may call the current touch at any time until the next reset: kept here.
_touch = [None]


def _on_call(action):
    """A touch for the double that runs action(), or nothing once action is None."""
    _touch[0] = _TOUCH(action)
    return _touch[0]


def run_cancel(stage, module, payload, replies, cancel_reply, bound=20.0):
    """The cancel rule at a stage (tests/cases/README.md). "queued": the request
    is cancelled inside the library's call of another request the worker has in
    hand, so it was never sent; "pending": after the double saw it sent and
    polled once (the double keeps the last "pending" of replies at every poll);
    "answered": after its answer. cancel_reply (result, bytes) answers the
    cancel by ticket. Returns (what cancel returned, cancel_result, whether the
    request ended cancelled, its answer or None)."""
    conn = _connect()
    script(replies)
    cancel_result, cancel_bytes = cancel_reply
    pending = [r for r in replies if r[0] == -9000]
    ticket = struct.unpack("<ii", pending[-1][1]) if pending else (0, 0)
    try:
        if stage == "queued":
            release, done = threading.Event(), {}
            holder = {}

            def inside_the_other_call():
                if "cancelled" in done or not release.wait(bound):
                    return
                _ctl.dbl_push(cancel_result, cancel_bytes, len(cancel_bytes), -1)
                done["cancelled"] = holder["request"].cancel()
            _ctl.dbl_answer_after(_on_call(inside_the_other_call), b"busy", 4)
            other = conn.send_async("Busy", b"\x01")
            request = holder["request"] = conn.send_async(module, payload)
            release.set()
            other.result(bound)
            cancelled = done["cancelled"]
        elif stage == "pending":
            polled = threading.Semaphore(0)
            _ctl.dbl_hold(1, ticket[0], ticket[1], cancel_result, cancel_bytes, len(cancel_bytes),
                          _on_call(polled.release))
            request = conn.send_async(module, payload)
            if not polled.acquire(timeout=bound):  # the first poll: sent, and pending there
                raise TimeoutError("the library did not poll for the pending answer")
            cancelled = request.cancel()
        elif stage == "answered":
            request = conn.send_async(module, payload)
            request.result(bound)
            cancelled = request.cancel()
        else:
            raise ValueError("cancel stage %r" % stage)
        ended_cancelled = request.cancelled()
        answer = None if ended_cancelled else request.result(bound).answer
        return cancelled, request.cancel_result, ended_cancelled, answer
    finally:
        conn.close()
        _ctl.dbl_reset()
        _touch[0] = None  # the double calls no touch after the reset


def _connect(**options):
    import orqext
    _ctl.dbl_reset()
    conn = orqext.connect("127.0.0.1", 7300, "admin", "admin", **options)
    return conn


def run(call, replies, **options):
    """Connects, scripts the replies, runs conn.<call[0]>(*call[1:]) (a dict
    at the end holds keyword arguments); returns
    (outcome, commands) where outcome is ("ok", value) or ("error", exc)."""
    conn = _connect(**options)
    script(replies)
    args, kwargs = call[1:], {}
    if args and isinstance(args[-1], dict):
        args, kwargs = args[:-1], args[-1]
    try:
        outcome = ("ok", getattr(conn, call[0])(*args, **kwargs))
    except Exception as e:  # handed back to the test whole
        outcome = ("error", e)
    sent = commands()
    conn.close()
    return outcome, sent


def connect_refused(code):
    import orqext
    _ctl.dbl_reset()
    _ctl.dbl_set_open_result(b"refused-host", code)
    try:
        orqext.connect("refused-host", 7300, "admin", "admin")
    except Exception as e:
        return e
    return None


def text_refused(call):
    """A text argument refused before the call: the exception and the number
    of commands the double saw."""
    conn = _connect()
    _ctl.dbl_reset()
    try:
        getattr(conn, call[0])(*call[1:])
        outcome = None
    except Exception as e:
        outcome = e
    count = _ctl.dbl_command_count()
    conn.close()
    return outcome, count
