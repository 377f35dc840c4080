// Reading remote call frames and writing replies for the simulated service
// modules ("KExt_NLPE", "KExt_ARA", "KExt_KWFS", "KExt_STM").
//
// A remote call frame is [int32 engine selector], "r!" NUL, the remote
// function name NUL, then the arguments back to back: strings with their NUL,
// int32 little-endian, single bytes. Every read here is bounded by the
// request: a field that would run past the end makes the read fail and the
// call is answered with kErrFrame. docs/sim-modules.md lists the codes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/modules.h"

namespace xsrsim::svc {

// Negative codes of the simulated service modules.
constexpr int32_t kErrFrame = -20201;     // malformed frame: a field runs past the end, bytes left over
constexpr int32_t kErrFunction = -20202;  // unknown remote function or engine selector
constexpr int32_t kErrNotFound = -20203;  // no dictionary, domain, handle, run or topic of that name
constexpr int32_t kErrExists = -20204;    // a dictionary or domain of that name exists already
constexpr int32_t kErrValue = -20205;     // an argument out of range: empty name, bad mode, bad count
constexpr int32_t kErrState = -20206;     // the object is not in the state the call needs

// The largest answer a service module builds, whatever capacity is offered.
constexpr int32_t kMaxAnswer = 16 * 1024 * 1024;

// Text of a code above, nullptr for other codes.
const char* code_text(int32_t code);

// Bounded little-endian reader over the arguments of a frame.
class Args {
public:
    Args() = default;
    Args(const unsigned char* p, std::size_t n) : p_(p), n_(n) {}

    std::size_t left() const { return n_ - pos_; }
    bool at_end() const { return pos_ == n_; }

    bool i32(int32_t* v);
    bool u8(uint8_t* v);
    // A string up to its NUL (consumed); false when no NUL comes before the end.
    bool str(std::string* s);
    // Exactly n bytes.
    bool block(std::size_t n, std::string* s);

    // The strings that fill the bytes from here up to `tail` bytes before the
    // end, for calls whose null strings are left out of the frame: each must
    // end with its NUL, and at most `max` may be there. The tail is left to
    // read. False when the region is shorter than the tail, does not end
    // with a NUL or holds more than `max` strings.
    bool strings_before(std::size_t tail, std::size_t max, std::vector<std::string>* out);

private:
    const unsigned char* p_ = nullptr;
    std::size_t n_ = 0;
    std::size_t pos_ = 0;
};

// A remote call as the service modules dispatch it.
struct ServiceCall {
    int32_t selector = -1;  // "KExt_NLPE" only
    std::string name;
    Args args;
};

// Reads the head of a frame with the server's parse_remote_call(): the
// selector when `with_selector`, "r!" NUL and the remote function name.
// False when the frame is malformed.
bool open_call(const Bytes& frame, bool with_selector, ServiceCall* out);

// Reply bytes.
class Out {
public:
    Out& i32(int32_t v);
    Out& u8(uint8_t v);
    Out& text(const std::string& s);  // the bytes, no NUL
    Out& zeros(std::size_t n);
    std::size_t size() const { return b_.size(); }
    Bytes take() { return std::move(b_); }

private:
    Bytes b_;
};

// Answers.
ModuleAnswer status(int32_t result);
ModuleAnswer answer(Bytes bytes, int32_t result = 0);

// A counted text (int32 length, then the bytes): the length announces the
// whole text; only the leading `cap` bytes follow (none for cap <= 0).
// Returns false when the text was cut, so that a multi-part reply ends there.
bool put_counted(Out& out, const std::string& text, int64_t cap);

// The leading whole lines of `text` (each ended by '\n') that fit `cap` bytes.
std::string whole_lines(const std::string& text, int64_t cap);

// The smaller of a capacity named in the frame and the capacity the client
// offered for the answer; never below 0.
int64_t room(int64_t frame_cap, int32_t offered);

}  // namespace xsrsim::svc
