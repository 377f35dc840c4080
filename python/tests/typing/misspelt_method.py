# mypy --strict must refuse this user script: the method name is misspelt.
import orqext.aio


async def main() -> None:
    async with orqext.aio.connect("127.0.0.1", 7300, "admin", "admin") as conn:
        print(await conn.module_lsit())
