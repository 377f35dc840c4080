/*
 * xsrclient_double.h - a scripted XSRClient for the unit tests of programs
 * that use ORQExtClient (library libXSRClientDouble).
 *
 * The library exports the five XSR_ functions that ORQExtClient takes from
 * XSRClient. Link a test program with it before ORQExtClient (or preload it),
 * and ORQExtClient talks to it instead of a server:
 *
 *   - XSR_CommandEx answers from a queue of scripted answers, in order; with
 *     the queue empty it answers 0 (success) with no bytes.
 *   - XSR_OpenConn gives the handles 1001, 1002, ... with result 0;
 *     XSR_IsValidCon reports every open handle as alive; XSR_CheckServer
 *     and XSR_CloseConn give 0.
 *   - Every XSR_CommandEx call is recorded (command code, 16-byte header,
 *     request body) and can be read back.
 *
 * Every function here is safe to call from any thread. Functions are only
 * ever added to this header, never changed or removed: test with
 * XSRDOUBLE_API_LEVEL (or XSRDouble_ApiLevel() at run time) for newer ones.
 *
 * Compiles as C99 and as C++.
 */
#ifndef XSRCLIENT_DOUBLE_H
#define XSRCLIENT_DOUBLE_H

#include <stdint.h>

#if defined(_WIN32)
#if defined(XSR_BUILDING)
#define XSRDOUBLE_API __declspec(dllexport)
#else
#define XSRDOUBLE_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define XSRDOUBLE_API __attribute__((visibility("default")))
#else
#define XSRDOUBLE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Level of this header's functions; raised when functions are added. */
#define XSRDOUBLE_API_LEVEL 1

/* Results of the functions below. */
enum {
    XSRDOUBLE_OK = 0,
    XSRDOUBLE_E_ARGUMENT = -1,  /* null pointer where bytes are needed, negative length */
    XSRDOUBLE_E_NO_CALL = -2,   /* no recorded command with that index */
    XSRDOUBLE_E_TOO_SMALL = -3, /* buffer too small: nothing copied, *len says what is needed */
    XSRDOUBLE_E_MEMORY = -4     /* the double could not allocate */
};

/* The level of the library that is loaded (XSRDOUBLE_API_LEVEL it was
 * built with). */
XSRDOUBLE_API int32_t XSRDouble_ApiLevel(void);

/* Forgets the recorded calls, the queued answers, the open handles and the
 * settings below; handles start again at 1001. */
XSRDOUBLE_API void XSRDouble_Reset(void);

/* ---- Scripted answers to XSR_CommandEx, taken in the order queued ------ */

/* Queues an answer: the result code and the len bytes written to the answer
 * buffer (cut to the buffer's capacity, as XSRClient does; the length
 * reported back is the number of bytes written). bytes may be null when len
 * is 0. A result of 0 is a complete answer, a negative one a failure of
 * XSRClient or the server, a positive one a status word of the server. */
XSRDOUBLE_API int32_t XSRDouble_QueueAnswer(int32_t result, const void* bytes, int32_t len);

/* Queues "answer pending" (-9000) with the 8-byte ticket (ticket0,
 * ticket1) that ORQExtClient polls with; queue the answers it then receives
 * after it. */
XSRDOUBLE_API int32_t XSRDouble_QueuePending(int32_t ticket0, int32_t ticket1);

/* Queues one part of an answer in several parts (-1108: more follows); end
 * the sequence with XSRDouble_QueueAnswer(0, last part). */
XSRDOUBLE_API int32_t XSRDouble_QueuePart(const void* bytes, int32_t len);

/* Number of queued answers not yet taken. */
XSRDOUBLE_API int32_t XSRDouble_QueuedCount(void);

/* Result of XSR_OpenConn for one server name (from then until reset); a
 * negative result refuses the connection. */
XSRDOUBLE_API int32_t XSRDouble_SetOpenResult(const char* server, int32_t result);

/* ---- Recorded XSR_CommandEx calls, index 0 = the first since reset ----- */

/* Number of XSR_CommandEx calls made. */
XSRDOUBLE_API int32_t XSRDouble_CommandCount(void);

/* The command code of call `index` (the first two header bytes, little
 * endian), or XSRDOUBLE_E_NO_CALL. */
XSRDOUBLE_API int32_t XSRDouble_CommandCode(int32_t index);

/* The connection handle call `index` was made on, or XSRDOUBLE_E_NO_CALL. */
XSRDOUBLE_API int32_t XSRDouble_CommandHandle(int32_t index);

/* Copy the 16 header bytes, or the request body, of call `index` to
 * buf. *len: capacity on entry, length of the bytes on return (also when
 * the buffer is too small, so that a call with *len = 0 asks the length). */
XSRDOUBLE_API int32_t XSRDouble_CommandHeader(int32_t index, void* buf, int32_t* len);
XSRDOUBLE_API int32_t XSRDouble_CommandBody(int32_t index, void* buf, int32_t* len);

#ifdef __cplusplus
}
#endif

#endif /* XSRCLIENT_DOUBLE_H */
