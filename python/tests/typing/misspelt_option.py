# mypy --strict must refuse this user script: the option name is misspelt.
import orqext
import orqext.aio


def main() -> None:
    orqext.connect("127.0.0.1", 7300, "admin", "admin", answer_sise=1024)
    orqext.aio.connect("127.0.0.1", 7300, "admin", "admin", max_answer_sise=1)
