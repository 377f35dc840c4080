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


FAIL = (-20101, b"", -1)
TOO_LONG = (-1107, b"ab", 100)


# Calls whose failures the package raises itself (not through the common
# call path): each names the server it came from. (method, args, keywords,
# the double's replies, the exception class.)
@pytest.mark.parametrize("method,args,kwargs,replies,kind", [
    ("segment", ("ab",), {}, [FAIL], orqext.OrqExtError),
    ("extract_words", (["a"],), {}, [FAIL], orqext.OrqExtError),
    ("extract_words", (["a"],), {}, [(-1107, b"", -1)], orqext.AnswerTooLong),
    ("bsm_classify", (["a"],), {}, [FAIL], orqext.OrqExtError),
    ("bsm_classify", (["a"],), {"capacity": 2}, [TOO_LONG, TOO_LONG], orqext.AnswerTooLong),
    ("send", ("Echo", b"x"), {}, [TOO_LONG, TOO_LONG], orqext.AnswerTooLong),
], ids=["segment", "extract_words", "extract_words_too_many", "bsm_classify",
        "bsm_classify_too_long", "send_too_long"])
def test_service_failures_name_the_server(child, method, args, kwargs, replies, kind):
    import double_child
    (outcome, got), _ = child.apply_async(
        double_child.run, ((method, *args, kwargs), replies)).get(60)
    assert outcome == "error"
    assert type(got) is kind, got
    assert "server 127.0.0.1 port 7300" in str(got)


def test_asynchronous_failures_name_the_server(sim):
    where = "server 127.0.0.1 port %d" % sim.port
    with orqext.connect("127.0.0.1", sim.port, "admin", "admin") as conn:
        with pytest.raises(orqext.OrqExtError) as e:
            conn.send_async("NoSuchModule", b"x").answer(30)
        assert where in str(e.value)

    async def run():
        async with orqext.aio.connect("127.0.0.1", sim.port, "admin", "admin") as aconn:
            with pytest.raises(orqext.OrqExtError) as e:
                await aconn.send("NoSuchModule", b"x", timeout=30)
            return str(e.value)
    assert where in asyncio.run(run())
    closed = orqext.connect("127.0.0.1", sim.port, "admin", "admin")
    closed.close()
    with pytest.raises(orqext.NoConnection) as e:
        closed.send("Echo", b"x")
    assert where in str(e.value)


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
