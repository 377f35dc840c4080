# mypy --strict passes this user script: the async methods keep their types.
from typing import List

import orqext
import orqext.aio


async def main() -> List[orqext.Token]:
    async with orqext.aio.connect("127.0.0.1", 7300, "admin", "admin", timeout=5.0) as conn:
        listing: bytes = await conn.module_list()
        words: bytes = await conn.keywords(1, ["a text"])
        tokens = await conn.segment(conn.decode(listing + words))
        first: bytes = tokens[0].word
        return [t for t in tokens if t.word == first]
