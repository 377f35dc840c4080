"""The records the Pythonic layer hands out and takes in.

Texts are ``bytes`` as the library delivers them; where a record is given to
a call, ``str`` fields are accepted too and encoded with the connection's
codec.
"""

from dataclasses import dataclass, field
from typing import List, Optional, Union

Text = Union[str, bytes]


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


@dataclass
class Token:
    """A segmented word: byte offset and byte length in the text, and the
    bytes they cover (None when the entry does not lie inside the text)."""
    offset: int
    length: int
    word: Optional[bytes]


@dataclass
class ExtractedWord:
    """One entry of the word extraction answer."""
    word: bytes
    count: int
    first_offset: int
    text_index: int
    length: int


@dataclass
class Classification:
    """The category of one document of a batch."""
    id: int
    category: bytes
    score: int


@dataclass
class CategoryScore:
    name: bytes
    score: int


@dataclass
class ClassifyResult:
    """The answer of the dictionary classifier (engine 3): the best category,
    the scores and the three values the call hands back."""
    best: bytes
    scores: List[CategoryScore]
    value_a: int
    value_b: int
    value_c: int


@dataclass
class BsmResult:
    """The answer of the BSM classifier (engine 7)."""
    best: bytes
    scores: List[CategoryScore]
    matched: bool


@dataclass
class UnlabelledClass:
    """The class a text joined: its number and its label."""
    number: Optional[int]
    label: bytes


@dataclass
class Association:
    """A term and the words associated with it."""
    term: bytes
    words: List[bytes]


@dataclass
class AssociationResult:
    associations: List[Association]
    categories: List[bytes] = field(default_factory=list)


@dataclass
class TermCount:
    """A term (or key) and its count."""
    term: bytes
    count: int


@dataclass
class Similarity:
    """How similar the document ``id`` is (the module's score)."""
    id: int
    score: int


@dataclass
class Topic:
    name: bytes
    count: int


@dataclass
class AsyncResult:
    """The answer of an asynchronous message, as the callback receives it."""
    request_id: int
    code: int
    answer: bytes

    @property
    def ok(self):
        return self.code >= 0

    def error(self):
        """The exception for a failed answer, None for a successful one."""
        from .errors import error_for
        return None if self.code >= 0 else error_for(self.code, "asynchronous message")
