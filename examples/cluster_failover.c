/*
 * cluster_failover.c - routes module messages to the nodes of a cluster and
 * fails over when a node stops answering.
 *
 * Usage: orqext_cluster_example server port module host:port [host:port ...]
 *
 * Connects to server:port (user admin, password admin), describes on that
 * server a cluster named after the module with the nodes given, in order,
 * switches clustering on for the connection and sends one message to the
 * module per node given. Each message goes to the first node of the list
 * that accepts a connection (a node connection that still works is used
 * again); a node that is down is passed over. Between rounds the program
 * waits for a line on standard input, so that a node can be stopped
 * meanwhile; at the end of input it goes on at once. The cluster is deleted
 * again at the end.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "exports/orqext.h"

/* Copies text into a fixed field of a record, always NUL-terminated. */
static void put_field(char* field, size_t size, const char* text) {
    memset(field, 0, size);
    strncpy(field, text, size - 1);
}

int main(int argc, char** argv) {
    const char* server;
    const char* module;
    int32_t port, status = 0, conn, rc;
    int node_count, i, failures = 0;
    ClusterInfo cluster;
    NodeInfo* nodes;

    if (argc < 5) {
        fprintf(stderr, "usage: %s server port module host:port [host:port ...]\n", argv[0]);
        return 2;
    }
    server = argv[1];
    port = (int32_t)atoi(argv[2]);
    module = argv[3];
    node_count = argc - 4;

    /* The cluster is named after the module its nodes serve; the tag tells
     * clusters of the same name apart. */
    memset(&cluster, 0, sizeof cluster);
    put_field(cluster.name, sizeof cluster.name, module);
    put_field(cluster.tag, sizeof cluster.tag, "example");

    nodes = (NodeInfo*)calloc((size_t)node_count, sizeof *nodes);
    if (nodes == NULL) return 1;
    for (i = 0; i < node_count; ++i) {
        const char* spec = argv[4 + i];
        const char* colon = strrchr(spec, ':');
        size_t host_len = colon ? (size_t)(colon - spec) : 0;
        if (colon == NULL || host_len == 0 || host_len >= sizeof nodes[i].server) {
            fprintf(stderr, "node '%s': expected host:port\n", spec);
            free(nodes);
            return 2;
        }
        memcpy(nodes[i].server, spec, host_len);
        nodes[i].port = (int32_t)atoi(colon + 1);
        put_field(nodes[i].user, sizeof nodes[i].user, "admin");
        put_field(nodes[i].pass, sizeof nodes[i].pass, "admin");
    }

    conn = ORQExt_Connect(server, port, "admin", "admin", &status);
    printf("connect to %s:%d: handle %d, result %d\n", server, (int)port, (int)conn, (int)status);
    if (status < 0) {
        free(nodes);
        return 1;
    }

    /* The cluster first (no nodes), then its nodes; each call reloads the
     * library's copy of the server's cluster description. */
    rc = ORQExt_AddClusterInfo(conn, &cluster, NULL, 0);
    printf("add cluster %s/%s: result %d\n", cluster.name, cluster.tag, (int)rc);
    if (rc >= 0) rc = ORQExt_AddClusterInfo(conn, &cluster, nodes, (int32_t)node_count);
    printf("add %d nodes: result %d, the cluster lists %d\n", node_count, (int)rc,
           (int)ORQExt_GetClusterNodeCount(conn, &cluster));
    free(nodes);
    if (rc < 0) {
        ORQExt_DisConnect(conn);
        return 1;
    }

    /* From now on messages on conn go to a node of the cluster named after
     * their module. */
    rc = ORQExt_EnableCluster(conn, 1);
    printf("clustering on: result %d, enabled %d\n", (int)rc, (int)ORQExt_IsClusterEnable(conn));

    for (i = 1; i <= node_count && rc >= 0; ++i) {
        char answer[256];
        int32_t len = (int32_t)sizeof answer;
        const char payload[] = "who are you?";
        int32_t sent = ORQExt_SendMessage(conn, module, NULL, payload, (int32_t)strlen(payload), answer, &len);
        if (sent == 0) {
            printf("round %d: answered by \"%.*s\"\n", i, (int)(len < 256 ? len : 256), answer);
        } else {
            /* -1203: no node of the cluster accepts a connection. */
            printf("round %d: result %d\n", i, (int)sent);
            ++failures;
        }
        if (i < node_count) {
            char line[64];
            printf("press Enter for round %d (stop a node meanwhile to see the fail-over)\n", i + 1);
            fflush(stdout);
            if (fgets(line, sizeof line, stdin) == NULL) clearerr(stdin);
        }
    }

    /* Clustering off again, and the example's cluster removed from the
     * server's description. */
    ORQExt_EnableCluster(conn, 0);
    printf("delete cluster: result %d\n", (int)ORQExt_DelClusterInfo(conn, &cluster, NULL));
    printf("disconnect: result %d\n", (int)ORQExt_DisConnect(conn));
    return rc >= 0 && failures == 0 ? 0 : 1;
}
