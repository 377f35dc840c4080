"""Runs in a child interpreter whose library takes its XSRClient functions from
the scripted double: the double is loaded first (RTLD_GLOBAL, soname
libXSRClient.so), so the library's dependency resolves to it. The functions
below are called from the tests through a process pool and return plain
data."""

import ctypes
import struct

_ctl = None


def setup(double_lib, control_lib, library):
    global _ctl
    ctypes.CDLL(double_lib, mode=ctypes.RTLD_GLOBAL)
    _ctl = ctypes.CDLL(control_lib)
    _ctl.dbl_push.argtypes = [ctypes.c_int32, ctypes.c_char_p, ctypes.c_int32, ctypes.c_int32]
    _ctl.dbl_set_open_result.argtypes = [ctypes.c_char_p, ctypes.c_int32]
    _ctl.dbl_command_body.argtypes = [ctypes.c_int32, ctypes.c_char_p, ctypes.c_int32]
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
