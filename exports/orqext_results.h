/**
 * @file orqext_results.h
 * The meaning of every Result code a caller can meet.
 *
 * One table: the library's own codes, the codes of our networked XSRClient
 * (-200xx, passed through unchanged), and the codes of xsr-sim and its
 * simulated service modules. The README's table, the orqext tool, the C++
 * layer's error category and the Python package's exceptions all take their
 * texts from here (the tests check the README and the Python table against
 * it).
 *
 * Compiles as C89, C99 and C++. orqext_result_name and orqext_result_meaning
 * turn a code into its text without expanding the table yourself.
 */
#ifndef ORQEXT_RESULTS_H
#define ORQEXT_RESULTS_H

/**
 * The table of Result codes, one row per code, expanded through a macro of
 * four arguments:
 *
 *     X(code, name, source, meaning)
 *
 * with `source` one of "ORQExtClient", "XSRClient", "xsr-sim",
 * "service module". For example:
 *
 *     #define ROW(code, name, source, meaning) case code: return meaning;
 *     switch (rc) { ORQEXT_RESULT_TABLE(ROW) }
 *     #undef ROW
 *
 * @param X the macro each row is handed to
 * @ingroup orqext_codes
 */
#define ORQEXT_RESULT_TABLE(X)                                                              \
    X(0, "ORQEXT_OK", "ORQExtClient", "success")                                            \
    X(-1100, "ORQEXT_E_BAD_ARGUMENT", "ORQExtClient",                                       \
      "bad argument: null pointer, empty string, size not positive, length over its "       \
      "limit, or a connect string without one of its keys")                                 \
    X(-1107, "ORQEXT_E_ANSWER_TOO_LONG", "ORQExtClient",                                    \
      "the answer is longer than the buffer; the buffer holds its leading part and the "    \
      "length says how long the whole answer was")                                          \
    X(-1108, "ORQEXT_E_PART", "XSRClient", "part of an answer delivered, more follows")     \
    X(-1112, "ORQEXT_E_TIMEOUT", "ORQExtClient", "no complete answer within the time limit") \
    X(-1113, "ORQEXT_E_TIMEOUT_CANCELLED", "ORQExtClient",                                  \
      "time-out, and the pending answer was cancelled")                                     \
    X(-1203, "ORQEXT_E_NO_NODE", "ORQExtClient",                                            \
      "clustering is on and there is no module name, or no node serves the module")         \
    X(-3502, "ORQEXT_E_BAD_STATEMENT", "ORQExtClient", "the statement is not well-formed")  \
    X(-4100, "ORQEXT_E_NO_CONNECTION", "ORQExtClient",                                      \
      "the connection handle is not known to the library")                                  \
    X(-4120, "ORQEXT_E_NO_CALLBACK", "ORQExtClient", "no asynchronous callback is installed") \
    X(-4122, "ORQEXT_E_NO_REQUEST", "ORQExtClient",                                         \
      "no queued asynchronous request has that id")                                         \
    X(-4127, "ORQEXT_E_NO_RECORD", "ORQExtClient",                                          \
      "clustering switched off for a connection the library does not know")                 \
    X(-4128, "ORQEXT_E_NO_CLUSTER", "ORQExtClient", "no such cluster for the connection")   \
    X(-9000, "ORQEXT_E_PENDING", "XSRClient", "answer pending")                             \
    X(-20001, "XSR_E_RESOLVE", "XSRClient", "the host name could not be resolved")          \
    X(-20002, "XSR_E_CONNECT", "XSRClient", "no address of the server accepted the connection") \
    X(-20003, "XSR_E_CONNECT_TIMEOUT", "XSRClient",                                         \
      "the connect or login took longer than its time limit")                               \
    X(-20004, "XSR_E_LOGIN", "XSRClient", "user name or password refused")                  \
    X(-20005, "XSR_E_HANDLE", "XSRClient", "no open connection has that handle")            \
    X(-20006, "XSR_E_LOST", "XSRClient", "the server closed or reset the connection")       \
    X(-20007, "XSR_E_TIMEOUT", "XSRClient", "no answer within the I/O time limit")          \
    X(-20008, "XSR_E_PROTOCOL", "XSRClient", "malformed or unexpected frame from the server") \
    X(-20009, "XSR_E_ARGUMENT", "XSRClient", "a call broke the XSRClient calling contract") \
    X(-20010, "XSR_E_TOO_LARGE", "XSRClient", "the request does not fit in one frame")      \
    X(-20011, "XSR_E_RESOURCES", "XSRClient", "out of sockets, threads or memory")          \
    X(-20012, "XSR_E_CLOSED", "XSRClient",                                                  \
      "the connection was closed while the call was waiting")                               \
    X(-20013, "XSR_E_NO_MATCH", "XSRClient",                                                \
      "replay: no recorded call matches the request (shown on standard error)")             \
    X(-20101, "SIM_E_UNKNOWN_MODULE", "xsr-sim", "no module of that name")                  \
    X(-20102, "SIM_E_NOT_STARTED", "xsr-sim", "the module is registered but not started")   \
    X(-20103, "SIM_E_TICKET", "xsr-sim", "no pending answer has that ticket")               \
    X(-20104, "SIM_E_OVERFLOW", "xsr-sim",                                                  \
      "no room for the ticket of a pending answer (capacity under 8 bytes)")                \
    X(-20105, "SIM_E_REQUEST", "xsr-sim", "the request body is malformed for its command")  \
    X(-20106, "SIM_E_COMMAND", "xsr-sim", "unknown command code or header constant")        \
    X(-20107, "SIM_E_REGISTERED", "xsr-sim", "the module is registered already")            \
    X(-20108, "SIM_E_VERSION", "xsr-sim", "the version does not match the registered one")  \
    X(-20109, "SIM_E_NO_IMPLEMENTATION", "xsr-sim", "no hosted module type for the module") \
    X(-20110, "SIM_E_NO_CLUSTER", "xsr-sim",                                                \
      "no such cluster or node in the cluster description")                                 \
    X(-20111, "SIM_E_STATEMENT", "xsr-sim", "statement or action document not understood") \
    X(-20112, "SIM_E_BUSY", "xsr-sim", "too many connections or running requests")          \
    X(-20113, "SIM_E_SHUTDOWN", "xsr-sim", "the server is stopping")                        \
    X(-20114, "SIM_E_HELD_LIMIT", "xsr-sim",                                                \
      "the answers held for tickets are at their bound (per session or in all); fetch or "  \
      "cancel them first")                                                                  \
    X(-20201, "MOD_E_FRAME", "service module", "malformed remote call frame")               \
    X(-20202, "MOD_E_FUNCTION", "service module",                                           \
      "unknown remote function or engine selector")                                         \
    X(-20203, "MOD_E_NOT_FOUND", "service module",                                          \
      "no such dictionary, domain, handle, run or topic")                                   \
    X(-20204, "MOD_E_EXISTS", "service module",                                             \
      "a dictionary or domain of that name exists already")                                 \
    X(-20205, "MOD_E_VALUE", "service module",                                              \
      "an argument is out of range (empty name, bad mode)")                                 \
    X(-20206, "MOD_E_STATE", "service module",                                              \
      "the engine or object is not in the state the call needs (not initialised, not open)")

/* The helpers below are static and inline in every language this header
 * compiles as (C89 has no inline: GCC's __inline__ there, plain static
 * elsewhere). They are no exports of the library. */
/** @cond internal */
#if defined(__cplusplus) || (defined(__STDC_VERSION__) && __STDC_VERSION__ >= 199901L)
#define ORQEXT_RESULTS_INLINE static inline
#elif defined(__GNUC__)
#define ORQEXT_RESULTS_INLINE static __inline__
#else
#define ORQEXT_RESULTS_INLINE static
#endif

/* The name (which 0) or meaning (which 1) of a code; NULL when unlisted. */
ORQEXT_RESULTS_INLINE const char* orqext_result_text_(long code, int which) {
    switch (code) {
#define ORQEXT_RESULTS_ROW(c, name, source, meaning) \
    case c:                                         \
        return which ? meaning : name;
        ORQEXT_RESULT_TABLE(ORQEXT_RESULTS_ROW)
#undef ORQEXT_RESULTS_ROW
    }
    return 0;
}
/** @endcond */

/**
 * The constant name of a Result code ("ORQEXT_E_TIMEOUT").
 *
 * @param code a Result code (a positive status word is no Result code)
 * @return The name from the table, a static string; NULL for a code the
 *     table does not list.
 * @ingroup orqext_codes
 */
ORQEXT_RESULTS_INLINE const char* orqext_result_name(long code) { return orqext_result_text_(code, 0); }

/**
 * The meaning of a Result code ("no complete answer within the time limit").
 *
 * @param code a Result code
 * @return The meaning from the table, a static string; NULL for a code the
 *     table does not list.
 * @ingroup orqext_codes
 */
ORQEXT_RESULTS_INLINE const char* orqext_result_meaning(long code) { return orqext_result_text_(code, 1); }

#endif /* ORQEXT_RESULTS_H */
