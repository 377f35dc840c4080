"""Texts of the caller as the bytes the library takes, and back.

Connection and the service calls both use it; it imports neither.
"""

from __future__ import annotations

from typing import Literal, Optional, overload

from .errors import BadArgument
from .records import Data


class Codec:
    """Turns the caller's texts into the bytes the library takes."""

    def __init__(self, encoding: str = 'utf-8', errors: str = 'strict') -> None:
        "".encode(encoding, errors)  # an unknown codec fails here, not later
        self.encoding = encoding
        self.errors = errors

    @overload
    def text(self, value: Data, what: str, allow_none: Literal[False] = False) -> bytes: ...

    @overload
    def text(self, value: Optional[Data], what: str, allow_none: bool) -> Optional[bytes]: ...

    def text(self, value: Optional[Data], what: str, allow_none: bool = False) -> Optional[bytes]:
        """A NUL-terminated string argument (bytes, or None where allowed)."""
        if value is None:
            if allow_none:
                return None
            raise BadArgument(-1100, None, "a text is required", argument=what)
        data = self.data(value, what)
        if b"\0" in data:
            raise BadArgument(-1100, None, "the text holds a NUL byte", argument=what)
        return data

    def decode(self, data: bytes) -> str:
        """An answer as text in this encoding (with ``errors``)."""
        return bytes(data).decode(self.encoding, self.errors)

    def data(self, value: Data, what: str) -> bytes:
        """Bytes of any content (payloads)."""
        if isinstance(value, str):
            try:
                return value.encode(self.encoding, self.errors)
            except UnicodeEncodeError as e:
                raise BadArgument(-1100, None, "not encodable with %s: %s"
                                  % (self.encoding, e.reason), argument=what) from e
        if isinstance(value, (bytes, bytearray, memoryview)):
            return bytes(value)
        raise BadArgument(-1100, None, "expected str or bytes, got %s" % type(value).__name__,
                          argument=what)
