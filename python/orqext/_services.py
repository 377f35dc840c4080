"""The typed service calls of the text analysis modules ("KExt_NLPE",
"KExt_ARA", "KExt_KWFS") and of the semantic text mining module ("KExt_STM"),
as methods of Connection.

Only what the library itself lays out becomes a record: segmentation
entries (Token), extraction entries (ExtractedWord) and the classifiers'
records (ClassifyResult, BsmResult, the values the calls hand back beside the
module's texts). Everything whose inner layout is the server module's (the
keyword, classifier, model and similarity answers, name lists, the domain
list, topics, association lists) is handed back as the bytes the server sent;
``Connection.decode`` gives the connection's text of them.
"""

from __future__ import annotations

import logging
from ctypes import byref, c_char_p, c_int16, c_int32, c_uint8, create_string_buffer
from typing import (TYPE_CHECKING, Any, Callable, Iterable, List, Literal, Optional, Sequence,
                    Tuple, Union, overload)

from . import raw
from ._codec import Codec
from .errors import AnswerTooLong, BadArgument, check, int32
from .records import (AssociationResult, BsmResult, ClassifyResult, Document, DocumentLike,
                      ExtractedWord, KeywordItem, Text, Token)

log = logging.getLogger("orqext")


class ServiceCalls:
    """Mixed into Connection: needs _h(), _t(), _call(), _sized(), codec,
    answer_size."""

    if TYPE_CHECKING:
        codec: Codec
        answer_size: int
        max_answer_size: int

        def _h(self) -> int: ...

        @overload
        def _t(self, value: Text, what: str, allow_none: Literal[False] = False) -> bytes: ...

        @overload
        def _t(self, value: Optional[Text], what: str, allow_none: bool) -> Optional[bytes]: ...

        def _t(self, value: Optional[Text], what: str,
               allow_none: bool = False) -> Optional[bytes]: ...

        def _call(self, name: str, *args: Any) -> int: ...

        def _where(self, detail: Optional[str] = None) -> str: ...

        def _sized(self, name: str, invoke: Callable[[Any, c_int32], Any],
                   capacity: Optional[int] = None) -> Tuple[int, bytes]: ...

    # -- helpers ------------------------------------------------------------
    def _texts(self, texts: Sequence[Text], most: int, what: str) -> List[Optional[bytes]]:
        fields: List[Optional[bytes]] = [self._t(t, what) for t in texts]
        if len(fields) > most:
            raise BadArgument(-1100, None, "at most %d texts" % most, argument=what)
        return fields + [None] * (most - len(fields))

    def _documents(self, documents: Iterable[DocumentLike],
                   what: str = 'documents') -> Tuple[Any, int, List[bytes]]:
        """An StmTextItem array from str/bytes (id = position), (id, text)
        pairs or Document records; texts are sent with their length, so they
        may hold NUL bytes."""
        docs = []
        for i, d in enumerate(documents):
            if isinstance(d, Document):
                docs.append((int32(d.id, "document id"), d.text))
            elif isinstance(d, tuple):
                docs.append((int32(d[0], "document id"), d[1]))
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
    def dict_import(self, text: Text) -> int:
        """Adds words to a dictionary ("name: word, word"); the module's count."""
        return self._call("ORQExt_NLPE_DictImport", self._t(text, "text"))

    def dict_load(self, name: Text) -> int:
        """Loads a dictionary for segmentation; the module's handle or status
        (ORQExt_NLPE_DictLoad). Returns the server's status (not negative); a failure raises
        OrqExtError."""
        return self._call("ORQExt_NLPE_DictLoad", self._t(name, "name"))

    def dict_unload(self, handle: int) -> int:
        """Unloads the dictionary with the handle (ORQExt_NLPE_DictUnload). Returns the
        module's status (not negative); a failure raises OrqExtError."""
        return self._call("ORQExt_NLPE_DictUnload", int32(handle, "handle"))

    def dict_search(self, word: Text) -> int:
        """Looks a word up in the loaded dictionaries; the module's count
        (ORQExt_NLPE_DictSearch)."""
        return self._call("ORQExt_NLPE_DictSearch", self._t(word, "word"))

    def dict_handle(self, name: Text) -> int:
        """The handle of a loaded dictionary (ORQExt_NLPE_GetHandle)."""
        return self._call("ORQExt_NLPE_GetHandle", self._t(name, "name"))

    def delete_dict_handle(self, handle: int) -> int:
        """Releases a dictionary handle (ORQExt_NLPE_DeleteHandle)."""
        return self._call("ORQExt_NLPE_DeleteHandle", int32(handle, "handle"))

    def _segment(self, name: str, text: Text,
                 tail: Callable[[Any], Tuple[Any, ...]]) -> List[Token]:
        data = self._t(text, "text")
        if not data:
            return []
        # Every word is at least one byte, so len + 2 entries never cut the list.
        cap = len(data) + 2
        items = (c_int32 * cap)()
        marks = (c_int16 * cap)()
        count = check(getattr(raw.library(), name)(self._h(), data, items, cap, *tail(marks)), name, self._where())
        out = []
        for i in range(min(count, cap)):
            off, length = items[i], marks[i] & 0xFFFF
            # The module's offsets are passed on as given; the word is the part
            # of the text they cover (empty for an offset outside it).
            out.append(Token(off, length, data[off:off + length] if off >= 0 else b""))
        return out

    def segment(self, text: Text, *, opt_a: int = 0, opt_b: int = 0, opt_c: int = 0,
                flag_a: int = 0, flag_b: int = 0) -> List[Token]:
        """Splits a text into words (ORQExt_NLPE_WordSect): a list of Token."""
        return self._segment("ORQExt_NLPE_WordSect", text,
                             lambda marks: (opt_a, opt_b, marks, opt_c, flag_a, flag_b))

    # -- aptitude search (engine 5) ------------------------------------------------
    def aptitude_init(self) -> int:
        """Starts the aptitude search engine (engine 5) (ORQExt_Aptitude_Init). Returns the
        module's status (not negative); a failure raises OrqExtError."""
        return self._call("ORQExt_Aptitude_Init")

    def aptitude_uninit(self) -> int:
        """Stops the aptitude search engine (ORQExt_Aptitude_UnInit). Returns the module's
        status (not negative); a failure raises OrqExtError."""
        return self._call("ORQExt_Aptitude_UnInit")

    def aptitude_search(self, text: Text) -> bytes:
        """Words that begin with the text: the module's answer as sent
        (ORQExt_Aptitude_Search)."""
        h, data = self._h(), self._t(text, "text")
        return self._sized("ORQExt_Aptitude_Search", lambda b, n: raw.ORQExt_Aptitude_Search(
            h, data, b, byref(n)))[1]

    def aptitude_segment(self, text: Text, *, opt_a: int = 0, opt_b: int = 0, opt_c: int = 0,
                         flag_a: int = 0) -> List[Token]:
        """Splits a text into words with the aptitude engine: a list of Token
        (ORQExt_Aptitude_WordSect)."""
        return self._segment("ORQExt_Aptitude_WordSect", text,
                             lambda marks: (opt_a, opt_b, marks, opt_c, flag_a))

    # -- word extraction (engine 4) --------------------------------------------------
    def extract_init(self, mode: int = 1) -> int:
        """Starts the word extraction engine (engine 4) in ``mode``
        (ORQExt_ExtractWord_Initial). Returns the server's status (not negative); a failure
        raises OrqExtError."""
        return self._call("ORQExt_ExtractWord_Initial", int32(mode, "mode"))

    def extract_free(self) -> int:
        """Releases the word extraction engine's dictionary (ORQExt_ExtractWord_FreeDict).
        Returns the server's status (not negative); a failure raises OrqExtError."""
        return self._call("ORQExt_ExtractWord_FreeDict")

    def extract_words(self, texts: Sequence[Text], *, mode: int = 1, flag: bool = False,
                      normal: bool = False, capacity: int = 1024) -> List[ExtractedWord]:
        """The distinct words of up to six texts: a list of ExtractedWord. More
        words than ``capacity`` raise AnswerTooLong."""
        name = "ORQExt_ExtractWord_DirectNormal" if normal else "ORQExt_ExtractWord_Direct"
        fields = (c_char_p * 6)(*self._texts(texts, 6, "texts"))
        entries = (raw.ExtractEntry * capacity)()
        count = c_int32(capacity)
        rc = getattr(raw.library(), name)(self._h(), fields, entries, byref(count), int32(mode, "mode"),
                                          1 if flag else 0)
        if rc == -1107:
            raise AnswerTooLong(-1107, name, self._where("more than %d words; raise capacity" % capacity))
        check(rc, name, self._where())
        return [ExtractedWord(e.word, e.count, e.first_offset, e.text_index, e.length)
                for e in entries[:max(0, min(count.value, capacity))]]

    # -- classification ------------------------------------------------------------
    def unlabelled_init(self, text: Optional[Text] = None) -> int:
        """Starts the unlabelled classifier (engine 6) (ORQExt_ClassNoLabel_Init). Returns the
        module's status (not negative); a failure raises OrqExtError."""
        return self._call("ORQExt_ClassNoLabel_Init", self._t(text, "text", True))

    def unlabelled_free(self) -> int:
        """Releases the unlabelled classifier (ORQExt_ClassNoLabel_Free). Returns the module's
        status (not negative); a failure raises OrqExtError."""
        return self._call("ORQExt_ClassNoLabel_Free")

    def unlabelled_class(self, text: Text) -> bytes:
        """The class the text joins (engine 6): the module's answer as sent
        (ORQExt_ClassNoLabel_GetClass)."""
        h, data = self._h(), self._t(text, "text")
        return self._sized("ORQExt_ClassNoLabel_GetClass",
                           lambda b, n: raw.ORQExt_ClassNoLabel_GetClass(h, data, b, byref(n)))[1]

    def classifier_set_path(self, path: Optional[Text] = None) -> int:
        """Sets the dictionary classifier's path (engine 3) (ORQExt_CLA_SetPath). Returns the
        module's status (not negative); a failure raises OrqExtError."""
        return self._call("ORQExt_CLA_SetPath", self._t(path, "path", True))

    def classifier_free(self) -> int:
        """Releases the dictionary classifier's dictionary (ORQExt_CLA_FreeDict). Returns the
        module's status (not negative); a failure raises OrqExtError."""
        return self._call("ORQExt_CLA_FreeDict")

    def classifier_classify(self, texts: Sequence[Text], *, mode: int = 0,
                            extra: int = 0, capacity: int = 4096) -> ClassifyResult:
        """Classifies up to seven texts together (engine 3): ClassifyResult."""
        fields = (c_char_p * 7)(*self._texts(texts, 7, "texts"))
        a, b = create_string_buffer(capacity), create_string_buffer(capacity)
        la, lb = c_int32(capacity), c_int32(capacity)
        vc, vb, va = c_int32(0), c_uint8(0), c_int32(0)
        self._call("ORQExt_CLA_GetClassifyResult", int32(mode, "mode"), fields, a, byref(la), b, byref(lb),
                   byref(vc), byref(vb), byref(va), int32(extra, "extra"))
        # The library cuts each text to capacity - 1 bytes (the last is its NUL).
        return ClassifyResult(a.raw[:max(0, min(la.value, capacity - 1))],
                              b.raw[:max(0, min(lb.value, capacity - 1))], va.value, vb.value,
                              vc.value)

    def eztc_set_path(self) -> int:
        """Loads the EZTC classifier's dictionary (engine 2) (ORQExt_EZTC_SetPath). Returns
        the module's status (not negative); a failure raises OrqExtError."""
        return self._call("ORQExt_EZTC_SetPath")

    def eztc_free(self) -> int:
        """Releases the EZTC classifier's dictionary (ORQExt_EZTC_FreeDict). Returns the
        module's status (not negative); a failure raises OrqExtError."""
        return self._call("ORQExt_EZTC_FreeDict")

    def eztc_classify(self, texts: Sequence[Text], *, value1: int = 0, value2: int = 0,
                      value3: int = 0, flag: int = 0, capacity: int = 4096) -> bytes:
        """The category of up to six texts together (engine 2), as bytes."""
        f = raw.EztcTextFields(*self._texts(texts, 6, "texts"))
        buf, n = create_string_buffer(capacity), c_int32(capacity)
        self._call("ORQExt_EZTC_GetTxtClassify", int32(value1, "value1"), int32(value2, "value2"), byref(f), int32(value3, "value3"),
                   buf, byref(n), int32(flag, "flag"))
        return buf.raw[:max(0, min(n.value, capacity))]

    def bsm_init(self) -> int:
        """Loads the BSM classifier's dictionary (engine 7) (ORQExt_BSM_Word_Init). Returns
        the module's status (not negative); a failure raises OrqExtError."""
        return self._call("ORQExt_BSM_Word_Init")

    def bsm_free(self) -> int:
        """Releases the BSM classifier's dictionary (ORQExt_BSM_FreeDict). Returns the
        module's status (not negative); a failure raises OrqExtError."""
        return self._call("ORQExt_BSM_FreeDict")

    def _two_sized(self, name: str, invoke: Callable[[Any, c_int32, Any, c_int32], Any],
                   cap_a: int, cap_b: int) -> Tuple[bytes, bytes]:
        """The self-sizing rule for calls with two answers: -1107 retries once
        with each answer's reported length (where it is longer)."""
        for attempt in (1, 2):
            a, b = create_string_buffer(max(cap_a, 1)), create_string_buffer(max(cap_b, 1))
            la, lb = c_int32(cap_a), c_int32(cap_b)
            rc: int = invoke(a, la, b, lb)
            if rc != -1107:
                check(rc, name, self._where())
                return a.raw[:max(0, min(la.value, cap_a))], b.raw[:max(0, min(lb.value, cap_b))]
            need_a, need_b = max(cap_a, la.value), max(cap_b, lb.value)
            if attempt == 2 or (need_a, need_b) == (cap_a, cap_b):
                raise AnswerTooLong(-1107, name, self._where("still too long after a retry"
                                                             if attempt == 2 else None),
                                    length=max(la.value, lb.value))
            if max(need_a, need_b) > self.max_answer_size:
                raise AnswerTooLong(-1107, name, self._where("above the maximum answer size"),
                                    length=max(need_a, need_b))
            log.debug("%s: answers of %d and %d bytes, more than %d and %d: once more with "
                      "their lengths", name, la.value, lb.value, cap_a, cap_b)
            cap_a, cap_b = need_a, need_b
        raise AssertionError("unreachable")

    def bsm_classify(self, texts: Sequence[Text], *, value1: int = 0, value2: int = 0,
                     capacity: int = 4096) -> BsmResult:
        """Classifies up to eight texts together (engine 7): BsmResult."""
        h = self._h()
        f = raw.BsmTextFields(*self._texts(texts, 8, "texts"))
        flag = c_uint8(0)
        best, scores = self._two_sized(
            "ORQExt_BSM_GetClassifyResult",
            lambda a, la, b, lb: raw.ORQExt_BSM_GetClassifyResult(
                h, int32(value1, "value1"), int32(value2, "value2"), byref(f), a, byref(la), b, byref(lb), byref(flag)),
            capacity, capacity)
        return BsmResult(best, scores, flag.value == 1)

    def stm_classifier_init(self, handle: int, value: int = 0) -> int:
        """Starts the text classifier of the domain ``handle``
        (ORQExt_STM_TextClassifier_Init). Returns the server's status (not negative); a
        failure raises OrqExtError."""
        return self._call("ORQExt_STM_TextClassifier_Init", int32(handle, "handle"), int32(value, "value"))

    def stm_classifier_shutdown(self, handle: int) -> int:
        """Stops the text classifier of the domain ``handle``
        (ORQExt_STM_TextClassifier_ShutDown). Returns the server's status (not negative); a
        failure raises OrqExtError."""
        return self._call("ORQExt_STM_TextClassifier_ShutDown", int32(handle, "handle"))

    def classify(self, handle: int, documents: Iterable[DocumentLike], *, value1: int = 0,
                 value2: int = 0, flag: int = 0) -> bytes:
        """Classifies the documents (STM text classifier ``handle``): the
        module's answer as sent (ORQExt_STM_TextClassifier_Do)."""
        h = self._h()
        arr, count, keep = self._documents(documents)
        opts = raw.StmClassifierOptions(int32(value1, "value1"), int32(value2, "value2"), int32(flag, "flag"))
        name = "ORQExt_STM_TextClassifier_Do"
        return self._sized(name, lambda b, n: raw.ORQExt_STM_TextClassifier_Do(
            h, int32(handle, "handle"), b, byref(n), arr, count, byref(opts)))[1]

    # -- similarity ----------------------------------------------------------------
    def similarity_init(self) -> int:
        """Starts the similarity analyst (ORQExt_STM_Similarity_Initialize). Returns the
        module's status (not negative); a failure raises OrqExtError."""
        return self._call("ORQExt_STM_Similarity_Initialize")

    def similarity_shutdown(self) -> int:
        """Stops the similarity analyst (ORQExt_STM_Similarity_ShutDown). Returns the module's
        status (not negative); a failure raises OrqExtError."""
        return self._call("ORQExt_STM_Similarity_ShutDown")

    def similarity(self, text1: Text, text2: Text) -> int:
        """The module's similarity score of two texts."""
        return self._call("ORQExt_STM_Similarity_Analyst", self._t(text1, "text1"),
                          self._t(text2, "text2"))

    def vsm_init(self, handle: int) -> int:
        """Starts the vector space model generator of the domain ``handle``
        (ORQExt_STM_VSMGenerator_Init). Returns the server's status (not negative); a failure
        raises OrqExtError."""
        return self._call("ORQExt_STM_VSMGenerator_Init", int32(handle, "handle"))

    def vsm_shutdown(self, handle: int) -> int:
        """Stops the vector space model generator of the domain ``handle``
        (ORQExt_STM_VSMGenerator_ShutDown). Returns the server's status (not negative); a
        failure raises OrqExtError."""
        return self._call("ORQExt_STM_VSMGenerator_ShutDown", int32(handle, "handle"))

    def vsm_build(self, handle: int, documents: Iterable[DocumentLike], *, flag: int = 0,
                  value1: int = 0, value2: int = 0) -> bytes:
        """Builds the model of the documents: the module's answer as sent
        (ORQExt_STM_VSMGenerator_Do)."""
        h = self._h()
        arr, count, keep = self._documents(documents)
        opts = raw.StmVsmOptions(int32(flag, "flag"), int32(value1, "value1"), int32(value2, "value2"))
        name = "ORQExt_STM_VSMGenerator_Do"
        return self._sized(name, lambda b, n: raw.ORQExt_STM_VSMGenerator_Do(
            h, int32(handle, "handle"), b, byref(n), arr, count, byref(opts)))[1]

    def vsm_similar(self, handle: int, text: Text, *, flag: int = 0, value1: int = 0,
                    value2: int = 0) -> bytes:
        """How similar the documents of the model are to the text: the
        module's answer as sent (ORQExt_STM_VSMGenerator_GetResult)."""
        h, data = self._h(), self._t(text, "text")
        opts = raw.StmVsmOptions(int32(flag, "flag"), int32(value1, "value1"), int32(value2, "value2"))
        name = "ORQExt_STM_VSMGenerator_GetResult"
        return self._sized(name, lambda b, n: raw.ORQExt_STM_VSMGenerator_GetResult(
            h, int32(handle, "handle"), b, byref(n), data, byref(opts)))[1]

    # -- association rules and keyword frequency ------------------------------------
    def association_begin(self, run: Text) -> int:
        """Starts counting word associations for the run
        (ORQExt_ARA_Stat_AssociatedFreq_Begin)."""
        return self._call("ORQExt_ARA_Stat_AssociatedFreq_Begin", self._t(run, "run", True))

    def association_count(self, text_a: Text, text_b: Text, value: int = 1,
                          both_ways: bool = False) -> int:
        """Counts an association of two texts (``both_ways``: in both directions)
        (ORQExt_ARA_Stat_AssociatedFreq)."""
        return self._call("ORQExt_ARA_Stat_AssociatedFreq", self._t(text_a, "text_a", True),
                          self._t(text_b, "text_b", True), int32(value, "value"), 1 if both_ways else 0)

    def association_end(self) -> int:
        """Ends the counting started with association_begin
        (ORQExt_ARA_Stat_AssociatedFreq_End)."""
        return self._call("ORQExt_ARA_Stat_AssociatedFreq_End")

    def association_merge(self, run_a: Text, run_b: Text) -> int:
        """Merges the counts of two runs (ORQExt_ARA_MulMergeFile)."""
        return self._call("ORQExt_ARA_MulMergeFile", self._t(run_a, "run_a", True),
                          self._t(run_b, "run_b", True))

    def association_filter(self, run: Text, term: Optional[Text] = None, minimum: int = 0) -> int:
        """Filters a run's associations by term and minimum count (ORQExt_ARA_Filtrate)."""
        return self._call("ORQExt_ARA_Filtrate", self._t(run, "run", True),
                          self._t(term, "term", True), int32(minimum, "minimum"))

    def word_support(self, run: Text, term: Text) -> int:
        """The support count of a term in the run (ORQExt_ARA_GetWordSupportRec)."""
        return self._call("ORQExt_ARA_GetWordSupportRec", self._t(run, "run", True),
                          self._t(term, "term", True))

    def _kwfs_items(self, items: Iterable[Union[KeywordItem, Text]]) -> Tuple[Any, int]:
        records = [i if isinstance(i, KeywordItem) else KeywordItem(i) for i in items]
        arr = (raw.KwfsItem * max(len(records), 1))()
        for slot, item in zip(arr, records):
            slot.text1 = self._t(item.text, "text", True)
            slot.value = int32(item.value, "value")
            slot.text2 = self._t(item.text2, "text2", True)
        return arr, len(records)

    def keyword_frequency(self, items: Iterable[Union[KeywordItem, Text]], *, minimum: int = 0,
                          exclude: Optional[Text] = None, number: int = 0) -> int:
        """Counts the frequency of the items' keywords; the module's status
        (ORQExt_KWFS_Frequency)."""
        arr, count = self._kwfs_items(items)
        opts = raw.KwfsOptions(int32(minimum, "minimum"), self._t(exclude, "exclude", True))
        return self._call("ORQExt_KWFS_Frequency", arr, count, byref(opts), int32(number, "number"))

    def keyword_associated(self, items: Iterable[Union[KeywordItem, Text]], keyword: Text, *,
                           minimum: int = 0) -> int:
        """Counts the items associated with the keyword; the module's status
        (ORQExt_KWFS_Associated)."""
        arr, count = self._kwfs_items(items)
        opts = raw.KwfsOptions(int32(minimum, "minimum"), self._t(keyword, "keyword", True))
        return self._call("ORQExt_KWFS_Associated", arr, count, byref(opts))

    # -- association dictionaries (engine 1) -------------------------------------------
    def ar_initial(self) -> int:
        """Starts the association dictionary engine (engine 1) (ORQExt_AR_Initial). Returns
        the module's status (not negative); a failure raises OrqExtError."""
        return self._call("ORQExt_AR_Initial")

    def ar_create(self, name: Text, category: Optional[Text] = None,
                  entries: Optional[Text] = None) -> int:
        """Creates an association dictionary with its category and entries
        (ORQExt_AR_Dict_Create). Returns the server's status (not negative); a failure raises
        OrqExtError."""
        return self._call("ORQExt_AR_Dict_Create", self._t(name, "name", True),
                          self._t(category, "category", True), self._t(entries, "entries", True))

    def ar_delete(self, name: Text) -> int:
        """Deletes an association dictionary (ORQExt_AR_Dict_Delete). Returns the module's
        status (not negative); a failure raises OrqExtError."""
        return self._call("ORQExt_AR_Dict_Delete", self._t(name, "name", True))

    def ar_exists(self, name: Text) -> bool:
        """True when the association dictionary exists (ORQExt_AR_IsDictExist)."""
        return self._call("ORQExt_AR_IsDictExist", self._t(name, "name", True)) > 0

    def ar_load(self, name: Text) -> int:
        """Loads an association dictionary (ORQExt_AR_Dict_Load). Returns the server's status
        (not negative); a failure raises OrqExtError."""
        return self._call("ORQExt_AR_Dict_Load", self._t(name, "name"))

    def ar_unload(self, name: Text) -> int:
        """Unloads an association dictionary (ORQExt_AR_Dict_Unload). Returns the module's
        status (not negative); a failure raises OrqExtError."""
        return self._call("ORQExt_AR_Dict_Unload", self._t(name, "name"))

    def ar_import(self, text: Text) -> int:
        """Adds entries to an association dictionary (the module's text format)
        (ORQExt_AR_Dict_Import). Returns the server's status (not negative); a failure raises
        OrqExtError."""
        return self._call("ORQExt_AR_Dict_Import", self._t(text, "text"))

    def ar_names(self, loaded: bool = False) -> bytes:
        """The association dictionaries' names (only the loaded ones with
        ``loaded``): the module's list as sent (ORQExt_AR_GetAllDictName,
        ORQExt_AR_GetAllDictNameLoaded)."""
        h = self._h()
        if loaded:
            return self._sized("ORQExt_AR_GetAllDictNameLoaded",
                               lambda b, n: raw.ORQExt_AR_GetAllDictNameLoaded(h, b, byref(n)))[1]
        cap = self.answer_size
        buf, n = create_string_buffer(cap), c_int32(cap)
        self._call("ORQExt_AR_GetAllDictName", buf, byref(n))
        return buf.raw[:max(0, min(n.value, cap))]

    def ar_categories(self) -> bytes:
        """The categories of the association dictionaries: the module's list
        as sent (ORQExt_AR_GetCategoryName)."""
        h = self._h()
        return self._sized("ORQExt_AR_GetCategoryName",
                           lambda b, n: raw.ORQExt_AR_GetCategoryName(h, b, byref(n)))[1]

    def ar_search(self, text: Text, *, categories: bool = True) -> AssociationResult:
        """Associations of the text's terms and, with ``categories``, the
        matching dictionaries' categories: the module's two answers as sent
        (ORQExt_AR_Search)."""
        h, data = self._h(), self._t(text, "text")
        cap_b = self.answer_size if categories else 0
        part_a, part_b = self._two_sized(
            "ORQExt_AR_Search",
            lambda a, la, b, lb: raw.ORQExt_AR_Search(h, data, a, byref(la),
                                                      b if cap_b > 0 else None, byref(lb)),
            self.answer_size, cap_b)
        return AssociationResult(part_a, part_b if categories else b"")

    # -- topics (engine 8) ---------------------------------------------------------------
    def topic_init(self, text: Optional[Text] = None) -> int:
        """Starts the topic engine (engine 8) (ORQExt_TOP_Init). Returns the server's status
        (not negative); a failure raises OrqExtError."""
        return self._call("ORQExt_TOP_Init", self._t(text, "text", True))

    def topic_uninit(self, text: Optional[Text] = None) -> int:
        """Stops the topic engine (ORQExt_TOP_UnInit). Returns the server's status (not
        negative); a failure raises OrqExtError."""
        return self._call("ORQExt_TOP_UnInit", self._t(text, "text", True))

    def make_topic(self, name: Text, text: Text) -> int:
        """Makes a topic dictionary from the text (ORQExt_MakeTopDict). Returns the module's
        status (not negative); a failure raises OrqExtError."""
        return self._call("ORQExt_MakeTopDict", self._t(name, "name"), self._t(text, "text"))

    def topics(self, limit: int = 0) -> bytes:
        """The topic list as the module sent it (ORQExt_TOP_List). The library
        reports no length here: the list is read up to its NUL."""
        cap = self.answer_size
        buf = create_string_buffer(cap)
        self._call("ORQExt_TOP_List", buf, cap, int32(limit, "limit"))
        return buf.raw.split(b"\0", 1)[0]

    def topic_items(self, topic: Text, text: Text) -> bytes:
        """The items of a topic that match the text: the module's answer as
        sent (ORQExt_TOP_GetItem)."""
        h, t1, t2 = self._h(), self._t(topic, "topic"), self._t(text, "text")
        return self._sized("ORQExt_TOP_GetItem", lambda b, n: raw.ORQExt_TOP_GetItem(
            h, t1, t2, b, byref(n)))[1]

    def export_sql_to_file(self, statement: Text, file: Text, value: int, separator: Text) -> int:
        """Has the module write a statement's rows to a file on the server, fields separated
        by ``separator`` (ORQExt_ExportSqlToFile). Returns the server's status (not negative);
        a failure raises OrqExtError."""
        return self._call("ORQExt_ExportSqlToFile", self._t(statement, "statement"),
                          self._t(file, "file"), int32(value, "value"), self._t(separator, "separator"))

    # -- semantic text mining: engine and knowledge domains --------------------------------
    def stm_init(self) -> int:
        """Starts the text mining engine (ORQExt_STM_Initialize). Returns the server's status
        (not negative); a failure raises OrqExtError."""
        return self._call("ORQExt_STM_Initialize")

    def stm_shutdown(self) -> int:
        """Stops the text mining engine (ORQExt_STM_ShutDown). Returns the server's status
        (not negative); a failure raises OrqExtError."""
        return self._call("ORQExt_STM_ShutDown")

    def stm_initialized(self) -> bool:
        """True when the text mining engine runs (ORQExt_STM_IsInitialized)."""
        return self._call("ORQExt_STM_IsInitialized") > 0

    def create_domain(self, name: Text, description: Optional[Text] = None,
                      keywords: Optional[Text] = None, note: Optional[Text] = None,
                      value: int = 0) -> int:
        """Creates a knowledge domain (ORQExt_STM_CreateDomain). Returns the server's status
        (not negative); a failure raises OrqExtError."""
        t = self._t
        return self._call("ORQExt_STM_CreateDomain", t(name, "name"),
                          t(description, "description", True), t(keywords, "keywords", True),
                          t(note, "note", True), int32(value, "value"))

    def delete_domain(self, name: Text) -> int:
        """Deletes a knowledge domain (ORQExt_STM_DeleteDomain). Returns the server's status
        (not negative); a failure raises OrqExtError."""
        return self._call("ORQExt_STM_DeleteDomain", self._t(name, "name"))

    def domains(self, open_only: bool = False) -> bytes:
        """The knowledge domains' names (only the open ones with open_only):
        the server's list as sent (ORQExt_STM_GetDomainNameList)."""
        h, mode = self._h(), 1 if open_only else 0
        return self._sized("ORQExt_STM_GetDomainNameList",
                           lambda b, n: raw.ORQExt_STM_GetDomainNameList(h, b, byref(n), mode))[1]

    def open_domain(self, name: Text) -> int:
        """Opens a domain; returns its handle."""
        return self._call("ORQExt_STM_OpenDomain", self._t(name, "name"))

    def close_domain(self, name: Text) -> int:
        """Closes a knowledge domain (ORQExt_STM_CloseDomain). Returns the server's status
        (not negative); a failure raises OrqExtError."""
        return self._call("ORQExt_STM_CloseDomain", self._t(name, "name"))

    def domain_name(self, handle: int) -> bytes:
        """The name of the domain with the handle, as bytes (ORQExt_STM_GetDomainName)."""
        h = self._h()
        return self._sized("ORQExt_STM_GetDomainName", lambda b, n: raw.ORQExt_STM_GetDomainName(
            h, int32(handle, "handle"), b, byref(n)))[1].split(b"\0", 1)[0]

    def domain_handle(self, name: Text) -> int:
        """The handle of an open knowledge domain (ORQExt_STM_GetDomainHandle)."""
        return self._call("ORQExt_STM_GetDomainHandle", self._t(name, "name"))

    # -- semantic text mining: analysers --------------------------------------------------
    def filter_init(self, handle: int, words: Text) -> int:
        """Starts the information filter of the domain ``handle`` with its words
        (ORQExt_STM_InfoFilter_Init). Returns the server's status (not negative); a failure
        raises OrqExtError."""
        return self._call("ORQExt_STM_InfoFilter_Init", int32(handle, "handle"), self._t(words, "words"))

    def filter_shutdown(self, handle: int) -> int:
        """Stops the information filter of the domain ``handle``
        (ORQExt_STM_InfoFilter_ShutDown). Returns the server's status (not negative); a
        failure raises OrqExtError."""
        return self._call("ORQExt_STM_InfoFilter_ShutDown", int32(handle, "handle"))

    def filter_count(self, handle: int, documents: Iterable[DocumentLike]) -> int:
        """The number the information filter answers for the documents."""
        arr, count, keep = self._documents(documents)
        return self._call("ORQExt_STM_InfoFilter_Do", int32(handle, "handle"), arr, count)

    def text_cluster_init(self, handle: int) -> int:
        """Starts the text clusterer of the domain ``handle`` (ORQExt_STM_TextCluster_Init).
        Returns the server's status (not negative); a failure raises OrqExtError."""
        return self._call("ORQExt_STM_TextCluster_Init", int32(handle, "handle"))

    def text_cluster_shutdown(self, handle: int, name: Text,
                              values: Sequence[int] = (0, 0, 0, 0)) -> int:
        """Stops the text clusterer of the domain ``handle``, naming the result ``name``
        (ORQExt_STM_TextCluster_ShutDown). Returns the server's status (not negative); a
        failure raises OrqExtError."""
        args = raw.StmClusterShutdownArgs(*[int32(v, "values") for v in values])
        data = self._t(name, "name")
        if len(data) >= raw.ORQEXT_STM_CLUSTER_NAME_SIZE:
            raise BadArgument(-1100, "text_cluster_shutdown", "longer than %d bytes"
                              % (raw.ORQEXT_STM_CLUSTER_NAME_SIZE - 1), argument="name")
        args.name = data
        return self._call("ORQExt_STM_TextCluster_ShutDown", int32(handle, "handle"), byref(args))

    def text_cluster(self, handle: int, documents: Iterable[DocumentLike],
                     exclude: Text = b'') -> int:
        """Adds the documents to the clusterer; the module's status."""
        arr, count, keep = self._documents(documents)
        return self._call("ORQExt_STM_TextCluster_Do", int32(handle, "handle"), arr, count,
                          self._t(exclude, "exclude"))

    def keywords_init(self, handle: int, value: int = 0) -> int:
        """Starts the keyword extractor of the domain ``handle``
        (ORQExt_STM_KeyWordExtractor_Init). Returns the server's status (not negative); a
        failure raises OrqExtError."""
        return self._call("ORQExt_STM_KeyWordExtractor_Init", int32(handle, "handle"), int32(value, "value"))

    def keywords_shutdown(self, handle: int) -> int:
        """Stops the keyword extractor of the domain ``handle``
        (ORQExt_STM_KeyWordExtractor_ShutDown). Returns the server's status (not negative); a
        failure raises OrqExtError."""
        return self._call("ORQExt_STM_KeyWordExtractor_ShutDown", int32(handle, "handle"))

    def keywords(self, handle: int, documents: Iterable[DocumentLike], *, number: int = 0,
                 flag: int = 0) -> bytes:
        """The keywords of the documents: the module's answer as sent
        (ORQExt_STM_KeyWordExtractor_Do)."""
        h = self._h()
        arr, count, keep = self._documents(documents)
        opts = raw.StmOptionPair(int32(number, "number"), int32(flag, "flag"))
        name = "ORQExt_STM_KeyWordExtractor_Do"
        return self._sized(name, lambda b, n: raw.ORQExt_STM_KeyWordExtractor_Do(
            h, int32(handle, "handle"), b, byref(n), arr, count, byref(opts)))[1]

    # -- semantic text mining: extractors ----------------------------------------------------
    def abstract_init(self, handle: int) -> int:
        """Starts the abstract extractor of the domain ``handle``
        (ORQExt_STM_AbstractExtractor_Initialize). Returns the server's status (not negative);
        a failure raises OrqExtError."""
        return self._call("ORQExt_STM_AbstractExtractor_Initialize", int32(handle, "handle"))

    def abstract_shutdown(self, handle: int) -> int:
        """Stops the abstract extractor of the domain ``handle``
        (ORQExt_STM_AbstractExtractor_ShutDown). Returns the server's status (not negative); a
        failure raises OrqExtError."""
        return self._call("ORQExt_STM_AbstractExtractor_ShutDown", int32(handle, "handle"))

    def abstract(self, handle: int, text: Text, *, sentences: int = 1, flag: int = 0,
                 context: Iterable[DocumentLike] = ()) -> bytes:
        """An abstract of the text (the module's bytes)."""
        h, data = self._h(), self._t(text, "text")
        arr, count, keep = self._documents(context, "context")
        opts = raw.StmOptionPair(int32(sentences, "sentences"), int32(flag, "flag"))
        return self._sized("ORQExt_STM_AbstractExtractor_Do",
                           lambda b, n: raw.ORQExt_STM_AbstractExtractor_Do(
                               h, int32(handle, "handle"), data, b, byref(n), byref(opts), arr, count))[1]

    def abstractor_init(self) -> int:
        """Starts the stand-alone abstractor (ORQExt_STM_Abstractor_Init). Returns the
        module's status (not negative); a failure raises OrqExtError."""
        return self._call("ORQExt_STM_Abstractor_Init")

    def abstractor_shutdown(self) -> int:
        """Stops the stand-alone abstractor (ORQExt_STM_Abstractor_ShutDown). Returns the
        module's status (not negative); a failure raises OrqExtError."""
        return self._call("ORQExt_STM_Abstractor_ShutDown")

    def abstractor(self, text: Text, *, sentences: int = 1, flag: int = 0,
                   context: Iterable[DocumentLike] = ()) -> bytes:
        """An abstract of the text by the stand-alone abstractor: the module's bytes
        (ORQExt_STM_Abstractor_Do)."""
        h, data = self._h(), self._t(text, "text")
        arr, count, keep = self._documents(context, "context")
        opts = raw.StmOptionPair(int32(sentences, "sentences"), int32(flag, "flag"))
        return self._sized("ORQExt_STM_Abstractor_Do", lambda b, n: raw.ORQExt_STM_Abstractor_Do(
            h, data, b, byref(n), byref(opts), arr, count))[1]
