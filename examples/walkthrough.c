/*
 * walkthrough.c - loads ORQExtClient and walks connect, send and disconnect.
 * Usage: orqext_example [server [port [user [password]]]]
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "orqext.h"

int main(int argc, char** argv) {
    const char* server = argc > 1 ? argv[1] : "localhost";
    int32_t port = argc > 2 ? (int32_t)atoi(argv[2]) : 7300;
    const char* user = argc > 3 ? argv[3] : "admin";
    const char* password = argc > 4 ? argv[4] : "admin";
    int32_t status = 0;
    int32_t conn;
    char answer[256];
    int32_t answer_len = (int32_t)sizeof answer;
    int32_t rc;
    const char payload[] = "hello";

    printf("server status of %s:%d: %d\n", server, (int)port, (int)ORQExt_GetServerStatus(server, port));
    conn = ORQExt_Connect(server, port, user, password, &status);
    printf("connect: handle %d, result %d\n", (int)conn, (int)status);
    if (status < 0) return 1;

    printf("alive: %d\n", (int)ORQExt_IsConnect(conn));
    rc = ORQExt_SendMessage(conn, "Echo", NULL, payload, (int32_t)strlen(payload), answer, &answer_len);
    printf("send to Echo: result %d, answer %d bytes", (int)rc, (int)answer_len);
    if (rc == 0 && answer_len > 0) printf(": %.*s", (int)answer_len, answer);
    printf("\n");

    rc = ORQExt_DisConnect(conn);
    printf("disconnect: result %d\n", (int)rc);
    return rc == 0 ? 0 : 1;
}
