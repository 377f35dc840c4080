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
import re
import subprocess
import sys


def listing(build):
    out = subprocess.run(["ctest", "--test-dir", build, "-N", "--show-only=json-v1"],
                         check=True, capture_output=True, text=True).stdout
    return json.loads(out)["tests"]


def report_path(build, name):
    # The file name orq_gtest gives the report: string(MAKE_C_IDENTIFIER).
    ident = re.sub(r"[^A-Za-z0-9_]", "_", name)
    if ident[:1].isdigit():
        ident = "_" + ident
    return os.path.join(build, "gtest-results", ident + ".json")


def per_program(test):
    return any(arg.startswith("--gtest_output=json:") for arg in test.get("command", []))


def cases(build, tests=None):
    """{name: cases ran} for the per-program tests; raises on a bad report."""
    found = {}
    for t in tests if tests is not None else listing(build):
        if not per_program(t):
            continue
        path = report_path(build, t["name"])
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
