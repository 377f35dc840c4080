"""Shared fixtures: where the build is, xsr-sim processes, a C compiler.

``--build-dir`` names the build folder that holds xsr-sim, the scripted
double and the library the C-level tests use (default: build/release of this
checkout). The package under test finds its library itself: an installed
wheel carries it; a package without one (run from the source tree) is given
the build's through ORQEXT_LIBRARY.
"""

import multiprocessing
import os
import select
import shutil
import signal
import subprocess
import tempfile
import time

import pytest

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD = os.path.join(REPO, "build", "release")
LIBRARY = os.path.join(BUILD, "libORQExtClient.so")
HEADER_DIR = os.path.join(REPO, "exports")
SIM = os.path.join(BUILD, "sim", "xsr-sim")


def pytest_addoption(parser):
    parser.addoption("--build-dir", default=BUILD,
                     help="build folder with xsr-sim, the double and the library")
    parser.addoption("--expect-installed", action="store_true",
                     help="the package under test must be an installed one carrying its library")


def pytest_configure(config):
    global BUILD, LIBRARY, SIM
    BUILD = os.path.abspath(config.getoption("--build-dir"))
    LIBRARY = os.path.join(BUILD, "libORQExtClient.so")
    SIM = os.path.join(BUILD, "sim", "xsr-sim")
    import orqext
    own = os.path.join(os.path.dirname(orqext.__file__), "lib")
    if not os.path.isdir(own):
        os.environ.setdefault("ORQEXT_LIBRARY", LIBRARY)


@pytest.fixture(scope="session")
def expect_installed(pytestconfig):
    return pytestconfig.getoption("--expect-installed")


SERVICE_MODULES = "\n".join("module %s %s" % (m, m) for m in
                            ("KExt_NLPE", "KExt_ARA", "KExt_KWFS", "KExt_STM")) + "\n"


def compile_and_run(source, tmp_path, name="probe", extra=()):
    """Compiles a C program with the public headers and returns its stdout."""
    cc = shutil.which("cc") or shutil.which("gcc")
    if cc is None:
        pytest.fail("no C compiler (cc) on PATH")
    src = tmp_path / (name + ".c")
    exe = tmp_path / name
    src.write_text(source)
    # orqext.h includes orqext_version.h, which the build writes.
    subprocess.run([cc, "-std=c99", "-Wall", "-I", HEADER_DIR, "-I", os.path.join(BUILD, "include"), "-I", REPO,
                    *extra, str(src),
                    "-o", str(exe)], check=True, capture_output=True, text=True)
    return subprocess.run([str(exe)], check=True, capture_output=True, text=True).stdout


class Sim:
    """One xsr-sim on a free loopback port; stop() ends it (bounded)."""

    def __init__(self, config="", name=None):
        fd, self.config_path = tempfile.mkstemp(suffix=".conf", prefix="xsr-sim-")
        with os.fdopen(fd, "w") as f:
            f.write(config)
        args = [SIM, "--port", "0", "--config", self.config_path]
        if name:
            args += ["--name", name]
        self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        line = b""
        deadline = time.monotonic() + 10
        while not line.endswith(b"\n"):
            left = deadline - time.monotonic()
            ready, _, _ = select.select([self.proc.stdout], [], [], max(left, 0))
            if not ready:
                self.kill()
                raise RuntimeError("xsr-sim did not report its port within 10 s")
            chunk = os.read(self.proc.stdout.fileno(), 256)
            if not chunk:
                raise RuntimeError("xsr-sim ended: %s" % self.proc.stderr.read().decode())
            line += chunk
        fields = dict(f.split(b"=", 1) for f in line.split() if b"=" in f)
        self.port = int(fields[b"port"])

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                return self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.kill()
                return -1
        return self.proc.returncode

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()

    def close(self):
        self.stop()
        for stream in (self.proc.stdout, self.proc.stderr):
            stream.close()
        os.unlink(self.config_path)


@pytest.fixture(scope="session")
def sim():
    """One xsr-sim with the four simulated service modules, for the session."""
    if not os.path.exists(SIM):
        pytest.fail("xsr-sim not built: %s" % SIM)
    s = Sim(SERVICE_MODULES)
    yield s
    s.close()


@pytest.fixture
def sims():
    """A factory of extra xsr-sim processes, all stopped after the test."""
    started = []

    def start(config="", name=None):
        s = Sim(config, name)
        started.append(s)
        return s
    yield start
    for s in started:
        s.close()


@pytest.fixture(scope="session")
def child(tmp_path_factory):
    """A child interpreter whose library runs over the scripted double
    (double_child.py): a process pool of one, for the session."""
    double = os.path.join(BUILD, "double", "libXSRClient.so")
    if not os.path.exists(double):
        pytest.fail("the XSRClient double is not built: %s" % double)
    cxx = shutil.which("c++") or shutil.which("g++")
    if cxx is None:
        pytest.fail("no C++ compiler on PATH")
    control = str(tmp_path_factory.mktemp("double") / "libdouble_control.so")
    subprocess.run([cxx, "-std=c++17", "-shared", "-fPIC", "-I", REPO,
                    os.path.join(os.path.dirname(__file__), "double_control.cpp"),
                    "-o", control, "-L", os.path.dirname(double), "-lXSRClient"],
                   check=True, capture_output=True, text=True)
    import double_child
    ctx = multiprocessing.get_context("spawn")
    with ctx.Pool(1, initializer=double_child.setup, initargs=(double, control, LIBRARY)) as pool:
        yield pool


@pytest.fixture
def conn(sim):
    import orqext
    with orqext.connect("127.0.0.1", sim.port, "admin", "admin") as c:
        yield c
