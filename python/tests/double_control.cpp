// A small C face of the scripted XSRClient double for the Python and .NET tests: queue
// answers of XSR_CommandEx and read back what the library sent. Built by the
// tests against the double's libXSRClient.so.
#include <cstdint>
#include <string>

#include "xsr/double/xsr_double.h"

extern "C" {

__attribute__((visibility("default"))) void dbl_reset() { xsrdouble::reset(); }

// One answer: result, the bytes written at the answer buffer (cut to the
// capacity offered) and the length written back (-1: the bytes written).
__attribute__((visibility("default"))) void dbl_push(int32_t result, const char* bytes,
                                                      int32_t len, int32_t reported_len) {
    xsrdouble::Reply r;
    r.result = result;
    r.bytes.assign(bytes ? bytes : "", bytes ? static_cast<std::size_t>(len) : 0);
    r.reported_len = reported_len;
    xsrdouble::push(r);
}

__attribute__((visibility("default"))) void dbl_set_open_result(const char* server,
                                                                 int32_t result) {
    xsrdouble::set_open_result(server, result);
}

// How many XSR_Close calls the library made.
__attribute__((visibility("default"))) int32_t dbl_close_count() {
    return static_cast<int32_t>(xsrdouble::count(xsrdouble::Fn::Close));
}

__attribute__((visibility("default"))) int32_t dbl_command_count() {
    return static_cast<int32_t>(xsrdouble::count(xsrdouble::Fn::Command));
}

// The i-th XSR_CommandEx: its command code and the capacity it offered.
__attribute__((visibility("default"))) int32_t dbl_command_code(int32_t i) {
    auto calls = xsrdouble::calls_of(xsrdouble::Fn::Command);
    return i < static_cast<int32_t>(calls.size()) ? calls[i].code() : -1;
}

__attribute__((visibility("default"))) int32_t dbl_command_capacity(int32_t i) {
    auto calls = xsrdouble::calls_of(xsrdouble::Fn::Command);
    return i < static_cast<int32_t>(calls.size()) ? calls[i].capacity : -1;
}

// The request body of the i-th XSR_CommandEx, copied into out (at most cap bytes);
// returns its length.
__attribute__((visibility("default"))) int32_t dbl_command_body(int32_t i, char* out, int32_t cap) {
    auto calls = xsrdouble::calls_of(xsrdouble::Fn::Command);
    if (i >= static_cast<int32_t>(calls.size())) return -1;
    const std::string& b = calls[i].body;
    for (std::size_t k = 0; k < b.size() && k < static_cast<std::size_t>(cap); ++k) out[k] = b[k];
    return static_cast<int32_t>(b.size());
}

// From now on every XSR_CommandEx the script does not answer first calls touch on the
// calling thread (the library's worker, for an asynchronous message), then answers
// result 0 with these bytes: a test acts while the library is inside the call.
__attribute__((visibility("default"))) void dbl_answer_after(void (*touch)(), const char* bytes,
                                                              int32_t len) {
    const std::string answer(bytes ? bytes : "", bytes ? static_cast<std::size_t>(len) : 0);
    xsrdouble::set_handler([touch, answer](const xsrdouble::Call&) {
        if (touch) touch();
        return xsrdouble::ok(answer);
    });
}

// From now on every XSR_CommandEx the script does not answer is answered as a server
// that holds an answer: the library's cancel by ticket (it offers 256 bytes for that
// answer) gets cancel_result with cancel_bytes; any other call gets "pending" with the
// ticket (t0, t1) when hold is non-zero, result 0 with no bytes otherwise, after calling
// touch (when not null) on the calling thread: a test learns when the library polls.
__attribute__((visibility("default"))) void dbl_hold(int32_t hold, int32_t t0, int32_t t1,
                                                      int32_t cancel_result, const char* cancel_bytes,
                                                      int32_t cancel_len, void (*touch)()) {
    xsrdouble::Reply cancel;
    cancel.result = cancel_result;
    cancel.bytes.assign(cancel_bytes ? cancel_bytes : "", cancel_bytes ? static_cast<std::size_t>(cancel_len) : 0);
    xsrdouble::set_handler([hold, t0, t1, cancel, touch](const xsrdouble::Call& c) {
        if (c.code() == 5 && c.capacity == 256) return cancel;
        if (touch) touch();
        return hold ? xsrdouble::pending(t0, t1) : xsrdouble::ok("");
    });
}

}  // extern "C"
