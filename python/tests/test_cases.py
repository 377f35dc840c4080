"""The shared table of cases (tests/cases/*.json, its format in
tests/cases/README.md) run through the Python package over the scripted
double: every case of every file, or the reason the file gives for skipping
it here."""

import glob
import json
import os
import struct

import pytest

from conftest import REPO

import orqext

CASES_DIR = os.path.join(REPO, "tests", "cases")
LAYER = "python"


def _load():
    out = []
    for path in sorted(glob.glob(os.path.join(CASES_DIR, "*.json"))):
        with open(path, encoding="utf-8") as f:
            for case in json.load(f).get("cases", []):
                out.append(case)
    return out


CASES = _load()
with open(os.path.join(CASES_DIR, "kinds.json"), encoding="utf-8") as _f:
    _KINDS = json.load(_f)
KIND_CLASSES = {"bad_argument": orqext.BadArgument, "answer_too_long": orqext.AnswerTooLong,
                "timeout": orqext.Timeout, "no_connection": orqext.NoConnection,
                "error": orqext.OrqExtError}


def kind_of(code):
    return _KINDS["kinds"].get(str(code), _KINDS["other"])


def data(spec):
    """The bytes a B of the case format stands for."""
    if isinstance(spec, str):
        return spec.encode("utf-8")
    if isinstance(spec, list):
        return b"".join(data(s) for s in spec)
    if "hex" in spec:
        return bytes.fromhex(spec["hex"])
    if "le32" in spec:
        return struct.pack("<i", spec["le32"])
    if "le16" in spec:
        return struct.pack("<h", spec["le16"])
    if "repeat" in spec:
        return data(spec["repeat"]) * spec["times"]
    raise ValueError("not a byte form: %r" % (spec,))


def value(arg):
    """An argument of the case format as this layer takes it."""
    if isinstance(arg, dict):
        if "bytes" in arg:
            return data(arg["bytes"])
        if "wrong_type" in arg:
            return arg["wrong_type"]
        if "texts" in arg:
            return [value(t) for t in arg["texts"]]
        raise ValueError("not an argument form: %r" % (arg,))
    if isinstance(arg, list):  # documents
        return [orqext.Document(d["id"], value(d["text"])) for d in arg]
    return arg


def reply(r):
    """(result, bytes, reported length) for the double."""
    if "pending" in r:
        t0, t1 = r["pending"]
        return (-9000, struct.pack("<ii", t0, t1), -1)
    if "part" in r:
        return (-1108, data(r["part"]), -1)
    return (r.get("result", 0), data(r.get("bytes", [])), r.get("reported", -1))


# export -> (method, positional argument names, keyword arguments from the case, fixed keywords)
CALLS = {
    "ORQExt_SendMessage": ("send", ["module", "payload"], {"target": "target"}, {}),
    "ORQExt_SendMessageTimeOut": ("send", ["module", "payload"], {"cancel": "cancel"}, {}),
    "ORQExt_ExecSql2": ("execute", ["statement"], {}, {}),
    "ORQExt_GetModInfos": ("module_list", [], {}, {}),
    "ORQExt_GetModInfo": ("module_info", ["module"], {}, {}),
    "ORQExt_NLPE_DictLoad": ("dict_load", ["name"], {}, {}),
    "ORQExt_NLPE_WordSect": ("segment", ["text"], {}, {}),
    "ORQExt_AR_GetAllDictNameLoaded": ("ar_names", [], {}, {"loaded": True}),
    "ORQExt_AR_Search": ("ar_search", ["text"], {}, {}),
    "ORQExt_ExtractWord_Direct": ("extract_words", ["texts"], {"capacity": "capacity"}, {}),
    "ORQExt_CLA_GetClassifyResult": ("classifier_classify", ["texts"], {}, {}),
    "ORQExt_BSM_GetClassifyResult": ("bsm_classify", ["texts"], {"capacity": "capacity"}, {}),
    "ORQExt_ARA_Stat_AssociatedFreq_Begin": ("association_begin", ["run"], {}, {}),
    "ORQExt_KWFS_Frequency": ("keyword_frequency", ["items"], {}, {}),
    "ORQExt_STM_GetDomainNameList": ("domains", [], {}, {}),
    "ORQExt_STM_KeyWordExtractor_Do": ("keywords", ["handle", "documents"], {}, {}),
    "ORQExt_STM_TextClassifier_Do": ("classify", ["handle", "documents"], {}, {}),
    "ORQExt_STM_VSMGenerator_Do": ("vsm_build", ["handle", "documents"], {}, {}),
    "ORQExt_STM_VSMGenerator_GetResult": ("vsm_similar", ["handle", "text"], {}, {}),
    "ORQExt_STM_Similarity_Analyst": ("similarity", ["text1", "text2"], {}, {}),
    "ORQExt_TOP_GetItem": ("topic_items", ["topic", "text"], {}, {}),
}


def call_of(case):
    """The call tuple double_child.run takes: (method, *args, {keywords})."""
    args = case.get("args", {})
    if case["call"] == "result_kind":
        return ("send", "Echo", b"x", {})
    method, positional, keywords, fixed = CALLS[case["call"]]
    kw = dict(fixed)
    kw.update({k: value(args[a]) for k, a in keywords.items() if a in args})
    if "timeout_ms" in args:
        kw["timeout"] = args["timeout_ms"] / 1000.0
    return (method, *[value(args[a]) for a in positional], kw)


def expected_value(v):
    if "bytes" in v:
        return data(v["bytes"])
    if "int" in v:
        return v["int"]
    if "bool" in v:
        return v["bool"]
    if "tokens" in v:
        return [orqext.Token(o, n, data(w)) for o, n, w in v["tokens"]]
    if "words" in v:
        return [orqext.ExtractedWord(data(w), c, f, t, n) for w, c, f, t, n in v["words"]]
    if "classified" in v:
        c = v["classified"]
        return orqext.ClassifyResult(data(c["best"]), data(c["scores"]), c["value_a"],
                                     c["value_b"], c["value_c"])
    if "bsm" in v:
        b = v["bsm"]
        return orqext.BsmResult(data(b["best"]), data(b["scores"]), b["matched"])
    if "associations" in v:
        a = v["associations"]
        return orqext.AssociationResult(data(a["associations"]), data(a["categories"]))
    raise ValueError("not a value form: %r" % (v,))


def check_requests(want, sent):
    assert len(sent) == len(want), sent
    for w, (code, capacity, body) in zip(want, sent):
        assert code == w["code"]
        if "capacity" in w:
            assert capacity == w["capacity"]
        if "body" in w:
            assert body == data(w["body"])
        if "body_has" in w:
            assert data(w["body_has"]) in body
        if "body_ends" in w:
            assert body.endswith(data(w["body_ends"]))


def check_error(want, e):
    assert isinstance(e, orqext.OrqExtError), e
    assert e.code == want["code"]
    assert type(e) is KIND_CLASSES[kind_of(want["code"])]
    if "length" in want:
        assert e.length == want["length"]
    if "argument" in want:
        assert e.argument == want["argument"]


def _id(case):
    return case["name"]


@pytest.mark.parametrize("case", CASES, ids=_id)
def test_case(child, case):
    why = case.get("skip", {}).get(LAYER)
    if why:
        pytest.skip(why)
    if case["call"] == "cancel":
        run_cancel(child, case)
        return
    if case["call"] not in CALLS and case["call"] != "result_kind":
        pytest.fail("the Python runner does not run %r: add it, or a skip with the reason"
                    % case["call"])
    import double_child
    options = dict(case.get("connection", {}))
    # Bounded: an answer the parent cannot take back would leave the pool waiting.
    (kind, got), sent = child.apply_async(
        double_child.run, (call_of(case), [reply(r) for r in case.get("double", [])]),
        options).get(60)
    want = case["expect"]
    if "error" in want:
        assert kind == "error", got
        check_error(want["error"], got)
    else:
        assert kind == "ok", got
        assert got == expected_value(want["value"])
    if "requests" in want:
        check_requests(want["requests"], sent)


def run_cancel(child, case):
    """The cancel rule at the case's stage (double_child.run_cancel)."""
    import double_child
    args, want = case["args"], case["expect"]
    cancel_reply = reply(args.get("cancel_reply", {"result": 0}))
    cancelled, cancel_result, ended_cancelled, answer = child.apply_async(
        double_child.run_cancel,
        (args["stage"], value(args["module"]), value(args["payload"]),
         [reply(r) for r in case.get("double", [])], cancel_reply[:2])).get(60)
    assert cancelled is want["cancelled"]
    assert ended_cancelled is want["cancelled"]
    if "cancel_result" in want:
        assert cancel_result == want["cancel_result"]
    if "answer" in want:
        assert answer == data(want["answer"])
    else:
        assert ended_cancelled, "the request never answers"


def test_every_case_has_a_unique_name_and_a_known_call():
    names = [c["name"] for c in CASES]
    assert len(names) == len(set(names))
    for c in CASES:
        assert c["call"] in CALLS or c["call"] in ("result_kind", "cancel"), c["name"]
