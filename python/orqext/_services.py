"""The typed service calls of the text analysis modules ("KExt_NLPE",
"KExt_ARA", "KExt_KWFS") and of the semantic text mining module ("KExt_STM"),
as methods of Connection.

Answers the library lays out (segmentation entries, extraction entries, the
classifier's values) become dataclasses directly. Answers that are the
module's text are split into lines; where the module answers tab-separated
lines (``id TAB category TAB score``, ``term TAB count``) or lists
(``name=score,...``, ``term=word,word``) they become dataclasses too, and a
line that does not have that shape raises ReplyFormatError.
"""

import logging
from ctypes import byref, c_char_p, c_int16, c_int32, c_uint8, create_string_buffer

from . import raw
from .errors import AnswerTooLong, BadArgument, OrqExtError, check
from .records import (Association, AssociationResult, BsmResult, CategoryScore, Classification,
                      ClassifyResult, Document, ExtractedWord, KeywordItem, Similarity, TermCount,
                      Token, Topic, UnlabelledClass)


log = logging.getLogger("orqext")


class ReplyFormatError(OrqExtError):
    """An answer of the module does not have the shape the method reads."""

    def __init__(self, code=-1107, call=None, detail=None):
        super().__init__(code, call, detail)


def lines(data):
    """The non-empty lines of a text answer (a trailing NUL dropped)."""
    data = data.split(b"\0", 1)[0]
    return [line for line in data.split(b"\n") if line]


def _int(text, call):
    try:
        return int(text)
    except ValueError:
        raise ReplyFormatError(-1107, call, "not a number: %r" % text) from None


def _fields(line, n, call):
    parts = line.split(b"\t")
    if len(parts) != n:
        raise ReplyFormatError(-1107, call, "expected %d tab-separated fields: %r" % (n, line))
    return parts


def _term_counts(data, call):
    out = []
    for line in lines(data):
        term, count = _fields(line, 2, call)
        out.append(TermCount(term, _int(count, call)))
    return out


def _scores(data, call):
    """"name=score,name=score" as CategoryScore records."""
    out = []
    for part in data.split(b","):
        if not part:
            continue
        name, sep, score = part.rpartition(b"=")
        if not sep:
            raise ReplyFormatError(-1107, call, "expected name=score: %r" % part)
        out.append(CategoryScore(name, _int(score, call)))
    return out


class ServiceCalls:
    """Mixed into Connection: needs _h(), _t(), _call(), _sized(), codec,
    answer_size."""

    # -- helpers ------------------------------------------------------------
    def _texts(self, texts, most, what):
        texts = [self._t(t, what) for t in texts]
        if len(texts) > most:
            raise BadArgument(-1100, None, "at most %d texts" % most, argument=what)
        return texts + [None] * (most - len(texts))

    def _documents(self, documents, what="documents"):
        """An StmTextItem array from str/bytes (id = position), (id, text)
        pairs or Document records; texts are sent with their length, so they
        may hold NUL bytes."""
        docs = []
        for i, d in enumerate(documents):
            if isinstance(d, Document):
                docs.append((int(d.id), d.text))
            elif isinstance(d, tuple):
                docs.append((int(d[0]), d[1]))
            else:
                docs.append((i, d))
        arr = (raw.StmTextItem * max(len(docs), 1))()
        keep = []
        for slot, (ident, text) in zip(arr, docs):
            data = self.codec.data(text, what)
            keep.append(data)
            slot.id = ident
            slot.length = len(data)
            slot.text = data
        return arr, len(docs), keep

    # -- dictionaries and segmentation (engine 0) -------------------------------
    def dict_import(self, text):
        """Adds words to a dictionary ("name: word, word"); the module's count."""
        return self._call("ORQExt_NLPE_DictImport", self._t(text, "text"))

    def dict_load(self, name):
        return self._call("ORQExt_NLPE_DictLoad", self._t(name, "name"))

    def dict_unload(self, handle):
        return self._call("ORQExt_NLPE_DictUnload", int(handle))

    def dict_search(self, word):
        return self._call("ORQExt_NLPE_DictSearch", self._t(word, "word"))

    def dict_handle(self, name):
        return self._call("ORQExt_NLPE_GetHandle", self._t(name, "name"))

    def delete_dict_handle(self, handle):
        return self._call("ORQExt_NLPE_DeleteHandle", int(handle))

    def _segment(self, name, text, tail):
        data = self._t(text, "text")
        if not data:
            return []
        # Every word is at least one byte, so len + 2 entries never cut the list.
        cap = len(data) + 2
        items = (c_int32 * cap)()
        marks = (c_int16 * cap)()
        count = check(getattr(raw.library(), name)(self._h(), data, items, cap, *tail(marks)), name)
        out = []
        for i in range(min(count, cap)):
            off, length = items[i], marks[i] & 0xFFFF
            inside = 0 <= off and off + length <= len(data)
            out.append(Token(off, length, data[off:off + length] if inside else None))
        return out

    def segment(self, text, *, opt_a=0, opt_b=0, opt_c=0, flag_a=0, flag_b=0):
        """Splits a text into words (ORQExt_NLPE_WordSect): a list of Token."""
        return self._segment("ORQExt_NLPE_WordSect", text,
                             lambda marks: (opt_a, opt_b, marks, opt_c, flag_a, flag_b))

    # -- aptitude search (engine 5) ------------------------------------------------
    def aptitude_init(self):
        return self._call("ORQExt_Aptitude_Init")

    def aptitude_uninit(self):
        return self._call("ORQExt_Aptitude_UnInit")

    def aptitude_search(self, text):
        """Words that begin with the text: a list of bytes."""
        h, data = self._h(), self._t(text, "text")
        return lines(self._sized("ORQExt_Aptitude_Search", lambda b, n: raw.ORQExt_Aptitude_Search(
            h, data, b, byref(n)))[1])

    def aptitude_segment(self, text, *, opt_a=0, opt_b=0, opt_c=0, flag_a=0):
        return self._segment("ORQExt_Aptitude_WordSect", text,
                             lambda marks: (opt_a, opt_b, marks, opt_c, flag_a))

    # -- word extraction (engine 4) --------------------------------------------------
    def extract_init(self, mode=1):
        return self._call("ORQExt_ExtractWord_Initial", int(mode))

    def extract_free(self):
        return self._call("ORQExt_ExtractWord_FreeDict")

    def extract_words(self, texts, *, mode=1, flag=False, normal=False, capacity=1024):
        """The distinct words of up to six texts: a list of ExtractedWord. More
        words than ``capacity`` raise AnswerTooLong."""
        name = "ORQExt_ExtractWord_DirectNormal" if normal else "ORQExt_ExtractWord_Direct"
        fields = (c_char_p * 6)(*self._texts(texts, 6, "texts"))
        entries = (raw.ExtractEntry * capacity)()
        count = c_int32(capacity)
        rc = getattr(raw.library(), name)(self._h(), fields, entries, byref(count), int(mode),
                                          1 if flag else 0)
        if rc == -1107:
            raise AnswerTooLong(-1107, name, "more than %d words; raise capacity" % capacity)
        check(rc, name)
        return [ExtractedWord(e.word, e.count, e.first_offset, e.text_index, e.length)
                for e in entries[:max(0, min(count.value, capacity))]]

    # -- classification ------------------------------------------------------------
    def unlabelled_init(self, text=None):
        return self._call("ORQExt_ClassNoLabel_Init", self._t(text, "text", True))

    def unlabelled_free(self):
        return self._call("ORQExt_ClassNoLabel_Free")

    def unlabelled_class(self, text):
        """The class the text joins (engine 6): UnlabelledClass(number, label)."""
        h, data = self._h(), self._t(text, "text")
        answer = self._sized("ORQExt_ClassNoLabel_GetClass",
                             lambda b, n: raw.ORQExt_ClassNoLabel_GetClass(h, data, b, byref(n)))[1]
        number, sep, label = answer.partition(b" ")
        if sep and number.isdigit():
            return UnlabelledClass(int(number), label)
        return UnlabelledClass(None, answer)

    def classifier_set_path(self, path=None):
        return self._call("ORQExt_CLA_SetPath", self._t(path, "path", True))

    def classifier_free(self):
        return self._call("ORQExt_CLA_FreeDict")

    def classifier_classify(self, texts, *, mode=0, extra=0, capacity=4096):
        """Classifies up to seven texts together (engine 3): ClassifyResult."""
        fields = (c_char_p * 7)(*self._texts(texts, 7, "texts"))
        a, b = create_string_buffer(capacity), create_string_buffer(capacity)
        la, lb = c_int32(capacity), c_int32(capacity)
        vc, vb, va = c_int32(0), c_uint8(0), c_int32(0)
        self._call("ORQExt_CLA_GetClassifyResult", int(mode), fields, a, byref(la), b, byref(lb),
                   byref(vc), byref(vb), byref(va), int(extra))
        return ClassifyResult(a.raw[:la.value], _scores(b.raw[:lb.value], "classifier"),
                              va.value, vb.value, vc.value)

    def eztc_set_path(self):
        return self._call("ORQExt_EZTC_SetPath")

    def eztc_free(self):
        return self._call("ORQExt_EZTC_FreeDict")

    def eztc_classify(self, texts, *, value1=0, value2=0, value3=0, flag=0, capacity=4096):
        """The category of up to six texts together (engine 2), as bytes."""
        f = raw.EztcTextFields(*self._texts(texts, 6, "texts"))
        buf, n = create_string_buffer(capacity), c_int32(capacity)
        self._call("ORQExt_EZTC_GetTxtClassify", int(value1), int(value2), byref(f), int(value3),
                   buf, byref(n), int(flag))
        return buf.raw[:max(0, min(n.value, capacity))]

    def bsm_init(self):
        return self._call("ORQExt_BSM_Word_Init")

    def bsm_free(self):
        return self._call("ORQExt_BSM_FreeDict")

    def _two_sized(self, name, invoke, cap_a, cap_b):
        """The self-sizing rule for calls with two answers: -1107 retries once
        with each answer's reported length (where it is longer)."""
        for attempt in (1, 2):
            a, b = create_string_buffer(max(cap_a, 1)), create_string_buffer(max(cap_b, 1))
            la, lb = c_int32(cap_a), c_int32(cap_b)
            rc = invoke(a, la, b, lb)
            if rc != -1107:
                check(rc, name)
                return a.raw[:max(0, min(la.value, cap_a))], b.raw[:max(0, min(lb.value, cap_b))]
            need_a, need_b = max(cap_a, la.value), max(cap_b, lb.value)
            if attempt == 2 or (need_a, need_b) == (cap_a, cap_b):
                raise AnswerTooLong(-1107, name, "still too long after a retry"
                                    if attempt == 2 else None, length=max(la.value, lb.value))
            if max(need_a, need_b) > self.max_answer_size:
                raise AnswerTooLong(-1107, name, "above the maximum answer size",
                                    length=max(need_a, need_b))
            log.debug("%s: answers of %d and %d bytes, more than %d and %d: once more with "
                      "their lengths", name, la.value, lb.value, cap_a, cap_b)
            cap_a, cap_b = need_a, need_b
        raise AssertionError("unreachable")

    def bsm_classify(self, texts, *, value1=0, value2=0, capacity=4096):
        """Classifies up to eight texts together (engine 7): BsmResult."""
        h = self._h()
        f = raw.BsmTextFields(*self._texts(texts, 8, "texts"))
        flag = c_uint8(0)
        best, scores = self._two_sized(
            "ORQExt_BSM_GetClassifyResult",
            lambda a, la, b, lb: raw.ORQExt_BSM_GetClassifyResult(
                h, int(value1), int(value2), byref(f), a, byref(la), b, byref(lb), byref(flag)),
            capacity, capacity)
        return BsmResult(best, _scores(scores, "ORQExt_BSM_GetClassifyResult"), flag.value == 1)

    def stm_classifier_init(self, handle, value=0):
        return self._call("ORQExt_STM_TextClassifier_Init", int(handle), int(value))

    def stm_classifier_shutdown(self, handle):
        return self._call("ORQExt_STM_TextClassifier_ShutDown", int(handle))

    def classify(self, handle, documents, *, value1=0, value2=0, flag=0):
        """Classifies each document (STM text classifier ``handle``): a list of
        Classification, one per document."""
        h = self._h()
        arr, count, keep = self._documents(documents)
        opts = raw.StmClassifierOptions(int(value1), int(value2), int(flag))
        name = "ORQExt_STM_TextClassifier_Do"
        answer = self._sized(name, lambda b, n: raw.ORQExt_STM_TextClassifier_Do(
            h, int(handle), b, byref(n), arr, count, byref(opts)))[1]
        out = []
        for line in lines(answer):
            ident, category, score = _fields(line, 3, name)
            out.append(Classification(_int(ident, name), category, _int(score, name)))
        return out

    # -- similarity ----------------------------------------------------------------
    def similarity_init(self):
        return self._call("ORQExt_STM_Similarity_Initialize")

    def similarity_shutdown(self):
        return self._call("ORQExt_STM_Similarity_ShutDown")

    def similarity(self, text1, text2):
        """The module's similarity score of two texts."""
        return self._call("ORQExt_STM_Similarity_Analyst", self._t(text1, "text1"),
                          self._t(text2, "text2"))

    def vsm_init(self, handle):
        return self._call("ORQExt_STM_VSMGenerator_Init", int(handle))

    def vsm_shutdown(self, handle):
        return self._call("ORQExt_STM_VSMGenerator_ShutDown", int(handle))

    def vsm_build(self, handle, documents, *, flag=0, value1=0, value2=0):
        """Builds the model of the documents: its lines as TermCount records."""
        h = self._h()
        arr, count, keep = self._documents(documents)
        opts = raw.StmVsmOptions(int(flag), int(value1), int(value2))
        name = "ORQExt_STM_VSMGenerator_Do"
        return _term_counts(self._sized(name, lambda b, n: raw.ORQExt_STM_VSMGenerator_Do(
            h, int(handle), b, byref(n), arr, count, byref(opts)))[1], name)

    def vsm_similar(self, handle, text, *, flag=0, value1=0, value2=0):
        """How similar each document of the model is to the text: a list of
        Similarity, most similar first."""
        h, data = self._h(), self._t(text, "text")
        opts = raw.StmVsmOptions(int(flag), int(value1), int(value2))
        name = "ORQExt_STM_VSMGenerator_GetResult"
        answer = self._sized(name, lambda b, n: raw.ORQExt_STM_VSMGenerator_GetResult(
            h, int(handle), b, byref(n), data, byref(opts)))[1]
        out = []
        for line in lines(answer):
            ident, score = _fields(line, 2, name)
            out.append(Similarity(_int(ident, name), _int(score, name)))
        return out

    # -- association rules and keyword frequency ------------------------------------
    def association_begin(self, run):
        return self._call("ORQExt_ARA_Stat_AssociatedFreq_Begin", self._t(run, "run", True))

    def association_count(self, text_a, text_b, value=1, both_ways=False):
        return self._call("ORQExt_ARA_Stat_AssociatedFreq", self._t(text_a, "text_a", True),
                          self._t(text_b, "text_b", True), int(value), 1 if both_ways else 0)

    def association_end(self):
        return self._call("ORQExt_ARA_Stat_AssociatedFreq_End")

    def association_merge(self, run_a, run_b):
        return self._call("ORQExt_ARA_MulMergeFile", self._t(run_a, "run_a", True),
                          self._t(run_b, "run_b", True))

    def association_filter(self, run, term=None, minimum=0):
        return self._call("ORQExt_ARA_Filtrate", self._t(run, "run", True),
                          self._t(term, "term", True), int(minimum))

    def word_support(self, run, term):
        return self._call("ORQExt_ARA_GetWordSupportRec", self._t(run, "run", True),
                          self._t(term, "term", True))

    def _kwfs_items(self, items):
        items = [i if isinstance(i, KeywordItem) else KeywordItem(i) for i in items]
        arr = (raw.KwfsItem * max(len(items), 1))()
        for slot, item in zip(arr, items):
            slot.text1 = self._t(item.text, "text", True)
            slot.value = int(item.value)
            slot.text2 = self._t(item.text2, "text2", True)
        return arr, len(items)

    def keyword_frequency(self, items, *, minimum=0, exclude=None, number=0):
        arr, count = self._kwfs_items(items)
        opts = raw.KwfsOptions(int(minimum), self._t(exclude, "exclude", True))
        return self._call("ORQExt_KWFS_Frequency", arr, count, byref(opts), int(number))

    def keyword_associated(self, items, keyword, *, minimum=0):
        arr, count = self._kwfs_items(items)
        opts = raw.KwfsOptions(int(minimum), self._t(keyword, "keyword", True))
        return self._call("ORQExt_KWFS_Associated", arr, count, byref(opts))

    # -- association dictionaries (engine 1) -------------------------------------------
    def ar_initial(self):
        return self._call("ORQExt_AR_Initial")

    def ar_create(self, name, category=None, entries=None):
        return self._call("ORQExt_AR_Dict_Create", self._t(name, "name", True),
                          self._t(category, "category", True), self._t(entries, "entries", True))

    def ar_delete(self, name):
        return self._call("ORQExt_AR_Dict_Delete", self._t(name, "name", True))

    def ar_exists(self, name):
        return self._call("ORQExt_AR_IsDictExist", self._t(name, "name", True)) > 0

    def ar_load(self, name):
        return self._call("ORQExt_AR_Dict_Load", self._t(name, "name"))

    def ar_unload(self, name):
        return self._call("ORQExt_AR_Dict_Unload", self._t(name, "name"))

    def ar_import(self, text):
        return self._call("ORQExt_AR_Dict_Import", self._t(text, "text"))

    def ar_names(self, loaded=False):
        """The association dictionaries (only the loaded ones with
        ``loaded``): a list of bytes."""
        h = self._h()
        if loaded:
            return lines(self._sized("ORQExt_AR_GetAllDictNameLoaded",
                                     lambda b, n: raw.ORQExt_AR_GetAllDictNameLoaded(
                                         h, b, byref(n)))[1])
        cap = self.answer_size
        buf, n = create_string_buffer(cap), c_int32(cap)
        self._call("ORQExt_AR_GetAllDictName", buf, byref(n))
        return lines(buf.raw[:max(0, min(n.value, cap))])

    def ar_categories(self):
        h = self._h()
        return lines(self._sized("ORQExt_AR_GetCategoryName",
                                 lambda b, n: raw.ORQExt_AR_GetCategoryName(h, b, byref(n)))[1])

    def ar_search(self, text, *, categories=True):
        """Associations of the text's terms (``term=word,word`` lines) and,
        with ``categories``, the matching dictionaries' categories."""
        h, data = self._h(), self._t(text, "text")
        cap_b = self.answer_size if categories else 0
        part_a, part_b = self._two_sized(
            "ORQExt_AR_Search",
            lambda a, la, b, lb: raw.ORQExt_AR_Search(h, data, a, byref(la),
                                                      b if cap_b > 0 else None, byref(lb)),
            self.answer_size, cap_b)
        out = []
        for line in lines(part_a):
            term, sep, words = line.partition(b"=")
            if not sep:
                raise ReplyFormatError(-1107, "ORQExt_AR_Search", "expected term=words: %r" % line)
            out.append(Association(term, [w for w in words.split(b",") if w]))
        return AssociationResult(out, lines(part_b) if categories else [])

    # -- topics (engine 8) ---------------------------------------------------------------
    def topic_init(self, text=None):
        return self._call("ORQExt_TOP_Init", self._t(text, "text", True))

    def topic_uninit(self, text=None):
        return self._call("ORQExt_TOP_UnInit", self._t(text, "text", True))

    def make_topic(self, name, text):
        return self._call("ORQExt_MakeTopDict", self._t(name, "name"), self._t(text, "text"))

    def topics(self, limit=0):
        """The topics (``name TAB count`` lines) as Topic records. The library
        reports no length here: the list is read up to its NUL."""
        cap = self.answer_size
        buf = create_string_buffer(cap)
        self._call("ORQExt_TOP_List", buf, cap, int(limit))
        return [Topic(t.term, t.count) for t in _term_counts(buf.raw, "ORQExt_TOP_List")]

    def topic_items(self, topic, text):
        h, t1, t2 = self._h(), self._t(topic, "topic"), self._t(text, "text")
        return lines(self._sized("ORQExt_TOP_GetItem", lambda b, n: raw.ORQExt_TOP_GetItem(
            h, t1, t2, b, byref(n)))[1])

    def export_sql_to_file(self, statement, file, value, separator):
        return self._call("ORQExt_ExportSqlToFile", self._t(statement, "statement"),
                          self._t(file, "file"), int(value), self._t(separator, "separator"))

    # -- semantic text mining: engine and knowledge domains --------------------------------
    def stm_init(self):
        return self._call("ORQExt_STM_Initialize")

    def stm_shutdown(self):
        return self._call("ORQExt_STM_ShutDown")

    def stm_initialized(self):
        return self._call("ORQExt_STM_IsInitialized") > 0

    def create_domain(self, name, description=None, keywords=None, note=None, value=0):
        t = self._t
        return self._call("ORQExt_STM_CreateDomain", t(name, "name"),
                          t(description, "description", True), t(keywords, "keywords", True),
                          t(note, "note", True), int(value))

    def delete_domain(self, name):
        return self._call("ORQExt_STM_DeleteDomain", self._t(name, "name"))

    def domains(self, open_only=False):
        """The knowledge domains' names (only the open ones with open_only)."""
        h, mode = self._h(), 1 if open_only else 0
        return lines(self._sized("ORQExt_STM_GetDomainNameList",
                                 lambda b, n: raw.ORQExt_STM_GetDomainNameList(
                                     h, b, byref(n), mode))[1])

    def open_domain(self, name):
        """Opens a domain; returns its handle."""
        return self._call("ORQExt_STM_OpenDomain", self._t(name, "name"))

    def close_domain(self, name):
        return self._call("ORQExt_STM_CloseDomain", self._t(name, "name"))

    def domain_name(self, handle):
        h = self._h()
        return self._sized("ORQExt_STM_GetDomainName", lambda b, n: raw.ORQExt_STM_GetDomainName(
            h, int(handle), b, byref(n)))[1].split(b"\0", 1)[0]

    def domain_handle(self, name):
        return self._call("ORQExt_STM_GetDomainHandle", self._t(name, "name"))

    # -- semantic text mining: analysers --------------------------------------------------
    def filter_init(self, handle, words):
        return self._call("ORQExt_STM_InfoFilter_Init", int(handle), self._t(words, "words"))

    def filter_shutdown(self, handle):
        return self._call("ORQExt_STM_InfoFilter_ShutDown", int(handle))

    def filter_count(self, handle, documents):
        """The number the information filter answers for the documents."""
        arr, count, keep = self._documents(documents)
        return self._call("ORQExt_STM_InfoFilter_Do", int(handle), arr, count)

    def text_cluster_init(self, handle):
        return self._call("ORQExt_STM_TextCluster_Init", int(handle))

    def text_cluster_shutdown(self, handle, name, values=(0, 0, 0, 0)):
        args = raw.StmClusterShutdownArgs(*[int(v) for v in values])
        data = self._t(name, "name")
        if len(data) >= raw.ORQEXT_STM_CLUSTER_NAME_SIZE:
            raise BadArgument(-1100, "text_cluster_shutdown", "longer than %d bytes"
                              % (raw.ORQEXT_STM_CLUSTER_NAME_SIZE - 1), argument="name")
        args.name = data
        return self._call("ORQExt_STM_TextCluster_ShutDown", int(handle), byref(args))

    def text_cluster(self, handle, documents, exclude=b""):
        """Adds the documents to the clusterer; the module's status."""
        arr, count, keep = self._documents(documents)
        return self._call("ORQExt_STM_TextCluster_Do", int(handle), arr, count,
                          self._t(exclude, "exclude"))

    def keywords_init(self, handle, value=0):
        return self._call("ORQExt_STM_KeyWordExtractor_Init", int(handle), int(value))

    def keywords_shutdown(self, handle):
        return self._call("ORQExt_STM_KeyWordExtractor_ShutDown", int(handle))

    def keywords(self, handle, documents, *, number=0, flag=0):
        """The keywords of the documents: a list of TermCount."""
        h = self._h()
        arr, count, keep = self._documents(documents)
        opts = raw.StmOptionPair(int(number), int(flag))
        name = "ORQExt_STM_KeyWordExtractor_Do"
        return _term_counts(self._sized(name, lambda b, n: raw.ORQExt_STM_KeyWordExtractor_Do(
            h, int(handle), b, byref(n), arr, count, byref(opts)))[1], name)

    # -- semantic text mining: extractors ----------------------------------------------------
    def abstract_init(self, handle):
        return self._call("ORQExt_STM_AbstractExtractor_Initialize", int(handle))

    def abstract_shutdown(self, handle):
        return self._call("ORQExt_STM_AbstractExtractor_ShutDown", int(handle))

    def abstract(self, handle, text, *, sentences=1, flag=0, context=()):
        """An abstract of the text (the module's bytes)."""
        h, data = self._h(), self._t(text, "text")
        arr, count, keep = self._documents(context, "context")
        opts = raw.StmOptionPair(int(sentences), int(flag))
        return self._sized("ORQExt_STM_AbstractExtractor_Do",
                           lambda b, n: raw.ORQExt_STM_AbstractExtractor_Do(
                               h, int(handle), data, b, byref(n), byref(opts), arr, count))[1]

    def abstractor_init(self):
        return self._call("ORQExt_STM_Abstractor_Init")

    def abstractor_shutdown(self):
        return self._call("ORQExt_STM_Abstractor_ShutDown")

    def abstractor(self, text, *, sentences=1, flag=0, context=()):
        h, data = self._h(), self._t(text, "text")
        arr, count, keep = self._documents(context, "context")
        opts = raw.StmOptionPair(int(sentences), int(flag))
        return self._sized("ORQExt_STM_Abstractor_Do", lambda b, n: raw.ORQExt_STM_Abstractor_Do(
            h, data, b, byref(n), byref(opts), arr, count))[1]
