#!/usr/bin/env python3
"""One line saying what the 32-bit step ran (scripts/test-i386.sh).

    ctest -N --show-only=json-v1 | count_tests.py BUILD_S TOTAL_S [PATTERN...]

Reads the tests of the build from ctest's JSON listing, leaves out the ones
a PATTERN (a ctest -E regular expression) matches, and counts the others by
what they run: the program a test starts, or its script.
"""
import json
import os
import re
import sys


# Programs of unit tests besides tests/unit's: the lifecycle tests, the
# double as shipped and its documented example, xsr-sim's parts, the stress
# test over the double, the C++ layer's result texts.
UNIT_PROGRAMS = ("lifecycle_tests", "double_c_tests", "double_example", "xsr_sim_logic_tests",
                 "stress_double_tests", "cpp_result_text_check")


def kind(test):
    name = test["name"]
    cmd = test.get("command", [])
    if name.startswith("sim64:"):
        return "sim64 examples" if "example" in name else "sim64"
    # Under the emulator: sh qemu-run.sh ROOT PROGRAM ARGUMENTS...
    runs = [i for i, c in enumerate(cmd) if c.endswith("/qemu-run.sh")]
    program = os.path.basename(cmd[runs[0] + 2] if runs else cmd[0] if cmd else "")
    if name.startswith("record_layout_"):
        return "layouts"
    if program.startswith("unit_") or program in UNIT_PROGRAMS:
        return "unit"
    if program == "e2e_tests":
        return "e2e"
    if program in ("e2e_cli_tests", "stress_sim_tests"):
        return "services"
    if name.endswith("example_e2e") or name.startswith("example_roundtrip_"):
        return "examples"
    return "other"


def minutes(seconds):
    return f"{seconds // 60} min {seconds % 60} s"


def main():
    built, total = int(sys.argv[1]), int(sys.argv[2])
    patterns = [re.compile(p) for p in sys.argv[3:]]
    tests = json.load(sys.stdin)["tests"]
    ran = [t for t in tests if not any(p.search(t["name"]) for p in patterns)]
    counts = {}
    for t in ran:
        counts[kind(t)] = counts.get(kind(t), 0) + 1
    c = lambda k: counts.get(k, 0)
    print(f"linux-i386: {len(ran)} tests passed under qemu-i386: unit {c('unit')}, "
          f"end-to-end {c('e2e')} against the 32-bit xsr-sim and {c('sim64')} against the 64-bit one, "
          f"services and orqext end to end {c('services')}, record layouts {c('layouts')} (C, C++), "
          f"example programs {c('examples')} against the 32-bit xsr-sim and {c('sim64 examples')} "
          f"against the 64-bit one, other {c('other')}; {len(tests) - len(ran)} excluded "
          f"(scripts/test-i386.sh); build {minutes(built)}, build and run {minutes(total)}")


if __name__ == "__main__":
    main()
