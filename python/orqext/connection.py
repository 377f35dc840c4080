"""Connections: the Pythonic layer over the exports.

Texts given to a call may be ``str`` (encoded with the connection's codec,
UTF-8 unless ``encoding`` says otherwise; the wire carries 8-bit bytes as
given) or bytes-like; answers are ``bytes``. A text with a NUL byte inside is
refused (BadArgument) where the library takes a NUL-terminated string, since
the library would cut it there.

Answers into buffers size themselves: a call starts with ``answer_size``
bytes; when the library answers -1107 with the whole answer's length, the call
is made once more with a buffer of exactly that length (at most
``max_answer_size``); a second -1107, or a length above the maximum, raises
AnswerTooLong. The retry runs the call on the server a second time.
"""

from __future__ import annotations

import ctypes
import logging
import socket
import threading
from typing import Any, Callable, Iterable, List, Literal, Optional, Tuple, overload
from ctypes import byref, c_int32, create_string_buffer

from . import _async, raw
from ._codec import Codec
from ._services import ServiceCalls
from .errors import (AnswerTooLong, BadArgument, NoConnection, Timeout, check, error_for, int32,
                     milliseconds)
from ._async import AsyncRequest
from .records import AsyncCallback, Cluster, Node, Text, Data

log = logging.getLogger("orqext")

DEFAULT_ANSWER_SIZE = 64 * 1024
DEFAULT_MAX_ANSWER_SIZE = 64 * 1024 * 1024


def _fit(codec: Codec, value: Optional[Text], size: int, what: str) -> bytes:
    """A text for a fixed array of size bytes (NUL included): never cut."""
    data = codec.text(value if value is not None else b"", what)
    if len(data) >= size:
        raise BadArgument(-1100, None, "longer than %d bytes" % (size - 1), argument=what)
    return data


def cluster_record(codec: Codec, cluster: Cluster) -> raw.ClusterInfo:
    rec = raw.ClusterInfo()
    rec.name = _fit(codec, cluster.name, 256, "cluster name")
    rec.tag = _fit(codec, cluster.tag, 16, "cluster tag")
    rec.attr_a = _fit(codec, cluster.attr_a, 32, "cluster attr_a")
    rec.attr_b = _fit(codec, cluster.attr_b, 128, "cluster attr_b")
    return rec


def _cluster_of(rec: raw.ClusterInfo) -> Cluster:
    return Cluster(rec.name, rec.tag, rec.attr_a, rec.attr_b)


def _node_of(rec: raw.NodeInfo) -> Node:
    return Node(rec.server, rec.port, rec.user, getattr(rec, "pass"), rec.attr)


def _login(names: List[bytes], port: int, user: bytes, password: bytes, limit: Optional[float],
           where: str) -> Tuple[int, int]:
    """ORQExt_Connect on each name in turn while the server cannot be reached
    there: (handle, status). With a limit (seconds) the calls run on a thread
    of their own and are given up after that long (Timeout -20003); a
    connection made later is closed there."""
    def attempt() -> Tuple[int, int]:
        status = c_int32(0)
        handle = 0
        for name in names:
            if handle:
                raw.ORQExt_DisConnect(handle)
            handle = raw.ORQExt_Connect(name, port, user, password, byref(status))
            if not -20003 <= status.value <= -20001:
                break
        return int(handle), status.value

    if limit is None:
        return attempt()
    lock = threading.Lock()
    outcome: List[Tuple[int, int]] = []
    abandoned = threading.Event()
    done = threading.Event()

    def run() -> None:
        got = attempt()
        with lock:
            if abandoned.is_set():
                if got[0]:
                    raw.ORQExt_DisConnect(got[0])
                return
            outcome.append(got)
        done.set()

    threading.Thread(target=run, name="orqext-connect", daemon=True).start()
    if not done.wait(limit):
        with lock:
            if not outcome:
                abandoned.set()
                raise Timeout(-20003, "ORQExt_Connect", "no connection within %s s (%s)"
                              % (limit, where))
    return outcome[0]


def server_status(server: Text, port: int, encoding: str = 'utf-8') -> int:
    """Probes a server address; returns the (non-negative) status, raises for
    a failure."""
    host = Codec(encoding).text(server, "server")
    return check(raw.ORQExt_GetServerStatus(host, int32(port, "port")), "ORQExt_GetServerStatus")


def _connect_value(codec: Codec, value: Text, what: str) -> bytes:
    data = codec.text(value, what)
    if b";" in data or b"=" in data:
        raise BadArgument(-1100, None, "';' and '=' cannot be given in a connect string",
                          argument=what)
    return data


def exec_sql(statement: Text, server: Text, port: int, user: Text, password: Text,
             encoding: str = 'utf-8') -> int:
    """Runs a statement on a connection opened for it alone
    (ORQExt_ExecSql); returns the server's status."""
    codec = Codec(encoding)
    host = _connect_value(codec, server, "server")
    rest = [b"port=" + str(int32(port, "port")).encode(),
            b"user=" + _connect_value(codec, user, "user"),
            b"pass=" + _connect_value(codec, password, "password")]
    text = codec.text(statement, "statement")
    names = _server_names(host)
    if not names:
        raise _unresolved(codec, host)
    rc = 0
    for name in names:  # a name over 15 characters: each IPv4 address in turn
        rc = raw.ORQExt_ExecSql(b";".join([b"server=" + name] + rest), text)
        if not -20003 <= rc <= -20001:
            break
    return check(rc, "ORQExt_ExecSql")


#: Characters of the server name the login record holds.
SERVER_NAME_ROOM = raw.ORQEXT_SERVER_NAME_ROOM


def _server_names(server: bytes) -> List[bytes]:
    """The names to hand to ORQExt_Connect: the name itself when the login
    record holds it, else its IPv4 addresses as dotted text, in the resolver's
    order (empty: none)."""
    if len(server) <= SERVER_NAME_ROOM:
        return [server]
    try:
        infos = socket.getaddrinfo(server, None, socket.AF_INET, socket.SOCK_STREAM)
    except (OSError, UnicodeError, ValueError):
        return []
    names: List[bytes] = []
    for info in infos:
        name = str(info[4][0]).encode("ascii")
        if name not in names:
            names.append(name)
    return names


def _unresolved(codec: Codec, host: bytes, call: str = "ORQExt_ExecSql") -> NoConnection:
    """The error for a server name with no IPv4 address to put in its place."""
    return NoConnection(-20001, call, "%r resolves to no IPv4 address; the login record holds %d "
                        "characters of the server name"
                        % (host.decode(codec.encoding, "replace"), SERVER_NAME_ROOM),
                        argument="server")


class Connection(ServiceCalls):
    """An open connection. Use it as a context manager, or call close()."""

    def __init__(self, server: Text, port: int, user: Text, password: Text, *,
                 encoding: str = 'utf-8', errors: str = 'strict',
                 answer_size: int = DEFAULT_ANSWER_SIZE,
                 max_answer_size: int = DEFAULT_MAX_ANSWER_SIZE,
                 timeout: Optional[float] = None) -> None:
        self.codec = Codec(encoding, errors)
        self.answer_size = answer_size
        self.max_answer_size = max_answer_size
        self._lock = threading.Lock()
        self._handle = 0
        self.server = server if isinstance(server, str) else bytes(server).decode("utf-8", "replace")
        self.port = int32(port, "port")
        limit = None if timeout is None else milliseconds(timeout, "timeout") / 1000.0
        host = self.codec.text(server, "server")
        login = self.codec.text(user, "user"), self.codec.text(password, "password")
        # A name longer than the login record holds: each IPv4 address in turn.
        names = _server_names(host)
        if not names:
            raise _unresolved(self.codec, host, "ORQExt_Connect")
        handle, status = _login(names, self.port, login[0], login[1], limit, self._where())
        if status < 0 or handle == 0:
            if handle:
                raw.ORQExt_DisConnect(handle)
            raise error_for(status if status < 0 else -1100, "ORQExt_Connect", self._where())
        self._handle = handle

    def _where(self, detail: Optional[str] = None) -> str:
        """The server this connection is to, for messages; after detail when
        given."""
        where = "server %s port %d" % (self.server, self.port)
        return where if detail is None else "%s; %s" % (detail, where)

    # -- sizes ------------------------------------------------------------
    @property
    def answer_size(self) -> int:
        """The buffer size the self-sizing calls start with."""
        return self._answer_size

    @answer_size.setter
    def answer_size(self, value: int) -> None:
        size = int32(value, "answer_size")
        if size < 1:
            raise BadArgument(-1100, None, "must be 1 .. 2^31-1", argument="answer_size")
        self._answer_size = size

    @property
    def max_answer_size(self) -> int:
        """The largest buffer a retry may ask for."""
        return self._max_answer_size

    @max_answer_size.setter
    def max_answer_size(self, value: int) -> None:
        size = int32(value, "max_answer_size")
        if size < 1:
            raise BadArgument(-1100, None, "must be 1 .. 2^31-1", argument="max_answer_size")
        self._max_answer_size = size

    # -- life cycle ---------------------------------------------------------
    @property
    def handle(self) -> int:
        """The library's connection handle (0 once closed)."""
        return self._handle

    @property
    def closed(self) -> bool:
        """True once the connection is closed."""
        return self._handle == 0

    def _h(self) -> int:
        h = self._handle
        if h == 0:
            raise NoConnection(-4100, None, self._where("the connection is closed"))
        return h

    def close(self) -> None:
        """Closes the connection (a second close does nothing)."""
        with self._lock:
            h, self._handle = self._handle, 0
        if h:
            check(raw.ORQExt_DisConnect(h), "ORQExt_DisConnect", self._where())

    def __del__(self) -> None:
        try:
            if getattr(self, "_handle", 0):
                self.close()
        except Exception:
            pass

    def __enter__(self) -> Connection:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __repr__(self) -> str:
        return "<orqext.Connection %s:%d handle=%d%s>" % (
            self.server, self.port, self._handle, " closed" if self.closed else "")

    def is_alive(self) -> bool:
        """True while the client library reports the connection alive."""
        return self._handle != 0 and raw.ORQExt_IsConnect(self._handle) != 0

    def decode(self, answer: bytes) -> str:
        """An answer as text, in the connection's encoding (and ``errors``):
        answers are handed back as the server sent them, as bytes."""
        return self.codec.decode(answer)

    # -- shared helpers -----------------------------------------------------
    @overload
    def _t(self, value: Text, what: str, allow_none: Literal[False] = False) -> bytes: ...

    @overload
    def _t(self, value: Optional[Text], what: str, allow_none: bool) -> Optional[bytes]: ...

    def _t(self, value: Optional[Text], what: str, allow_none: bool = False) -> Optional[bytes]:
        return self.codec.text(value, what, allow_none)

    def _call(self, name: str, *args: Any) -> int:
        return check(getattr(raw.library(), name)(self._h(), *args), name, self._where())

    def _sized(self, name: str, invoke: Callable[[Any, c_int32], Any],
               capacity: Optional[int] = None) -> Tuple[int, bytes]:
        """Runs invoke(buffer, length) under the self-sizing rule; returns
        (result, answer bytes)."""
        cap = self.answer_size if capacity is None else int32(capacity, "capacity")
        for attempt in (1, 2):
            buf = create_string_buffer(cap)
            length = c_int32(cap)
            rc: int = invoke(buf, length)
            if rc != -1107:
                check(rc, name, self._where())
                return rc, buf.raw[:max(0, min(length.value, cap))]
            whole = length.value
            if attempt == 2 or whole <= cap:
                raise AnswerTooLong(-1107, name, self._where("still too long after a retry"
                                                             if attempt == 2 else None), length=whole)
            if whole > self.max_answer_size:
                raise AnswerTooLong(-1107, name, self._where(
                    "the answer has %d bytes, above the maximum answer size %d"
                    % (whole, self.max_answer_size)), length=whole)
            log.debug("%s: the answer has %d bytes, more than %d: once more with its length",
                      name, whole, cap)
            cap = whole
        raise AssertionError("unreachable")

    # -- messages and statements ---------------------------------------------
    def send(self, module: Text, payload: Data = b'', *, target: Optional[Text] = None,
             timeout: Optional[float] = None, cancel: bool = False,
             capacity: Optional[int] = None) -> bytes:
        """Sends a message to a module and returns its answer. With
        ``timeout`` (seconds) the call gives up after that long (Timeout); with
        ``cancel`` the pending answer is cancelled then."""
        h = self._h()
        mod = self._t(module, "module")
        tgt = self._t(target, "target", allow_none=True)
        data = self.codec.data(payload, "payload")
        if timeout is None:
            name = "ORQExt_SendMessage"

            def invoke(buf: Any, length: c_int32) -> Any:
                return raw.ORQExt_SendMessage(h, mod, tgt, data, len(data), buf, byref(length))
        else:
            name = "ORQExt_SendMessageTimeOut"
            limit = milliseconds(timeout)

            def invoke(buf: Any, length: c_int32) -> Any:
                return raw.ORQExt_SendMessageTimeOut(h, mod, tgt, data, len(data), buf,
                                                     byref(length), limit, 1 if cancel else 0)
        return self._sized(name, invoke, capacity)[1]

    def send_async(self, module: Text, payload: Data, callback: Optional[AsyncCallback] = None, *,
                   target: Optional[Text] = None,
                   answer_capacity: int = DEFAULT_ANSWER_SIZE) -> AsyncRequest:
        """Queues a message; the library's worker sends it and calls
        ``callback(AsyncResult)`` on its own thread with the answer. Returns
        an AsyncRequest (wait(), answer(), cancel())."""
        data = self.codec.data(payload, "payload")
        if not data:
            raise BadArgument(-1100, "send_async", "must not be empty", argument="payload")
        return _async.send(self._h(), self._t(module, "module"),
                           self._t(target, "target", allow_none=True), data, callback,
                           int32(answer_capacity, "answer_capacity"), self._where())

    def execute(self, statement: Text) -> int:
        """Runs a statement on this connection (ORQExt_ExecSql2)."""
        return self._call("ORQExt_ExecSql2", self._t(statement, "statement"))

    def statement_process(self, statement: Text) -> int:
        """Sends an extension statement's free text to the module's statement
        process (ORQExt_QuerySqlProcess)."""
        return self._call("ORQExt_QuerySqlProcess", self._t(statement, "statement"))

    # -- module administration ---------------------------------------------
    def register_module(self, module: Text, version: Optional[Text] = None, *,
                        autostart: bool = False, file_ref: Optional[Text] = None,
                        cmd_param: Optional[Text] = None, desc: Optional[Text] = None,
                        depend_files: Optional[Text] = None) -> int:
        """Registers a module on the server (``autostart``: start it too) (ORQExt_RegExtMod).
        Returns the server's status (not negative); a failure raises OrqExtError."""
        t = self._t
        return self._call("ORQExt_RegExtMod", t(module, "module"),
                          t(version, "version", True), 1 if autostart else 0,
                          t(file_ref, "file_ref", True), t(cmd_param, "cmd_param", True),
                          t(desc, "desc", True), t(depend_files, "depend_files", True))

    def unregister_module(self, module: Text, version: Optional[Text] = None) -> int:
        """Removes a module's registration (ORQExt_UnRegExtMod). Returns the server's status
        (not negative); a failure raises OrqExtError."""
        return self._call("ORQExt_UnRegExtMod", self._t(module, "module"),
                          self._t(version, "version", True))

    def start_module(self, module: Text, version: Optional[Text] = None) -> int:
        """Starts a registered module (ORQExt_LoadExtMod). Returns the server's status (not
        negative); a failure raises OrqExtError."""
        return self._call("ORQExt_LoadExtMod", self._t(module, "module"),
                          self._t(version, "version", True))

    def stop_module(self, module: Text, version: Optional[Text] = None) -> int:
        """Stops a running module (ORQExt_UnloadExtMod). Returns the server's status (not
        negative); a failure raises OrqExtError."""
        return self._call("ORQExt_UnloadExtMod", self._t(module, "module"),
                          self._t(version, "version", True))

    # The three queries answer text; one terminating NUL is not part of it.
    def module_info(self, module: Text, second_name: Optional[Text] = None) -> bytes:
        """The server's description of one module, as bytes (its terminating NUL dropped)
        (ORQExt_GetModInfo)."""
        h, mod, sec = self._h(), self._t(module, "module"), self._t(second_name, "second_name", True)
        return self._sized("ORQExt_GetModInfo", lambda b, n: raw.ORQExt_GetModInfo(
            h, mod, sec, b, byref(n)))[1].split(b"\0", 1)[0]

    def module_list(self) -> bytes:
        """The server's list of modules, as bytes (its terminating NUL dropped)
        (ORQExt_GetModInfos)."""
        h = self._h()
        return self._sized("ORQExt_GetModInfos",
                           lambda b, n: raw.ORQExt_GetModInfos(h, b, byref(n)))[1].split(b"\0", 1)[0]

    def extension_version(self) -> bytes:
        """The server's extension version text, as bytes (its terminating NUL dropped)
        (ORQExt_GetExtVersion)."""
        h = self._h()
        return self._sized("ORQExt_GetExtVersion",
                           lambda b, n: raw.ORQExt_GetExtVersion(h, b, byref(n)))[1].split(b"\0", 1)[0]

    # -- cluster routing ----------------------------------------------------
    @property
    def cluster_enabled(self) -> bool:
        """True while routing to cluster nodes is on for this connection."""
        return bool(raw.ORQExt_IsClusterEnable(self._h()) != 0)

    def enable_cluster(self, on: bool = True) -> int:
        """Switches routing to cluster nodes on (reloading the cluster
        description) or off."""
        return self._call("ORQExt_EnableCluster", 1 if on else 0)

    def refresh_cluster(self) -> int:
        """Reloads the cluster description from the server (ORQExt_UpdateCluster). Returns the
        module's status (not negative); a failure raises OrqExtError."""
        return self._call("ORQExt_UpdateCluster")

    def add_cluster(self, cluster: Cluster, nodes: Iterable[Node] = ()) -> int:
        """Adds a cluster (no nodes) or nodes to a cluster on the server."""
        rec = cluster_record(self.codec, cluster)
        nodes = list(nodes)
        arr = None
        if nodes:
            arr = (raw.NodeInfo * len(nodes))()
            for slot, node in zip(arr, nodes):
                slot.server = _fit(self.codec, node.server, 20, "node server")
                slot.port = int32(node.port, "node port")
                slot.user = _fit(self.codec, node.user, 128, "node user")
                setattr(slot, "pass", _fit(self.codec, node.password, 64, "node password"))
                slot.attr = _fit(self.codec, node.attr, 128, "node attr")
        return self._call("ORQExt_AddClusterInfo", byref(rec), arr, len(nodes))

    def delete_cluster(self, name: Text, tag: Text, node: Optional[Text] = None) -> int:
        """Deletes a cluster, or with ``node`` ("server" or "server:port")
        those of its nodes."""
        rec = cluster_record(self.codec, Cluster(name, tag))
        return self._call("ORQExt_DelClusterInfo", byref(rec), self._t(node, "node", True))

    def cluster_count(self) -> int:
        """The number of clusters of the connection's cluster description
        (ORQExt_GetClusterCount)."""
        return self._call("ORQExt_GetClusterCount")

    def clusters(self) -> List[Cluster]:
        """The clusters of the description (reloaded first)."""
        cap = max(self.cluster_count(), 1)
        while True:
            arr = (raw.ClusterInfo * cap)()
            count = c_int32(cap)
            got = self._call("ORQExt_GetClusterInfo", arr, byref(count))
            if got < cap:
                return [_cluster_of(arr[i]) for i in range(got)]
            cap *= 2

    def cluster(self, name: Text, tag: Text) -> Cluster:
        """The cluster (name, tag) of the description: a Cluster; raises -4128 when there is
        none (ORQExt_GetClusterInfoByName)."""
        rec = cluster_record(self.codec, Cluster(name, tag))
        self._call("ORQExt_GetClusterInfoByName", byref(rec))
        return _cluster_of(rec)

    def nodes(self, name: Text, tag: Text) -> List[Node]:
        """The nodes of the cluster (name, tag); [] when there is none."""
        rec = cluster_record(self.codec, Cluster(name, tag))
        cap = max(self._call("ORQExt_GetClusterNodeCount", byref(rec)), 1)
        while True:
            arr = (raw.NodeInfo * cap)()
            count = c_int32(cap)
            got = self._call("ORQExt_GetNodeInfo", byref(rec), arr, byref(count))
            if got < cap:
                return [_node_of(arr[i]) for i in range(got)]
            cap *= 2


def connect(server: Text, port: int, user: Text, password: Text, *,
            encoding: str = 'utf-8', errors: str = 'strict',
            answer_size: int = DEFAULT_ANSWER_SIZE,
            max_answer_size: int = DEFAULT_MAX_ANSWER_SIZE,
            timeout: Optional[float] = None) -> Connection:
    """Opens a connection: ``connect("127.0.0.1", 7300, "admin", "admin")``.

    ``encoding`` and ``errors``: the codec for str arguments (default UTF-8,
    strict); ``answer_size``: the first buffer of self-sizing calls (64 KiB);
    ``max_answer_size`` (64 MiB); ``timeout``: seconds the connect and login
    may take at most (None: as long as the client library takes), else
    Timeout (-20003)."""
    return Connection(server, port, user, password, encoding=encoding, errors=errors,
                      answer_size=answer_size, max_answer_size=max_answer_size, timeout=timeout)
