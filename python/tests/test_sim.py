"""End to end against xsr-sim through the networked XSRClient: connections,
status, module administration, messages with and without a time limit,
asynchronous messages, statements and cluster routing with a fail-over."""

import threading

import pytest

import orqext


def stats(conn):
    """The Sim module's counters as a dict."""
    text = conn.send("Sim", "stats").decode()
    return dict(line.split("=", 1) for line in text.split() if "=" in line)


def test_connect_status_and_close(sim):
    assert orqext.server_status("127.0.0.1", sim.port) >= 0
    with orqext.connect("127.0.0.1", sim.port, "admin", "admin") as conn:
        assert conn.handle != 0 and conn.is_alive()
        assert conn.send("Ident", b"?") == b"xsr-sim:%d" % sim.port
    assert conn.closed and not conn.is_alive()
    with pytest.raises(orqext.NoConnection) as e:
        conn.send("Echo", b"after close")
    assert e.value.code == -4100
    conn.close()  # a second close does nothing


@pytest.mark.parametrize("user, password, code", [
    ("admin", "wrong", -20004),
    ("nobody", "admin", -20004),
])
def test_refused_login_raises_no_connection(sim, user, password, code):
    with pytest.raises(orqext.NoConnection) as e:
        orqext.connect("127.0.0.1", sim.port, user, password)
    assert e.value.code == code and e.value.call == "ORQExt_Connect"


def test_a_server_name_longer_than_the_login_record_is_resolved(sim):
    # Names that resolve without a name server: an address in hex parts, and a
    # label over DNS's 63 characters, which the resolver refuses before any
    # query.
    with orqext.connect("0x7f.0x00.0x00.0x01", sim.port, "admin", "admin") as conn:
        assert conn.send("Echo", b"far") == b"far"
    none = "a" * 64 + ".invalid"
    with pytest.raises(orqext.NoConnection) as e:
        orqext.connect(none, sim.port, "admin", "admin")
    assert e.value.code == -20001 and e.value.argument == "server"
    assert ("'%s' resolves to no IPv4 address; the login record holds 15 characters of the "
            "server name" % none) in str(e.value)
    with pytest.raises(orqext.NoConnection) as e:
        orqext.connect("0x7f.0x00.0x00.0x01", sim.port, "admin", "wrong")
    assert e.value.code == -20004
    assert orqext.exec_sql("select 9", "0x7f.0x00.0x00.0x01", sim.port, "admin", "admin") >= 0
    with pytest.raises(orqext.NoConnection) as e:
        orqext.exec_sql("select 9", none, sim.port, "admin", "admin")
    assert e.value.code == -20001 and e.value.call == "ORQExt_ExecSql"


def test_status_of_a_closed_port_raises_no_connection(sims):
    s = sims()
    port = s.port
    assert s.stop() == 0
    with pytest.raises(orqext.NoConnection) as e:
        orqext.server_status("127.0.0.1", port)
    assert e.value.code == -20002


def test_module_administration(conn):
    name = "PyEcho"
    conn.register_module(name, "2.0.0.0", file_ref="echo", desc="echo for python")
    try:
        listing = conn.module_list().decode()
        assert "PyEcho\t2.0.0.0\tregistered\techo" in listing.splitlines()
        info = conn.module_info(name).decode().splitlines()
        assert "version=2.0.0.0" in info and "desc=echo for python" in info
        with pytest.raises(orqext.OrqExtError) as e:
            conn.send(name, b"x")
        assert e.value.code == -20102 and e.value.name == "SIM_E_NOT_STARTED"
        conn.start_module(name)
        assert conn.send(name, b"started") == b"started"
        conn.stop_module(name, "2.0.0.0")
        with pytest.raises(orqext.OrqExtError):
            conn.send(name, b"x")
        with pytest.raises(orqext.OrqExtError) as e:
            conn.register_module(name)
        assert e.value.code == -20107
    finally:
        conn.unregister_module(name)
    assert name not in conn.module_list().decode()
    assert conn.extension_version() == b"xsr-sim 1.0"


@pytest.mark.parametrize("payload, encoding, wire", [
    ("caf\u00e9", "utf-8", b"caf\xc3\xa9"),
    ("caf\u00e9", "latin-1", b"caf\xe9"),
    (b"\x00\x01binary\xff", "utf-8", b"\x00\x01binary\xff"),
    (bytearray(b"abc"), "utf-8", b"abc"),
])
def test_messages_carry_bytes_as_given_and_str_through_the_codec(sim, payload, encoding, wire):
    with orqext.connect("127.0.0.1", sim.port, "admin", "admin", encoding=encoding) as conn:
        assert conn.send("Echo", payload) == wire


def test_answers_longer_than_the_first_buffer_within_the_capacity(sim):
    with orqext.connect("127.0.0.1", sim.port, "admin", "admin", answer_size=300) as conn:
        assert conn.send("Script", "size=300") == bytes(97 + i % 26 for i in range(300))


def test_module_result_codes_pass_through(conn):
    with pytest.raises(orqext.OrqExtError) as e:
        conn.send("Script", "rc=-20999")
    assert e.value.code == -20999 and e.value.name == "UNKNOWN"
    with pytest.raises(orqext.OrqExtError) as e:
        conn.send("NoSuchModule", b"x")
    assert e.value.code == -20101


@pytest.mark.parametrize("cancel, code", [(False, -1112), (True, -1113)])
def test_time_limited_message(conn, cancel, code):
    before = int(stats(conn)["cancelled"])
    with pytest.raises(orqext.Timeout) as e:
        conn.send("Script", "delay=5000", timeout=0.2, cancel=cancel)
    assert e.value.code == code
    assert int(stats(conn)["cancelled"]) == before + (1 if cancel else 0)
    # Within the limit the answer comes back.
    assert conn.send("Script", "delay=300 size=3", timeout=10) == b"abc"


def test_async_messages_reach_their_own_callbacks(conn):
    got_a, got_b = [], []
    threads = set()

    def on_a(result):
        threads.add(threading.get_ident())
        got_a.append(result)

    def on_b(result):
        threads.add(threading.get_ident())
        got_b.append(result)

    a = conn.send_async("Script", "delay=100 size=5", on_a)
    b = conn.send_async("Echo", "second", on_b)
    assert a.id != b.id
    ra, rb = a.wait(10), b.wait(10)
    assert got_a == [ra] and got_b == [rb]
    assert (ra.code, ra.answer) == (0, b"abcde")
    assert (rb.code, rb.answer) == (0, b"second")
    assert threading.get_ident() not in threads  # the library's worker thread
    failing = conn.send_async("NoSuchModule", "x")
    assert failing.wait(10).code == -20101
    with pytest.raises(orqext.OrqExtError) as e:
        failing.answer()
    assert e.value.code == -20101


def test_async_callback_exception_is_reported_and_others_still_run(conn):
    reported = []
    previous = orqext.set_callback_error_hook(lambda request, exc: reported.append((request, exc)))
    try:
        def boom(result):
            raise RuntimeError("callback failed")
        bad = conn.send_async("Echo", "one", boom)
        good = conn.send_async("Echo", "two", lambda r: None)
        assert bad.wait(10).answer == b"one"
        assert good.wait(10).answer == b"two"
        assert isinstance(bad.callback_error, RuntimeError)
        assert good.callback_error is None
        assert reported == [(bad, bad.callback_error)]
        # The worker keeps serving after the exception.
        assert conn.send_async("Echo", "three").answer(10) == b"three"
    finally:
        orqext.set_callback_error_hook(previous)


def test_async_cancel_drops_the_request(conn):
    called = []
    slow = conn.send_async("Script", "delay=5000", called.append)
    # Most likely not sent yet: the server refuses the cancel of ticket
    # (-1, -1) (-20103); sent already, it drops the pending answer (0).
    # Either way the request is cancelled (docs/design.md).
    assert slow.cancel() is True
    assert slow.cancel_result in (-20103, 0)
    assert slow.cancelled() and slow.done() and slow.wait(0) is None
    assert conn.send_async("Echo", "after").answer(10) == b"after"
    assert called == []
    assert slow.cancel() is False


def test_async_requests_are_futures(conn):
    import concurrent.futures
    seen = []
    first = conn.send_async("Echo", "one")
    first.add_done_callback(lambda f: seen.append(f.result().answer))
    second = conn.send_async("Echo", "two")
    assert isinstance(first, concurrent.futures.Future)
    done = [f.result().answer for f in concurrent.futures.as_completed([first, second], timeout=10)]
    assert sorted(done) == [b"one", b"two"] and seen == [b"one"]
    slow = conn.send_async("Script", "delay=5000")
    assert slow.cancel() is True
    with pytest.raises(concurrent.futures.CancelledError):
        slow.result(0)
    with pytest.raises(concurrent.futures.CancelledError):
        slow.answer(0)


def statements(conn):
    return conn.send("Sim", "statements").decode().splitlines()


def test_statements(sim, conn):
    assert conn.execute("select * from python_test") == 0
    assert any(line.endswith("\tselect * from python_test") for line in statements(conn))
    assert orqext.exec_sql("select 2 from python_test", "127.0.0.1", sim.port, "admin",
                           "admin") == 0
    assert any(line.endswith("\tselect 2 from python_test") for line in statements(conn))
    assert conn.statement_process("use ext Echo cmd run some free text") >= 0
    with pytest.raises(orqext.OrqExtError) as e:
        conn.statement_process("select 1")
    assert e.value.code == -3502
    with pytest.raises(orqext.BadArgument):
        orqext.exec_sql("select 1", "127.0.0.1", sim.port, "admin;port=1", "admin")


def test_cluster_routing_fails_over(sims):
    nodes = [sims(name="node%d" % i) for i in (1, 2, 3)]
    with orqext.connect("127.0.0.1", nodes[2].port, "admin", "admin") as conn:
        cluster = orqext.Cluster("Ident", "t1", "attr a", "attr b")
        conn.add_cluster(cluster)
        conn.add_cluster(cluster, [orqext.Node("127.0.0.1", n.port, "admin", "admin",
                                               "node%d" % i) for i, n in enumerate(nodes, 1)])
        assert conn.cluster_count() == 1
        assert conn.clusters() == [orqext.Cluster(b"Ident", b"t1", b"attr a", b"attr b")]
        assert conn.cluster("IDENT", "T1").attr_b == b"attr b"
        listed = conn.nodes("Ident", "t1")
        assert [(n.port, n.attr) for n in listed] == [(n.port, b"node%d" % i)
                                                      for i, n in enumerate(nodes, 1)]
        assert not conn.cluster_enabled
        conn.enable_cluster(True)
        assert conn.cluster_enabled
        assert conn.send("ident", b"?") == b"node1"
        assert nodes[0].stop() == 0
        assert conn.send("ident", b"?") == b"node2"
        conn.delete_cluster("Ident", "t1", "127.0.0.1:%d" % nodes[1].port)
        assert len(conn.nodes("Ident", "t1")) == 2
        assert conn.send("ident", b"?") == b"node3"
        conn.enable_cluster(False)
        conn.delete_cluster("Ident", "t1")
        assert conn.cluster_count() == 0 and conn.clusters() == []
        with pytest.raises(orqext.OrqExtError) as e:
            conn.cluster("Ident", "t1")
        assert e.value.code == -4128


@pytest.mark.parametrize("field, value", [
    ("name", "n" * 256),
    ("tag", "t" * 16),
    ("attr_a", "a" * 32),
])
def test_cluster_fields_too_long_are_refused_not_cut(conn, field, value):
    fields = {"name": "Ident", "tag": "t", "attr_a": "", "attr_b": ""}
    fields[field] = value
    with pytest.raises(orqext.BadArgument):
        conn.add_cluster(orqext.Cluster(**fields))


def test_a_connection_nobody_refers_to_is_closed(sim, conn):
    import gc
    other = orqext.connect("127.0.0.1", sim.port, "admin", "admin")
    handle = other.handle
    assert orqext.raw.ORQExt_IsConnect(handle) != 0
    del other
    gc.collect()
    assert orqext.raw.ORQExt_IsConnect(handle) == 0


@pytest.mark.parametrize("script, logging_on", [
    # Exits while the answer is still on its way.
    ("conn.send_async('Script', 'delay=300 size=4', lambda r: None)", True),
    # Exits right after a callback that raised was reported: through the
    # "orqext" logger, so shown once the program configures logging, and
    # silent when it does not.
    ("r = conn.send_async('Echo', 'x', lambda r: 1 / 0); r.wait(10)", True),
    ("r = conn.send_async('Echo', 'x', lambda r: 1 / 0); r.wait(10)", False),
])
def test_interpreter_exit_with_asynchronous_requests_is_clean(sim, script, logging_on):
    import os
    import subprocess
    import sys
    code = ("import logging, orqext\n%s\n"
            "conn = orqext.connect('127.0.0.1', %d, 'admin', 'admin')\n%s\n"
            "print('done')\n" % ("logging.basicConfig()" if logging_on else "", sim.port, script))
    p = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60,
                       env=dict(os.environ))
    assert p.returncode == 0, p.stderr
    assert p.stdout == "done\n"
    if "1 / 0" in script and logging_on:
        assert "exception in the callback of asynchronous request" in p.stderr
        assert "ZeroDivisionError" in p.stderr
    else:
        assert p.stderr == ""


def test_one_connection_shared_by_threads(conn):
    # Each thread's answers are its own: no buffer or state is shared
    # between calls.
    import concurrent.futures

    def worker(n):
        return [conn.send("Echo", "thread %d message %d" % (n, i)) for i in range(20)]

    with concurrent.futures.ThreadPoolExecutor(6) as pool:
        results = list(pool.map(worker, range(6)))
    assert results == [[b"thread %d message %d" % (n, i) for i in range(20)] for n in range(6)]
