"""The raw layer: every export of ORQExtClient with its argument and result
types, and every record of the public header as a ``ctypes.Structure``.

The functions are declared from one table, ``EXPORTS``. The library is loaded
on first use (see ``orqext._loader`` for where it is looked for)::

    from orqext import raw
    status = ctypes.c_int32()
    conn = raw.ORQExt_Connect(b"127.0.0.1", 7300, b"admin", b"admin", ctypes.byref(status))

``raw.library()`` gives the loaded library object, ``raw.load(path)`` loads a
given file before first use. Buffers are the caller's, as in C.
"""

from __future__ import annotations

import ctypes
import threading
from typing import Any, List, Optional
from ctypes import POINTER, Structure, c_char, c_char_p, c_int16, c_int32, c_uint8, c_void_p

from . import _loader

# ---------------------------------------------------------------------------
# Result codes and sizes of the header
# ---------------------------------------------------------------------------
ORQEXT_OK = 0
ORQEXT_E_BAD_ARGUMENT = -1100
ORQEXT_E_ANSWER_TOO_LONG = -1107
ORQEXT_E_PART = -1108
ORQEXT_E_TIMEOUT = -1112
ORQEXT_E_TIMEOUT_CANCELLED = -1113
ORQEXT_E_NO_NODE = -1203
ORQEXT_E_BAD_STATEMENT = -3502
ORQEXT_E_NO_CONNECTION = -4100
ORQEXT_E_NO_CALLBACK = -4120
ORQEXT_E_NO_REQUEST = -4122
ORQEXT_E_NO_RECORD = -4127
ORQEXT_E_NO_CLUSTER = -4128
ORQEXT_E_PENDING = -9000
ORQEXT_WORKER_TERMINATED_EXIT_CODE = -8888
ORQEXT_EXTRACT_ENTRY_SIZE = 528
ORQEXT_STM_CLUSTER_NAME_SIZE = 256
ORQEXT_SERVER_NAME_ROOM = 15

# ---------------------------------------------------------------------------
# Records
# ---------------------------------------------------------------------------


class ClusterInfo(Structure):
    _fields_ = [("name", c_char * 256), ("tag", c_char * 16), ("attr_a", c_char * 32),
                ("attr_b", c_char * 128)]


class NodeInfo(Structure):
    _fields_ = [("server", c_char * 20), ("port", c_int32), ("user", c_char * 128),
                ("pass", c_char * 64), ("attr", c_char * 128)]


class KwfsItem(Structure):
    _fields_ = [("text1", c_char_p), ("value", c_int32), ("text2", c_char_p)]


class KwfsOptions(Structure):
    _fields_ = [("value", c_int32), ("text", c_char_p)]


class EztcTextFields(Structure):
    _fields_ = [("text%d" % i, c_char_p) for i in range(1, 7)]


class BsmTextFields(Structure):
    _fields_ = [("text%d" % i, c_char_p) for i in range(1, 9)]


class StmTextItem(Structure):
    _fields_ = [("id", c_int32), ("length", c_int32), ("text", c_char_p)]


class StmOptionPair(Structure):
    _fields_ = [("value", c_int32), ("flag", c_uint8)]


class StmClassifierOptions(Structure):
    _fields_ = [("value1", c_int32), ("value2", c_int32), ("flag", c_uint8)]


class StmClusterShutdownArgs(Structure):
    _fields_ = [("value1", c_int32), ("value2", c_int32), ("value3", c_int32),
                ("value4", c_int32), ("name", c_char * ORQEXT_STM_CLUSTER_NAME_SIZE)]


class StmVsmOptions(Structure):
    _fields_ = [("flag", c_uint8), ("value1", c_int32), ("value2", c_int32)]


class ExtractEntry(Structure):
    """One entry of the word extraction answer (ORQEXT_EXTRACT_ENTRY_SIZE
    bytes; the header fixes only the size, the fields are the module's)."""
    _fields_ = [("word", c_char * 512), ("count", c_int32), ("first_offset", c_int32),
                ("text_index", c_int32), ("length", c_int32)]


#: Every record of the header (ExtractEntry is the module's and not listed).
RECORDS = (ClusterInfo, NodeInfo, KwfsItem, KwfsOptions, EztcTextFields, BsmTextFields,
           StmTextItem, StmOptionPair, StmClassifierOptions, StmClusterShutdownArgs,
           StmVsmOptions)

#: void (request_id, result, answer bytes, answer length), stdcall on 32-bit Windows.
ORQExtAsyncCallback = _loader.FUNCTYPE(None, c_int32, c_int32, c_void_p, c_int32)

# ---------------------------------------------------------------------------
# The exports: (name, restype, argtypes), grouped as in the header
# ---------------------------------------------------------------------------
I32 = c_int32
U8 = c_uint8
STR = c_char_p              # const char*: NUL-terminated text in
BUF = POINTER(c_char)       # char*: the caller's bytes out
CVOID = c_void_p            # const void*: bytes in
VOID = c_void_p             # void*: the caller's bytes out
PI32 = POINTER(c_int32)
PI16 = POINTER(c_int16)
PU8 = POINTER(c_uint8)
STRS = POINTER(c_char_p)    # const char* const*
P_CALLBACK = POINTER(ORQExtAsyncCallback)
P_ClusterInfo = POINTER(ClusterInfo)
P_NodeInfo = POINTER(NodeInfo)
P_KwfsItem = POINTER(KwfsItem)
P_KwfsOptions = POINTER(KwfsOptions)
P_EztcTextFields = POINTER(EztcTextFields)
P_BsmTextFields = POINTER(BsmTextFields)
P_StmTextItem = POINTER(StmTextItem)
P_StmOptionPair = POINTER(StmOptionPair)
P_StmClassifierOptions = POINTER(StmClassifierOptions)
P_StmClusterShutdownArgs = POINTER(StmClusterShutdownArgs)
P_StmVsmOptions = POINTER(StmVsmOptions)

EXPORTS = (
    ("ORQExt_Connect", I32, (STR, I32, STR, STR, PI32)),
    ("ORQExt_DisConnect", I32, (I32,)),
    ("ORQExt_IsConnect", I32, (I32,)),
    ("ORQExt_GetServerStatus", I32, (STR, I32)),
    ("ORQExt_SendMessage", I32, (I32, STR, STR, CVOID, I32, VOID, PI32)),
    ("ORQExt_SendMessageTimeOut", I32, (I32, STR, STR, CVOID, I32, VOID, PI32, I32, I32)),
    ("ORQExt_ExecSql", I32, (STR, STR)),
    ("ORQExt_ExecSql2", I32, (I32, STR)),
    ("ORQExt_RegExtMod", I32, (I32, STR, STR, U8, STR, STR, STR, STR)),
    ("ORQExt_UnRegExtMod", I32, (I32, STR, STR)),
    ("ORQExt_LoadExtMod", I32, (I32, STR, STR)),
    ("ORQExt_UnloadExtMod", I32, (I32, STR, STR)),
    ("ORQExt_GetModInfo", I32, (I32, STR, STR, VOID, PI32)),
    ("ORQExt_GetModInfos", I32, (I32, VOID, PI32)),
    ("ORQExt_GetExtVersion", I32, (I32, VOID, PI32)),
    ("ORQExt_SetAsyncFunc", I32, (ORQExtAsyncCallback, P_CALLBACK)),
    ("ORQExt_AsyncSendMessage", I32, (I32, STR, STR, CVOID, I32, I32, I32)),
    ("ORQExt_CancelAsync", I32, (I32, I32)),
    ("ORQExt_QuerySqlProcess", I32, (I32, STR)),
    ("ORQExt_IsClusterEnable", U8, (I32,)),
    ("ORQExt_EnableCluster", I32, (I32, U8)),
    ("ORQExt_UpdateCluster", I32, (I32,)),
    ("ORQExt_AddClusterInfo", I32, (I32, P_ClusterInfo, P_NodeInfo, I32)),
    ("ORQExt_DelClusterInfo", I32, (I32, P_ClusterInfo, STR)),
    ("ORQExt_GetClusterCount", I32, (I32,)),
    ("ORQExt_GetClusterInfo", I32, (I32, P_ClusterInfo, PI32)),
    ("ORQExt_GetClusterInfoByName", I32, (I32, P_ClusterInfo)),
    ("ORQExt_GetClusterNodeCount", I32, (I32, P_ClusterInfo)),
    ("ORQExt_GetNodeInfo", I32, (I32, P_ClusterInfo, P_NodeInfo, PI32)),
    ("ORQExt_ARA_Stat_AssociatedFreq_Begin", I32, (I32, STR)),
    ("ORQExt_ARA_Stat_AssociatedFreq", I32, (I32, STR, STR, I32, U8)),
    ("ORQExt_ARA_Stat_AssociatedFreq_End", I32, (I32,)),
    ("ORQExt_ARA_MulMergeFile", I32, (I32, STR, STR)),
    ("ORQExt_ARA_Filtrate", I32, (I32, STR, STR, I32)),
    ("ORQExt_ARA_GetWordSupportRec", I32, (I32, STR, STR)),
    ("ORQExt_KWFS_Frequency", I32, (I32, P_KwfsItem, I32, P_KwfsOptions, I32)),
    ("ORQExt_KWFS_Associated", I32, (I32, P_KwfsItem, I32, P_KwfsOptions)),
    ("ORQExt_NLPE_DictLoad", I32, (I32, STR)),
    ("ORQExt_NLPE_DictUnload", I32, (I32, I32)),
    ("ORQExt_NLPE_DictImport", I32, (I32, STR)),
    ("ORQExt_NLPE_DictSearch", I32, (I32, STR)),
    ("ORQExt_NLPE_WordSect", I32, (I32, STR, PI32, I32, I32, I32, PI16, I32, U8, U8)),
    ("ORQExt_NLPE_GetHandle", I32, (I32, STR)),
    ("ORQExt_NLPE_DeleteHandle", I32, (I32, I32)),
    ("ORQExt_ClassNoLabel_Init", I32, (I32, STR)),
    ("ORQExt_ClassNoLabel_GetClass", I32, (I32, STR, VOID, PI32)),
    ("ORQExt_ClassNoLabel_Free", I32, (I32,)),
    ("ORQExt_CLA_SetPath", I32, (I32, STR)),
    ("ORQExt_CLA_GetClassifyResult", I32, (I32, I32, STRS, BUF, PI32, BUF, PI32, PI32, PU8, PI32, I32)),
    ("ORQExt_CLA_FreeDict", I32, (I32,)),
    ("ORQExt_EZTC_SetPath", I32, (I32,)),
    ("ORQExt_EZTC_GetTxtClassify", I32, (I32, I32, I32, P_EztcTextFields, I32, BUF, PI32, U8)),
    ("ORQExt_EZTC_FreeDict", I32, (I32,)),
    ("ORQExt_BSM_Word_Init", I32, (I32,)),
    ("ORQExt_BSM_GetClassifyResult", I32, (I32, I32, I32, P_BsmTextFields, BUF, PI32, BUF, PI32, PU8)),
    ("ORQExt_BSM_FreeDict", I32, (I32,)),
    ("ORQExt_AR_Initial", I32, (I32,)),
    ("ORQExt_AR_Dict_Create", I32, (I32, STR, STR, STR)),
    ("ORQExt_AR_Dict_Delete", I32, (I32, STR)),
    ("ORQExt_AR_GetAllDictName", I32, (I32, BUF, PI32)),
    ("ORQExt_AR_IsDictExist", I32, (I32, STR)),
    ("ORQExt_AR_Search", I32, (I32, STR, BUF, PI32, BUF, PI32)),
    ("ORQExt_AR_Dict_Load", I32, (I32, STR)),
    ("ORQExt_AR_Dict_Unload", I32, (I32, STR)),
    ("ORQExt_AR_Dict_Import", I32, (I32, STR)),
    ("ORQExt_AR_GetAllDictNameLoaded", I32, (I32, BUF, PI32)),
    ("ORQExt_AR_GetCategoryName", I32, (I32, BUF, PI32)),
    ("ORQExt_Aptitude_Search", I32, (I32, STR, BUF, PI32)),
    ("ORQExt_Aptitude_Init", I32, (I32,)),
    ("ORQExt_Aptitude_UnInit", I32, (I32,)),
    ("ORQExt_Aptitude_WordSect", I32, (I32, STR, PI32, I32, I32, I32, PI16, I32, U8)),
    ("ORQExt_ExtractWord_Initial", I32, (I32, I32)),
    ("ORQExt_ExtractWord_Direct", I32, (I32, STRS, VOID, PI32, I32, U8)),
    ("ORQExt_ExtractWord_DirectNormal", I32, (I32, STRS, VOID, PI32, I32, U8)),
    ("ORQExt_ExtractWord_FreeDict", I32, (I32,)),
    ("ORQExt_TOP_List", I32, (I32, BUF, I32, I32)),
    ("ORQExt_TOP_Init", I32, (I32, STR)),
    ("ORQExt_TOP_GetItem", I32, (I32, STR, STR, BUF, PI32)),
    ("ORQExt_TOP_UnInit", I32, (I32, STR)),
    ("ORQExt_ExportSqlToFile", I32, (I32, STR, STR, I32, STR)),
    ("ORQExt_MakeTopDict", I32, (I32, STR, STR)),
    ("ORQExt_STM_Initialize", I32, (I32,)),
    ("ORQExt_STM_ShutDown", I32, (I32,)),
    ("ORQExt_STM_IsInitialized", I32, (I32,)),
    ("ORQExt_STM_CreateDomain", I32, (I32, STR, STR, STR, STR, I32)),
    ("ORQExt_STM_DeleteDomain", I32, (I32, STR)),
    ("ORQExt_STM_GetDomainNameList", I32, (I32, VOID, PI32, I32)),
    ("ORQExt_STM_OpenDomain", I32, (I32, STR)),
    ("ORQExt_STM_CloseDomain", I32, (I32, STR)),
    ("ORQExt_STM_GetDomainName", I32, (I32, I32, VOID, PI32)),
    ("ORQExt_STM_GetDomainHandle", I32, (I32, STR)),
    ("ORQExt_STM_TextClassifier_Init", I32, (I32, I32, I32)),
    ("ORQExt_STM_TextClassifier_ShutDown", I32, (I32, I32)),
    ("ORQExt_STM_TextClassifier_Do", I32, (I32, I32, VOID, PI32, P_StmTextItem, I32, P_StmClassifierOptions)),
    ("ORQExt_STM_InfoFilter_Init", I32, (I32, I32, STR)),
    ("ORQExt_STM_InfoFilter_ShutDown", I32, (I32, I32)),
    ("ORQExt_STM_InfoFilter_Do", I32, (I32, I32, P_StmTextItem, I32)),
    ("ORQExt_STM_TextCluster_Init", I32, (I32, I32)),
    ("ORQExt_STM_TextCluster_ShutDown", I32, (I32, I32, P_StmClusterShutdownArgs)),
    ("ORQExt_STM_TextCluster_Do", I32, (I32, I32, P_StmTextItem, I32, STR)),
    ("ORQExt_STM_KeyWordExtractor_Init", I32, (I32, I32, I32)),
    ("ORQExt_STM_KeyWordExtractor_ShutDown", I32, (I32, I32)),
    ("ORQExt_STM_KeyWordExtractor_Do", I32, (I32, I32, VOID, PI32, P_StmTextItem, I32, P_StmOptionPair)),
    ("ORQExt_STM_AbstractExtractor_Initialize", I32, (I32, I32)),
    ("ORQExt_STM_AbstractExtractor_ShutDown", I32, (I32, I32)),
    ("ORQExt_STM_AbstractExtractor_Do", I32, (I32, I32, STR, VOID, PI32, P_StmOptionPair, P_StmTextItem, I32)),
    ("ORQExt_STM_VSMGenerator_Init", I32, (I32, I32)),
    ("ORQExt_STM_VSMGenerator_ShutDown", I32, (I32, I32)),
    ("ORQExt_STM_VSMGenerator_Do", I32, (I32, I32, VOID, PI32, P_StmTextItem, I32, P_StmVsmOptions)),
    ("ORQExt_STM_VSMGenerator_GetResult", I32, (I32, I32, VOID, PI32, STR, P_StmVsmOptions)),
    ("ORQExt_STM_Abstractor_Init", I32, (I32,)),
    ("ORQExt_STM_Abstractor_ShutDown", I32, (I32,)),
    ("ORQExt_STM_Abstractor_Do", I32, (I32, STR, VOID, PI32, P_StmOptionPair, P_StmTextItem, I32)),
    ("ORQExt_STM_Similarity_Initialize", I32, (I32,)),
    ("ORQExt_STM_Similarity_ShutDown", I32, (I32,)),
    ("ORQExt_STM_Similarity_Analyst", I32, (I32, STR, STR)),
)

# ---------------------------------------------------------------------------
# Loading
# ---------------------------------------------------------------------------
_lock = threading.Lock()
_lib = None
_path = None


def _declare(lib: Any) -> Any:
    for name, restype, argtypes in EXPORTS:
        fn = getattr(lib, name)
        fn.restype = restype
        fn.argtypes = list(argtypes)
    return lib


def load(path: Optional[str] = None) -> Any:
    """Loads the library (from ``path`` when given, else by the search of
    ``orqext._loader``) and declares every export. Loading again returns the
    library already loaded; a different path then is an error."""
    global _lib, _path
    with _lock:
        if _lib is not None:
            if path is not None and path != _path:
                raise RuntimeError("ORQExtClient is loaded already from %s" % _path)
            return _lib
        if path is not None:
            lib, where = _loader.LibraryType(path), path
        else:
            lib, where = _loader.load()
        _lib, _path = _declare(lib), where
        return _lib


def library() -> Any:
    """The loaded library (loading it on first use)."""
    return _lib if _lib is not None else load()


def library_path() -> Optional[str]:
    """Where the library was loaded from (None before it is loaded)."""
    return _path


_NAMES = frozenset(name for name, _, _ in EXPORTS)


def __getattr__(name: str) -> Any:
    if name in _NAMES:
        return getattr(library(), name)
    raise AttributeError("module %r has no attribute %r" % (__name__, name))


def __dir__() -> List[str]:
    return sorted(set(globals()) | _NAMES)
