"""Build hooks for the wheel; the metadata is in pyproject.toml.

The package list and its data are given here, not in pyproject.toml's
[tool.setuptools] table, which the setuptools of Debian 12 still calls beta
(and warns about on every build).

A wheel built from a tree whose ``orqext/lib`` holds the libraries (what
scripts/python-wheel.sh stages) is a platform wheel: ``py3-none-<platform>``,
the platform taken from ORQEXT_WHEEL_PLATFORM (the script decides it from the
libraries) or else the build machine's. Without libraries the wheel is pure
(``py3-none-any``) and finds the library as docs/python.md describes.

Build output goes to a temporary folder, not into the source tree.
"""

import atexit
import os
import shutil
import tempfile

from setuptools import Distribution, setup
from setuptools.command.build import build
from setuptools.command.egg_info import egg_info

try:
    from wheel.bdist_wheel import bdist_wheel
except ImportError:  # building without the wheel package: no platform wheel
    bdist_wheel = None

HERE = os.path.dirname(os.path.abspath(__file__))
LIB = os.path.join(HERE, "orqext", "lib")
HAS_LIBRARIES = os.path.isdir(LIB) and any(
    name.startswith(("libORQExtClient", "ORQExtClient")) for name in os.listdir(LIB))
OUT = os.environ.get("ORQEXT_BUILD_BASE")
if not OUT:
    OUT = tempfile.mkdtemp(prefix="orqext-build-")
    atexit.register(shutil.rmtree, OUT, True)


class OutOfTreeBuild(build):
    def initialize_options(self):
        super().initialize_options()
        self.build_base = os.path.join(OUT, "build")


class OutOfTreeEggInfo(egg_info):
    def initialize_options(self):
        super().initialize_options()
        os.makedirs(OUT, exist_ok=True)
        self.egg_base = OUT


commands = {"build": OutOfTreeBuild, "egg_info": OutOfTreeEggInfo}

if bdist_wheel is not None:
    class PlatformWheel(bdist_wheel):
        def finalize_options(self):
            super().finalize_options()
            self.root_is_pure = not HAS_LIBRARIES
            self.bdist_dir = os.path.join(OUT, "bdist")

        def get_tag(self):
            if not HAS_LIBRARIES:
                return super().get_tag()
            platform = os.environ.get("ORQEXT_WHEEL_PLATFORM") or super().get_tag()[2]
            # ctypes only: one wheel serves every Python 3 of the platform.
            return "py3", "none", platform

    commands["bdist_wheel"] = PlatformWheel



class LibraryDistribution(Distribution):
    """With the libraries inside, the package goes to platlib (the root of a
    platform wheel), not purelib."""

    def has_ext_modules(self):
        return HAS_LIBRARIES


setup(cmdclass=commands, distclass=LibraryDistribution,
      packages=["orqext"], include_package_data=False,
      package_data={"orqext": ["py.typed"] + (["lib/*"] if HAS_LIBRARIES else [])})
