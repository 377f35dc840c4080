"""Readers of the answers xsr-sim's simulated modules write (docs/sim-modules.md).

The package hands those answers back as the server sent them (bytes): their
layout is the server module's, and a real server's may differ. These readers
know xsr-sim's layouts only, for the tests that check what the simulated
modules answered.
"""

from typing import List, NamedTuple, Tuple


def lines(data: bytes) -> List[bytes]:
    """The non-empty lines of a text answer (up to a NUL)."""
    return [line for line in data.split(b"\0", 1)[0].split(b"\n") if line]


def _fields(line: bytes, n: int) -> List[bytes]:
    parts = line.split(b"\t")
    if len(parts) != n:
        raise ValueError("expected %d tab-separated fields: %r" % (n, line))
    return parts


class TermCount(NamedTuple):
    term: bytes
    count: int


class Classification(NamedTuple):
    id: int
    category: bytes
    score: int


class Similarity(NamedTuple):
    id: int
    score: int


def term_counts(data: bytes) -> List[TermCount]:
    """``term TAB count`` lines (keywords, the model, topics)."""
    return [TermCount(term, int(count)) for term, count in (_fields(l, 2) for l in lines(data))]


def classifications(data: bytes) -> List[Classification]:
    """``id TAB category TAB score`` lines of the text classifier."""
    return [Classification(int(i), c, int(s)) for i, c, s in (_fields(l, 3) for l in lines(data))]


def similarities(data: bytes) -> List[Similarity]:
    """``id TAB score`` lines, most similar first."""
    return [Similarity(int(i), int(s)) for i, s in (_fields(l, 2) for l in lines(data))]


def scores(data: bytes) -> List[Tuple[bytes, int]]:
    """``name=score,name=score`` of the classifiers."""
    out = []
    for part in data.split(b","):
        if part:
            name, sep, score = part.rpartition(b"=")
            if not sep:
                raise ValueError("expected name=score: %r" % part)
            out.append((name, int(score)))
    return out


def associations(data: bytes) -> List[Tuple[bytes, List[bytes]]]:
    """``term=word,word`` lines of the association search."""
    out = []
    for line in lines(data):
        term, sep, words = line.partition(b"=")
        if not sep:
            raise ValueError("expected term=words: %r" % line)
        out.append((term, [w for w in words.split(b",") if w]))
    return out


def unlabelled(data: bytes) -> Tuple[object, bytes]:
    """``number SPACE label`` of the unlabelled classifier, (None, text) otherwise."""
    number, sep, label = data.partition(b" ")
    return (int(number), label) if sep and number.isdigit() else (None, data)
