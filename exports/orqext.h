/*
 * orqext.h - the public interface of ORQExtClient.
 *
 * One flat C API over plain records. Every function returns a signed 32-bit
 * Result code unless its comment says otherwise. Strings are NUL-terminated
 * 8-bit text passed byte for byte. Answers go to caller-owned buffers given as
 * a pointer and a pointer to an int32 length: capacity on entry, length of the
 * answer on return.
 *
 * Compiles as C99 and as C++.
 */
#ifndef ORQEXT_H
#define ORQEXT_H

#include <stdint.h>

/* Calling convention of every export and of the asynchronous callback:
 * stdcall on 32-bit Windows, the platform default elsewhere. */
#if defined(_WIN32) && !defined(_WIN64)
#define ORQEXT_CALL __stdcall
#else
#define ORQEXT_CALL
#endif

/* Export/import decoration. ORQEXT_BUILDING is defined while the library
 * itself is compiled. */
#if defined(_WIN32)
#if defined(ORQEXT_BUILDING)
#define ORQEXT_API __declspec(dllexport)
#else
#define ORQEXT_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define ORQEXT_API __attribute__((visibility("default")))
#else
#define ORQEXT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------
 * Result codes
 * ------------------------------------------------------------------------ */
enum {
    ORQEXT_OK = 0,
    ORQEXT_E_BAD_ARGUMENT = -1100,     /* null pointer, empty string, bad size */
    ORQEXT_E_ANSWER_TOO_LONG = -1107,  /* buffer holds the leading part only */
    ORQEXT_E_PART = -1108,             /* part of an answer, more follows */
    ORQEXT_E_TIMEOUT = -1112,          /* no complete answer within the limit */
    ORQEXT_E_TIMEOUT_CANCELLED = -1113,/* time-out, pending answer cancelled */
    ORQEXT_E_NO_NODE = -1203,          /* clustering on, no node serves it */
    ORQEXT_E_BAD_STATEMENT = -3502,    /* statement is not well-formed */
    ORQEXT_E_NO_CONNECTION = -4100,    /* handle not in the registry */
    ORQEXT_E_NO_CALLBACK = -4120,      /* no asynchronous callback installed */
    ORQEXT_E_NO_REQUEST = -4122,       /* no queued request with that id */
    ORQEXT_E_NO_RECORD = -4127,        /* clustering off for unknown handle */
    ORQEXT_E_NO_CLUSTER = -4128,       /* no such cluster for the connection */
    ORQEXT_E_PENDING = -9000           /* answer pending */
};

/* Exit code given to a worker thread that is stopped at unload. */
#define ORQEXT_WORKER_TERMINATED_EXIT_CODE (-8888)

/* ------------------------------------------------------------------------
 * Connections
 * ------------------------------------------------------------------------ */

/* Opens a connection. Returns the connection handle (0 when the arguments
 * are rejected) and writes the Result code to *status when status is not
 * null. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_Connect(const char* server, int32_t port,
                                              const char* user, const char* password,
                                              int32_t* status);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_DisConnect(int32_t conn);
/* Non-zero while the connection is alive. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_IsConnect(int32_t conn);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_GetServerStatus(const char* server, int32_t port);

/* ------------------------------------------------------------------------
 * Application messages and statements
 * ------------------------------------------------------------------------ */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_SendMessage(int32_t conn, const char* module,
                                                  const char* target, const void* payload,
                                                  int32_t payload_len, void* answer,
                                                  int32_t* answer_len);
/* time_limit_ms: -1 for none; cancel: 1 cancels a pending answer at the
 * time-out (-1113 instead of -1112). */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_SendMessageTimeOut(int32_t conn, const char* module,
                                                         const char* target,
                                                         const void* payload, int32_t payload_len,
                                                         void* answer, int32_t* answer_len,
                                                         int32_t time_limit_ms, int32_t cancel);
/* connect_string: "server=...;port=...;user=...;pass=..." in any order. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_ExecSql(const char* connect_string, const char* statement);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_ExecSql2(int32_t conn, const char* statement);

/* ==== module administration (begin) ==== */
/* ==== module administration (end) ==== */

/* ==== asynchronous messages (begin) ==== */
/* ==== asynchronous messages (end) ==== */

/* ==== statement process (begin) ==== */
/* ==== statement process (end) ==== */

/* ==== cluster (begin) ==== */
/* ==== cluster (end) ==== */

/* ==== text analysis (begin) ==== */
/* ==== text analysis (end) ==== */

/* ==== semantic text mining (begin) ==== */
/* ==== semantic text mining (end) ==== */

#ifdef __cplusplus
}
#endif

#endif /* ORQEXT_H */
