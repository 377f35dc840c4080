/*
 * xsrclient.h - the five functions ORQExtClient takes from the XSRClient
 * library at load time. Any library that exports these five names with this
 * contract can stand in for the search server's own client library.
 */
#ifndef XSRCLIENT_H
#define XSRCLIENT_H

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define XSR_CALL __stdcall
#else
#define XSR_CALL
#endif

#if defined(_WIN32)
#if defined(XSR_BUILDING)
#define XSR_API __declspec(dllexport)
#else
#define XSR_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define XSR_API __attribute__((visibility("default")))
#else
#define XSR_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Login record handed to XSR_OpenConn: 112 bytes, each field NUL-terminated. */
typedef struct XSR_Login {
    char user[64];
    char password[32];
    char server[16];
} XSR_Login;

/* 0: *handle holds a new connection handle; negative: failure. */
XSR_API int32_t XSR_CALL XSR_OpenConn(const char* server, int32_t port, XSR_Login* login,
                                      int32_t* handle);
XSR_API int32_t XSR_CALL XSR_CloseConn(int32_t handle);
/* Non-zero while the connection is alive. */
XSR_API int32_t XSR_CALL XSR_IsValidCon(int32_t handle);
/* Probes a server address without logging in. */
XSR_API int32_t XSR_CALL XSR_CheckServer(const char* server, int32_t port);
/*
 * The request/answer primitive. ORQExtClient always passes:
 * handle, 32639, 0, 45000, answer, answer_len (in: capacity, out: bytes
 * written), header (16 bytes), 16, 0, body, body_len, 0, body2, body2_len.
 * Results: 0 complete answer; -9000 pending (the first 8 bytes of the answer
 * are the ticket to poll with); -1108 part of the answer, more follows;
 * other negative values are failures.
 */
XSR_API int32_t XSR_CALL XSR_CommandEx(int32_t handle, int32_t magic, int32_t reserved1,
                                       int32_t timeout_hint, void* answer, int32_t* answer_len,
                                       const void* header, int32_t header_len,
                                       int32_t reserved2, const void* body, int32_t body_len,
                                       int32_t reserved3, const void* body2, int32_t body2_len);

#ifdef __cplusplus
}
#endif

#endif /* XSRCLIENT_H */
