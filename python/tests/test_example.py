"""The example script of examples/ against a fresh xsr-sim that does not run
the service modules yet (the script registers and starts them)."""

import os
import subprocess
import sys

from conftest import REPO

SCRIPT = os.path.join(REPO, "examples", "segment_classify.py")


def test_example_segments_and_classifies(sims):
    sim = sims()
    out = subprocess.run([sys.executable, SCRIPT, "--port", str(sim.port)], check=True,
                         capture_output=True, text=True, timeout=120).stdout.splitlines()
    assert out == [
        "document 0: 9 words: The | football | match | in | New York | ended | with | three"
        " | goals",
        "document 1: 11 words: Stock | markets | in | Hong Kong | fell | as | the | bank | raised"
        " | interest | rates",
        "document 2: 9 words: A | new | vaccine | helps | patients | with | a | rare | disease",
        # The classifier's answer as xsr-sim writes it: id, category, score.
        "classified: 0 | sports | 2",
        "classified: 1 | finance | 4",
        "classified: 2 | health | 2",
    ]
