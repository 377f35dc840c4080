"""What users meet first: real coroutine methods on AsyncConnection, connect
options that are real parameters, the server named in reprs and messages, a
connect time limit, and the package's licence metadata."""

import asyncio
import inspect
import socket
import time

import pytest

import orqext
import orqext.aio


def test_async_methods_are_real_coroutines_with_the_connections_signatures():
    for name in ("segment", "keywords", "module_list", "bsm_classify", "ar_search"):
        method = getattr(orqext.aio.AsyncConnection, name)  # on the class, not made at run time
        assert inspect.iscoroutinefunction(method), name
        sync = inspect.signature(getattr(orqext.Connection, name))
        assert inspect.signature(method).parameters.keys() == sync.parameters.keys(), name
        assert "Connection.%s" % name in method.__doc__
    assert not hasattr(orqext.aio.AsyncConnection, "module_lsit")
    assert not hasattr(orqext.aio.AsyncConnection, "send_async")


def test_misspelt_connect_options_fail_at_run_time():
    with pytest.raises(TypeError):
        orqext.connect("127.0.0.1", 1, "u", "p", answer_sise=10)
    with pytest.raises(TypeError):
        orqext.aio.connect("127.0.0.1", 1, "u", "p", max_answer_sise=10)


def test_reprs_and_messages_name_the_server(sim):
    with orqext.connect("127.0.0.1", sim.port, "admin", "admin") as conn:
        assert repr(conn).startswith("<orqext.Connection 127.0.0.1:%d handle=" % sim.port)
        with pytest.raises(orqext.OrqExtError) as e:
            conn.send("NoSuchModule", b"x")
        assert "server 127.0.0.1 port %d" % sim.port in str(e.value)

    async def run():
        async with orqext.aio.connect("127.0.0.1", sim.port, "admin", "admin") as aconn:
            return repr(aconn)
    assert "127.0.0.1:%d" % sim.port in asyncio.run(run())


def test_a_refused_connect_names_the_server():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    with pytest.raises(orqext.NoConnection) as e:
        orqext.connect("127.0.0.1", port, "admin", "admin")
    assert "server 127.0.0.1 port %d" % port in str(e.value)


def test_connect_gives_up_after_its_time_limit():
    # A peer that accepts the connection and never answers the login: the
    # client library alone would wait its own limit (seconds).
    with socket.socket() as peer:
        peer.bind(("127.0.0.1", 0))
        peer.listen(1)
        port = peer.getsockname()[1]
        start = time.monotonic()
        with pytest.raises(orqext.Timeout) as e:
            orqext.connect("127.0.0.1", port, "admin", "admin", timeout=0.2)
        assert time.monotonic() - start < 2.0
        assert e.value.code == -20003 and "port %d" % port in str(e.value)


def test_the_licence_metadata_names_a_licence_file(expect_installed):
    if not expect_installed:
        pytest.skip("the metadata is an installed package's")
    from importlib import metadata
    meta = metadata.metadata("orqext")
    assert meta["License"] != "Proprietary"
    files = [str(f) for f in metadata.files("orqext") or []]
    assert any(f.endswith("LICENSE") for f in files), files
