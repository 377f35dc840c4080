"""Where the package finds the library, and what it says when it cannot."""

import logging
import os
import subprocess
import sys

import pytest

from conftest import LIBRARY

import orqext
from orqext import _loader


def test_an_explicit_path_is_the_only_candidate(tmp_path):
    missing = str(tmp_path / "nowhere" / "libORQExtClient.so")
    with pytest.raises(orqext.LibraryNotFound) as e:
        _loader.load({"ORQEXT_LIBRARY": missing, "ORQEXT_PREFIX": os.path.dirname(LIBRARY)})
    assert [what for what, _ in e.value.tried] == ["ORQEXT_LIBRARY " + missing]
    assert missing in str(e.value) and "ORQEXT_PREFIX" in str(e.value)


def test_the_error_names_every_place_tried(tmp_path):
    prefix = str(tmp_path / "prefix")
    found = _loader.candidates({"ORQEXT_PREFIX": prefix})
    assert found[:2] == [("ORQEXT_PREFIX", os.path.join(prefix, "lib", "libORQExtClient.so.1")),
                         ("ORQEXT_PREFIX", os.path.join(prefix, "lib", "libORQExtClient.so"))]
    labels = [label for label, _ in found]
    assert labels.index("sys.prefix") < labels.index("default prefix") < labels.index(
        "system search")
    assert found[-2:] == [("system search", "libORQExtClient.so.1"),
                          ("system search", "libORQExtClient.so")]


def test_when_nothing_loads_every_candidate_is_listed_with_its_reason(tmp_path, monkeypatch):
    def refuse(path):
        raise OSError("refused: " + path)
    monkeypatch.setattr(_loader, "LibraryType", refuse)
    env = {"ORQEXT_PREFIX": str(tmp_path)}
    with pytest.raises(orqext.LibraryNotFound) as e:
        _loader.load(env)
    found = _loader.candidates(env)
    assert len(e.value.tried) == len(found)
    for (label, where), (what, why) in zip(found, e.value.tried):
        assert what == "%s %s" % (label, where)
        missing = os.sep in where and not os.path.exists(where)
        assert why == ("no such file" if missing else "refused: " + where)
        assert what in str(e.value)


def test_loading_is_logged_to_the_orqext_logger(tmp_path, caplog):
    caplog.set_level(logging.DEBUG, logger="orqext")
    missing = str(tmp_path / "libORQExtClient.so.1")
    _loader.load({"ORQEXT_PREFIX": str(tmp_path), "ORQEXT_LIBRARY": LIBRARY})
    with pytest.raises(orqext.LibraryNotFound):
        _loader.load({"ORQEXT_LIBRARY": missing})
    messages = [r.getMessage() for r in caplog.records if r.name == "orqext"]
    assert messages == ["library: loaded %s (ORQEXT_LIBRARY; 0 tried before)" % LIBRARY,
                        "library: nothing loaded (1 tried)"]


def test_a_library_installed_under_a_prefix_is_found(tmp_path):
    # The layout cmake --install makes: PREFIX/lib/libORQExtClient.so.1.
    lib = tmp_path / "lib"
    lib.mkdir()
    (lib / "libORQExtClient.so.1").symlink_to(os.path.abspath(LIBRARY))
    env = {k: v for k, v in os.environ.items() if k != "ORQEXT_LIBRARY"}
    env["ORQEXT_PREFIX"] = str(tmp_path)
    script = ("from orqext import raw; raw.library(); print(raw.library_path()); "
              "print(raw.ORQExt_IsConnect(12345))")
    out = subprocess.run([sys.executable, "-c", script], env=env, check=True,
                         capture_output=True, text=True).stdout.split()
    assert out == [str(lib / "libORQExtClient.so.1"), "0"]


def test_the_installed_package_is_the_one_under_test(expect_installed):
    if not expect_installed:
        pytest.skip("run from the source tree")
    assert not [k for k in os.environ if k.startswith("ORQEXT_")]
    assert os.path.realpath(orqext.__file__).startswith(os.path.realpath(sys.prefix))
    # The wheel's own library, found without any variable.
    from orqext import raw
    raw.library()
    package_lib = os.path.join(os.path.dirname(os.path.realpath(orqext.__file__)), "lib")
    assert os.path.dirname(os.path.realpath(raw.library_path())) == package_lib


def test_the_variables_still_come_before_the_package_library(tmp_path):
    # ORQEXT_PREFIX and ORQEXT_LIBRARY are looked at before the package's
    # own lib folder, so another build or the server's XSRClient can be used.
    package_lib = os.path.join(os.path.dirname(os.path.abspath(_loader.__file__)), "lib")
    labels = [label for label, _ in _loader.candidates({"ORQEXT_PREFIX": str(tmp_path)})]
    assert labels.index("ORQEXT_PREFIX") < labels.index("package")
    paths = [where for _, where in _loader.candidates({})]
    assert paths[0] == os.path.join(package_lib, _loader.NAMES[0])
