"""The package's public face: every public function, method and record is
annotated and documented, records are dataclasses (results frozen), and the
exceptions are also the standard ones generic handlers catch."""

import dataclasses
import inspect

import pytest

import orqext
import orqext.aio
from orqext import records
from orqext.errors import error_for

PUBLIC_CLASSES = [orqext.Connection, orqext.Codec, orqext.AsyncRequest, orqext.aio.AsyncConnection]


def public_callables():
    for cls in PUBLIC_CLASSES:
        for name, member in vars(cls).items():
            if name.startswith("_") and name not in ("__init__", "__enter__", "__exit__",
                                                      "__aenter__", "__aexit__"):
                continue
            if isinstance(member, property):
                yield "%s.%s" % (cls.__name__, name), member.fget
                if member.fset is not None:
                    yield "%s.%s (setter)" % (cls.__name__, name), member.fset
            elif inspect.isfunction(member):
                yield "%s.%s" % (cls.__name__, name), member
    for cls in orqext.Connection.__mro__[1:-1]:  # the service calls mixed in
        for name, member in vars(cls).items():
            if not name.startswith("_") and inspect.isfunction(member):
                yield "Connection.%s" % name, member
    for module in (orqext, orqext.aio):
        for name in module.__all__:
            obj = getattr(module, name)
            if inspect.isfunction(obj):
                yield "%s.%s" % (module.__name__, name), obj


def test_every_public_callable_is_annotated_and_documented():
    missing = []
    for where, fn in public_callables():
        sig = inspect.signature(fn)
        params = [p for n, p in sig.parameters.items() if n not in ("self", "cls")]
        if any(p.annotation is inspect.Parameter.empty for p in params):
            missing.append(where + ": an argument without a type")
        if sig.return_annotation is inspect.Signature.empty:
            missing.append(where + ": no return type")
        documented = (fn.__doc__ or "").strip() or where.endswith("(setter)")
        if not documented and not fn.__name__.startswith("__"):
            missing.append(where + ": no docstring")
    assert missing == []


def test_records_are_dataclasses_and_results_are_frozen():
    given = {"Cluster", "Node", "Document", "KeywordItem"}  # the caller fills these in
    for name in dir(records):
        cls = getattr(records, name)
        if not inspect.isclass(cls) or cls.__module__ != records.__name__:
            continue
        assert dataclasses.is_dataclass(cls), name
        frozen = cls.__dataclass_params__.frozen
        assert frozen == (name not in given), name
    token = orqext.Token(0, 3, b"New")
    with pytest.raises(dataclasses.FrozenInstanceError):
        token.word = b"Old"


@pytest.mark.parametrize("code, cls, standard", [
    (-1112, orqext.Timeout, TimeoutError),
    (-20007, orqext.Timeout, TimeoutError),
    (-20006, orqext.NoConnection, ConnectionError),
    (-4100, orqext.NoConnection, ConnectionError),
    (-1100, orqext.BadArgument, ValueError),
])
def test_the_exceptions_are_also_the_standard_ones(code, cls, standard):
    e = error_for(code, "ORQExt_SendMessage")
    assert type(e) is cls and isinstance(e, standard) and isinstance(e, orqext.OrqExtError)
    with pytest.raises(standard):
        raise e


def test_help_on_a_method_says_what_comes_back():
    assert "list of Token" in inspect.getdoc(orqext.Connection.segment)
    assert "answer" in inspect.getdoc(orqext.aio.AsyncConnection.send)


@pytest.mark.parametrize("call, argument, detail", [
    (lambda c: c.dict_unload(2 ** 32 + 5), "handle", "outside the 32-bit range"),
    (lambda c: c.dict_unload("five"), "handle", "expected an integer"),
    (lambda c: c.send("Echo", "x", timeout="soon"), "timeout", "expected seconds"),
    (lambda c: c.send("Echo", "x", timeout=-1), "timeout", "must not be negative"),
    (lambda c: c.send("Echo", "x", timeout=3e6), "timeout", "outside the 32-bit range"),
    (lambda c: c.extract_words(["a"] * 7), "texts", "at most 6 texts"),
    (lambda c: c.send("Ec\0ho", "x"), "module", "NUL"),
    (lambda c: c.add_cluster(orqext.Cluster("c", "t" * 16)), "cluster tag", "longer than 15"),
    (lambda c: setattr(c, "answer_size", 0), "answer_size", "must be 1"),
])
def test_refused_arguments_are_named(conn, call, argument, detail):
    with pytest.raises(orqext.BadArgument) as e:
        call(conn)
    assert e.value.argument == argument and e.value.code == -1100
    assert str(e.value).startswith("argument %r: " % argument) or (
        ": argument %r: " % argument) in str(e.value)
    assert detail in str(e.value)
