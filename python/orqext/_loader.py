"""Finding and loading the ORQExtClient shared library.

Order (the first one that loads wins):

1. ``ORQEXT_LIBRARY``: the path of the library file. When it is set, it is the
   only candidate: a wrong path is reported, never silently replaced by
   another copy of the library.
2. The installed location: ``$ORQEXT_PREFIX/lib`` (``bin`` on Windows) when
   ``ORQEXT_PREFIX`` names the prefix given to ``cmake --install``; the
   package's own ``lib`` folder; ``<sys.prefix>/lib`` (a prefix shared with the
   Python environment); ``/usr/local/lib`` (cmake's default prefix).
3. The system's search by bare name (``LD_LIBRARY_PATH``, the loader's cache,
   ``PATH`` on Windows).

On Windows the DLL is loaded with ``WinDLL`` (stdcall on 32-bit) and the
callback type is a ``WINFUNCTYPE``; elsewhere ``CDLL`` and ``CFUNCTYPE``.
"""

from __future__ import annotations

import ctypes
import logging
import os
import sys
from typing import Any, Iterable, List, Mapping, Optional, Tuple

log = logging.getLogger("orqext")

WINDOWS = sys.platform == "win32"

NAMES: Tuple[str, ...]
if WINDOWS:
    LibraryType = ctypes.WinDLL  # type: ignore[attr-defined]
    FUNCTYPE = ctypes.WINFUNCTYPE  # type: ignore[attr-defined]
    NAMES = ("ORQExtClient.dll",)
    LIB_DIR = "bin"
else:
    LibraryType = ctypes.CDLL
    FUNCTYPE = ctypes.CFUNCTYPE
    NAMES = ("libORQExtClient.so.1", "libORQExtClient.so")
    LIB_DIR = "lib"


class LibraryNotFound(OSError):
    """No candidate of the search loaded; ``tried`` lists (candidate, reason)."""

    def __init__(self, tried: Iterable[Tuple[str, str]]) -> None:
        self.tried = list(tried)
        lines = ["the ORQExtClient library could not be loaded; tried:"]
        lines += ["  %s: %s" % (what, why) for what, why in self.tried]
        lines.append("set ORQEXT_LIBRARY to the library file, or ORQEXT_PREFIX to the "
                     "prefix it was installed to with cmake --install")
        super().__init__("\n".join(lines))

    def __reduce__(self) -> Tuple[Any, ...]:
        return (LibraryNotFound, (self.tried,))


def candidates(environ: Optional[Mapping[str, str]] = None) -> List[Tuple[str, str]]:
    """The places to try, in order: (label, path or bare name)."""
    env = os.environ if environ is None else environ
    explicit = env.get("ORQEXT_LIBRARY")
    if explicit:
        return [("ORQEXT_LIBRARY", explicit)]
    dirs = []
    prefix = env.get("ORQEXT_PREFIX")
    if prefix:
        dirs.append(("ORQEXT_PREFIX", os.path.join(prefix, LIB_DIR)))
    dirs.append(("package", os.path.join(os.path.dirname(os.path.abspath(__file__)), "lib")))
    dirs.append(("sys.prefix", os.path.join(sys.prefix, LIB_DIR)))
    if not WINDOWS:
        dirs.append(("default prefix", "/usr/local/lib"))
    found = []
    for label, d in dirs:
        for name in NAMES:
            found.append((label, os.path.join(d, name)))
    for name in NAMES:
        found.append(("system search", name))
    return found


def load(environ: Optional[Mapping[str, str]] = None) -> Tuple[Any, str]:
    """Loads the library; LibraryNotFound names every candidate tried."""
    tried = []
    for label, where in candidates(environ):
        if os.sep in where or (os.altsep and os.altsep in where):
            if not os.path.exists(where):
                tried.append(("%s %s" % (label, where), "no such file"))
                continue
        try:
            lib = LibraryType(where)
        except OSError as e:
            tried.append(("%s %s" % (label, where), str(e) or type(e).__name__))
            log.debug("library: %s %s did not load: %s", label, where, tried[-1][1])
            continue
        log.debug("library: loaded %s (%s; %d tried before)", where, label, len(tried))
        return lib, where
    log.debug("library: nothing loaded (%d tried)", len(tried))
    raise LibraryNotFound(tried)
