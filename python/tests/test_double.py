"""Error mapping and the self-sizing rule through the real library, with the
scripted XSRClient double in place of the networked one. The double's calls
run in a child interpreter (one library per process); each test hands it a
scenario and checks what came back and what the library sent."""

import pytest

import orqext
from double_child import le32

def run(child, call, replies, **options):
    import double_child
    return child.apply(double_child.run, (call, replies), options)


NAMES = b"alpha\nbeta\ngamma\ndelta\nepsilon\nzeta\neta\n"
assert len(NAMES) == 40


def names_reply(text, announced=None):
    """A counted name list as the module sends it: the whole length, then the
    bytes that fit."""
    return (0, le32(len(text) if announced is None else announced) + text, -1)


def frame_capacity(body):
    """The capacity a name-list frame carries: its last four bytes."""
    return int.from_bytes(body[-4:], "little", signed=True)


def test_retry_once_with_exactly_the_reported_length(child):
    # 16 bytes offered, the list has 40: -1107 with the length 40, then one
    # call with a buffer of exactly 40.
    (kind, value), sent = run(child, ("ar_names", True),
                              [names_reply(NAMES[:16], 40), names_reply(NAMES)], answer_size=16)
    assert (kind, value) == ("ok", NAMES)
    assert [frame_capacity(body) for _, _, body in sent] == [16, 40]


@pytest.mark.parametrize("replies, options, length, calls", [
    # Still too long on the retry: an error, no third call.
    ([names_reply(NAMES[:16], 40), names_reply(NAMES, 60)], {}, 60, 2),
    # The reported length is above the maximum: no retry at all.
    ([names_reply(NAMES[:16], 40)], {"max_answer_size": 39}, 40, 1),
])
def test_answers_that_do_not_fit_raise_answer_too_long(child, replies, options, length, calls):
    (kind, e), sent = run(child, ("ar_names", True), replies, answer_size=16, **options)
    assert kind == "error" and type(e) is orqext.AnswerTooLong
    assert (e.code, e.length, len(sent)) == (-1107, length, calls)


def test_retry_of_a_message_through_the_small_buffer_path(child):
    # Under 128 bytes the library receives into its own area and reports
    # -1107 with the whole length; the retry asks for exactly that much.
    answer = bytes(range(100))
    (kind, value), sent = run(child, ("send", "Echo", b"x"), [(0, answer, -1), (0, answer, -1)],
                              answer_size=50)
    assert (kind, value) == ("ok", answer)
    assert len(sent) == 2


def test_two_answers_retry_each_with_its_reported_length(child):
    best, scores = b"b" * 20, b"sports=3,finance=1"
    reply = (0, le32(0) + le32(len(best)) + best + le32(len(scores)) + scores + le32(1), -1)
    (kind, value), sent = run(child, ("bsm_classify", ["some text"], {"capacity": 8}),
                              [reply, reply])
    assert kind == "ok", value
    assert value == orqext.BsmResult(best, scores, True)
    # The frames end with capacity 1, capacity 2 and the flag byte.
    caps = [(int.from_bytes(b[-9:-5], "little"), int.from_bytes(b[-5:-1], "little"))
            for _, _, b in sent]
    assert caps == [(8, 8), (20, len(scores))]


@pytest.mark.parametrize("code, cls", [
    (-20007, orqext.Timeout),
    (-20006, orqext.NoConnection),
    (-20012, orqext.NoConnection),
    (-20101, orqext.OrqExtError),
    (-1100, orqext.BadArgument),
])
def test_failures_of_the_client_library_raise_their_class(child, code, cls):
    (kind, e), sent = run(child, ("send", "Echo", b"x"), [(code, b"", 0)])
    assert kind == "error" and type(e) is cls
    assert e.code == code and e.call == "ORQExt_SendMessage"
    assert len(sent) == 1


def test_a_positive_status_word_is_returned_not_raised(child):
    (kind, value), sent = run(child, ("execute", "select 1"), [(7, b"", 0)])
    assert (kind, value) == ("ok", 7)
    assert sent[0][0] == 9 and b"select 1" in sent[0][2]


def test_a_refused_login_raises_no_connection(child):
    import double_child
    e = child.apply(double_child.connect_refused, (-20004,))
    assert type(e) is orqext.NoConnection and e.code == -20004 and e.call == "ORQExt_Connect"


@pytest.mark.parametrize("call", [
    ("send", "Ec\0ho", b"payload"),
    ("execute", "select\0 1"),
    ("segment", b"nul\0inside"),
    ("send", 42, b"x"),
    ("dict_load", None),
    ("send", "Echo", "\udc80 lone surrogate"),
])
def test_unusable_texts_are_refused_before_anything_is_sent(child, call):
    import double_child
    e, count = child.apply(double_child.text_refused, (call,))
    assert isinstance(e, orqext.BadArgument) and e.code == -1100
    assert count == 0
