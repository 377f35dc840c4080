"""The records the Pythonic layer hands out and takes in.

Texts are ``bytes`` as the library delivers them; where a record is given to
a call, ``str`` fields are accepted too and encoded with the connection's
codec.
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import TYPE_CHECKING, Callable, Optional, Tuple, Union

#: A text argument: str (encoded with the connection's codec) or bytes.
Text = Union[str, bytes]

if TYPE_CHECKING:
    from .errors import OrqExtError
#: Message payloads and documents: str or any bytes-like object.
Data = Union[str, bytes, bytearray, memoryview]


@dataclass
class Cluster:
    """A cluster of the cluster description: identified by (name, tag), the
    name matched against module names without regard to letter case."""
    name: Text
    tag: Text
    attr_a: Text = b""
    attr_b: Text = b""


@dataclass
class Node:
    """A node of a cluster: a server the module messages may be routed to."""
    server: Text
    port: int
    user: Text
    password: Text
    attr: Text = b""


@dataclass
class Document:
    """One input text of a batch call; ``id`` comes back in per-text answers."""
    id: int
    text: Text


@dataclass
class KeywordItem:
    """One item of the keyword frequency calls: a text, its weight and a
    second text."""
    text: Optional[Text]
    value: int = 0
    text2: Optional[Text] = None


@dataclass(frozen=True)
class Token:
    """A segmented word: byte offset and byte length in the text, and the
    bytes of the text they cover (fewer, or none, where the module's entry
    reaches past the text)."""
    offset: int
    length: int
    word: bytes


@dataclass(frozen=True)
class ExtractedWord:
    """One entry of the word extraction answer."""
    word: bytes
    count: int
    first_offset: int
    text_index: int
    length: int


@dataclass(frozen=True)
class ClassifyResult:
    """The answer of the dictionary classifier (engine 3): its two texts as
    the module sent them (the best category and the scores) and the three
    values the call hands back."""
    best: bytes
    scores: bytes
    value_a: int
    value_b: int
    value_c: int


@dataclass(frozen=True)
class BsmResult:
    """The answer of the BSM classifier (engine 7): its two texts as the
    module sent them (the best category and the scores) and the flag."""
    best: bytes
    scores: bytes
    matched: bool


@dataclass(frozen=True)
class AssociationResult:
    """The two answers of the association search, as the module sent them:
    the associations of the text's terms and the categories (empty when not
    asked for)."""
    associations: bytes
    categories: bytes = b""


@dataclass(frozen=True)
class AsyncResult:
    """The answer of an asynchronous message, as the callback receives it."""
    request_id: int
    code: int
    answer: bytes

    @property
    def ok(self) -> bool:
        """True when the request succeeded (code not negative)."""
        return self.code >= 0

    def error(self) -> "Optional[OrqExtError]":
        """The exception for a failed answer, None for a successful one."""
        from .errors import error_for
        return None if self.code >= 0 else error_for(self.code, "asynchronous message")


#: A document of the batch calls: a text (its id is its position), an
#: (id, text) pair or a Document.
DocumentLike = Union[Data, Tuple[int, Data], Document]
#: What send_async calls with the answer, on the library's worker thread.
AsyncCallback = Callable[[AsyncResult], object]
