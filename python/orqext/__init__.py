"""orqext: Python access to ORQExtClient, the client library for a search
server's extension modules.

    import orqext
    with orqext.connect("127.0.0.1", 7300, "admin", "admin") as conn:
        print(conn.send("Echo", "hello"))

``orqext.raw`` declares every export of the library for direct ctypes use;
``orqext.aio`` is the asyncio form. The package logs library loading, answer
retries and exceptions in callbacks to ``logging.getLogger("orqext")``,
silent unless the application configures logging.
"""

import logging

from ._async import AsyncRequest, set_callback_error_hook
from ._loader import LibraryNotFound
from ._codec import Codec
from .connection import Connection, connect, exec_sql, server_status
from .errors import (RESULTS, AnswerTooLong, BadArgument, NoConnection, OrqExtError, Timeout,
                     describe)
from .records import (AssociationResult, AsyncResult, BsmResult, ClassifyResult, Cluster, Document,
                      ExtractedWord, KeywordItem, Node, Token)

logging.getLogger("orqext").addHandler(logging.NullHandler())

__version__ = "1.1.0"

__all__ = [
    "connect", "Connection", "Codec", "server_status", "exec_sql", "AsyncRequest",
    "set_callback_error_hook", "LibraryNotFound", "OrqExtError", "Timeout", "NoConnection",
    "AnswerTooLong", "BadArgument", "RESULTS", "describe", "AssociationResult", "AsyncResult",
    "BsmResult", "ClassifyResult", "Cluster", "Document", "ExtractedWord", "KeywordItem", "Node",
    "Token",
]
