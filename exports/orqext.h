/*
 * orqext.h - the public interface of ORQExtClient.
 *
 * One flat C API over plain records. Every function returns a signed 32-bit
 * Result code unless its comment says otherwise. Strings are NUL-terminated
 * 8-bit text passed byte for byte. Answers go to caller-owned buffers given as
 * a pointer and a pointer to an int32 length: capacity on entry, length of the
 * answer on return. An answer longer than the capacity (a capacity of 0
 * included) gives -1107: the buffer holds its leading bytes and the length
 * the whole answer's length, so a second call with that capacity gets it.
 *
 * Compiles as C99 and as C++.
 */
#ifndef ORQEXT_H
#define ORQEXT_H

#include <stddef.h>
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
/* ------------------------------------------------------------------------
 * Module administration
 *
 * Registration and unregistration are text commands; start and stop send a
 * short action document; the queries hand the server's answer over as raw
 * bytes (*length: capacity on entry, answer length on return).
 * ------------------------------------------------------------------------ */

/* Sends "use ext <module> cmd reg version=<version>" (version null or empty:
 * 1.0.0.0), then " ModType=autostart" when autostart is non-zero, then
 * " FileRef='<file_ref>'", " CmdParam='<cmd_param>'", " Desc='<desc>'" and
 * " DependFiles='<depend_files>'" for each one given and not empty. Values go
 * in unchanged (no escaping). -1100, nothing sent: module null or empty, or
 * conn 0. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_RegExtMod(int32_t conn, const char* module,
                                                const char* version, uint8_t autostart,
                                                const char* file_ref, const char* cmd_param,
                                                const char* desc, const char* depend_files);
/* Sends "use ext <module> cmd unreg " and, when version is not null (even
 * when empty), " version=<version>". -1100, nothing sent: module null or
 * empty, or conn 0. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_UnRegExtMod(int32_t conn, const char* module,
                                                  const char* version);
/* Start and stop a module. One request, no polling: the server's result is
 * returned as it comes (-9000 and -1108 included); its answer is dropped.
 * -1100, nothing sent: module null or empty, or conn 0. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_LoadExtMod(int32_t conn, const char* module,
                                                 const char* version);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_UnloadExtMod(int32_t conn, const char* module,
                                                   const char* version);
/* Information on one module; second_name null: none. -1100, nothing sent:
 * module null or empty. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_GetModInfo(int32_t conn, const char* module,
                                                 const char* second_name, void* answer,
                                                 int32_t* length);
/* The list of extension modules, and the extension layer's version. -1100,
 * nothing sent: answer or length null, or a capacity of 0 or less. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_GetModInfos(int32_t conn, void* answer, int32_t* length);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_GetExtVersion(int32_t conn, void* answer,
                                                    int32_t* length);
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
typedef void(ORQEXT_CALL* ORQExtAsyncCallback)(int32_t request_id, int32_t result,
                                               const void* answer, int32_t answer_len);

/* Installs callback; null removes it, and the worker then drops every queued
 * request without calling back and ends. The previous callback is written to
 * *previous when previous is not null. Returns 0. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_SetAsyncFunc(ORQExtAsyncCallback callback,
                                                   ORQExtAsyncCallback* previous);
/* Queues a message to module (target null: none) on conn, used as it is
 * (asynchronous messages are not routed to cluster nodes). The answer may
 * take max(answer_capacity, 128) bytes; a longer one calls back with -1107
 * and its leading bytes. Returns the number of queued
 * requests, this one included. -1100, nothing queued: module null or empty,
 * payload null, payload_len 0 or less, answer_capacity above 268435456.
 * -4120: no callback installed. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_AsyncSendMessage(int32_t conn, const char* module,
                                                       const char* target, const void* payload,
                                                       int32_t payload_len, int32_t request_id,
                                                       int32_t answer_capacity);
/* Cancels the oldest queued request with request_id: a cancel goes to the
 * server, the request is dropped without calling back, and the cancel's
 * result is returned. The first argument is not read. -4122: no queued
 * request has that id. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_CancelAsync(int32_t unused, int32_t request_id);
/* ==== asynchronous messages (end) ==== */

/* ==== statement process (begin) ==== */
/* Sends the free text of an extension statement
 * ("use ext <module> [cmd <word>] [key=value ...] <free text>") to the
 * module's "GetKSQLProcess". -1100, nothing sent: conn 0, statement null or
 * empty. -3502, nothing sent: not an extension statement. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_QuerySqlProcess(int32_t conn, const char* statement);
/* ==== statement process (end) ==== */

/* ==== cluster (begin) ==== */
/*
 * Cluster routing. With clustering on for a connection, every module message
 * sent on it goes to a node of the cluster whose name equals the module name
 * (ignoring letter case). The library keeps, per connection handle, a copy of
 * the server's cluster description; every read below first reloads it.
 *
 * All strings are zero-terminated 8-bit text inside fixed arrays. A cluster
 * is identified by (name, tag), compared without regard to ASCII letter case.
 */
typedef struct ClusterInfo {
    char name[256];   /* cluster name, matched against module names */
    char tag[16];     /* second part of the cluster's identity */
    char attr_a[32];  /* carried and returned, not interpreted */
    char attr_b[128]; /* carried and returned, not interpreted */
} ClusterInfo;

typedef struct NodeInfo {
    char server[20];  /* node address */
    int32_t port;     /* node port, 1 to 65534 */
    char user[128];   /* user name */
    char pass[64];    /* password */
    char attr[128];   /* carried and returned, not interpreted */
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

/* Returns 1 when clustering is on for conn, 0 when off. A handle the library
 * has not met before gets a record with the ClusterEnable setting. */
ORQEXT_API uint8_t ORQEXT_CALL ORQExt_IsClusterEnable(int32_t conn);
/* Switches clustering on (non-zero; the cluster description is reloaded and
 * that result returned) or off. -4127: off for a handle without a record. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_EnableCluster(int32_t conn, uint8_t enable);
/* Reloads the cluster description of conn from the server. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_UpdateCluster(int32_t conn);
/* Adds a cluster (nodes null) or nodes to a cluster on the server, then
 * reloads. -1100, nothing sent: empty name or tag, a string without its zero
 * byte inside its array, or a node with an empty server or user, a server
 * over 19 characters or a port outside 1..65534. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_AddClusterInfo(int32_t conn, const ClusterInfo* cluster,
                                                     const NodeInfo* nodes, int32_t node_count);
/* Deletes the cluster (name, tag) on the server, with an optional text (null:
 * none), then reloads. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_DelClusterInfo(int32_t conn, const ClusterInfo* cluster,
                                                     const char* text);
/* Number of clusters listed for conn (0 when none), or a negative code. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_GetClusterCount(int32_t conn);
/* Copies the clusters in order while fewer than *count are copied; stores and
 * returns the number copied. -4128: no list for conn. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_GetClusterInfo(int32_t conn, ClusterInfo* out,
                                                     int32_t* count);
/* Overwrites *cluster with the first cluster of the same name and tag.
 * -4128: none. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_GetClusterInfoByName(int32_t conn, ClusterInfo* cluster);
/* Node count of the first cluster with that name and tag, 0 when none. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_GetClusterNodeCount(int32_t conn,
                                                          const ClusterInfo* cluster);
/* Copies the nodes of the first cluster with that name and tag while fewer
 * than *count are copied; stores and returns the number copied. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_GetNodeInfo(int32_t conn, const ClusterInfo* cluster,
                                                  NodeInfo* out, int32_t* count);
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
ORQEXT_API int32_t ORQEXT_CALL ORQExt_ARA_Stat_AssociatedFreq_Begin(int32_t conn,
                                                                    const char* textA);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_ARA_Stat_AssociatedFreq(int32_t conn, const char* textA,
                                                              const char* textB, int32_t value,
                                                              uint8_t flag);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_ARA_Stat_AssociatedFreq_End(int32_t conn);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_ARA_MulMergeFile(int32_t conn, const char* textA,
                                                       const char* textB);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_ARA_Filtrate(int32_t conn, const char* textA,
                                                   const char* textB, int32_t value);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_ARA_GetWordSupportRec(int32_t conn, const char* textA,
                                                            const char* textB);

/* --- Keyword frequency statistics ("KExt_KWFS") --- */
typedef struct KwfsItem {
    const char* text1; /* null: nothing sent in its place */
    int32_t value;
    const char* text2; /* null: sent as an empty string */
} KwfsItem;

typedef struct KwfsOptions {
    int32_t value;
    const char* text; /* null: nothing sent in its place */
} KwfsOptions;

ORQEXT_TEXT_LAYOUT(kwfs_item_size, sizeof(KwfsItem) == ORQEXT_BY_POINTER_WIDTH(12, 24));
ORQEXT_TEXT_LAYOUT(kwfs_item_text1, offsetof(KwfsItem, text1) == 0);
ORQEXT_TEXT_LAYOUT(kwfs_item_value, offsetof(KwfsItem, value) == ORQEXT_BY_POINTER_WIDTH(4, 8));
ORQEXT_TEXT_LAYOUT(kwfs_item_text2, offsetof(KwfsItem, text2) == ORQEXT_BY_POINTER_WIDTH(8, 16));
ORQEXT_TEXT_LAYOUT(kwfs_options_size, sizeof(KwfsOptions) == ORQEXT_BY_POINTER_WIDTH(8, 16));
ORQEXT_TEXT_LAYOUT(kwfs_options_value, offsetof(KwfsOptions, value) == 0);
ORQEXT_TEXT_LAYOUT(kwfs_options_text, offsetof(KwfsOptions, text) == ORQEXT_BY_POINTER_WIDTH(4, 8));

/* itemCount of 0 or less sends no items and itemList is not read. -1100,
 * nothing sent: options null, or itemList null with a positive itemCount. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_KWFS_Frequency(int32_t conn, const KwfsItem* itemList,
                                                     int32_t itemCount,
                                                     const KwfsOptions* options, int32_t number);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_KWFS_Associated(int32_t conn, const KwfsItem* itemList,
                                                      int32_t itemCount,
                                                      const KwfsOptions* options);

/* --- Dictionary and segmentation (engine 0 of "KExt_NLPE") --- */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_NLPE_DictLoad(int32_t conn, const char* text);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_NLPE_DictUnload(int32_t conn, int32_t value);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_NLPE_DictImport(int32_t conn, const char* text);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_NLPE_DictSearch(int32_t conn, const char* text);
/* Segments text into items (capacity entries) and, when marks is given,
 * marks (capacity entries); then returns the number of entries stored.
 * Without marks the reply is received straight into items (4 x capacity
 * bytes) and the Result code is returned. -1100, nothing sent: text null or
 * empty, items null, capacity negative, or capacity 0 with marks. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_NLPE_WordSect(int32_t conn, const char* text,
                                                    int32_t* items, int32_t capacity,
                                                    int32_t optA, int32_t optB, int16_t* marks,
                                                    int32_t optC, uint8_t flagA, uint8_t flagB);
/* Returns the server's status word: a non-negative one is the handle. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_NLPE_GetHandle(int32_t conn, const char* text);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_NLPE_DeleteHandle(int32_t conn, int32_t handle);

/* --- Unlabelled clustering (engine 6) and classifier (engine 3) --- */
/* A null text is sent as an empty string. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_ClassNoLabel_Init(int32_t conn, const char* text);
/* The reply goes into buffer; *length is its capacity on entry and the
 * reply's length on return. -1100: text null or empty, a negative capacity,
 * or a positive capacity without a buffer. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_ClassNoLabel_GetClass(int32_t conn, const char* text,
                                                            void* buffer, int32_t* length);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_ClassNoLabel_Free(int32_t conn);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_CLA_SetPath(int32_t conn, const char* text);
/* fields: seven strings. The three values go out with their current contents
 * and come back overwritten; resultA and resultB receive texts cut to their
 * capacity - 1 bytes and a NUL, their lengths the bytes stored without the
 * NUL. Any result other than 0 leaves every out-parameter as it was. -1100,
 * nothing sent: fields, resultA, resultB or any of the pointers to lengths
 * and values null, or a capacity below 1. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_CLA_GetClassifyResult(
    int32_t conn, int32_t mode, const char* const* fields, char* resultA, int32_t* resultALen,
    char* resultB, int32_t* resultBLen, int32_t* valueC, uint8_t* valueB, int32_t* valueA,
    int32_t extra);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_CLA_FreeDict(int32_t conn);

/* --- Text classification: EZTC (engine 2) and BSM (engine 7) --- */
typedef struct EztcTextFields {
    const char* text1; /* each null one is sent as an empty string */
    const char* text2;
    const char* text3;
    const char* text4;
    const char* text5;
    const char* text6;
} EztcTextFields;

typedef struct BsmTextFields {
    const char* text1; /* each null one is sent as an empty string */
    const char* text2;
    const char* text3;
    const char* text4;
    const char* text5;
    const char* text6;
    const char* text7;
    const char* text8;
} BsmTextFields;

ORQEXT_TEXT_LAYOUT(eztc_fields_size, sizeof(EztcTextFields) == ORQEXT_BY_POINTER_WIDTH(24, 48));
ORQEXT_TEXT_LAYOUT(eztc_fields_text6, offsetof(EztcTextFields, text6) == ORQEXT_BY_POINTER_WIDTH(20, 40));
ORQEXT_TEXT_LAYOUT(bsm_fields_size, sizeof(BsmTextFields) == ORQEXT_BY_POINTER_WIDTH(32, 64));
ORQEXT_TEXT_LAYOUT(bsm_fields_text8, offsetof(BsmTextFields, text8) == ORQEXT_BY_POINTER_WIDTH(28, 56));

ORQEXT_API int32_t ORQEXT_CALL ORQExt_EZTC_SetPath(int32_t conn);
/* The answer text (no terminator) goes into buffer, cut to *length bytes;
 * *length receives the bytes stored. -1100, nothing sent: fields, buffer or
 * length null, or a negative capacity. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_EZTC_GetTxtClassify(int32_t conn, int32_t value1,
                                                          int32_t value2,
                                                          const EztcTextFields* fields,
                                                          int32_t value3, char* buffer,
                                                          int32_t* length, uint8_t flag);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_EZTC_FreeDict(int32_t conn);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_BSM_Word_Init(int32_t conn);
/* Two answers (no terminators) into buffer1 and buffer2 with their lengths;
 * *flag becomes 1 or 0. An answer longer than its capacity is cut to it, its
 * length receives the answer's full length and the call returns -1107
 * (everything else is still delivered). -1100, nothing
 * sent: fields, buffer1, a length pointer or flag null, a negative capacity,
 * or buffer2 null with a positive capacity 2. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_BSM_GetClassifyResult(
    int32_t conn, int32_t value1, int32_t value2, const BsmTextFields* fields, char* buffer1,
    int32_t* length1, char* buffer2, int32_t* length2, uint8_t* flag);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_BSM_FreeDict(int32_t conn);

/* --- Association dictionaries (engine 1 of "KExt_NLPE") --- */
/* Name lists and search results go into the caller's buffer without a
 * terminator; each length is the buffer's capacity on entry (also sent to
 * the server) and the bytes stored on return. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_AR_Initial(int32_t conn);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_AR_Dict_Create(int32_t conn, const char* textA,
                                                     const char* textB, const char* textC);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_AR_Dict_Delete(int32_t conn, const char* text);
/* A list longer than the capacity is cut to it (result 0). -1100, nothing
 * sent: buffer or length null, or a capacity of 0 or less. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_AR_GetAllDictName(int32_t conn, char* buffer,
                                                        int32_t* length);
/* Returns the server's status word, which is the answer. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_AR_IsDictExist(int32_t conn, const char* text);
/* Result A into bufferA; result B into bufferB only when *lengthB is above 0
 * (otherwise bufferB and *lengthB are left alone). A result longer than its
 * capacity leaves its leading bytes, its full length in the length variable
 * and -1107. -1100, nothing sent: text null or empty, bufferA, lengthA or
 * lengthB null, capacity A of 0 or less, or bufferB null with capacity B
 * above 0. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_AR_Search(int32_t conn, const char* text, char* bufferA,
                                                int32_t* lengthA, char* bufferB,
                                                int32_t* lengthB);
/* -1100, nothing sent: text null or empty. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_AR_Dict_Load(int32_t conn, const char* text);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_AR_Dict_Unload(int32_t conn, const char* text);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_AR_Dict_Import(int32_t conn, const char* text);
/* A capacity of 0 is accepted. A list longer than the capacity leaves its
 * leading bytes, its full length in *length and -1107. -1100, nothing sent:
 * buffer or length null, or a negative capacity. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_AR_GetAllDictNameLoaded(int32_t conn, char* buffer,
                                                              int32_t* length);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_AR_GetCategoryName(int32_t conn, char* buffer,
                                                         int32_t* length);

/* --- Aptitude search (engine 5) and word extraction (engine 4) --- */
/* Size in bytes of one extracted entry; its layout is the server's. */
#define ORQEXT_EXTRACT_ENTRY_SIZE 528

/* The found text goes into buffer without a terminator; *length is the
 * capacity on entry (0 accepted) and the bytes stored on return. A text
 * longer than the capacity leaves its leading bytes, its full length in
 * *length and -1107; a -1107 from the server that carries only the text's
 * length stores that length and leaves buffer alone. -1100, nothing sent:
 * text, buffer or length null, or a negative capacity (an empty text is
 * sent). */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_Aptitude_Search(int32_t conn, const char* text,
                                                      char* buffer, int32_t* length);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_Aptitude_Init(int32_t conn);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_Aptitude_UnInit(int32_t conn);
/* As ORQExt_NLPE_WordSect with a single option byte. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_Aptitude_WordSect(int32_t conn, const char* text,
                                                        int32_t* items, int32_t capacity,
                                                        int32_t optA, int32_t optB,
                                                        int16_t* marks, int32_t optC,
                                                        uint8_t flagA);
/* -1100, nothing sent: mode neither 1 nor 2. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_ExtractWord_Initial(int32_t conn, int32_t mode);
/* fields: six strings (a null one sends nothing in its place). entries:
 * room for *count entries of ORQEXT_EXTRACT_ENTRY_SIZE bytes; *count is the
 * capacity in entries on entry and the entries stored on return. More
 * entries than the capacity deliver the first *count ones and -1107. The
 * count is read from the reply's first four bytes, a shorter reply's bytes
 * extended with zeros; entries the reply does not carry come out as zero
 * bytes. -1100,
 * nothing sent: fields, entries or count null, a capacity of 0 or less, or
 * (Direct only) mode neither 1 nor 2. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_ExtractWord_Direct(int32_t conn, const char* const* fields,
                                                         void* entries, int32_t* count,
                                                         int32_t mode, uint8_t flag);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_ExtractWord_DirectNormal(int32_t conn,
                                                               const char* const* fields,
                                                               void* entries, int32_t* count,
                                                               int32_t mode, uint8_t flag);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_ExtractWord_FreeDict(int32_t conn);

/* --- Topic lists and exports (engine 8 of "KExt_NLPE") --- */
/* The list goes into buffer, at most capacity bytes; its length is not
 * reported. A list longer than the capacity (0 included) gives -1107 with its
 * leading bytes. Without a buffer or with a negative capacity the reply is
 * dropped. No argument is refused. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_TOP_List(int32_t conn, char* buffer, int32_t capacity,
                                               int32_t value);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_TOP_Init(int32_t conn, const char* text);
/* The item goes into buffer; *length is the capacity on entry and the bytes
 * received on return. A negative capacity is sent as it is and the reply is
 * dropped (buffer and *length left alone). -1100, nothing sent: text1 or
 * text2 null or empty, length null, a capacity of 0, or buffer null with a
 * positive capacity. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_TOP_GetItem(int32_t conn, const char* text1,
                                                  const char* text2, char* buffer,
                                                  int32_t* length);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_TOP_UnInit(int32_t conn, const char* text);
/* -1100, nothing sent: text1, text2 or text3 null, or value 0. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_ExportSqlToFile(int32_t conn, const char* text1,
                                                      const char* text2, int32_t value,
                                                      const char* text3);
/* -1100, nothing sent: text1 or text2 null (empty texts are sent). */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_MakeTopDict(int32_t conn, const char* text1,
                                                  const char* text2);

#undef ORQEXT_TEXT_LAYOUT
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

/* One input text. length > 0: exactly length bytes of text are sent (they may
 * contain NULs); length <= 0: text is sent up to its first NUL. text must not
 * be null. */
typedef struct StmTextItem {
    int32_t id;
    int32_t length;
    const char* text;
} StmTextItem;

typedef struct StmOptionPair {
    int32_t value;
    uint8_t flag;
} StmOptionPair;

typedef struct StmClassifierOptions {
    int32_t value1;
    int32_t value2;
    uint8_t flag;
} StmClassifierOptions;

/* Size of StmClusterShutdownArgs.name, NUL included. */
#define ORQEXT_STM_CLUSTER_NAME_SIZE 256

typedef struct StmClusterShutdownArgs {
    int32_t value1;
    int32_t value2;
    int32_t value3;
    int32_t value4;
    char name[ORQEXT_STM_CLUSTER_NAME_SIZE]; /* NUL-terminated inside the array */
} StmClusterShutdownArgs;

typedef struct StmVsmOptions {
    uint8_t flag;
    int32_t value1;
    int32_t value2;
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

/* Engine and knowledge domains. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_Initialize(int32_t conn);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_ShutDown(int32_t conn);
/* Returns the server's status word unchanged. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_IsInitialized(int32_t conn);
/* -1100: name null. Null texts are sent as empty strings. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_CreateDomain(int32_t conn, const char* name,
                                                       const char* text2, const char* text3,
                                                       const char* text4, int32_t value);
/* -1100: name null (an empty name is sent). */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_DeleteDomain(int32_t conn, const char* name);
/* -1100: buffer or length null, capacity not positive. A mode other than 0
 * and 1 is sent as 0. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_GetDomainNameList(int32_t conn, void* buffer,
                                                            int32_t* length, int32_t mode);
/* Returns the domain handle, or a negative Result code. -1100: name null or
 * empty. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_OpenDomain(int32_t conn, const char* name);
/* -1100: name null or empty. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_CloseDomain(int32_t conn, const char* name);
/* -1100: buffer or length null, capacity not positive. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_GetDomainName(int32_t conn, int32_t handle,
                                                        void* buffer, int32_t* length);
/* Returns the server's status word: a non-negative one is the domain handle.
 * -1100: name null or empty. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_GetDomainHandle(int32_t conn, const char* name);

/* Text classifier. Init: -1100 for a negative value. Do: -1100 for items,
 * options, out or length null, a negative count or capacity; count 0 is sent. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_TextClassifier_Init(int32_t conn, int32_t handle,
                                                              int32_t value);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_TextClassifier_ShutDown(int32_t conn, int32_t handle);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_TextClassifier_Do(int32_t conn, int32_t handle,
                                                            void* out, int32_t* length,
                                                            const StmTextItem* items,
                                                            int32_t count,
                                                            const StmClassifierOptions* options);

/* Information filter. Init: -1100 for a null or empty text. Do: -1100 for
 * null items or a count below 1; returns the number the server answers as
 * decimal text (saturated to the int32 range), or a negative Result code. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_InfoFilter_Init(int32_t conn, int32_t handle,
                                                          const char* text);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_InfoFilter_ShutDown(int32_t conn, int32_t handle);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_InfoFilter_Do(int32_t conn, int32_t handle,
                                                        const StmTextItem* items, int32_t count);

/* Text clusterer. ShutDown: -1100 for null args, or a name that is empty or
 * has no NUL inside its array. Do: -1100 for null items or text, a negative
 * count; count 0 is sent. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_TextCluster_Init(int32_t conn, int32_t handle);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_TextCluster_ShutDown(int32_t conn, int32_t handle,
                                                               const StmClusterShutdownArgs* args);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_TextCluster_Do(int32_t conn, int32_t handle,
                                                         const StmTextItem* items, int32_t count,
                                                         const char* text);

/* Keyword extractor. Do: -1100 for items, options, out or length null, a
 * count below 1, a negative capacity. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_KeyWordExtractor_Init(int32_t conn, int32_t handle,
                                                                int32_t value);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_KeyWordExtractor_ShutDown(int32_t conn,
                                                                    int32_t handle);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_KeyWordExtractor_Do(int32_t conn, int32_t handle,
                                                              void* out, int32_t* length,
                                                              const StmTextItem* items,
                                                              int32_t count,
                                                              const StmOptionPair* options);

/* Abstract extractor. Do: -1100 for text, options, out or length null, a
 * negative capacity, null items with a positive count; a count of 0 or less
 * sends no items. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_AbstractExtractor_Initialize(int32_t conn,
                                                                       int32_t handle);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_AbstractExtractor_ShutDown(int32_t conn,
                                                                     int32_t handle);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_AbstractExtractor_Do(int32_t conn, int32_t handle,
                                                               const char* text, void* out,
                                                               int32_t* length,
                                                               const StmOptionPair* options,
                                                               const StmTextItem* items,
                                                               int32_t count);

/* VSM model generator. Do: -1100 for items, options, out or length null, a
 * count below 1, a negative capacity. GetResult: -1100 for options, out,
 * length or text null, a negative capacity. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_VSMGenerator_Init(int32_t conn, int32_t handle);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_VSMGenerator_ShutDown(int32_t conn, int32_t handle);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_VSMGenerator_Do(int32_t conn, int32_t handle,
                                                          void* out, int32_t* length,
                                                          const StmTextItem* items, int32_t count,
                                                          const StmVsmOptions* options);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_VSMGenerator_GetResult(int32_t conn, int32_t handle,
                                                                 void* out, int32_t* length,
                                                                 const char* text,
                                                                 const StmVsmOptions* options);

/* Abstractor. Do: as the abstract extractor's, without a handle. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_Abstractor_Init(int32_t conn);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_Abstractor_ShutDown(int32_t conn);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_Abstractor_Do(int32_t conn, const char* text, void* out,
                                                        int32_t* length,
                                                        const StmOptionPair* options,
                                                        const StmTextItem* items, int32_t count);

/* Similarity. Analyst: -1100 for a null or empty text; returns the server's
 * status word unchanged. */
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_Similarity_Initialize(int32_t conn);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_Similarity_ShutDown(int32_t conn);
ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_Similarity_Analyst(int32_t conn, const char* text1,
                                                             const char* text2);
/* ==== semantic text mining (end) ==== */

#ifdef __cplusplus
}
#endif

#endif /* ORQEXT_H */
