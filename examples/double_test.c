/*
 * double_test.c - a unit test of an application function, with the scripted
 * XSRClient (libXSRClientDouble) in place of a server.
 *
 *   cc double_test.c $(pkg-config --cflags --libs orqextclient-double) -o double_test
 *   ./double_test
 */
#include <stdio.h>
#include <string.h>

#include "orqext.h"
#include "xsrclient_double.h"

/* ---- The application's code under test ---------------------------------- */

/* Asks the server module "Greeter" for a greeting for name and writes it,
 * NUL-terminated, to out. Returns 0, or the Result code of the failure. */
static int32_t fetch_greeting(int32_t conn, const char* name, char* out, int32_t out_size) {
    int32_t len = out_size - 1;
    int32_t rc = ORQExt_SendMessage(conn, "Greeter", NULL, name, (int32_t)strlen(name), out, &len);
    if (rc != ORQEXT_OK) return rc;
    out[len] = '\0';
    return ORQEXT_OK;
}

/* ---- The test ------------------------------------------------------------ */

static int failures = 0;
#define CHECK(cond)                                                        \
    do {                                                                   \
        if (!(cond)) {                                                     \
            fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #cond); \
            ++failures;                                                    \
        }                                                                  \
    } while (0)

/* A fresh double and a connection to it. */
static int32_t connect_fresh(void) {
    int32_t status = -1;
    int32_t conn;
    XSRDouble_Reset();
    conn = ORQExt_Connect("search1", 7300, "app", "secret", &status);
    CHECK(status == ORQEXT_OK);
    return conn;
}

/* Whether request `index` was a module message (code 2) with this body. */
static int sent_body_is(int32_t index, const char* body, int32_t body_len) {
    char got[256];
    int32_t len = (int32_t)sizeof got;
    return XSRDouble_CommandCode(index) == 2 && XSRDouble_CommandBody(index, got, &len) == XSRDOUBLE_OK &&
           len == body_len && memcmp(got, body, (size_t)len) == 0;
}

static void greeting_comes_back(void) {
    char out[64];
    int32_t conn = connect_fresh();
    XSRDouble_QueueAnswer(0, "Hello, Ada", 10);
    CHECK(fetch_greeting(conn, "Ada", out, (int32_t)sizeof out) == ORQEXT_OK);
    CHECK(strcmp(out, "Hello, Ada") == 0);
    /* One request: module name, NUL, no target (NUL), then the name. */
    CHECK(XSRDouble_CommandCount() == 1);
    CHECK(sent_body_is(0, "Greeter\0\0Ada", 12));
    ORQExt_DisConnect(conn);
}

static void failure_is_passed_on(void) {
    char out[64];
    int32_t conn = connect_fresh();
    XSRDouble_QueueAnswer(-20101, NULL, 0); /* module not known to the server */
    CHECK(fetch_greeting(conn, "Ada", out, (int32_t)sizeof out) == -20101);
    ORQExt_DisConnect(conn);
}

static void pending_answer_is_waited_for(void) {
    char out[64];
    char ticket[8];
    int32_t len = (int32_t)sizeof ticket;
    int32_t conn = connect_fresh();
    XSRDouble_QueuePending(7, 8);           /* first: "answer pending", ticket (7, 8) */
    XSRDouble_QueueAnswer(0, "Hi, Bo", 6);  /* the poll then gets the answer */
    CHECK(fetch_greeting(conn, "Bo", out, (int32_t)sizeof out) == ORQEXT_OK);
    CHECK(strcmp(out, "Hi, Bo") == 0);
    CHECK(XSRDouble_CommandCount() == 2);
    /* The second request polled with the ticket (code 4, two int32 LE). */
    CHECK(XSRDouble_CommandCode(1) == 4);
    CHECK(XSRDouble_CommandBody(1, ticket, &len) == XSRDOUBLE_OK && len == 8);
    CHECK(memcmp(ticket, "\7\0\0\0\10\0\0\0", 8) == 0);
    ORQExt_DisConnect(conn);
}

static void answer_in_parts_is_joined(void) {
    char out[64];
    int32_t conn = connect_fresh();
    XSRDouble_QueuePart("Good day, ", 10);
    XSRDouble_QueueAnswer(0, "Cy", 2);
    CHECK(fetch_greeting(conn, "Cy", out, (int32_t)sizeof out) == ORQEXT_OK);
    CHECK(strcmp(out, "Good day, Cy") == 0);
    CHECK(XSRDouble_QueuedCount() == 0);
    ORQExt_DisConnect(conn);
}

static void greeting_longer_than_the_buffer_is_refused(void) {
    char out[8];
    int32_t conn = connect_fresh();
    XSRDouble_QueueAnswer(0, "Hello, Ada Lovelace", 19);
    CHECK(fetch_greeting(conn, "Ada Lovelace", out, (int32_t)sizeof out) == ORQEXT_E_ANSWER_TOO_LONG);
    ORQExt_DisConnect(conn);
}

int main(void) {
    greeting_comes_back();
    failure_is_passed_on();
    pending_answer_is_waited_for();
    answer_in_parts_is_joined();
    greeting_longer_than_the_buffer_is_refused();
    if (failures) {
        fprintf(stderr, "%d check(s) failed\n", failures);
        return 1;
    }
    printf("all checks passed\n");
    return 0;
}
