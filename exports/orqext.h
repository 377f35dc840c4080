/**
 * @file orqext.h
 * The public interface of ORQExtClient: one flat C API over plain records.
 *
 * Every function returns a signed 32-bit Result code unless its description
 * says otherwise. Strings are NUL-terminated 8-bit text passed byte for byte.
 * Answers go to caller-owned buffers given as a pointer and a pointer to an
 * int32 length: capacity on entry, length of the answer on return.
 *
 * Compiles as C99 and as C++. The reference (scripts/test-docs.sh) is
 * generated from the comments of this header and of orqext_results.h.
 */

/**
 * @mainpage ORQExtClient exports
 *
 * ORQExtClient is a client library for the extension-module layer of a
 * full-text search server. Its exports are declared in orqext.h and listed by
 * topic under Modules; the meaning of every Result code is in
 * orqext_results.h (#ORQEXT_RESULT_TABLE). The rules below hold for every
 * export unless its own description says otherwise.
 *
 * @section orqext_results Result codes
 *
 * 0 is success and a negative code a failure. Non-negative status words of
 * the server pass through unchanged (some calls answer with them: a handle, a
 * count, a score), and so do the negative codes of XSRClient (our networked
 * XSRClient's are -20001 to -20012) and of the server.
 *
 * @section orqext_refusals Early refusals: -1100, -1203, -4100
 *
 * - **-1100** (#ORQEXT_E_BAD_ARGUMENT): an argument the call's description
 *   lists as refused, or no memory to build the request. Nothing is sent;
 *   buffers and lengths are left as they were.
 * - **-1203** (#ORQEXT_E_NO_NODE): only for the routed calls (below), when
 *   clustering is on for the connection and there is no module name or no
 *   node of the cluster named after the module accepts a connection. Nothing
 *   is sent; buffers and lengths are left as they were (a length still holds
 *   the capacity).
 * - **-4100** (#ORQEXT_E_NO_CONNECTION): only ORQExt_DisConnect, for a handle
 *   the library does not know. Every other call hands the connection handle to
 *   XSRClient as it is, and an unknown handle comes back as XSRClient's code
 *   (-20005 from ours).
 *
 * @section orqext_lengths Answer buffers and lengths
 *
 * A call that answers into a caller's buffer takes the buffer and a pointer
 * to an int32 length holding its capacity. Unless the call's description
 * says otherwise, on return:
 *
 * - **0**: the whole answer is in the buffer; the length is its length.
 * - **-1107** (#ORQEXT_E_ANSWER_TOO_LONG): the answer is longer than the
 *   capacity. The buffer holds its leading bytes (as many as fit) and the
 *   length says how long the whole answer was, also when it came in parts,
 *   so the caller can ask again with a buffer of that size. A capacity of 0
 *   is no exception: -1107 with nothing copied and the whole length, which is
 *   how a caller asks for the size it needs; an empty answer at capacity 0
 *   gives 0.
 * - **a failure of XSRClient or the server**: the bytes that came with it are
 *   in the buffer (at most the capacity) and the length says how many.
 * - **-1112, -1113** (time-out): the length is 0.
 * - **a positive status word** of the server: passed on; the length is what
 *   came with it, and only a buffer of 128 bytes or more holds those bytes.
 * - **an early refusal**: buffer and length as they were.
 *
 * A buffer of at least 128 bytes receives the answer directly; a smaller one
 * (or none) gets it through a zero-filled 128-byte area of the library, under
 * the same rules.
 *
 * @section orqext_routing Cluster routing
 *
 * With clustering on for a connection (ORQExt_EnableCluster, or the
 * ClusterEnable setting), the routed calls go to a node of the cluster whose
 * name equals their module's name, ignoring letter case: the first node in
 * the list with a working connection, else the first that accepts a new one.
 * Routed are ORQExt_SendMessage, ORQExt_SendMessageTimeOut,
 * ORQExt_QuerySqlProcess and every text analysis and text mining call.
 * Module administration, statements, the cluster calls and asynchronous
 * messages use the connection as it is.
 *
 * @section orqext_threads Thread safety
 *
 * Every export may be called from several threads at once, on one connection
 * or on several. The exceptions concern the asynchronous callback:
 *
 * - The callback runs on the library's worker thread, one call at a time.
 *   While the worker handles a request (its server call or its callback),
 *   ORQExt_AsyncSendMessage and ORQExt_CancelAsync on other threads wait for
 *   it, so a callback must not wait for a thread that is inside one of them.
 *   The callback itself may call both: a request it queues is handled in the
 *   worker's next pass, and the request whose callback is running cannot be
 *   cancelled (-4122 when no other request has the id).
 * - ORQExt_SetAsyncFunc does not wait for the callback. After it returns,
 *   with null or another callback, the previous callback may still be running
 *   on the worker, or be called once more for the request the worker has in
 *   hand; whatever it uses must stay valid until then. Before freeing what the
 *   callback uses (its data, or the code of a module about to be unloaded),
 *   remove the callback, then call ORQExt_CancelAsync from a thread other than
 *   the worker with an id none of your requests has (0, when your ids start
 *   at 1): the cancel waits for the worker's pass under way, so once it
 *   returns the old callback has returned and is not called again. Inside the
 *   callback itself this wait is impossible (the cancel returns at once):
 *   free after the callback has returned.
 * - The answer bytes handed to the callback are valid during the call only.
 * - While the library is unloaded, a callback that is still running must not
 *   call into it.
 */
#ifndef ORQEXT_H
#define ORQEXT_H

#include <stddef.h>
#include <stdint.h>

#include "orqext_version.h" /* ORQEXT_VERSION_MAJOR ... ORQEXT_VERSION_STRING */

/** Calling convention of every export and of the asynchronous callback:
 * stdcall on 32-bit Windows, the platform default elsewhere. */
#if defined(_WIN32) && !defined(_WIN64)
#define ORQEXT_CALL __stdcall
#else
#define ORQEXT_CALL
#endif

/** Export/import decoration. ORQEXT_BUILDING is defined while the library
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
/**
 * @defgroup orqext_codes Result codes
 * The library's own codes as constants; the meaning of every code, those of
 * XSRClient and the server included, is in #ORQEXT_RESULT_TABLE.
 * @{
 */
/** The library's own Result codes. */
enum {
    ORQEXT_OK = 0,                      /**< success */
    ORQEXT_E_BAD_ARGUMENT = -1100,      /**< null pointer, empty string, bad size; nothing sent */
    ORQEXT_E_ANSWER_TOO_LONG = -1107,   /**< the buffer holds the leading part; the length is the whole answer's */
    ORQEXT_E_PART = -1108,              /**< (from XSRClient) part of an answer, more follows */
    ORQEXT_E_TIMEOUT = -1112,           /**< no complete answer within the limit */
    ORQEXT_E_TIMEOUT_CANCELLED = -1113, /**< time-out, pending answer cancelled */
    ORQEXT_E_NO_NODE = -1203,           /**< clustering on, no node serves the module */
    ORQEXT_E_BAD_STATEMENT = -3502,     /**< the statement is not well-formed */
    ORQEXT_E_NO_CONNECTION = -4100,     /**< handle not known to the library */
    ORQEXT_E_NO_CALLBACK = -4120,       /**< no asynchronous callback installed */
    ORQEXT_E_NO_REQUEST = -4122,        /**< no queued request with that id */
    ORQEXT_E_NO_RECORD = -4127,         /**< clustering off for an unknown handle */
    ORQEXT_E_NO_CLUSTER = -4128,        /**< no such cluster for the connection */
    ORQEXT_E_PENDING = -9000            /**< (from XSRClient) answer pending */
};
/** @} */

/** Exit code given to a worker thread that is stopped at unload. */
#define ORQEXT_WORKER_TERMINATED_EXIT_CODE (-8888)

/* ------------------------------------------------------------------------
 * Connections
 * ------------------------------------------------------------------------ */
/** @defgroup orqext_connections Connections
 * Opening, probing and closing connections.
 * @{ */

/** Characters of the server name the login record holds (ORQExt_Connect, and the server of
 * ORQExt_ExecSql's connect string). */
#define ORQEXT_SERVER_NAME_ROOM 15

/**
 * Opens a connection and logs in.
 *
 * Not routed. With the ClusterEnable setting on, the new connection's cluster description is
 * loaded at once and that result is the status.
 *
 * The login record holds 15 characters of the server name. For a longer name, resolve it
 * yourself and connect to its addresses as dotted text, which always fits: getaddrinfo with
 * `ai_family` AF_INET (on Windows after WSAStartup, linking ws2_32), then ORQExt_Connect with
 * each address in turn until one is not refused with -20001 to -20003 (a refused login, -20004,
 * will be the same at every address). The C++ layer (orqext/resolve.hpp) and the Python layer
 * do this themselves.
 *
 * @param server server name or address, 1 to 15 characters
 * @param port server port, above 0
 * @param user user name, at most 63 characters (empty allowed)
 * @param password password, at most 31 characters (empty allowed)
 * @param status receives the Result code when not null: 0, a code of XSRClient (-20001 to
 *     -20004 from ours: name, connect, time-out, login), or -1100 for a null or empty server, a
 *     port of 0 or less, a null user or password, a value longer than the login record holds
 *     (never cut), or no memory to record the connection
 * @return The connection handle, or 0 when the arguments are refused (-1100 in `status`). A
 *     non-zero handle with a negative status (with ClusterEnable on: the connection is open but
 *     its cluster description could not be loaded) is to be closed with ORQExt_DisConnect.
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_Connect(const char* server, int32_t port,
                                              const char* user, const char* password,
                                              int32_t* status);
/**
 * Closes a connection and the node connections opened for its cluster routing.
 *
 * @param conn connection handle from ORQExt_Connect
 * @return 0, or XSRClient's result of the close; -4100 when the library does not know `conn`
 *     (nothing is closed).
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_DisConnect(int32_t conn);
/**
 * Tells whether a connection is alive (XSRClient's check, passed on).
 *
 * @param conn connection handle from ORQExt_Connect
 * @return Non-zero while the connection is alive, 0 otherwise (also for an unknown handle).
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_IsConnect(int32_t conn);
/**
 * Probes a server without logging in.
 *
 * @param server server name or address
 * @param port server port
 * @return XSRClient's result: 0 or a status of the server when it answers, a negative XSRClient
 *     code when it cannot be reached; -1100 for a null or empty server or a port of 0 or less
 *     (nothing sent).
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_GetServerStatus(const char* server, int32_t port);

/** @} */

/* ------------------------------------------------------------------------
 * Application messages and statements
 * ------------------------------------------------------------------------ */
/** @defgroup orqext_messages Application messages and statements
 * Synchronous module messages (with a time limit and cancel) and statements.
 * @{ */
/**
 * Sends a message to a module and waits for its whole answer.
 *
 * A pending answer is polled for every 200 ms without a time limit; an answer that comes in
 * parts is collected. Routed: with clustering on for `conn` the message goes to a node of the
 * cluster named after `module` (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param module name of the module, not null or empty
 * @param target target inside the module; null or empty: none
 * @param payload the message bytes; may be null when `payload_len` is 0
 * @param payload_len number of payload bytes, 0 or more
 * @param answer buffer for the answer; may be null when the capacity is 0
 * @param answer_len in: the capacity of `answer`; out: as for every answer
 *     (@ref orqext_lengths): after 0 the answer's length, after -1107 the whole answer's length
 *     (`answer` holds its leading part; a capacity of 0 asks for the size), after a failure of
 *     XSRClient or the server the bytes that came with it, unchanged after an early refusal.
 *     Null: the answer is dropped.
 * @return 0 with the whole answer, -1107 when it does not fit, or the failure of XSRClient or
 *     the server; a non-negative status word of the server passes through (nothing copied for
 *     capacities below 128). Refused before anything is sent (@ref orqext_refusals): -1100 for
 *     a null or empty module, a negative payload length, a positive one without payload, a
 *     negative capacity or a positive capacity without a buffer; -1203 when clustering is on
 *     and no node serves the module.
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_SendMessage(int32_t conn, const char* module,
                                                  const char* target, const void* payload,
                                                  int32_t payload_len, void* answer,
                                                  int32_t* answer_len);
/**
 * As ORQExt_SendMessage, with a time limit on a pending answer.
 *
 * Once the limit has passed, the next poll that still finds the answer pending ends the wait:
 * -1112, or with `cancel` 1 the pending answer is cancelled on the server first and -1113
 * returned; the length is then 0. Routed as ORQExt_SendMessage.
 *
 * @param conn connection handle from ORQExt_Connect
 * @param module name of the module, not null or empty
 * @param target target inside the module; null or empty: none
 * @param payload the message bytes; may be null when `payload_len` is 0
 * @param payload_len number of payload bytes, 0 or more
 * @param answer buffer for the answer; may be null when the capacity is 0
 * @param answer_len in: the capacity of `answer`; out: as for every answer
 *     (@ref orqext_lengths): after 0 the answer's length, after -1107 the whole answer's length
 *     (`answer` holds its leading part; a capacity of 0 asks for the size), after a failure of
 *     XSRClient or the server the bytes that came with it, unchanged after an early refusal.
 *     Null: the answer is dropped.
 * @param time_limit_ms milliseconds to wait for a pending answer; below 0: no limit
 * @param cancel 1: cancel the pending answer at the time-out; anything else: leave it
 * @return As ORQExt_SendMessage, and -1112 or -1113 at the time limit.
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_SendMessageTimeOut(int32_t conn, const char* module,
                                                         const char* target,
                                                         const void* payload, int32_t payload_len,
                                                         void* answer, int32_t* answer_len,
                                                         int32_t time_limit_ms, int32_t cancel);
/**
 * Runs a statement on a temporary connection.
 *
 * Opens a connection with the values of the connect string (which is lower-cased first, values
 * included), sends the statement as a text command and closes the connection again. Not routed.
 *
 * @param connect_string "server=...;port=...;user=...;pass=...", keys in any order and letter
 *     case
 * @param statement the statement text, not null or empty
 * @return The statement's result from the server, or the failure of the connect; -1100, nothing
 *     opened: null or empty arguments, a connect string without one of its four keys, or
 *     connect values the login record cannot hold.
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_ExecSql(const char* connect_string, const char* statement);
/**
 * Runs a statement on an open connection (a text command; not routed).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param statement the statement text, not null or empty
 * @return The server's result, or a code of XSRClient; -1100, nothing sent: `conn` 0, statement
 *     null or empty.
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_ExecSql2(int32_t conn, const char* statement);

/** @} */

/* ==== module administration (begin) ==== */
/* ------------------------------------------------------------------------
 * Module administration
 *
 * Registration and unregistration are text commands; start and stop send a
 * short action document; the queries hand the server's answer over as raw
 * bytes (*length: capacity on entry, answer length on return).
 * ------------------------------------------------------------------------ */
/** @defgroup orqext_admin Module administration
 * Registration and unregistration are text commands; start and stop send a
 * short action document; the queries hand the server's answer over as raw
 * bytes. None of them is routed.
 * @{ */

/**
 * Registers a module with a text command.
 *
 * Sends "use ext MODULE cmd reg version=VERSION" (version null or empty: 1.0.0.0), then "
 * ModType=autostart" when `autostart` is non-zero, then " FileRef='...'", " CmdParam='...'", "
 * Desc='...'" and " DependFiles='...'" for each value given and not empty. Values go in
 * unchanged (no escaping). Not routed.
 *
 * @param conn connection handle from ORQExt_Connect
 * @param module module name, not null or empty
 * @param version module version; null or empty: 1.0.0.0
 * @param autostart non-zero: start the module with the server
 * @param file_ref the module's file; null or empty: left out
 * @param cmd_param the module's command parameter; null or empty: left out
 * @param desc a description; null or empty: left out
 * @param depend_files files the module depends on; null or empty: left out
 * @return The server's result; -1100, nothing sent: module null or empty, or `conn` 0.
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_RegExtMod(int32_t conn, const char* module,
                                                const char* version, uint8_t autostart,
                                                const char* file_ref, const char* cmd_param,
                                                const char* desc, const char* depend_files);
/**
 * Unregisters a module with a text command.
 *
 * Sends "use ext MODULE cmd unreg " and, when `version` is not null (even when empty), "
 * version=VERSION". Not routed.
 *
 * @param conn connection handle from ORQExt_Connect
 * @param module module name, not null or empty
 * @param version module version; null: none sent
 * @return The server's result; -1100, nothing sent: module null or empty, or `conn` 0.
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_UnRegExtMod(int32_t conn, const char* module,
                                                  const char* version);
/**
 * Starts a module with a short action document.
 *
 * One request, no polling: the server's result is returned as it comes (-9000 and -1108
 * included) and its answer is dropped. Not routed.
 *
 * @param conn connection handle from ORQExt_Connect
 * @param module module name, not null or empty
 * @param version module version; null or empty: any
 * @return The server's result as it comes; -1100, nothing sent: module null or empty, or `conn`
 *     0.
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_LoadExtMod(int32_t conn, const char* module,
                                                 const char* version);
/**
 * Stops a module with a short action document.
 *
 * One request, no polling: the server's result is returned as it comes (-9000 and -1108
 * included) and its answer is dropped. Not routed.
 *
 * @param conn connection handle from ORQExt_Connect
 * @param module module name, not null or empty
 * @param version module version; null or empty: any
 * @return The server's result as it comes; -1100, nothing sent: module null or empty, or `conn`
 *     0.
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_UnloadExtMod(int32_t conn, const char* module,
                                                   const char* version);
/**
 * Information on one module, as the server writes it. Not routed.
 *
 * @param conn connection handle from ORQExt_Connect
 * @param module module name, not null or empty
 * @param second_name a second name sent with the request; null: none
 * @param answer buffer for the server's answer
 * @param length in: the capacity of `answer`; out: as for every answer (@ref orqext_lengths):
 *     after 0 the answer's length, after -1107 the whole answer's length (`answer` holds its
 *     leading part; a capacity of 0 asks for the size), after a failure of XSRClient or the
 *     server the bytes that came with it, unchanged after an early refusal.
 * @return 0 with the answer, -1107 when it does not fit, or the server's or XSRClient's code;
 *     -1100, nothing sent: module null or empty, a negative capacity, or a positive capacity
 *     without a buffer.
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_GetModInfo(int32_t conn, const char* module,
                                                 const char* second_name, void* answer,
                                                 int32_t* length);
/**
 * The list of the server's extension modules, as the server writes it. Not routed.
 *
 * @param conn connection handle from ORQExt_Connect
 * @param answer buffer for the server's answer
 * @param length in: the capacity of `answer`; out: as for every answer (@ref orqext_lengths):
 *     after 0 the answer's length, after -1107 the whole answer's length (`answer` holds its
 *     leading part; a capacity of 0 asks for the size), after a failure of XSRClient or the
 *     server the bytes that came with it, unchanged after an early refusal.
 * @return 0 with the answer, -1107 when it does not fit, or the server's or XSRClient's code;
 *     -1100, nothing sent: answer or length null, or a capacity of 0 or less.
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_GetModInfos(int32_t conn, void* answer, int32_t* length);
/**
 * The version of the server's extension layer, as the server writes it. Not routed.
 *
 * @param conn connection handle from ORQExt_Connect
 * @param answer buffer for the server's answer
 * @param length in: the capacity of `answer`; out: as for every answer (@ref orqext_lengths):
 *     after 0 the answer's length, after -1107 the whole answer's length (`answer` holds its
 *     leading part; a capacity of 0 asks for the size), after a failure of XSRClient or the
 *     server the bytes that came with it, unchanged after an early refusal.
 * @return 0 with the answer, -1107 when it does not fit, or the server's or XSRClient's code;
 *     -1100, nothing sent: answer or length null, or a capacity of 0 or less.
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_GetExtVersion(int32_t conn, void* answer,
                                                    int32_t* length);
/** @} */
/* ==== module administration (end) ==== */

/* ==== asynchronous messages (begin) ==== */
/* ------------------------------------------------------------------------
 * Asynchronous messages
 *
 * A queued message is sent by the library's worker thread, which polls for
 * its answer every 200 ms and then calls the callback on that thread with
 * (request id, Result code, answer bytes, answer length). The answer bytes
 * belong to the library and are valid during the call only. The callback may
 * queue and cancel requests. One callback for the whole process; none at
 * load.
 * ------------------------------------------------------------------------ */
/** @defgroup orqext_async Asynchronous messages
 * A queued message is sent by the library's worker thread, which polls for
 * its answer every 200 ms and then calls the callback on that thread. One
 * callback for the whole process; none at load. See @ref orqext_threads for
 * what the callback may do and what waits for it.
 * @{ */

/**
 * The asynchronous callback, called on the library's worker thread.
 *
 * @param request_id the id given to ORQExt_AsyncSendMessage
 * @param result 0, or the Result code of the request (a code of XSRClient or
 *     the server, -1107 when the answer did not fit its room)
 * @param answer the answer bytes; they belong to the library and are valid
 *     during the call only
 * @param answer_len the number of answer bytes
 */
typedef void(ORQEXT_CALL* ORQExtAsyncCallback)(int32_t request_id, int32_t result,
                                               const void* answer, int32_t answer_len);

/**
 * Installs the asynchronous callback, one for the whole process.
 *
 * Null removes it: the worker then drops every queued request without calling back and ends.
 * Replacing or removing the callback does not wait for a callback the worker is running, nor
 * for the one call it may still make for the request in hand: before freeing what the old
 * callback uses, call ORQExt_CancelAsync(0, id) from another thread with an id no request has
 * (it returns after the worker's pass under way, old callback included) (@ref orqext_threads).
 *
 * @param callback the new callback; null: none
 * @param previous receives the previous callback when not null
 * @return 0.
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_SetAsyncFunc(ORQExtAsyncCallback callback,
                                                   ORQExtAsyncCallback* previous);
/**
 * Queues a message; its answer comes through the callback.
 *
 * The library's worker thread sends the message on `conn` as it is (asynchronous messages are
 * not routed to cluster nodes), polls a pending answer every 200 ms and calls the callback with
 * the request id, the Result code and the answer. The worker is started when needed.
 *
 * @param conn connection handle from ORQExt_Connect
 * @param module name of the module, not null or empty
 * @param target target inside the module; null or empty: none
 * @param payload the message bytes, not null
 * @param payload_len number of payload bytes, above 0
 * @param request_id the id the callback gets back and ORQExt_CancelAsync takes; ids may repeat
 * @param answer_capacity room for the answer: max(answer_capacity, 128) bytes, at most
 *     268435456; a longer answer calls back with -1107 and its leading bytes
 * @return The number of queued requests, this one included; -1100, nothing queued: module null
 *     or empty, payload null, `payload_len` 0 or less, `answer_capacity` above 268435456, or no
 *     memory or worker thread; -4120: no callback installed.
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_AsyncSendMessage(int32_t conn, const char* module,
                                                       const char* target, const void* payload,
                                                       int32_t payload_len, int32_t request_id,
                                                       int32_t answer_capacity);
/**
 * Cancels the oldest queued request with an id.
 *
 * A cancel goes to the server, the request is dropped without calling back, and the cancel's
 * result is returned. The request whose server call or callback is running cannot be taken
 * away.
 *
 * @param unused not read
 * @param request_id the id given to ORQExt_AsyncSendMessage
 * @return The result of the cancel on the server; -4122 when no queued request has that id.
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_CancelAsync(int32_t unused, int32_t request_id);
/** @} */
/* ==== asynchronous messages (end) ==== */

/* ==== statement process (begin) ==== */
/** @addtogroup orqext_messages
 * @{ */
/**
 * Asks a module for a statement's process.
 *
 * Sends the free text of an extension statement ("use ext MODULE [cmd WORD] [key=value ...]
 * free text") to the module's "GetKSQLProcess". Routed: with clustering on for `conn` it goes
 * to a node of the cluster named after the statement's module (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param statement the extension statement, not null or empty
 * @return The server's result; before anything is sent: -1100 for `conn` 0 or a null or empty
 *     statement, -3502 when it is not an extension statement, -1203 when clustering is on and
 *     no node serves the module.
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_QuerySqlProcess(int32_t conn, const char* statement);
/** @} */
/* ==== statement process (end) ==== */

/* ==== cluster (begin) ==== */
/**
 * @defgroup orqext_cluster Cluster routing
 * Cluster routing. With clustering on for a connection, every module message
 * sent on it goes to a node of the cluster whose name equals the module name
 * (ignoring letter case). The library keeps, per connection handle, a copy of
 * the server's cluster description; every read below first reloads it.
 *
 * All strings are zero-terminated 8-bit text inside fixed arrays. A cluster
 * is identified by (name, tag), compared without regard to ASCII letter case.
 * @{
 */
/** A cluster of the cluster description (432 bytes on every platform). */
typedef struct ClusterInfo {
    char name[256];   /**< cluster name, matched against module names */
    char tag[16];     /**< second part of the cluster's identity */
    char attr_a[32];  /**< carried and returned, not interpreted */
    char attr_b[128]; /**< carried and returned, not interpreted */
} ClusterInfo;

/** A node of a cluster (344 bytes on every platform). */
typedef struct NodeInfo {
    char server[20];  /**< node address (at most 15 characters reach the login) */
    int32_t port;     /**< node port, 1 to 65534 */
    char user[128];   /**< user name (at most 63 characters reach the login) */
    char pass[64];    /**< password (at most 31 characters reach the login) */
    char attr[128];   /**< carried and returned, not interpreted */
} NodeInfo;

/* The records cross the boundary in arrays: sizes and offsets are fixed on
 * every platform (the records hold no pointers). */
#ifdef __cplusplus
#define ORQEXT_CLUSTER_LAYOUT(tag, cond) static_assert(cond, "record layout: " #tag)
#else
#define ORQEXT_CLUSTER_LAYOUT(tag, cond) typedef char orqext_cluster_layout_##tag[(cond) ? 1 : -1]
#endif
ORQEXT_CLUSTER_LAYOUT(ci_size, sizeof(ClusterInfo) == 432);
ORQEXT_CLUSTER_LAYOUT(ci_name, offsetof(ClusterInfo, name) == 0);
ORQEXT_CLUSTER_LAYOUT(ci_tag, offsetof(ClusterInfo, tag) == 256);
ORQEXT_CLUSTER_LAYOUT(ci_attr_a, offsetof(ClusterInfo, attr_a) == 272);
ORQEXT_CLUSTER_LAYOUT(ci_attr_b, offsetof(ClusterInfo, attr_b) == 304);
ORQEXT_CLUSTER_LAYOUT(ni_size, sizeof(NodeInfo) == 344);
ORQEXT_CLUSTER_LAYOUT(ni_server, offsetof(NodeInfo, server) == 0);
ORQEXT_CLUSTER_LAYOUT(ni_port, offsetof(NodeInfo, port) == 20);
ORQEXT_CLUSTER_LAYOUT(ni_user, offsetof(NodeInfo, user) == 24);
ORQEXT_CLUSTER_LAYOUT(ni_pass, offsetof(NodeInfo, pass) == 152);
ORQEXT_CLUSTER_LAYOUT(ni_attr, offsetof(NodeInfo, attr) == 216);
#undef ORQEXT_CLUSTER_LAYOUT

/**
 * Tells whether clustering is on for a connection.
 *
 * A handle the library has not met before gets a record with the ClusterEnable setting.
 *
 * @param conn connection handle from ORQExt_Connect
 * @return 1 when clustering is on for `conn`, 0 when off (also when no record can be made).
 */
ORQEXT_API uint8_t ORQEXT_CALL ORQExt_IsClusterEnable(int32_t conn);
/**
 * Switches clustering on or off for a connection.
 *
 * On: the cluster description is reloaded and that result returned. Off: no request.
 *
 * @param conn connection handle from ORQExt_Connect
 * @param enable non-zero: on; 0: off
 * @return 0 or the reload's result; -4127 when switching off a handle without a record; -1100
 *     when no record can be made.
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_EnableCluster(int32_t conn, uint8_t enable);
/**
 * Reloads the cluster description of a connection from the server.
 *
 * A malformed description is refused whole: the connection keeps its previous list and -1107 is
 * returned.
 *
 * @param conn connection handle from ORQExt_Connect
 * @return 0, -1107 for a malformed description, or the code of XSRClient or the server.
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_UpdateCluster(int32_t conn);
/**
 * Adds a cluster, or nodes to a cluster, on the server; then reloads.
 *
 * The reload's own result is not reported.
 *
 * @param conn connection handle from ORQExt_Connect
 * @param cluster the cluster: name and tag identify it; attr_a and attr_b are stored
 * @param nodes the nodes to add; null: the cluster alone (its attributes are updated when it
 *     exists)
 * @param node_count number of nodes in `nodes`
 * @return The server's result; -1100, nothing sent: cluster null, an empty name or tag, a
 *     string without its zero byte inside its array, or a node with an empty server or user, a
 *     server over 19 characters or a port outside 1..65534.
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_AddClusterInfo(int32_t conn, const ClusterInfo* cluster,
                                                     const NodeInfo* nodes, int32_t node_count);
/**
 * Deletes a cluster, or nodes of it, on the server; then reloads.
 *
 * @param conn connection handle from ORQExt_Connect
 * @param cluster the cluster's name and tag
 * @param text null or empty: the whole cluster; otherwise names the nodes to delete (xsr-sim:
 *     "server" or "server:port")
 * @return The server's result; -1100, nothing sent: cluster null, an empty name or tag, or one
 *     without its zero byte inside its array.
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_DelClusterInfo(int32_t conn, const ClusterInfo* cluster,
                                                     const char* text);
/**
 * Number of clusters listed for a connection. Reloads the cluster description of `conn` from
 * the server first; a failure of the reload is returned as it is.
 *
 * @param conn connection handle from ORQExt_Connect
 * @return The number of clusters (0 when none), or the reload's negative code.
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_GetClusterCount(int32_t conn);
/**
 * Copies the clusters listed for a connection, in order. Reloads the cluster description of
 * `conn` from the server first; a failure of the reload is returned as it is.
 *
 * @param conn connection handle from ORQExt_Connect
 * @param out room for `*count` records; may be null when `*count` is 0 or less
 * @param count in: the room in records; out: the number copied
 * @return The number copied; -4128 when no list exists for `conn`; -1100, nothing done: count
 *     null, or out null with a positive count.
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_GetClusterInfo(int32_t conn, ClusterInfo* out,
                                                     int32_t* count);
/**
 * Looks a cluster up by name and tag (without regard to letter case). Reloads the cluster
 * description of `conn` from the server first; a failure of the reload is returned as it is.
 *
 * @param conn connection handle from ORQExt_Connect
 * @param cluster in: the name and tag asked for; out: the listed record
 * @return 0; -4128 when none matches; -1100 for a null cluster.
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_GetClusterInfoByName(int32_t conn, ClusterInfo* cluster);
/**
 * Node count of the first cluster with a name and tag. Reloads the cluster description of
 * `conn` from the server first; a failure of the reload is returned as it is.
 *
 * @param conn connection handle from ORQExt_Connect
 * @param cluster the name and tag asked for; null or empty ones match nothing
 * @return The node count, 0 when no cluster matches, or the reload's negative code.
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_GetClusterNodeCount(int32_t conn,
                                                          const ClusterInfo* cluster);
/**
 * Copies the nodes of the first cluster with a name and tag. Reloads the cluster description of
 * `conn` from the server first; a failure of the reload is returned as it is.
 *
 * @param conn connection handle from ORQExt_Connect
 * @param cluster the name and tag asked for; null or empty ones match nothing
 * @param out room for `*count` node records; may be null when `*count` is 0 or less
 * @param count in: the room in records; out: the number copied
 * @return The number copied (0 when none matches), or the reload's negative code; -1100,
 *     nothing done: count null, or out null with a positive count.
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_GetNodeInfo(int32_t conn, const ClusterInfo* cluster,
                                                  NodeInfo* out, int32_t* count);
/** @} */
/* ==== cluster (end) ==== */

/* ==== text analysis (begin) ==== */
/* ------------------------------------------------------------------------
 * Text analysis (modules "KExt_NLPE", "KExt_ARA", "KExt_KWFS")
 *
 * Each call sends one remote call to its module and returns its Result code;
 * the server's own non-negative status words pass through unchanged unless a
 * comment says otherwise. Strings go byte for byte; a null string sends
 * nothing in its place unless a comment says otherwise. Calls that unpack a
 * reply never write past the capacities given and give -1107 for a reply
 * whose lengths are negative or run past the bytes received, leaving their
 * out-parameters as they were.
 * ------------------------------------------------------------------------ */
/** @defgroup orqext_text Text analysis
 * Typed calls into modules "KExt_NLPE", "KExt_ARA" and "KExt_KWFS". Each
 * sends one remote call to its module and returns its Result code; the
 * server's own non-negative status words pass through unchanged. Strings go
 * byte for byte; a null string sends nothing in its place unless the
 * description says otherwise. Calls that unpack a reply never write past the
 * capacities given and give -1107 for a reply whose lengths are negative or
 * run past the bytes received, leaving their out-parameters as they were.
 * @{ */

/* Records that hold pointers follow the pointer width (natural alignment):
 * ORQEXT_BY_POINTER_WIDTH(value with 4-byte pointers, value with 8-byte
 * pointers). Both widths are checked; no other is. The records hold no
 * `long`, so 64-bit Windows (LLP64) and 64-bit Linux (LP64) agree. */
#if UINTPTR_MAX == 0xFFFFFFFFu
#define ORQEXT_BY_POINTER_WIDTH(p32, p64) (p32)
#elif UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
#define ORQEXT_BY_POINTER_WIDTH(p32, p64) (p64)
#endif
#if defined(ORQEXT_BY_POINTER_WIDTH)
#ifdef __cplusplus
#define ORQEXT_TEXT_LAYOUT(tag, cond) static_assert(cond, "record layout: " #tag)
#else
#define ORQEXT_TEXT_LAYOUT(tag, cond) typedef char orqext_text_layout_##tag[(cond) ? 1 : -1]
#endif
#else
#define ORQEXT_TEXT_LAYOUT(tag, cond) struct orqext_text_layout_unchecked_##tag
#endif

/* --- Association-rule analysis ("KExt_ARA") --- */
/**
 * Calls the remote function "ARA_Stat_AssociatedFreq_Begin" of module "KExt_ARA". Routed: with
 * clustering on for `conn` the request goes to a node of the cluster named "KExt_ARA"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param textA text argument, sent byte for byte (null: nothing in its place)
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_ARA".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_ARA_Stat_AssociatedFreq_Begin(int32_t conn,
                                                                    const char* textA);
/**
 * Calls the remote function "ARA_Stat_AssociatedFreq" of module "KExt_ARA". Routed: with
 * clustering on for `conn` the request goes to a node of the cluster named "KExt_ARA"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param textA text argument, sent byte for byte (null: nothing in its place)
 * @param textB text argument, sent byte for byte (null: nothing in its place)
 * @param value integer argument, sent as it is
 * @param flag byte argument, sent as it is
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_ARA".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_ARA_Stat_AssociatedFreq(int32_t conn, const char* textA,
                                                              const char* textB, int32_t value,
                                                              uint8_t flag);
/**
 * Calls the remote function "ARA_Stat_AssociatedFreq_End" of module "KExt_ARA". Routed: with
 * clustering on for `conn` the request goes to a node of the cluster named "KExt_ARA"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_ARA".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_ARA_Stat_AssociatedFreq_End(int32_t conn);
/**
 * Calls the remote function "ARA_MulMergeFile" of module "KExt_ARA". Routed: with clustering on
 * for `conn` the request goes to a node of the cluster named "KExt_ARA" (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param textA text argument, sent byte for byte (null: nothing in its place)
 * @param textB text argument, sent byte for byte (null: nothing in its place)
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_ARA".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_ARA_MulMergeFile(int32_t conn, const char* textA,
                                                       const char* textB);
/**
 * Calls the remote function "ARA_Filtrate" of module "KExt_ARA". Routed: with clustering on for
 * `conn` the request goes to a node of the cluster named "KExt_ARA" (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param textA text argument, sent byte for byte (null: nothing in its place)
 * @param textB text argument, sent byte for byte (null: nothing in its place)
 * @param value integer argument, sent as it is
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_ARA".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_ARA_Filtrate(int32_t conn, const char* textA,
                                                   const char* textB, int32_t value);
/**
 * Calls the remote function "ARA_GetWordSupportRec" of module "KExt_ARA". Routed: with
 * clustering on for `conn` the request goes to a node of the cluster named "KExt_ARA"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param textA text argument, sent byte for byte (null: nothing in its place)
 * @param textB text argument, sent byte for byte (null: nothing in its place)
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_ARA".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_ARA_GetWordSupportRec(int32_t conn, const char* textA,
                                                            const char* textB);

/* --- Keyword frequency statistics ("KExt_KWFS") --- */
/** One item of a keyword frequency request. */
typedef struct KwfsItem {
    const char* text1; /**< first text; null: nothing sent in its place */
    int32_t value;     /**< sent as it is */
    const char* text2; /**< second text; null: sent as an empty string */
} KwfsItem;

/** The options of a keyword frequency request. */
typedef struct KwfsOptions {
    int32_t value;    /**< sent as it is */
    const char* text; /**< null: nothing sent in its place */
} KwfsOptions;

ORQEXT_TEXT_LAYOUT(kwfs_item_size, sizeof(KwfsItem) == ORQEXT_BY_POINTER_WIDTH(12, 24));
ORQEXT_TEXT_LAYOUT(kwfs_item_text1, offsetof(KwfsItem, text1) == 0);
ORQEXT_TEXT_LAYOUT(kwfs_item_value, offsetof(KwfsItem, value) == ORQEXT_BY_POINTER_WIDTH(4, 8));
ORQEXT_TEXT_LAYOUT(kwfs_item_text2, offsetof(KwfsItem, text2) == ORQEXT_BY_POINTER_WIDTH(8, 16));
ORQEXT_TEXT_LAYOUT(kwfs_options_size, sizeof(KwfsOptions) == ORQEXT_BY_POINTER_WIDTH(8, 16));
ORQEXT_TEXT_LAYOUT(kwfs_options_value, offsetof(KwfsOptions, value) == 0);
ORQEXT_TEXT_LAYOUT(kwfs_options_text, offsetof(KwfsOptions, text) == ORQEXT_BY_POINTER_WIDTH(4, 8));

/**
 * Calls the remote function "KWFS_Frequency" of module "KExt_KWFS". Routed: with clustering on
 * for `conn` the request goes to a node of the cluster named "KExt_KWFS" (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param itemList the items; not read when `itemCount` is 0 or less
 * @param itemCount number of items; 0 or less: none sent
 * @param options the options record, not null
 * @param number integer argument, sent as it is
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 for options
 *     null, or itemList null with a positive itemCount; -1203 when clustering is on and no node
 *     serves "KExt_KWFS".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_KWFS_Frequency(int32_t conn, const KwfsItem* itemList,
                                                     int32_t itemCount,
                                                     const KwfsOptions* options, int32_t number);
/**
 * Calls the remote function "KWFS_Associated" of module "KExt_KWFS". Routed: with clustering on
 * for `conn` the request goes to a node of the cluster named "KExt_KWFS" (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param itemList the items; not read when `itemCount` is 0 or less
 * @param itemCount number of items; 0 or less: none sent
 * @param options the options record, not null
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 for options
 *     null, or itemList null with a positive itemCount; -1203 when clustering is on and no node
 *     serves "KExt_KWFS".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_KWFS_Associated(int32_t conn, const KwfsItem* itemList,
                                                      int32_t itemCount,
                                                      const KwfsOptions* options);

/* --- Dictionary and segmentation (engine 0 of "KExt_NLPE") --- */
/**
 * Calls the remote function "NLPE_DictLoad" of module "KExt_NLPE". Routed: with clustering on
 * for `conn` the request goes to a node of the cluster named "KExt_NLPE" (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param text text argument, sent byte for byte (null: nothing in its place)
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_NLPE".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_NLPE_DictLoad(int32_t conn, const char* text);
/**
 * Calls the remote function "NLPE_DictUnload" of module "KExt_NLPE". Routed: with clustering on
 * for `conn` the request goes to a node of the cluster named "KExt_NLPE" (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param value integer argument, sent as it is
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_NLPE".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_NLPE_DictUnload(int32_t conn, int32_t value);
/**
 * Calls the remote function "NLPE_DictImport" of module "KExt_NLPE". Routed: with clustering on
 * for `conn` the request goes to a node of the cluster named "KExt_NLPE" (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param text text argument, sent byte for byte (null: nothing in its place)
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_NLPE".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_NLPE_DictImport(int32_t conn, const char* text);
/**
 * Calls the remote function "NLPE_DictSearch" of module "KExt_NLPE". Routed: with clustering on
 * for `conn` the request goes to a node of the cluster named "KExt_NLPE" (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param text text argument, sent byte for byte (null: nothing in its place)
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_NLPE".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_NLPE_DictSearch(int32_t conn, const char* text);
/**
 * Segments a text into words.
 *
 * Calls the remote function "NLPE_WordSect" of module "KExt_NLPE". Routed: with clustering on
 * for `conn` the request goes to a node of the cluster named "KExt_NLPE" (@ref orqext_routing).
 *
 * With marks, the entries are unpacked from the reply into items and marks, never past
 * `capacity`; a reply whose count or lengths run past the bytes received gives -1107 and leaves
 * both as they were.
 *
 * @param conn connection handle from ORQExt_Connect
 * @param text the text to segment, not null or empty
 * @param items room for `capacity` entries; without marks the reply is received straight into
 *     it (4 x capacity bytes)
 * @param capacity the room in entries, 0 or more (above 0 with marks)
 * @param optA integer argument, sent as it is
 * @param optB integer argument, sent as it is
 * @param marks room for `capacity` marks; null: no marks (the reply then goes into items)
 * @param optC integer argument, sent as it is
 * @param flagA byte argument, sent as it is
 * @param flagB byte argument, sent as it is
 * @return With marks: the number of entries stored, or a negative code; without marks: the
 *     exchange's result (0, -1107 when the reply is longer than 4 x capacity bytes, the
 *     server's status word). Refused before anything is sent: -1100 for text null or empty,
 *     items null, a negative capacity, or capacity 0 with marks; -1203 when clustering is on
 *     and no node serves "KExt_NLPE".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_NLPE_WordSect(int32_t conn, const char* text,
                                                    int32_t* items, int32_t capacity,
                                                    int32_t optA, int32_t optB, int16_t* marks,
                                                    int32_t optC, uint8_t flagA, uint8_t flagB);
/**
 * Calls the remote function "NLPE_DictGetHandle" of module "KExt_NLPE". Routed: with clustering
 * on for `conn` the request goes to a node of the cluster named "KExt_NLPE"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param text text argument, sent byte for byte (null: nothing in its place)
 * @return The server's result: 0, a non-negative status word (a non-negative one is the
 *     handle), or a negative code of the server or XSRClient. Refused before anything is sent
 *     (@ref orqext_refusals): -1100 when no memory for the request can be had; -1203 when
 *     clustering is on and no node serves "KExt_NLPE".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_NLPE_GetHandle(int32_t conn, const char* text);
/**
 * Calls the remote function "NLPE_DictDeleteHandle" of module "KExt_NLPE". Routed: with
 * clustering on for `conn` the request goes to a node of the cluster named "KExt_NLPE"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param handle a handle from ORQExt_NLPE_GetHandle, sent as it is
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_NLPE".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_NLPE_DeleteHandle(int32_t conn, int32_t handle);

/* --- Unlabelled clustering (engine 6) and classifier (engine 3) --- */
/**
 * Calls the remote function "ClassNoLabel_Init" of module "KExt_NLPE". Routed: with clustering
 * on for `conn` the request goes to a node of the cluster named "KExt_NLPE"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param text text argument; null is sent as an empty string
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_NLPE".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_ClassNoLabel_Init(int32_t conn, const char* text);
/**
 * Calls the remote function "ClassNoLabel_GetClass" of module "KExt_NLPE". Routed: with
 * clustering on for `conn` the request goes to a node of the cluster named "KExt_NLPE"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param text the text, not null or empty
 * @param buffer buffer for the reply
 * @param length in: the capacity of `buffer`; out: as for every answer (@ref orqext_lengths):
 *     after 0 the answer's length, after -1107 the whole answer's length (`buffer` holds its
 *     leading part; a capacity of 0 asks for the size), after a failure of XSRClient or the
 *     server the bytes that came with it, unchanged after an early refusal.
 * @return 0 with the reply, -1107 when it does not fit, or the server's or XSRClient's code.
 *     Refused before anything is sent: -1100 for text null or empty, a negative capacity, or a
 *     positive capacity without a buffer; -1203 when clustering is on and no node serves
 *     "KExt_NLPE".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_ClassNoLabel_GetClass(int32_t conn, const char* text,
                                                            void* buffer, int32_t* length);
/**
 * Calls the remote function "ClassNoLabel_Free" of module "KExt_NLPE". Routed: with clustering
 * on for `conn` the request goes to a node of the cluster named "KExt_NLPE"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_NLPE".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_ClassNoLabel_Free(int32_t conn);
/**
 * Calls the remote function "CLA_SetPath" of module "KExt_NLPE". Routed: with clustering on for
 * `conn` the request goes to a node of the cluster named "KExt_NLPE" (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param text text argument, sent byte for byte (null: nothing in its place)
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_NLPE".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_CLA_SetPath(int32_t conn, const char* text);
/**
 * Classifies a text with the classifier.
 *
 * Calls the remote function "CLA_GetClassifyResult" of module "KExt_NLPE". Routed: with
 * clustering on for `conn` the request goes to a node of the cluster named "KExt_NLPE"
 * (@ref orqext_routing).
 *
 * The three values go out with their current contents and come back overwritten; resultA and
 * resultB receive texts cut to their capacity - 1 bytes and a NUL. Any result other than 0
 * leaves every out-parameter as it was.
 *
 * @param conn connection handle from ORQExt_Connect
 * @param mode integer argument, sent as it is
 * @param fields seven strings, sent byte for byte
 * @param resultA receives the first result text, NUL-terminated
 * @param resultALen in: the capacity of resultA, at least 1; out: the bytes stored without the
 *     NUL
 * @param resultB receives the second result text, NUL-terminated
 * @param resultBLen in: the capacity of resultB, at least 1; out: the bytes stored without the
 *     NUL
 * @param valueC in: sent; out: the server's value
 * @param valueB in: sent; out: the server's value
 * @param valueA in: sent; out: the server's value
 * @param extra integer argument, sent as it is
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 for fields,
 *     resultA, resultB or any pointer to a length or value null, or a capacity below 1; -1203
 *     when clustering is on and no node serves "KExt_NLPE". A reply whose lengths run past the
 *     bytes received gives -1107.
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_CLA_GetClassifyResult(
    int32_t conn, int32_t mode, const char* const* fields, char* resultA, int32_t* resultALen,
    char* resultB, int32_t* resultBLen, int32_t* valueC, uint8_t* valueB, int32_t* valueA,
    int32_t extra);
/**
 * Calls the remote function "CLA_FreeDict" of module "KExt_NLPE". Routed: with clustering on
 * for `conn` the request goes to a node of the cluster named "KExt_NLPE" (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_NLPE".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_CLA_FreeDict(int32_t conn);

/* --- Text classification: EZTC (engine 2) and BSM (engine 7) --- */
/** The six texts of an EZTC classification; each null one is sent as an empty string. */
typedef struct EztcTextFields {
    const char* text1; /**< first text */
    const char* text2; /**< second text */
    const char* text3; /**< third text */
    const char* text4; /**< fourth text */
    const char* text5; /**< fifth text */
    const char* text6; /**< sixth text */
} EztcTextFields;

/** The eight texts of a BSM classification; each null one is sent as an empty string. */
typedef struct BsmTextFields {
    const char* text1; /**< first text */
    const char* text2; /**< second text */
    const char* text3; /**< third text */
    const char* text4; /**< fourth text */
    const char* text5; /**< fifth text */
    const char* text6; /**< sixth text */
    const char* text7; /**< seventh text */
    const char* text8; /**< eighth text */
} BsmTextFields;

ORQEXT_TEXT_LAYOUT(eztc_fields_size, sizeof(EztcTextFields) == ORQEXT_BY_POINTER_WIDTH(24, 48));
ORQEXT_TEXT_LAYOUT(eztc_fields_text6, offsetof(EztcTextFields, text6) == ORQEXT_BY_POINTER_WIDTH(20, 40));
ORQEXT_TEXT_LAYOUT(bsm_fields_size, sizeof(BsmTextFields) == ORQEXT_BY_POINTER_WIDTH(32, 64));
ORQEXT_TEXT_LAYOUT(bsm_fields_text8, offsetof(BsmTextFields, text8) == ORQEXT_BY_POINTER_WIDTH(28, 56));

/**
 * Calls the remote function "EZTC_SetPath" of module "KExt_NLPE". Routed: with clustering on
 * for `conn` the request goes to a node of the cluster named "KExt_NLPE" (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_NLPE".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_EZTC_SetPath(int32_t conn);
/**
 * Classifies a text with the EZTC engine.
 *
 * Calls the remote function "EZTC_GetTxtClassify" of module "KExt_NLPE". Routed: with
 * clustering on for `conn` the request goes to a node of the cluster named "KExt_NLPE"
 * (@ref orqext_routing).
 *
 * The answer text (no terminator) goes into buffer, cut to the capacity.
 *
 * @param conn connection handle from ORQExt_Connect
 * @param value1 integer argument, sent as it is
 * @param value2 integer argument, sent as it is
 * @param fields six strings; each null one is sent as an empty string
 * @param value3 integer argument, sent as it is
 * @param buffer receives the answer text
 * @param length in: the capacity of buffer, 0 or more; out after 0: the bytes stored (a longer
 *     answer is cut)
 * @param flag byte argument, sent as it is
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 for fields,
 *     buffer or length null, or a negative capacity; -1203 when clustering is on and no node
 *     serves "KExt_NLPE". A reply whose lengths run past the bytes received gives -1107,
 *     out-parameters unchanged.
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_EZTC_GetTxtClassify(int32_t conn, int32_t value1,
                                                          int32_t value2,
                                                          const EztcTextFields* fields,
                                                          int32_t value3, char* buffer,
                                                          int32_t* length, uint8_t flag);
/**
 * Calls the remote function "EZTC_FreeDict" of module "KExt_NLPE". Routed: with clustering on
 * for `conn` the request goes to a node of the cluster named "KExt_NLPE" (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_NLPE".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_EZTC_FreeDict(int32_t conn);
/**
 * Calls the remote function "BSM_Word_Init" of module "KExt_NLPE". Routed: with clustering on
 * for `conn` the request goes to a node of the cluster named "KExt_NLPE" (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_NLPE".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_BSM_Word_Init(int32_t conn);
/**
 * Classifies a text with the BSM engine.
 *
 * Calls the remote function "BSM_GetTxtClassify" of module "KExt_NLPE". Routed: with clustering
 * on for `conn` the request goes to a node of the cluster named "KExt_NLPE"
 * (@ref orqext_routing).
 *
 * Two answers (no terminators) go into buffer1 and buffer2 with their lengths; `*flag` becomes
 * 1 or 0. An answer longer than its capacity is cut to it, its length receives the answer's
 * full length and the call returns -1107 (everything else is still delivered).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param value1 integer argument, sent as it is
 * @param value2 integer argument, sent as it is
 * @param fields eight strings; each null one is sent as an empty string
 * @param buffer1 receives the first answer
 * @param length1 in: the capacity of buffer1, 0 or more; out: the bytes stored, or after -1107
 *     the first answer's full length
 * @param buffer2 receives the second answer; may be null when its capacity is 0 or less
 * @param length2 in: the capacity of buffer2; out: as length1
 * @param flag receives 1 or 0
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 for fields,
 *     buffer1, a length pointer or flag null, a negative capacity, or buffer2 null with a
 *     positive capacity 2; -1203 when clustering is on and no node serves "KExt_NLPE".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_BSM_GetClassifyResult(
    int32_t conn, int32_t value1, int32_t value2, const BsmTextFields* fields, char* buffer1,
    int32_t* length1, char* buffer2, int32_t* length2, uint8_t* flag);
/**
 * Calls the remote function "BSM_FreeDict" of module "KExt_NLPE". Routed: with clustering on
 * for `conn` the request goes to a node of the cluster named "KExt_NLPE" (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_NLPE".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_BSM_FreeDict(int32_t conn);

/* --- Association dictionaries (engine 1 of "KExt_NLPE") --- */
/**
 * Calls the remote function "AR_Initial" of module "KExt_NLPE". Routed: with clustering on for
 * `conn` the request goes to a node of the cluster named "KExt_NLPE" (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_NLPE".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_AR_Initial(int32_t conn);
/**
 * Calls the remote function "AR_Dict_Create" of module "KExt_NLPE". Routed: with clustering on
 * for `conn` the request goes to a node of the cluster named "KExt_NLPE" (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param textA text argument, sent byte for byte (null: nothing in its place)
 * @param textB text argument, sent byte for byte (null: nothing in its place)
 * @param textC text argument, sent byte for byte (null: nothing in its place)
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_NLPE".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_AR_Dict_Create(int32_t conn, const char* textA,
                                                     const char* textB, const char* textC);
/**
 * Calls the remote function "AR_Dict_Delete" of module "KExt_NLPE". Routed: with clustering on
 * for `conn` the request goes to a node of the cluster named "KExt_NLPE" (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param text text argument, sent byte for byte (null: nothing in its place)
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_NLPE".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_AR_Dict_Delete(int32_t conn, const char* text);
/**
 * Lists the association dictionaries.
 *
 * Calls the remote function "AR_Get_AllDictName" of module "KExt_NLPE". Routed: with clustering
 * on for `conn` the request goes to a node of the cluster named "KExt_NLPE"
 * (@ref orqext_routing).
 *
 * The names go into buffer without a terminator; a list longer than the capacity is cut to it
 * (result 0).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param buffer receives the list
 * @param length in: the capacity of buffer, above 0 (also sent to the server); out after 0: the
 *     bytes stored
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 for buffer or
 *     length null, or a capacity of 0 or less; -1203 when clustering is on and no node serves
 *     "KExt_NLPE".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_AR_GetAllDictName(int32_t conn, char* buffer,
                                                        int32_t* length);
/**
 * Calls the remote function "AR_Is_DictExist" of module "KExt_NLPE". Routed: with clustering on
 * for `conn` the request goes to a node of the cluster named "KExt_NLPE" (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param text text argument, sent byte for byte (null: nothing in its place)
 * @return The server's result: 0, a non-negative status word (the status word is the answer),
 *     or a negative code of the server or XSRClient. Refused before anything is sent
 *     (@ref orqext_refusals): -1100 when no memory for the request can be had; -1203 when
 *     clustering is on and no node serves "KExt_NLPE".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_AR_IsDictExist(int32_t conn, const char* text);
/**
 * Searches the association dictionaries.
 *
 * Calls the remote function "AR_Search" of module "KExt_NLPE". Routed: with clustering on for
 * `conn` the request goes to a node of the cluster named "KExt_NLPE" (@ref orqext_routing).
 *
 * Result A goes into bufferA; result B into bufferB only when `*lengthB` is above 0 (otherwise
 * bufferB and `*lengthB` are left alone). A result longer than its capacity leaves its leading
 * bytes, its full length in the length variable and -1107.
 *
 * @param conn connection handle from ORQExt_Connect
 * @param text the text to search for, not null or empty
 * @param bufferA receives result A
 * @param lengthA in: the capacity of bufferA, above 0; out: the bytes stored, or after -1107
 *     the full length
 * @param bufferB receives result B; may be null when its capacity is 0 or less
 * @param lengthB in: the capacity of bufferB; out: as lengthA when above 0 on entry
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 for text null
 *     or empty, bufferA, lengthA or lengthB null, capacity A of 0 or less, or bufferB null with
 *     capacity B above 0; -1203 when clustering is on and no node serves "KExt_NLPE".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_AR_Search(int32_t conn, const char* text, char* bufferA,
                                                int32_t* lengthA, char* bufferB,
                                                int32_t* lengthB);
/**
 * Calls the remote function "AR_Dict_Load" of module "KExt_NLPE". Routed: with clustering on
 * for `conn` the request goes to a node of the cluster named "KExt_NLPE" (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param text the dictionary's name, not null or empty
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 for text null
 *     or empty; -1203 when clustering is on and no node serves "KExt_NLPE".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_AR_Dict_Load(int32_t conn, const char* text);
/**
 * Calls the remote function "AR_Dict_Unload" of module "KExt_NLPE". Routed: with clustering on
 * for `conn` the request goes to a node of the cluster named "KExt_NLPE" (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param text text argument, sent byte for byte (null: nothing in its place)
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_NLPE".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_AR_Dict_Unload(int32_t conn, const char* text);
/**
 * Calls the remote function "AR_Dict_Import" of module "KExt_NLPE". Routed: with clustering on
 * for `conn` the request goes to a node of the cluster named "KExt_NLPE" (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param text text argument, sent byte for byte (null: nothing in its place)
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_NLPE".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_AR_Dict_Import(int32_t conn, const char* text);
/**
 * Lists the loaded association dictionaries.
 *
 * Calls the remote function "AR_Get_AllDictNameLoaded" of module "KExt_NLPE". Routed: with
 * clustering on for `conn` the request goes to a node of the cluster named "KExt_NLPE"
 * (@ref orqext_routing).
 *
 * The names go into buffer without a terminator. A capacity of 0 is accepted. A list longer
 * than the capacity leaves its leading bytes, its full length in `*length` and -1107.
 *
 * @param conn connection handle from ORQExt_Connect
 * @param buffer receives the list
 * @param length in: the capacity of buffer, 0 or more (also sent to the server); out: the bytes
 *     stored, or after -1107 the full length
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 for buffer or
 *     length null, or a negative capacity; -1203 when clustering is on and no node serves
 *     "KExt_NLPE".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_AR_GetAllDictNameLoaded(int32_t conn, char* buffer,
                                                              int32_t* length);
/**
 * The category names of the association dictionaries.
 *
 * Calls the remote function "AR_Get_InforName" of module "KExt_NLPE". Routed: with clustering
 * on for `conn` the request goes to a node of the cluster named "KExt_NLPE"
 * (@ref orqext_routing).
 *
 * The names go into buffer without a terminator. A capacity of 0 is accepted. A list longer
 * than the capacity leaves its leading bytes, its full length in `*length` and -1107.
 *
 * @param conn connection handle from ORQExt_Connect
 * @param buffer receives the names
 * @param length in: the capacity of buffer, 0 or more (also sent to the server); out: the bytes
 *     stored, or after -1107 the full length
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 for buffer or
 *     length null, or a negative capacity; -1203 when clustering is on and no node serves
 *     "KExt_NLPE".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_AR_GetCategoryName(int32_t conn, char* buffer,
                                                         int32_t* length);

/* --- Aptitude search (engine 5) and word extraction (engine 4) --- */
/** Size in bytes of one extracted entry; its layout is the server's. */
#define ORQEXT_EXTRACT_ENTRY_SIZE 528

/**
 * Aptitude search.
 *
 * Calls the remote function "Aptitude_Search" of module "KExt_NLPE". Routed: with clustering on
 * for `conn` the request goes to a node of the cluster named "KExt_NLPE" (@ref orqext_routing).
 *
 * The found text goes into buffer without a terminator. A text longer than the capacity leaves
 * its leading bytes, its full length in `*length` and -1107; a -1107 from the server that
 * carries only the text's length stores that length and leaves buffer alone.
 *
 * @param conn connection handle from ORQExt_Connect
 * @param text the text, not null (an empty one is sent)
 * @param buffer receives the found text
 * @param length in: the capacity of buffer, 0 or more; out: the bytes stored, or after -1107
 *     the full length
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 for text,
 *     buffer or length null, or a negative capacity; -1203 when clustering is on and no node
 *     serves "KExt_NLPE".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_Aptitude_Search(int32_t conn, const char* text,
                                                      char* buffer, int32_t* length);
/**
 * Calls the remote function "Aptitude_Init" of module "KExt_NLPE". Routed: with clustering on
 * for `conn` the request goes to a node of the cluster named "KExt_NLPE" (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_NLPE".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_Aptitude_Init(int32_t conn);
/**
 * Calls the remote function "Aptitude_UnInit" of module "KExt_NLPE". Routed: with clustering on
 * for `conn` the request goes to a node of the cluster named "KExt_NLPE" (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_NLPE".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_Aptitude_UnInit(int32_t conn);
/**
 * Segments a text into words, as ORQExt_NLPE_WordSect with a single option byte.
 *
 * Calls the remote function "Aptitude_WordSect" of module "KExt_NLPE". Routed: with clustering
 * on for `conn` the request goes to a node of the cluster named "KExt_NLPE"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param text the text to segment, not null or empty
 * @param items room for `capacity` entries; without marks the reply is received straight into
 *     it (4 x capacity bytes)
 * @param capacity the room in entries, 0 or more (above 0 with marks)
 * @param optA integer argument, sent as it is
 * @param optB integer argument, sent as it is
 * @param marks room for `capacity` marks; null: no marks (the reply then goes into items)
 * @param optC integer argument, sent as it is
 * @param flagA byte argument, sent as it is
 * @return As ORQExt_NLPE_WordSect.
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_Aptitude_WordSect(int32_t conn, const char* text,
                                                        int32_t* items, int32_t capacity,
                                                        int32_t optA, int32_t optB,
                                                        int16_t* marks, int32_t optC,
                                                        uint8_t flagA);
/**
 * Calls the remote function "Extract_Word_Initial" of module "KExt_NLPE". Routed: with
 * clustering on for `conn` the request goes to a node of the cluster named "KExt_NLPE"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param mode 1 or 2
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 for a mode
 *     other than 1 and 2; -1203 when clustering is on and no node serves "KExt_NLPE".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_ExtractWord_Initial(int32_t conn, int32_t mode);
/**
 * Extracts words from six fields.
 *
 * Calls the remote function "Extract_Word_Direct" of module "KExt_NLPE". Routed: with
 * clustering on for `conn` the request goes to a node of the cluster named "KExt_NLPE"
 * (@ref orqext_routing).
 *
 * The entry count is read from the first four bytes of the reply area. More entries than the
 * capacity deliver the first `*count` ones and -1107.
 *
 * @param conn connection handle from ORQExt_Connect
 * @param fields six strings (a null one sends nothing in its place)
 * @param entries room for `*count` entries of ORQEXT_EXTRACT_ENTRY_SIZE bytes
 * @param count in: the capacity in entries, above 0; out: the entries stored
 * @param mode 1 or 2 (other values are refused)
 * @param flag byte argument, sent as it is
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 for fields,
 *     entries or count null, a capacity of 0 or less, or a mode other than 1 and 2; -1203 when
 *     clustering is on and no node serves "KExt_NLPE".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_ExtractWord_Direct(int32_t conn, const char* const* fields,
                                                         void* entries, int32_t* count,
                                                         int32_t mode, uint8_t flag);
/**
 * Extracts words from six fields.
 *
 * Calls the remote function "Extract_Word_DirectNormal" of module "KExt_NLPE". Routed: with
 * clustering on for `conn` the request goes to a node of the cluster named "KExt_NLPE"
 * (@ref orqext_routing).
 *
 * The entry count is read from the first four bytes of the reply area. More entries than the
 * capacity deliver the first `*count` ones and -1107.
 *
 * @param conn connection handle from ORQExt_Connect
 * @param fields six strings (a null one sends nothing in its place)
 * @param entries room for `*count` entries of ORQEXT_EXTRACT_ENTRY_SIZE bytes
 * @param count in: the capacity in entries, above 0; out: the entries stored
 * @param mode 1 or 2, sent as it is
 * @param flag byte argument, sent as it is
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 for fields,
 *     entries or count null, a capacity of 0 or less; -1203 when clustering is on and no node
 *     serves "KExt_NLPE".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_ExtractWord_DirectNormal(int32_t conn,
                                                               const char* const* fields,
                                                               void* entries, int32_t* count,
                                                               int32_t mode, uint8_t flag);
/**
 * Calls the remote function "Extract_Word_FreeDict" of module "KExt_NLPE". Routed: with
 * clustering on for `conn` the request goes to a node of the cluster named "KExt_NLPE"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_NLPE".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_ExtractWord_FreeDict(int32_t conn);

/* --- Topic lists and exports (engine 8 of "KExt_NLPE") --- */
/**
 * Lists topics.
 *
 * Calls the remote function "TOP_List" of module "KExt_NLPE". Routed: with clustering on for
 * `conn` the request goes to a node of the cluster named "KExt_NLPE" (@ref orqext_routing).
 *
 * The list goes into buffer, at most `capacity` bytes; its length is not reported. A buffer
 * with a capacity of 0 or more takes the reply like any answer buffer (@ref orqext_lengths):
 * a list longer than the capacity, also at capacity 0, gives -1107 with its leading bytes.
 * Without a buffer or with a negative capacity the reply is dropped.
 *
 * @param conn connection handle from ORQExt_Connect
 * @param buffer receives the list; null: the reply is dropped
 * @param capacity the capacity of buffer, also sent to the server
 * @param value integer argument, sent as it is
 * @return The server's result: 0, a non-negative status word, -1107 when the list does not fit,
 *     or a negative code of the server or XSRClient. Refused before anything is sent (@ref
 *     orqext_refusals): -1100 only when no memory for the request can be had (no argument is
 *     refused); -1203 when clustering is on and no node serves "KExt_NLPE".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_TOP_List(int32_t conn, char* buffer, int32_t capacity,
                                               int32_t value);
/**
 * Calls the remote function "TOP_Init" of module "KExt_NLPE". Routed: with clustering on for
 * `conn` the request goes to a node of the cluster named "KExt_NLPE" (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param text text argument, sent byte for byte (null: nothing in its place)
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_NLPE".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_TOP_Init(int32_t conn, const char* text);
/**
 * Fetches one topic item.
 *
 * Calls the remote function "TOP_GetItem" of module "KExt_NLPE". Routed: with clustering on for
 * `conn` the request goes to a node of the cluster named "KExt_NLPE" (@ref orqext_routing).
 *
 * A negative capacity is sent as it is and the reply is dropped (buffer and `*length` left
 * alone).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param text1 first text, not null or empty
 * @param text2 second text, not null or empty
 * @param buffer receives the item
 * @param length in: the capacity of `buffer`; out: as for every answer (@ref orqext_lengths):
 *     after 0 the answer's length, after -1107 the whole answer's length (`buffer` holds its
 *     leading part; a capacity of 0 asks for the size), after a failure of XSRClient or the
 *     server the bytes that came with it, unchanged after an early refusal.
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 for text1 or
 *     text2 null or empty, length null, a capacity of 0, or buffer null with a positive
 *     capacity; -1203 when clustering is on and no node serves "KExt_NLPE".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_TOP_GetItem(int32_t conn, const char* text1,
                                                  const char* text2, char* buffer,
                                                  int32_t* length);
/**
 * Calls the remote function "TOP_UnInit" of module "KExt_NLPE". Routed: with clustering on for
 * `conn` the request goes to a node of the cluster named "KExt_NLPE" (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param text text argument, sent byte for byte (null: nothing in its place)
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_NLPE".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_TOP_UnInit(int32_t conn, const char* text);
/**
 * Calls the remote function "ExportSqlToFile" of module "KExt_NLPE". Routed: with clustering on
 * for `conn` the request goes to a node of the cluster named "KExt_NLPE" (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param text1 first text, not null
 * @param text2 second text, not null
 * @param value integer argument, not 0
 * @param text3 third text, not null
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 for text1,
 *     text2 or text3 null, or value 0; -1203 when clustering is on and no node serves
 *     "KExt_NLPE".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_ExportSqlToFile(int32_t conn, const char* text1,
                                                      const char* text2, int32_t value,
                                                      const char* text3);
/**
 * Calls the remote function "MakeTopDict" of module "KExt_NLPE". Routed: with clustering on for
 * `conn` the request goes to a node of the cluster named "KExt_NLPE" (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param text1 first text, not null (empty is sent)
 * @param text2 second text, not null (empty is sent)
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 for text1 or
 *     text2 null; -1203 when clustering is on and no node serves "KExt_NLPE".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_MakeTopDict(int32_t conn, const char* text1,
                                                  const char* text2);

#undef ORQEXT_TEXT_LAYOUT
/** @} */
/* ==== text analysis (end) ==== */

/* ==== semantic text mining (begin) ==== */
/* ------------------------------------------------------------------------
 * Semantic text mining (module "KExt_STM")
 *
 * Every call sends one remote call to the module and returns its Result
 * code; the server's own non-negative status words pass through unchanged.
 * Handles of domains and analysers are the server's: they are forwarded as
 * plain int32 values and never checked here. Calls with an out buffer take a
 * pointer to an int32 length: capacity on entry (sent to the server as well),
 * bytes received on return. -1100: an argument listed below is unusable;
 * nothing is sent then.
 * ------------------------------------------------------------------------ */
/** @defgroup orqext_stm Semantic text mining
 * Typed calls into module "KExt_STM". Every call sends one remote call and
 * returns its Result code; the server's own non-negative status words pass
 * through unchanged. Handles of domains and analysers are the server's: they
 * are forwarded as plain int32 values and never checked here.
 * @{ */

/** One input text. */
typedef struct StmTextItem {
    int32_t id;       /**< the caller's id of the text, sent as it is */
    int32_t length;   /**< above 0: exactly this many bytes of text are sent (they may contain
                           NULs); 0 or less: text is sent up to its first NUL */
    const char* text; /**< the text; must not be null */
} StmTextItem;

/** An option pair of the keyword and abstract extractors. */
typedef struct StmOptionPair {
    int32_t value; /**< sent as it is */
    uint8_t flag;  /**< sent as it is */
} StmOptionPair;

/** The options of the text classifier. */
typedef struct StmClassifierOptions {
    int32_t value1; /**< sent as it is */
    int32_t value2; /**< sent as it is */
    uint8_t flag;   /**< sent as it is */
} StmClassifierOptions;

/** Size of StmClusterShutdownArgs.name, NUL included. */
#define ORQEXT_STM_CLUSTER_NAME_SIZE 256

/** The arguments of ORQExt_STM_TextCluster_ShutDown. */
typedef struct StmClusterShutdownArgs {
    int32_t value1; /**< sent as it is */
    int32_t value2; /**< sent as it is */
    int32_t value3; /**< sent as it is */
    int32_t value4; /**< sent as it is */
    char name[ORQEXT_STM_CLUSTER_NAME_SIZE]; /**< not empty, NUL-terminated inside the array */
} StmClusterShutdownArgs;

/** The options of the VSM model generator. */
typedef struct StmVsmOptions {
    uint8_t flag;   /**< sent as it is */
    int32_t value1; /**< sent as it is */
    int32_t value2; /**< sent as it is */
} StmVsmOptions;

/* Layout checks (natural alignment): the sizes fix every offset. The
 * pointer-free records are alike on every platform; StmTextItem is twelve
 * bytes with 4-byte pointers and sixteen with 8-byte ones (text at offset 8
 * on both). */
#if defined(__cplusplus)
#define ORQEXT_STM_LAYOUT(name, cond) static_assert(cond, #name)
#else
#define ORQEXT_STM_LAYOUT(name, cond) typedef char orqext_stm_layout_##name[(cond) ? 1 : -1]
#endif
ORQEXT_STM_LAYOUT(option_pair_size, sizeof(StmOptionPair) == 8);
ORQEXT_STM_LAYOUT(classifier_options_size, sizeof(StmClassifierOptions) == 12);
ORQEXT_STM_LAYOUT(vsm_options_size, sizeof(StmVsmOptions) == 12);
ORQEXT_STM_LAYOUT(cluster_args_size,
                  sizeof(StmClusterShutdownArgs) == 16 + ORQEXT_STM_CLUSTER_NAME_SIZE);
#if defined(ORQEXT_BY_POINTER_WIDTH)
ORQEXT_STM_LAYOUT(text_item_size, sizeof(StmTextItem) == ORQEXT_BY_POINTER_WIDTH(12, 16));
ORQEXT_STM_LAYOUT(text_item_text, offsetof(StmTextItem, text) == 8);
#endif
#undef ORQEXT_STM_LAYOUT
#undef ORQEXT_BY_POINTER_WIDTH

/**
 * Calls the remote function "STM_Initialize" of module "KExt_STM". Routed: with clustering on
 * for `conn` the request goes to a node of the cluster named "KExt_STM" (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_STM".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_Initialize(int32_t conn);
/**
 * Calls the remote function "STM_ShutDown" of module "KExt_STM". Routed: with clustering on for
 * `conn` the request goes to a node of the cluster named "KExt_STM" (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_STM".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_ShutDown(int32_t conn);
/**
 * Calls the remote function "STM_Is_Initialized" of module "KExt_STM". Routed: with clustering
 * on for `conn` the request goes to a node of the cluster named "KExt_STM"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @return The server's result: 0, a non-negative status word (passed on unchanged: it is the
 *     answer), or a negative code of the server or XSRClient. Refused before anything is sent
 *     (@ref orqext_refusals): -1100 when no memory for the request can be had; -1203 when
 *     clustering is on and no node serves "KExt_STM".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_IsInitialized(int32_t conn);
/**
 * Calls the remote function "STM_Create_Knowledge_Domain" of module "KExt_STM". Routed: with
 * clustering on for `conn` the request goes to a node of the cluster named "KExt_STM"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param name the domain's name, not null
 * @param text2 text argument; null is sent as an empty string
 * @param text3 text argument; null is sent as an empty string
 * @param text4 text argument; null is sent as an empty string
 * @param value integer argument, sent as it is
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 for name
 *     null; -1203 when clustering is on and no node serves "KExt_STM".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_CreateDomain(int32_t conn, const char* name,
                                                       const char* text2, const char* text3,
                                                       const char* text4, int32_t value);
/**
 * Calls the remote function "STM_Delete_Knowledge_Domain" of module "KExt_STM". Routed: with
 * clustering on for `conn` the request goes to a node of the cluster named "KExt_STM"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param name the domain's name, not null (an empty one is sent)
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 for name
 *     null; -1203 when clustering is on and no node serves "KExt_STM".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_DeleteDomain(int32_t conn, const char* name);
/**
 * Calls the remote function "STM_List_Knowledge_Domain" of module "KExt_STM". Routed: with
 * clustering on for `conn` the request goes to a node of the cluster named "KExt_STM"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param buffer buffer for the list
 * @param length in: the capacity of `buffer`; out: as for every answer (@ref orqext_lengths):
 *     after 0 the answer's length, after -1107 the whole answer's length (`buffer` holds its
 *     leading part; a capacity of 0 asks for the size), after a failure of XSRClient or the
 *     server the bytes that came with it, unchanged after an early refusal. The capacity is
 *     also sent to the server.
 * @param mode 0 or 1 (xsr-sim: 1 lists the open domains only); other values are sent as 0
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 for buffer or
 *     length null, or a capacity of 0 or less; -1203 when clustering is on and no node serves
 *     "KExt_STM".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_GetDomainNameList(int32_t conn, void* buffer,
                                                            int32_t* length, int32_t mode);
/**
 * Calls the remote function "STM_Open_Knowledge_Domain" of module "KExt_STM". Routed: with
 * clustering on for `conn` the request goes to a node of the cluster named "KExt_STM"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param name the domain's name, not null or empty
 * @return The server's result: 0, a non-negative status word (the domain handle), or a negative
 *     code of the server or XSRClient. Refused before anything is sent (@ref orqext_refusals):
 *     -1100 for name null or empty; -1203 when clustering is on and no node serves "KExt_STM".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_OpenDomain(int32_t conn, const char* name);
/**
 * Calls the remote function "STM_Close_Knowledge_Domain" of module "KExt_STM". Routed: with
 * clustering on for `conn` the request goes to a node of the cluster named "KExt_STM"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param name the domain's name, not null or empty
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 for name null
 *     or empty; -1203 when clustering is on and no node serves "KExt_STM".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_CloseDomain(int32_t conn, const char* name);
/**
 * Calls the remote function "STM_Get_Knowledge_Domain_Name" of module "KExt_STM". Routed: with
 * clustering on for `conn` the request goes to a node of the cluster named "KExt_STM"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param handle the server's handle of the domain or analyser, sent as it is (never checked
 *     here)
 * @param buffer buffer for the name
 * @param length in: the capacity of `buffer`; out: as for every answer (@ref orqext_lengths):
 *     after 0 the answer's length, after -1107 the whole answer's length (`buffer` holds its
 *     leading part; a capacity of 0 asks for the size), after a failure of XSRClient or the
 *     server the bytes that came with it, unchanged after an early refusal. The capacity is
 *     also sent to the server.
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 for buffer or
 *     length null, or a capacity of 0 or less; -1203 when clustering is on and no node serves
 *     "KExt_STM".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_GetDomainName(int32_t conn, int32_t handle,
                                                        void* buffer, int32_t* length);
/**
 * Calls the remote function "STM_Get_Knowledge_Domain_Handle" of module "KExt_STM". Routed:
 * with clustering on for `conn` the request goes to a node of the cluster named "KExt_STM"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param name the domain's name, not null or empty
 * @return The server's result: 0, a non-negative status word (a non-negative one is the domain
 *     handle), or a negative code of the server or XSRClient. Refused before anything is sent
 *     (@ref orqext_refusals): -1100 for name null or empty; -1203 when clustering is on and no
 *     node serves "KExt_STM".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_GetDomainHandle(int32_t conn, const char* name);

/**
 * Calls the remote function "STM_TextClassifier_Initialize" of module "KExt_STM". Routed: with
 * clustering on for `conn` the request goes to a node of the cluster named "KExt_STM"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param handle the server's handle of the domain or analyser, sent as it is (never checked
 *     here)
 * @param value integer argument, 0 or more
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 for a
 *     negative value; -1203 when clustering is on and no node serves "KExt_STM".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_TextClassifier_Init(int32_t conn, int32_t handle,
                                                              int32_t value);
/**
 * Calls the remote function "STM_TextClassifier_ShutDown" of module "KExt_STM". Routed: with
 * clustering on for `conn` the request goes to a node of the cluster named "KExt_STM"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param handle the server's handle of the domain or analyser, sent as it is (never checked
 *     here)
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_STM".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_TextClassifier_ShutDown(int32_t conn, int32_t handle);
/**
 * Calls the remote function "STM_TextClassifier_Do" of module "KExt_STM". Routed: with
 * clustering on for `conn` the request goes to a node of the cluster named "KExt_STM"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param handle the server's handle of the domain or analyser, sent as it is (never checked
 *     here)
 * @param out buffer for the reply
 * @param length in: the capacity of `out`; out: as for every answer (@ref orqext_lengths):
 *     after 0 the answer's length, after -1107 the whole answer's length (`out` holds its
 *     leading part; a capacity of 0 asks for the size), after a failure of XSRClient or the
 *     server the bytes that came with it, unchanged after an early refusal. The capacity is
 *     also sent to the server.
 * @param items the input texts (StmTextItem)
 * @param count number of items, 0 or more (0 is sent)
 * @param options the classifier options, not null
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 for items,
 *     options, out or length null, a negative count or capacity; -1203 when clustering is on
 *     and no node serves "KExt_STM".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_TextClassifier_Do(int32_t conn, int32_t handle,
                                                            void* out, int32_t* length,
                                                            const StmTextItem* items,
                                                            int32_t count,
                                                            const StmClassifierOptions* options);

/**
 * Calls the remote function "STM_InfoFilter_Initialize" of module "KExt_STM". Routed: with
 * clustering on for `conn` the request goes to a node of the cluster named "KExt_STM"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param handle the server's handle of the domain or analyser, sent as it is (never checked
 *     here)
 * @param text text argument, not null or empty
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 for a null or
 *     empty text; -1203 when clustering is on and no node serves "KExt_STM".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_InfoFilter_Init(int32_t conn, int32_t handle,
                                                          const char* text);
/**
 * Calls the remote function "STM_InfoFilter_ShutDown" of module "KExt_STM". Routed: with
 * clustering on for `conn` the request goes to a node of the cluster named "KExt_STM"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param handle the server's handle of the domain or analyser, sent as it is (never checked
 *     here)
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_STM".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_InfoFilter_ShutDown(int32_t conn, int32_t handle);
/**
 * Calls the remote function "STM_InfoFilter_Do" of module "KExt_STM". Routed: with clustering
 * on for `conn` the request goes to a node of the cluster named "KExt_STM"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param handle the server's handle of the domain or analyser, sent as it is (never checked
 *     here)
 * @param items the input texts (StmTextItem)
 * @param count number of items, at least 1
 * @return The number the server answers as decimal text (saturated to the int32 range), or a
 *     negative code of the server or XSRClient. Refused before anything is sent: -1100 for null
 *     items or a count below 1; -1203 when clustering is on and no node serves "KExt_STM".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_InfoFilter_Do(int32_t conn, int32_t handle,
                                                        const StmTextItem* items, int32_t count);

/**
 * Calls the remote function "STM_TextCluster_Initialize" of module "KExt_STM". Routed: with
 * clustering on for `conn` the request goes to a node of the cluster named "KExt_STM"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param handle the server's handle of the domain or analyser, sent as it is (never checked
 *     here)
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_STM".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_TextCluster_Init(int32_t conn, int32_t handle);
/**
 * Calls the remote function "STM_TextCluster_ShutDown" of module "KExt_STM". Routed: with
 * clustering on for `conn` the request goes to a node of the cluster named "KExt_STM"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param handle the server's handle of the domain or analyser, sent as it is (never checked
 *     here)
 * @param args the shut-down arguments; name NUL-terminated inside its array and not empty
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 for null
 *     args, or a name that is empty or has no NUL inside its array; -1203 when clustering is on
 *     and no node serves "KExt_STM".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_TextCluster_ShutDown(int32_t conn, int32_t handle,
                                                               const StmClusterShutdownArgs* args);
/**
 * Calls the remote function "STM_TextCluster_Do" of module "KExt_STM". Routed: with clustering
 * on for `conn` the request goes to a node of the cluster named "KExt_STM"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param handle the server's handle of the domain or analyser, sent as it is (never checked
 *     here)
 * @param items the input texts (StmTextItem)
 * @param count number of items, 0 or more (0 is sent)
 * @param text text argument, not null
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 for null
 *     items or text, or a negative count; -1203 when clustering is on and no node serves
 *     "KExt_STM".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_TextCluster_Do(int32_t conn, int32_t handle,
                                                         const StmTextItem* items, int32_t count,
                                                         const char* text);

/**
 * Calls the remote function "STM_KeyWordExtractor_Initialize" of module "KExt_STM". Routed:
 * with clustering on for `conn` the request goes to a node of the cluster named "KExt_STM"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param handle the server's handle of the domain or analyser, sent as it is (never checked
 *     here)
 * @param value integer argument, sent as it is
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_STM".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_KeyWordExtractor_Init(int32_t conn, int32_t handle,
                                                                int32_t value);
/**
 * Calls the remote function "STM_KeyWordExtractor_ShutDown" of module "KExt_STM". Routed: with
 * clustering on for `conn` the request goes to a node of the cluster named "KExt_STM"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param handle the server's handle of the domain or analyser, sent as it is (never checked
 *     here)
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_STM".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_KeyWordExtractor_ShutDown(int32_t conn,
                                                                    int32_t handle);
/**
 * Calls the remote function "STM_KeyWordExtractor_Do" of module "KExt_STM". Routed: with
 * clustering on for `conn` the request goes to a node of the cluster named "KExt_STM"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param handle the server's handle of the domain or analyser, sent as it is (never checked
 *     here)
 * @param out buffer for the reply
 * @param length in: the capacity of `out`; out: as for every answer (@ref orqext_lengths):
 *     after 0 the answer's length, after -1107 the whole answer's length (`out` holds its
 *     leading part; a capacity of 0 asks for the size), after a failure of XSRClient or the
 *     server the bytes that came with it, unchanged after an early refusal. The capacity is
 *     also sent to the server.
 * @param items the input texts (StmTextItem)
 * @param count number of items, at least 1
 * @param options the option pair, not null
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 for items,
 *     options, out or length null, a count below 1, or a negative capacity; -1203 when
 *     clustering is on and no node serves "KExt_STM".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_KeyWordExtractor_Do(int32_t conn, int32_t handle,
                                                              void* out, int32_t* length,
                                                              const StmTextItem* items,
                                                              int32_t count,
                                                              const StmOptionPair* options);

/**
 * Calls the remote function "STM_AbstractExtractor_Initialize" of module "KExt_STM". Routed:
 * with clustering on for `conn` the request goes to a node of the cluster named "KExt_STM"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param handle the server's handle of the domain or analyser, sent as it is (never checked
 *     here)
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_STM".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_AbstractExtractor_Initialize(int32_t conn,
                                                                       int32_t handle);
/**
 * Calls the remote function "STM_AbstractExtractor_ShutDown" of module "KExt_STM". Routed: with
 * clustering on for `conn` the request goes to a node of the cluster named "KExt_STM"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param handle the server's handle of the domain or analyser, sent as it is (never checked
 *     here)
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_STM".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_AbstractExtractor_ShutDown(int32_t conn,
                                                                     int32_t handle);
/**
 * Calls the remote function "STM_AbstractExtractor_Do" of module "KExt_STM". Routed: with
 * clustering on for `conn` the request goes to a node of the cluster named "KExt_STM"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param handle the server's handle of the domain or analyser, sent as it is (never checked
 *     here)
 * @param text the text, not null
 * @param out buffer for the reply
 * @param length in: the capacity of `out`; out: as for every answer (@ref orqext_lengths):
 *     after 0 the answer's length, after -1107 the whole answer's length (`out` holds its
 *     leading part; a capacity of 0 asks for the size), after a failure of XSRClient or the
 *     server the bytes that came with it, unchanged after an early refusal. The capacity is
 *     also sent to the server.
 * @param options the option pair, not null
 * @param items further input texts; may be null when count is 0 or less
 * @param count number of items; 0 or less: none sent
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 for text,
 *     options, out or length null, a negative capacity, or null items with a positive count;
 *     -1203 when clustering is on and no node serves "KExt_STM".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_AbstractExtractor_Do(int32_t conn, int32_t handle,
                                                               const char* text, void* out,
                                                               int32_t* length,
                                                               const StmOptionPair* options,
                                                               const StmTextItem* items,
                                                               int32_t count);

/**
 * Calls the remote function "STM_VSMModel_Generator_Initialize" of module "KExt_STM". Routed:
 * with clustering on for `conn` the request goes to a node of the cluster named "KExt_STM"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param handle the server's handle of the domain or analyser, sent as it is (never checked
 *     here)
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_STM".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_VSMGenerator_Init(int32_t conn, int32_t handle);
/**
 * Calls the remote function "STM_VSMModel_Generator_ShutDown" of module "KExt_STM". Routed:
 * with clustering on for `conn` the request goes to a node of the cluster named "KExt_STM"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param handle the server's handle of the domain or analyser, sent as it is (never checked
 *     here)
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_STM".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_VSMGenerator_ShutDown(int32_t conn, int32_t handle);
/**
 * Calls the remote function "STM_VSMModel_Generator_Do" of module "KExt_STM". Routed: with
 * clustering on for `conn` the request goes to a node of the cluster named "KExt_STM"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param handle the server's handle of the domain or analyser, sent as it is (never checked
 *     here)
 * @param out buffer for the reply
 * @param length in: the capacity of `out`; out: as for every answer (@ref orqext_lengths):
 *     after 0 the answer's length, after -1107 the whole answer's length (`out` holds its
 *     leading part; a capacity of 0 asks for the size), after a failure of XSRClient or the
 *     server the bytes that came with it, unchanged after an early refusal. The capacity is
 *     also sent to the server.
 * @param items the input texts (StmTextItem)
 * @param count number of items, at least 1
 * @param options the generator options, not null
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 for items,
 *     options, out or length null, a count below 1, or a negative capacity; -1203 when
 *     clustering is on and no node serves "KExt_STM".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_VSMGenerator_Do(int32_t conn, int32_t handle,
                                                          void* out, int32_t* length,
                                                          const StmTextItem* items, int32_t count,
                                                          const StmVsmOptions* options);
/**
 * Calls the remote function "STM_VSMModel_GetResult" of module "KExt_STM". Routed: with
 * clustering on for `conn` the request goes to a node of the cluster named "KExt_STM"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param handle the server's handle of the domain or analyser, sent as it is (never checked
 *     here)
 * @param out buffer for the reply
 * @param length in: the capacity of `out`; out: as for every answer (@ref orqext_lengths):
 *     after 0 the answer's length, after -1107 the whole answer's length (`out` holds its
 *     leading part; a capacity of 0 asks for the size), after a failure of XSRClient or the
 *     server the bytes that came with it, unchanged after an early refusal. The capacity is
 *     also sent to the server.
 * @param text text argument, not null
 * @param options the generator options, not null
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 for options,
 *     out, length or text null, or a negative capacity; -1203 when clustering is on and no node
 *     serves "KExt_STM".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_VSMGenerator_GetResult(int32_t conn, int32_t handle,
                                                                 void* out, int32_t* length,
                                                                 const char* text,
                                                                 const StmVsmOptions* options);

/**
 * Calls the remote function "KAbstractor_Initialize" of module "KExt_STM". Routed: with
 * clustering on for `conn` the request goes to a node of the cluster named "KExt_STM"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_STM".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_Abstractor_Init(int32_t conn);
/**
 * Calls the remote function "KAbstractor_ShutDown" of module "KExt_STM". Routed: with
 * clustering on for `conn` the request goes to a node of the cluster named "KExt_STM"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_STM".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_Abstractor_ShutDown(int32_t conn);
/**
 * Calls the remote function "KAbstractor_Do" of module "KExt_STM". Routed: with clustering on
 * for `conn` the request goes to a node of the cluster named "KExt_STM" (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param text the text, not null
 * @param out buffer for the reply
 * @param length in: the capacity of `out`; out: as for every answer (@ref orqext_lengths):
 *     after 0 the answer's length, after -1107 the whole answer's length (`out` holds its
 *     leading part; a capacity of 0 asks for the size), after a failure of XSRClient or the
 *     server the bytes that came with it, unchanged after an early refusal. The capacity is
 *     also sent to the server.
 * @param options the option pair, not null
 * @param items further input texts; may be null when count is 0 or less
 * @param count number of items; 0 or less: none sent
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 for text,
 *     options, out or length null, a negative capacity, or null items with a positive count;
 *     -1203 when clustering is on and no node serves "KExt_STM".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_Abstractor_Do(int32_t conn, const char* text, void* out,
                                                        int32_t* length,
                                                        const StmOptionPair* options,
                                                        const StmTextItem* items, int32_t count);

/**
 * Calls the remote function "Similarity_Initialize" of module "KExt_STM". Routed: with
 * clustering on for `conn` the request goes to a node of the cluster named "KExt_STM"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_STM".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_Similarity_Initialize(int32_t conn);
/**
 * Calls the remote function "Similarity_ShutDown" of module "KExt_STM". Routed: with clustering
 * on for `conn` the request goes to a node of the cluster named "KExt_STM"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @return The server's result: 0, a non-negative status word, or a negative code of the server
 *     or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100 when no
 *     memory for the request can be had; -1203 when clustering is on and no node serves
 *     "KExt_STM".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_Similarity_ShutDown(int32_t conn);
/**
 * Calls the remote function "Similarity_Analyst" of module "KExt_STM". Routed: with clustering
 * on for `conn` the request goes to a node of the cluster named "KExt_STM"
 * (@ref orqext_routing).
 *
 * @param conn connection handle from ORQExt_Connect
 * @param text1 first text, not null or empty
 * @param text2 second text, not null or empty
 * @return The server's result: 0, a non-negative status word (passed on unchanged: the
 *     similarity score; xsr-sim: the cosine of the word counts times 1000), or a negative code
 *     of the server or XSRClient. Refused before anything is sent (@ref orqext_refusals): -1100
 *     for a null or empty text; -1203 when clustering is on and no node serves "KExt_STM".
 */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_Similarity_Analyst(int32_t conn, const char* text1,
                                                             const char* text2);
/** @} */
/* ==== semantic text mining (end) ==== */

#ifdef __cplusplus
}
#endif

#endif /* ORQEXT_H */
