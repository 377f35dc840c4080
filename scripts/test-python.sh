#!/usr/bin/env bash
# The Python package orqext: installs it with pip into a fresh virtual
# environment under build/ (offline, Debian's setuptools and pytest) and runs
# its pytest suite against the library, the scripted XSRClient double and
# xsr-sim of the release build (built here when missing). The step's output
# ends with pytest's summary line.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --tests --python
echo "==== python package (pytest over ${ORQEXT_BUILD_DIR:-build/release}) ===="

build=${ORQEXT_BUILD_DIR:-build/release}
# With the tests: the double is one of them.
scripts/configure-release.sh "$build"
cmake --build "$build" -j "$(nproc)" --target ORQExtClient XSRClient XSRClientDouble xsr-sim

# Installed from a copy, so that the build leaves nothing in the source tree.
venv=build/python-venv
rm -rf "$venv" build/python-src
cp -r python build/python-src
/usr/bin/python3 -m venv --system-site-packages "$venv"
"$venv/bin/pip" install --quiet --no-build-isolation --no-index build/python-src

export ORQEXT_BUILD_DIR="$PWD/$build"
export ORQEXT_LIBRARY="$PWD/$build/libORQExtClient.so"
export ORQEXT_EXPECT_INSTALLED=1
rc=0
# From build/ so that the source folder is not on the import path: the
# installed package is the one tested.
(cd build && "$OLDPWD/$venv/bin/python" -m pytest -p no:cacheprovider -q "$OLDPWD/python/tests") || rc=$?
if [ "$rc" -eq 5 ]; then
  echo "test-python: pytest collected no tests" >&2
  exit 1
fi
exit "$rc"
