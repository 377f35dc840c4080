#!/usr/bin/env python3
"""Counts the test cases a build's last ctest run ran, program by program.

    count_cases.py BUILD [PREFIX]

Where each test program is one ctest test (ORQ_TESTS_PER_PROGRAM, the cross
builds), the program writes GoogleTest's JSON report to
BUILD/gtest-results/<test>.json. This reads the report of every such test
ctest lists, prints one line (PREFIX, then the cases that ran and in how many
programs, and the other tests) and fails when a program's report is missing
or says that it ran no case: a program whose cases all went missing (a
filter that matches nothing, a list that came out empty) would otherwise
pass. As a module, cases(build) gives {test name: cases} for the counting of
scripts/test-i386.sh.
"""
import json
import os
import subprocess
import sys


def listing(build):
    out = subprocess.run(["ctest", "--test-dir", build, "-N", "--show-only=json-v1"],
                         check=True, capture_output=True, text=True).stdout
    return json.loads(out)["tests"]


def report_of(test):
    """The report a per-program test writes: its --gtest_output argument
    (a Windows build's path starts with Wine's drive Z:, which is /)."""
    for arg in test.get("command", []):
        if arg.startswith("--gtest_output=json:"):
            path = arg[len("--gtest_output=json:"):]
            return path[2:] if path.startswith("Z:/") else path
    return None


def cases(build, tests=None):
    """{name: cases ran} for the per-program tests; raises on a bad report."""
    found = {}
    for t in tests if tests is not None else listing(build):
        path = report_of(t)
        if path is None:
            continue
        try:
            with open(path, encoding="utf-8") as f:
                report = json.load(f)
        except (OSError, ValueError) as e:
            raise SystemExit(f"{t['name']}: no readable report of its cases ({path}: {e})")
        ran = int(report.get("tests", 0)) - int(report.get("disabled", 0))
        if ran <= 0:
            raise SystemExit(f"{t['name']}: the program ran no test case")
        found[t["name"]] = ran
    return found


def main():
    build = sys.argv[1]
    prefix = sys.argv[2] if len(sys.argv) > 2 else build
    tests = listing(build)
    found = cases(build, tests)
    others = len(tests) - len(found)
    print(f"{prefix}: {sum(found.values())} test cases in {len(found)} program runs, "
          f"and {others} other tests")


if __name__ == "__main__":
    main()
