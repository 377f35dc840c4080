/*
 * async_message.c - an asynchronous message and its callback.
 *
 * Usage: orqext_async_example server port [module [payload]]
 *        (module "Echo" and payload "hello" when not given)
 *
 * ORQExt_AsyncSendMessage returns at once; the library's worker thread sends
 * the message, polls for the answer and calls the callback on its own thread
 * with the request id, the Result code and the answer. The answer bytes
 * belong to the library and are valid only during the callback, so the
 * callback copies what it needs. One callback serves the whole process.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "exports/orqext.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <errno.h>
#include <pthread.h>
#include <time.h>
#endif

#define REQUEST_ID 42
#define WAIT_SECONDS 10

/* What the callback hands over to main, guarded by the completion below. */
static struct {
    int done;
    int32_t request_id;
    int32_t result;
    char answer[512];
    int32_t answer_len; /* the whole answer's length */
} g_reply;

/* A one-shot completion: the callback signals it, main waits for it with a
 * time limit. */
#ifdef _WIN32
static HANDLE g_event;
static int completion_init(void) { return (g_event = CreateEventA(NULL, TRUE, FALSE, NULL)) != NULL; }
static void completion_signal(void) { SetEvent(g_event); }
static int completion_wait(int seconds) {
    return WaitForSingleObject(g_event, (DWORD)seconds * 1000u) == WAIT_OBJECT_0;
}
static void completion_lock(void) {}
static void completion_unlock(void) {}
#else
static pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t g_cond = PTHREAD_COND_INITIALIZER;
static int completion_init(void) { return 1; }
static void completion_lock(void) { pthread_mutex_lock(&g_lock); }
static void completion_unlock(void) { pthread_mutex_unlock(&g_lock); }
static void completion_signal(void) { pthread_cond_broadcast(&g_cond); }
static int completion_wait(int seconds) {
    struct timespec until;
    int rc = 0;
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_sec += seconds;
    pthread_mutex_lock(&g_lock);
    while (!g_reply.done && rc != ETIMEDOUT) rc = pthread_cond_timedwait(&g_cond, &g_lock, &until);
    rc = g_reply.done;
    pthread_mutex_unlock(&g_lock);
    return rc;
}
#endif

/* Runs on the library's worker thread. */
static void ORQEXT_CALL on_answer(int32_t request_id, int32_t result, const void* answer, int32_t answer_len) {
    size_t keep = answer_len > 0 ? (size_t)answer_len : 0;
    if (keep > sizeof g_reply.answer) keep = sizeof g_reply.answer;
    completion_lock();
    g_reply.request_id = request_id;
    g_reply.result = result;
    g_reply.answer_len = answer_len;
    if (keep > 0 && answer != NULL) memcpy(g_reply.answer, answer, keep);
    g_reply.done = 1;
    completion_unlock();
    completion_signal();
}

int main(int argc, char** argv) {
    const char* server;
    int32_t port;
    const char* module = argc > 3 ? argv[3] : "Echo";
    const char* payload = argc > 4 ? argv[4] : "hello";
    int32_t status = 0;
    int32_t conn;
    int32_t rc;
    int ok = 0;

    if (argc < 3) {
        fprintf(stderr, "usage: %s server port [module [payload]]\n", argv[0]);
        return 2;
    }
    server = argv[1];
    port = (int32_t)atoi(argv[2]);
    if (!completion_init()) return 1;

    conn = ORQExt_Connect(server, port, "admin", "admin", &status);
    printf("connect: handle %d, result %d\n", (int)conn, (int)status);
    if (status < 0) return 1;

    /* Install the callback before queueing: without one the library refuses
     * the message with -4120. */
    rc = ORQExt_SetAsyncFunc(on_answer, NULL);
    printf("callback installed: result %d\n", (int)rc);

    /* Queued: the call returns the number of queued requests. The answer may
     * take up to 512 bytes. */
    rc = ORQExt_AsyncSendMessage(conn, module, NULL, payload, (int32_t)strlen(payload), REQUEST_ID,
                                 (int32_t)sizeof g_reply.answer);
    printf("queued request %d to %s: result %d\n", REQUEST_ID, module, (int)rc);

    if (rc >= 0) {
        printf("waiting for the callback (the caller is free meanwhile)...\n");
        if (completion_wait(WAIT_SECONDS)) {
            int shown = g_reply.answer_len < (int32_t)sizeof g_reply.answer ? (int)g_reply.answer_len
                                                                           : (int)sizeof g_reply.answer;
            if (shown < 0) shown = 0;
            printf("callback: request %d, result %d, answer %d bytes: %.*s\n", (int)g_reply.request_id,
                   (int)g_reply.result, (int)g_reply.answer_len, shown, g_reply.answer);
            ok = g_reply.request_id == REQUEST_ID && g_reply.result == 0;
        } else {
            /* Take the request back so that it cannot call back later. */
            printf("no callback within %d s; cancel: result %d\n", WAIT_SECONDS,
                   (int)ORQExt_CancelAsync(0, REQUEST_ID));
        }
    }

    /* Removing the callback drops whatever is still queued and stops the
     * worker. It does not wait for a callback already under way, so what a
     * callback touches (here: static data) must outlive it. */
    ORQExt_SetAsyncFunc(NULL, NULL);
    printf("disconnect: result %d\n", (int)ORQExt_DisConnect(conn));
    return ok ? 0 : 1;
}
