"""Result codes and the exceptions raised for them.

``RESULTS`` is the table of every Result code a caller can meet, in the order
and with the texts of ``exports/orqext_results.h`` (a test keeps the two
equal): (code, name, source, meaning).
"""

from __future__ import annotations

from typing import Any, Dict, Optional, Tuple, Type

RESULTS: Tuple[Tuple[int, str, str, str], ...] = (
    (0, "ORQEXT_OK", "ORQExtClient",
     "success"),
    (-1100, "ORQEXT_E_BAD_ARGUMENT", "ORQExtClient",
     "bad argument: null pointer, empty string, size not positive, length over its limit, or a connect string without one of its keys"),
    (-1107, "ORQEXT_E_ANSWER_TOO_LONG", "ORQExtClient",
     "the answer is longer than the buffer; the buffer holds its leading part and the length says how long the whole answer was"),
    (-1108, "ORQEXT_E_PART", "XSRClient",
     "part of an answer delivered, more follows"),
    (-1112, "ORQEXT_E_TIMEOUT", "ORQExtClient",
     "no complete answer within the time limit"),
    (-1113, "ORQEXT_E_TIMEOUT_CANCELLED", "ORQExtClient",
     "time-out, and the pending answer was cancelled"),
    (-1203, "ORQEXT_E_NO_NODE", "ORQExtClient",
     "clustering is on and there is no module name, or no node serves the module"),
    (-3502, "ORQEXT_E_BAD_STATEMENT", "ORQExtClient",
     "the statement is not well-formed"),
    (-4100, "ORQEXT_E_NO_CONNECTION", "ORQExtClient",
     "the connection handle is not known to the library"),
    (-4120, "ORQEXT_E_NO_CALLBACK", "ORQExtClient",
     "no asynchronous callback is installed"),
    (-4122, "ORQEXT_E_NO_REQUEST", "ORQExtClient",
     "no queued asynchronous request has that id"),
    (-4127, "ORQEXT_E_NO_RECORD", "ORQExtClient",
     "clustering switched off for a connection the library does not know"),
    (-4128, "ORQEXT_E_NO_CLUSTER", "ORQExtClient",
     "no such cluster for the connection"),
    (-9000, "ORQEXT_E_PENDING", "XSRClient",
     "answer pending"),
    (-20001, "XSR_E_RESOLVE", "XSRClient",
     "the host name could not be resolved"),
    (-20002, "XSR_E_CONNECT", "XSRClient",
     "no address of the server accepted the connection"),
    (-20003, "XSR_E_CONNECT_TIMEOUT", "XSRClient",
     "the connect or login took longer than its time limit"),
    (-20004, "XSR_E_LOGIN", "XSRClient",
     "user name or password refused"),
    (-20005, "XSR_E_HANDLE", "XSRClient",
     "no open connection has that handle"),
    (-20006, "XSR_E_LOST", "XSRClient",
     "the server closed or reset the connection"),
    (-20007, "XSR_E_TIMEOUT", "XSRClient",
     "no answer within the I/O time limit"),
    (-20008, "XSR_E_PROTOCOL", "XSRClient",
     "malformed or unexpected frame from the server"),
    (-20009, "XSR_E_ARGUMENT", "XSRClient",
     "a call broke the XSRClient calling contract"),
    (-20010, "XSR_E_TOO_LARGE", "XSRClient",
     "the request does not fit in one frame"),
    (-20011, "XSR_E_RESOURCES", "XSRClient",
     "out of sockets, threads or memory"),
    (-20012, "XSR_E_CLOSED", "XSRClient",
     "the connection was closed while the call was waiting"),
    (-20013, "XSR_E_NO_MATCH", "XSRClient",
     "replay: no recorded call matches the request (shown on standard error)"),
    (-20101, "SIM_E_UNKNOWN_MODULE", "xsr-sim",
     "no module of that name"),
    (-20102, "SIM_E_NOT_STARTED", "xsr-sim",
     "the module is registered but not started"),
    (-20103, "SIM_E_TICKET", "xsr-sim",
     "no pending answer has that ticket"),
    (-20104, "SIM_E_OVERFLOW", "xsr-sim",
     "no room for the ticket of a pending answer (capacity under 8 bytes)"),
    (-20105, "SIM_E_REQUEST", "xsr-sim",
     "the request body is malformed for its command"),
    (-20106, "SIM_E_COMMAND", "xsr-sim",
     "unknown command code or header constant"),
    (-20107, "SIM_E_REGISTERED", "xsr-sim",
     "the module is registered already"),
    (-20108, "SIM_E_VERSION", "xsr-sim",
     "the version does not match the registered one"),
    (-20109, "SIM_E_NO_IMPLEMENTATION", "xsr-sim",
     "no hosted module type for the module"),
    (-20110, "SIM_E_NO_CLUSTER", "xsr-sim",
     "no such cluster or node in the cluster description"),
    (-20111, "SIM_E_STATEMENT", "xsr-sim",
     "statement or action document not understood"),
    (-20112, "SIM_E_BUSY", "xsr-sim",
     "too many connections or running requests"),
    (-20113, "SIM_E_SHUTDOWN", "xsr-sim",
     "the server is stopping"),
    (-20114, "SIM_E_HELD_LIMIT", "xsr-sim",
     "the answers held for tickets are at their bound (per session or in all); fetch or cancel them first"),
    (-20201, "MOD_E_FRAME", "service module",
     "malformed remote call frame"),
    (-20202, "MOD_E_FUNCTION", "service module",
     "unknown remote function or engine selector"),
    (-20203, "MOD_E_NOT_FOUND", "service module",
     "no such dictionary, domain, handle, run or topic"),
    (-20204, "MOD_E_EXISTS", "service module",
     "a dictionary or domain of that name exists already"),
    (-20205, "MOD_E_VALUE", "service module",
     "an argument is out of range (empty name, bad mode)"),
    (-20206, "MOD_E_STATE", "service module",
     "the engine or object is not in the state the call needs (not initialised, not open)"),
)

_BY_CODE = {row[0]: row for row in RESULTS}


def describe(code: int) -> Tuple[str, str]:
    """(name, meaning) of a Result code; unknown codes get a generic text."""
    row = _BY_CODE.get(code)
    if row is not None:
        return row[1], row[3]
    if code >= 0:
        return "STATUS", "status word of the server"
    return "UNKNOWN", "unknown result code"


class OrqExtError(Exception):
    """A call failed. ``code`` is its Result code, ``name`` and ``meaning`` come
    from the result table, ``call`` names the export (or operation),
    ``argument`` the argument that was refused (None when not known)."""

    def __init__(self, code: int, call: Optional[str] = None, detail: Optional[str] = None,
                 *, argument: Optional[str] = None) -> None:
        self.code = code
        self.call = call
        self.detail = detail
        self.argument = argument
        self.name, self.meaning = describe(code)
        if argument:
            # The argument and what is wrong with it first; the generic
            # meaning of -1100 says nothing more.
            text = "argument %r: %s (%d %s)" % (argument, detail or self.meaning, code, self.name)
            if call:
                text = "%s: %s" % (call, text)
        else:
            text = "%d %s: %s" % (code, self.name, self.meaning)
            if call:
                text = "%s failed: %s" % (call, text)
            if detail:
                text += " (%s)" % detail
        super().__init__(text)

    def __reduce__(self) -> Tuple[Any, ...]:
        return (_rebuild, (type(self), self.code, self.call, self.detail, dict(self.__dict__)))


def _rebuild(cls: Type[OrqExtError], code: int, call: Optional[str], detail: Optional[str],
             state: Dict[str, Any]) -> OrqExtError:
    e = cls(code, call, detail, argument=state.get("argument"))
    e.__dict__.update(state)
    return e


class Timeout(OrqExtError, TimeoutError):
    """No complete answer within the time limit (-1112, -1113) or within the
    client library's I/O limit (-20007). Also a TimeoutError."""


class NoConnection(OrqExtError, ConnectionError):
    """The connection is unknown, could not be made, was refused or lost.
    Also a ConnectionError."""


class AnswerTooLong(OrqExtError):
    """The answer does not fit: it is longer than the maximum answer size, or
    it was still too long after the one retry with the reported length.
    ``length`` is the length the library reported (None when unknown)."""

    def __init__(self, code: int = -1107, call: Optional[str] = None,
                 detail: Optional[str] = None, length: Optional[int] = None,
                 *, argument: Optional[str] = None) -> None:
        super().__init__(code, call, detail, argument=argument)
        self.length = length


class BadArgument(OrqExtError, ValueError):
    """An argument was refused (by the library, -1100, or before the call:
    nothing was sent). ``argument`` names it where the package refused it."""


_CLASSES: Dict[int, Type[OrqExtError]] = {
    -1100: BadArgument,
    -1107: AnswerTooLong,
    -20104: AnswerTooLong,
    -1112: Timeout,
    -1113: Timeout,
    -20007: Timeout,
    -4100: NoConnection,
    -20001: NoConnection,
    -20002: NoConnection,
    -20003: NoConnection,
    -20004: NoConnection,
    -20005: NoConnection,
    -20006: NoConnection,
    -20012: NoConnection,
}


def error_for(code: int, call: Optional[str] = None, detail: Optional[str] = None) -> OrqExtError:
    """The exception for a failed Result code."""
    return _CLASSES.get(code, OrqExtError)(code, call, detail)


def int32(value: Any, what: str) -> int:
    """An int32 argument: what int() takes, within -2^31 .. 2^31-1 (ctypes
    would silently cut a larger number to its low 32 bits)."""
    try:
        n = int(value)
    except (TypeError, ValueError):
        raise BadArgument(-1100, None, "expected an integer, got %r" % (value,),
                          argument=what) from None
    if not -0x80000000 <= n <= 0x7FFFFFFF:
        raise BadArgument(-1100, None, "%d is outside the 32-bit range" % n, argument=what)
    return n


def milliseconds(seconds: Any, what: str = "timeout") -> int:
    """A time limit given in seconds as the library's milliseconds: a finite
    number, not negative, at most 2^31-1 ms."""
    try:
        ms = round(float(seconds) * 1000)
    except (TypeError, ValueError, OverflowError):
        raise BadArgument(-1100, None, "expected seconds, got %r" % (seconds,),
                          argument=what) from None
    if ms < 0:
        raise BadArgument(-1100, None, "must not be negative", argument=what)
    return int32(ms, what)


def check(code: int, call: str, where: Optional[str] = None) -> int:
    """Returns a non-negative code; raises the exception of a negative one
    (``where``: the server it came from, for the message)."""
    if code < 0:
        raise error_for(code, call, where)
    return code
