#!/usr/bin/env python3
"""One line saying what the 32-bit step ran (scripts/test-i386.sh).

    count_tests.py BUILD BUILD_S TOTAL_S [PATTERN...]

Reads the tests of the build from ctest's listing and counts the cases that
ran by what they run: the program a test starts (its cases, from the
program's report; tests/count_cases.py), or its script (one each). The
PATTERNs are the GoogleTest patterns of the cases the build leaves out.
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from count_cases import cases, listing  # noqa: E402


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
    build, built, total = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    left_out = sys.argv[4:]
    tests = listing(build)
    ran = cases(build, tests)
    counts = {}
    for t in tests:
        counts[kind(t)] = counts.get(kind(t), 0) + ran.get(t["name"], 1)
    c = lambda k: counts.get(k, 0)
    print(f"linux-i386: {sum(counts.values())} test cases passed under qemu-i386 ({len(ran)} program runs "
          f"and {len(tests) - len(ran)} other tests): unit {c('unit')}, "
          f"end-to-end {c('e2e')} against the 32-bit xsr-sim and {c('sim64')} against the 64-bit one, "
          f"services and orqext end to end {c('services')}, record layouts {c('layouts')} (C, C++), "
          f"example programs {c('examples')} against the 32-bit xsr-sim and {c('sim64 examples')} "
          f"against the 64-bit one, other {c('other')}; {len(left_out)} left out "
          f"(scripts/test-i386.sh); build {minutes(built)}, build and run {minutes(total)}")


if __name__ == "__main__":
    main()
