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
/* ==== module administration (end) ==== */

/* ==== asynchronous messages (begin) ==== */
/* ==== asynchronous messages (end) ==== */

/* ==== statement process (begin) ==== */
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
/* ==== text analysis (end) ==== */

/* ==== semantic text mining (begin) ==== */
/* ==== semantic text mining (end) ==== */

#ifdef __cplusplus
}
#endif

#endif /* ORQEXT_H */
