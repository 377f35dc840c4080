"""Every service family end to end against the simulated modules of xsr-sim
(their answers are described in docs/sim-modules.md)."""

import pytest

import orqext
from orqext import Token
from sim_formats import (TermCount, associations, classifications, lines, scores, similarities,
                         term_counts, unlabelled)

DOCS = [
    "The football match ended with three goals and a penalty.",
    "Shares and stock markets fell; the bank raised interest rates.",
    "A new vaccine trial helps patients with a rare disease.",
]


def test_segmentation_with_and_without_a_dictionary(conn):
    text = "I moved to New York in May"
    assert [t.word for t in conn.segment(text)] == [b"I", b"moved", b"to", b"New", b"York",
                                                  b"in", b"May"]
    assert conn.dict_import("pycities: new york, los angeles") == 2
    assert conn.dict_load("pycities") == 2
    tokens = conn.segment(text)
    assert Token(11, 8, b"New York") in tokens and len(tokens) == 6
    assert conn.dict_search("new york") >= 1
    handle = conn.dict_handle("pycities")
    assert handle > 0
    conn.delete_dict_handle(handle)
    # Multi-byte text: offsets and lengths count bytes of the encoded text.
    assert conn.segment("\u65e5\u672c ok") == [Token(0, 3, "\u65e5".encode()),
                                              Token(3, 3, "\u672c".encode()), Token(7, 2, b"ok")]
    assert conn.segment("") == []


def test_aptitude_search_and_segmentation(conn):
    conn.dict_import("pyapt: apple, apricot, banana")
    conn.dict_load("pyapt")
    conn.aptitude_init()
    try:
        assert lines(conn.aptitude_search("ap")) == [b"apple", b"apricot"]
        assert [t.word for t in conn.aptitude_segment("apple pie")] == [b"apple", b"pie"]
    finally:
        conn.aptitude_uninit()
    with pytest.raises(orqext.OrqExtError) as e:
        conn.aptitude_search("ap")
    assert e.value.code == -20206


def test_similarity(conn):
    assert conn.similarity("a b c", "a b d") == 667
    assert conn.similarity("same words", "same words") == 1000
    conn.vsm_init(21)
    try:
        model = term_counts(conn.vsm_build(21, [(5, DOCS[0]), (6, DOCS[1])]))
        assert model[:2] == [TermCount(b"terms", len(model) - 2), TermCount(b"documents", 2)]
        ranked = similarities(conn.vsm_similar(21, "football goals"))
        assert [s.id for s in ranked][0] == 5 and ranked[0].score > ranked[1].score
    finally:
        conn.vsm_shutdown(21)


def test_classification_families(conn):
    conn.stm_classifier_init(11)
    try:
        got = classifications(conn.classify(11, DOCS))
        assert [(c.id, c.category) for c in got] == [(0, b"sports"), (1, b"finance"),
                                                    (2, b"health")]
        assert all(c.score > 0 for c in got)
    finally:
        conn.stm_classifier_shutdown(11)
    conn.eztc_set_path()
    assert conn.eztc_classify([DOCS[1]]) == b"finance"
    conn.eztc_free()
    conn.classifier_set_path()
    result = conn.classifier_classify([DOCS[0]])
    assert result.best == b"sports" and result.value_a == scores(result.scores)[0][1]
    conn.classifier_free()
    conn.bsm_init()
    bsm = conn.bsm_classify([DOCS[2]])
    assert bsm.best == b"health" and bsm.matched and scores(bsm.scores)[0][0] == b"health"
    conn.bsm_free()
    conn.unlabelled_init()
    first = unlabelled(conn.unlabelled_class("goals goals match"))
    again = unlabelled(conn.unlabelled_class("goals again goals"))
    assert first == again == (first[0], b"goals")
    conn.unlabelled_free()


def test_association_families(conn):
    conn.association_begin("pyrun")
    assert conn.association_count("stock market", "bank rates") > 0
    pairs = conn.association_end()
    assert pairs > 0
    assert conn.word_support("pyrun", "stock") > 0
    conn.ar_initial()
    assert conn.ar_create("pyar", "finance", "stock=shares,bonds;bank=loan") == 2
    assert conn.ar_exists("pyar") and not conn.ar_exists("nope")
    conn.ar_load("pyar")
    assert lines(conn.ar_names()) == [b"pyar"] and lines(conn.ar_names(loaded=True)) == [b"pyar"]
    assert lines(conn.ar_categories()) == [b"finance"]
    found = conn.ar_search("stock and bank")
    assert associations(found.associations) == [(b"stock", [b"shares", b"bonds"]),
                                                (b"bank", [b"loan"])]
    assert lines(found.categories) == [b"finance"]
    items = [orqext.KeywordItem(d, 1) for d in DOCS]
    assert conn.keyword_frequency(items) > 0
    assert conn.keyword_associated(items, "bank") > 0


def test_extraction_families(conn):
    conn.extract_init(1)
    try:
        words = conn.extract_words(["beta alpha beta"], mode=2)
        assert [(w.word, w.count) for w in words] == [(b"beta", 2), (b"alpha", 1)]
        assert (words[0].first_offset, words[0].text_index, words[0].length) == (0, 0, 4)
        with pytest.raises(orqext.AnswerTooLong):
            conn.extract_words(["one two three"], capacity=2)
    finally:
        conn.extract_free()
    conn.keywords_init(31)
    kw = term_counts(conn.keywords(31, ["goals goals match", "match goals"], number=2))
    assert kw == [TermCount(b"goals", 3), TermCount(b"match", 2)]
    conn.keywords_shutdown(31)
    # The best sentence by its terms' counts; the earlier one on a tie.
    text = "Stocks fell. The match had goals. Goals win matches."
    conn.abstract_init(41)
    assert conn.abstract(41, text, sentences=1) == b"The match had goals."
    conn.abstract_shutdown(41)
    conn.abstractor_init()
    assert conn.abstractor(text, sentences=1) == b"The match had goals."
    conn.abstractor_shutdown()


def test_topics(conn):
    conn.topic_init()
    assert conn.make_topic("pysport", "football goals match") == 3
    assert TermCount(b"pysport", 3) in term_counts(conn.topics())
    assert lines(conn.topic_items("pysport", "two goals in the match")) == [b"goals", b"match"]
    conn.topic_uninit()


def test_stm_engine_domains_and_analysers(conn):
    conn.stm_init()
    assert conn.stm_initialized()
    conn.create_domain("pydomain", "a test domain", "alpha beta")
    try:
        assert b"pydomain" in lines(conn.domains())
        handle = conn.open_domain("pydomain")
        assert handle > 0 and conn.domain_handle("pydomain") == handle
        assert conn.domain_name(handle) == b"pydomain"
        assert lines(conn.domains(open_only=True)) == [b"pydomain"]
        conn.close_domain("pydomain")
        with pytest.raises(orqext.OrqExtError) as e:
            conn.open_domain("no such domain")
        assert e.value.code == -20203
    finally:
        conn.delete_domain("pydomain")
    conn.filter_init(51, "bank vaccine")
    assert conn.filter_count(51, DOCS) == 2
    conn.filter_shutdown(51)
    conn.text_cluster_init(61)
    assert conn.text_cluster(61, ["goals goals", "bank bank", "goals again goals"]) == 2
    conn.text_cluster_shutdown(61, "pyclusters", (1, 2, 3, 4))
    conn.stm_shutdown()
    assert not conn.stm_initialized()
