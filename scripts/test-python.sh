#!/usr/bin/env bash
# The Python package orqext as users get it: builds the wheel
# (scripts/python-wheel.sh), installs it into a fresh virtual environment
# without the system's site packages, and runs, with no ORQEXT_* variable
# set, the package's pytest suite (the asyncio tests also under python -X dev)
# and the example against xsr-sim from that install; mypy --strict checks the
# installed package (through its py.typed) and the example. The step's output
# ends with pytest's summary line.
#
# pytest is Debian's (python3-pytest) and is not installed into the
# environment (that would need the package index). It comes in for the test
# run only: PYTHONPATH names a folder with links to exactly pytest and the
# modules it imports from Debian's dist-packages, so the environment itself
# stays as a user's: the wheel and nothing else.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --tests --python
echo "==== python package (its wheel in a fresh virtual environment; library from ${ORQEXT_BUILD_DIR:-build/release}) ===="

build=${ORQEXT_BUILD_DIR:-build/release}
# With the tests: the double is one of them.
scripts/configure-release.sh "$build"
cmake --build "$build" -j "$(nproc)" --target ORQExtClient XSRClient XSRClientDouble xsr-sim

wheel=$(scripts/python-wheel.sh | tail -n 1)
echo "test-python: $(basename "$wheel"), $(stat -c %s "$wheel") bytes"

venv=build/python-venv
tools=build/python-test-tools
rm -rf "$venv" "$tools"
/usr/bin/python3 -m venv "$venv"
"$venv/bin/python" -m pip install --quiet --no-index --no-deps "$wheel"

# pytest and what it imports, linked from Debian's dist-packages.
mkdir -p "$tools"
/usr/bin/python3 - "$tools" <<'EOF'
import os, sys
before = set(sys.modules)
import pytest  # noqa: F401
import _pytest.python, _pytest.assertion.rewrite, _pytest.fixtures  # noqa: F401
tops = set()
for name in set(sys.modules) - before:
    path = getattr(sys.modules[name], "__file__", None) or ""
    if "/dist-packages/" in path:
        root = path.split("/dist-packages/")[0] + "/dist-packages/"
        tops.add((root, path[len(root):].split("/")[0]))
for root, top in sorted(tops):
    os.symlink(root + top, os.path.join(sys.argv[1], top))
EOF

# Nothing of the environment steers the package: it finds its own library.
for v in $(env | sed -n 's/^\(ORQEXT_[A-Za-z0-9_]*\)=.*/\1/p'); do unset "$v"; done

/usr/bin/python3 -m mypy --strict --python-executable "$venv/bin/python" \
  --cache-dir build/mypy-cache -p orqext
/usr/bin/python3 -m mypy --strict --python-executable "$venv/bin/python" \
  --cache-dir build/mypy-cache examples/segment_classify.py python/tests/typing/well_typed.py
# A user's script with a misspelt async method or connect option fails.
for bad in misspelt_method:attr-defined misspelt_option:call-arg; do
  # Without the cache: a result cached for an older install must not pass.
  out=$(/usr/bin/python3 -m mypy --strict --python-executable "$venv/bin/python" \
          --no-incremental "python/tests/typing/${bad%%:*}.py" 2>&1) && {
    echo "test-python: mypy --strict passed python/tests/typing/${bad%%:*}.py" >&2; exit 1; }
  grep -q "\[${bad#*:}\]" <<<"$out" || { echo "$out" >&2; exit 1; }
done
# The generated coroutines of orqext.aio are those of today's Connection.
/usr/bin/python3 python/tools/generate_aio.py --check

tests="$PWD/python/tests"
args=(-p no:cacheprovider -q "--build-dir=$PWD/$build" --expect-installed)
rc=0
# From build/ so that the source folder is not on the import path: the
# installed package is the one tested.
(cd build && PYTHONPATH="$PWD/../$tools" "$OLDPWD/$venv/bin/python" -X dev -m pytest "${args[@]}" \
   "$tests/test_aio.py") || rc=$?
if [ "$rc" -eq 0 ]; then
  (cd build && PYTHONPATH="$PWD/../$tools" "$OLDPWD/$venv/bin/python" -m pytest "${args[@]}" \
     "$tests") || rc=$?
fi
if [ "$rc" -eq 5 ]; then
  echo "test-python: pytest collected no tests" >&2
  exit 1
fi
exit "$rc"
