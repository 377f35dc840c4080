#!/usr/bin/env python3
"""Checks the output of `orqext trace export FILE --format chrome` against the
trace it was made from, read here on its own: the JSON parses; every record
is one complete slice ("X") on its process's and thread's track, with the
record's duration, its start from the trace's first call, its result and
meaning, bytes out and in; every process and thread is named; each exchange
slice lies over calls of its own thread and ends with the last of them; each
asynchronous request that got a pending or part answer starts one flow that
ends at a ticket fetch of the same thread.

    check_chrome_trace.py TRACE JSON [--expect-exchanges N] [--expect-flows N]

Prints what differs and exits 1, or prints a summary and exits 0.
"""
import json
import sys


def records(path):
    out = []
    with open(path, "rb") as f:
        for raw in f.read().split(b"\n"):
            fields = raw.decode("latin-1").split(" ")
            if len(fields) < 3 or fields[0] != "XT1":
                continue
            r = {"fn": fields[1]}
            for kv in fields[2:]:
                k, _, v = kv.partition("=")
                r[k] = v
            out.append(r)
    return out


def main():
    args = sys.argv[1:]
    trace, out = args[0], args[1]
    want = {}
    for i in range(2, len(args), 2):
        want[args[i]] = int(args[i + 1])
    recs = records(trace)
    with open(out, encoding="utf-8") as f:
        doc = json.load(f)
    events = doc["traceEvents"]
    problems = []
    t0 = min(int(r["t"]) for r in recs)
    calls = [e for e in events if e["ph"] == "X" and e["cat"] != "exchange"]
    if len(calls) != len(recs):
        problems.append("%d call slices for %d records" % (len(calls), len(recs)))
    by_seq = {(e["pid"], e["args"]["seq"]): e for e in calls}
    bytes_seen = 0
    for r in recs:
        e = by_seq.get((int(r["pid"]), int(r["seq"])))
        if e is None:
            problems.append("no slice for record %s of process %s" % (r["seq"], r["pid"]))
            continue
        checks = [
            ("tid", e["tid"], int(r["tid"])),
            ("dur", e["dur"], int(r["us"])),
            ("ts", e["ts"], int(r["t"]) - t0),
            ("cat", e["cat"], r["fn"]),
            ("result", e["args"]["result"], int(r["rc"])),
        ]
        if r["fn"] == "command":
            out_bytes = (len(r["hdr"]) + len(r["body"]) + len(r.get("body2", ""))) // 2
            checks.append(("bytes_out", e["args"]["bytes_out"], out_bytes))
            checks.append(("bytes_in", e["args"]["bytes_in"], len(r["ans"]) // 2))
            bytes_seen += out_bytes
        for what, got, expected in checks:
            if got != expected:
                problems.append("record %s: %s %r, expected %r" % (r["seq"], what, got, expected))
        if not e["args"].get("meaning"):
            problems.append("record %s: no meaning" % r["seq"])
        if not e["name"]:
            problems.append("record %s: no name" % r["seq"])
    named = {(e["pid"], e["tid"]) for e in events if e["ph"] == "M" and e["name"] == "thread_name"}
    procs = {e["pid"] for e in events if e["ph"] == "M" and e["name"] == "process_name"}
    for r in recs:
        if (int(r["pid"]), int(r["tid"])) not in named:
            problems.append("thread %s of process %s has no name" % (r["tid"], r["pid"]))
        if int(r["pid"]) not in procs:
            problems.append("process %s has no name" % r["pid"])
    exchanges = [e for e in events if e["ph"] == "X" and e["cat"] == "exchange"]
    for x in exchanges:
        inside = [c for c in calls if c["pid"] == x["pid"] and c["tid"] == x["tid"]
                  and c["ts"] >= x["ts"] and c["ts"] + c["dur"] <= x["ts"] + x["dur"]]
        if len(inside) < x["args"]["calls"] or len(inside) < 2:
            problems.append("exchange %r at %d holds %d calls, says %d"
                            % (x["name"], x["ts"], len(inside), x["args"]["calls"]))
        elif max(c["ts"] + c["dur"] for c in inside) != x["ts"] + x["dur"]:
            problems.append("exchange %r does not end with its last call" % x["name"])
        if not x["name"].startswith("exchange: "):
            problems.append("exchange named %r" % x["name"])
    starts = {e["id"]: e for e in events if e["ph"] == "s"}
    ends = {e["id"]: e for e in events if e["ph"] == "f"}
    if set(starts) != set(ends):
        problems.append("flows started %s, ended %s" % (sorted(starts), sorted(ends)))
    for fid, s in starts.items():
        f = ends.get(fid)
        if f and (f["ts"] < s["ts"] or (f["pid"], f["tid"]) != (s["pid"], s["tid"])):
            problems.append("flow %d ends before it starts or on another thread" % fid)
        src = [c for c in calls if c["pid"] == s["pid"] and c["tid"] == s["tid"]
               and c["ts"] <= s["ts"] <= c["ts"] + c["dur"]]
        if not any(c["args"].get("command") == "async message" for c in src):
            problems.append("flow %d starts on no async message" % fid)
        dst = [c for c in calls if f and c["pid"] == f["pid"] and c["tid"] == f["tid"]
               and c["ts"] <= f["ts"] <= c["ts"] + c["dur"]]
        if f and not any(c["args"].get("command") == "ticket" for c in dst):
            problems.append("flow %d ends on no ticket fetch" % fid)
    pending_async = sum(1 for r in recs if r["fn"] == "command" and r["hdr"][:4] == "0300"
                        and r["rc"] in ("-9000", "-1108"))
    if len(starts) != pending_async:
        problems.append("%d flows for %d asynchronous requests answered later" % (len(starts), pending_async))
    for key, n, got in (("--expect-exchanges", want.get("--expect-exchanges"), len(exchanges)),
                        ("--expect-flows", want.get("--expect-flows"), len(starts))):
        if n is not None and got != n:
            problems.append("%s %d, found %d" % (key, n, got))
    for p in problems:
        print(p)
    if problems:
        return 1
    print("%d records: %d call slices, %d exchanges, %d flows, %d threads; %d bytes out"
          % (len(recs), len(calls), len(exchanges), len(starts), len(named), bytes_seen))
    return 0


if __name__ == "__main__":
    sys.exit(main())
