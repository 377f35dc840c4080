#!/usr/bin/env python3
"""Segments and classifies a few documents through ORQExtClient.

Needs the orqext Python package (pip install the wheel that
scripts/python-wheel.sh makes, docs/python.md) and a server, for example
xsr-sim:

    build/release/sim/xsr-sim --port 7300 &
    python3 examples/segment_classify.py --port 7300

The text analysis module "KExt_NLPE" and the text mining module "KExt_STM"
are registered and started when the server does not run them yet.
"""

import argparse
import sys

import orqext

DOCUMENTS = [
    "The football match in New York ended with three goals.",
    "Stock markets in Hong Kong fell as the bank raised interest rates.",
    "A new vaccine helps patients with a rare disease.",
]


def ensure_started(conn: orqext.Connection, module: str) -> None:
    """Registers (with autostart) or starts the module when it is not running."""
    rows = [line.split("\t") for line in conn.module_list().decode(errors="replace").splitlines()]
    state = {row[0].lower(): row[2] for row in rows if len(row) > 2}
    if module.lower() not in state:
        conn.register_module(module, autostart=True)
    elif state[module.lower()] != "started":
        conn.start_module(module)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=7300)
    parser.add_argument("--user", default="admin")
    parser.add_argument("--password", default="admin")
    args = parser.parse_args()

    with orqext.connect(args.host, args.port, args.user, args.password) as conn:
        for module in ("KExt_NLPE", "KExt_STM"):
            ensure_started(conn, module)

        # Words of a loaded dictionary stay one word: "New York", "Hong Kong".
        conn.dict_import("places: new york, hong kong")
        conn.dict_load("places")
        for number, text in enumerate(DOCUMENTS):
            words = [conn.decode(token.word) for token in conn.segment(text)]
            print("document %d: %d words: %s" % (number, len(words), " | ".join(words)))

        # One classifier (handle 1) classifies the whole batch. Its answer is
        # the module's text, handed back as the server sent it.
        conn.stm_classifier_init(1)
        try:
            for line in conn.decode(conn.classify(1, DOCUMENTS)).splitlines():
                print("classified: %s" % line.replace("\t", " | "))
        finally:
            conn.stm_classifier_shutdown(1)
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except orqext.OrqExtError as e:
        print("segment_classify: %s" % e, file=sys.stderr)
        sys.exit(1)
