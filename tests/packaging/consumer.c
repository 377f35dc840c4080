/*
 * consumer.c - an application built against an installed ORQExtClient, as
 * its users build one (scripts/test-packaging.sh builds it with CMake's
 * find_package and with pkg-config, from a copy outside the source tree).
 *
 *   consumer PORT VERSION
 *
 * Checks that the headers are those of VERSION, then talks to xsr-sim on
 * 127.0.0.1:PORT: server status, connect, a message to its Echo module
 * (the payload must come back unchanged), disconnect. Exit status 0 when
 * all of it holds.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <orqext.h>

int main(int argc, char** argv) {
    const char payload[] = "ping from an installed consumer";
    char answer[128];
    int32_t answer_len = (int32_t)sizeof answer;
    int32_t status = -1;
    int32_t port, conn, rc;

    if (argc != 3) {
        fprintf(stderr, "usage: consumer PORT VERSION\n");
        return 2;
    }
    port = (int32_t)atoi(argv[1]);
    if (strcmp(ORQEXT_VERSION_STRING, argv[2]) != 0) {
        fprintf(stderr, "headers are version %s, expected %s\n", ORQEXT_VERSION_STRING, argv[2]);
        return 1;
    }
    rc = ORQExt_GetServerStatus("127.0.0.1", port);
    if (rc < 0) {
        fprintf(stderr, "server status: %d\n", (int)rc);
        return 1;
    }
    conn = ORQExt_Connect("127.0.0.1", port, "admin", "admin", &status);
    if (status != ORQEXT_OK) {
        fprintf(stderr, "connect: %d\n", (int)status);
        return 1;
    }
    rc = ORQExt_SendMessage(conn, "Echo", NULL, payload, (int32_t)strlen(payload), answer, &answer_len);
    if (rc != ORQEXT_OK || answer_len != (int32_t)strlen(payload) || memcmp(answer, payload, strlen(payload)) != 0) {
        fprintf(stderr, "send to Echo: result %d, %d bytes back\n", (int)rc, (int)answer_len);
        return 1;
    }
    rc = ORQExt_DisConnect(conn);
    if (rc != ORQEXT_OK) {
        fprintf(stderr, "disconnect: %d\n", (int)rc);
        return 1;
    }
    printf("ORQExtClient %s: status, connect, Echo and disconnect work\n", ORQEXT_VERSION_STRING);
    return 0;
}
