// orqext/error.hpp - Result codes as std::error_code, the exception type and
// the shared call helpers of the C++ layer.
//
// Messages come from the one Result-code table, orqext_results.h.
#pragma once

#include <cstdint>
#include <deque>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>

#include "orqext.h"
#include "orqext/result_text.hpp"

namespace orqext {

// The library's own Result codes by name. Any int32 Result code (XSRClient
// and server codes included) converts with make_error_code(int32_t).
enum class errc : int32_t {
    bad_argument = ORQEXT_E_BAD_ARGUMENT,
    answer_too_long = ORQEXT_E_ANSWER_TOO_LONG,
    part = ORQEXT_E_PART,
    timeout = ORQEXT_E_TIMEOUT,
    timeout_cancelled = ORQEXT_E_TIMEOUT_CANCELLED,
    no_node = ORQEXT_E_NO_NODE,
    bad_statement = ORQEXT_E_BAD_STATEMENT,
    no_connection = ORQEXT_E_NO_CONNECTION,
    no_callback = ORQEXT_E_NO_CALLBACK,
    no_request = ORQEXT_E_NO_REQUEST,
    no_record = ORQEXT_E_NO_RECORD,
    no_cluster = ORQEXT_E_NO_CLUSTER,
    pending = ORQEXT_E_PENDING,
};

namespace detail {
// The parameter the last call on this thread refused (null: none, or a
// failure that was not a refused argument); read by orqext::error.
inline const char*& refused_name() noexcept {
    thread_local const char* name = nullptr;
    return name;
}

// The whole answer's length the last answer_too_long failure of a call on
// this thread reported (0: none); read by orqext::error.
inline int32_t& reported_length() noexcept {
    thread_local int32_t length = 0;
    return length;
}

class result_category_impl final : public std::error_category {
public:
    const char* name() const noexcept override { return "orqext"; }
    // The text alone, as std::error_code messages are ("no module of that
    // name"); result_message() and orqext::error::what() add the code.
    std::string message(int code) const override {
        if (const char* meaning = result_meaning(code)) return meaning;
        return code > 0 ? "status word of the server" : "unknown Result code";
    }
    std::error_condition default_error_condition(int code) const noexcept override {
        switch (code) {
            case ORQEXT_E_BAD_ARGUMENT:
            case -20009:  // XSR_E_ARGUMENT
                return std::errc::invalid_argument;
            case ORQEXT_E_ANSWER_TOO_LONG:
            case -20010:  // XSR_E_TOO_LARGE
                return std::errc::message_size;
            case ORQEXT_E_TIMEOUT:
            case ORQEXT_E_TIMEOUT_CANCELLED:
            case -20003:  // XSR_E_CONNECT_TIMEOUT
            case -20007:  // XSR_E_TIMEOUT
                return std::errc::timed_out;
            case -20002:  // XSR_E_CONNECT
                return std::errc::connection_refused;
            case -20006:  // XSR_E_LOST
                return std::errc::connection_reset;
            case -20004:  // XSR_E_LOGIN
                return std::errc::permission_denied;
            case -20011:  // XSR_E_RESOURCES
                return std::errc::not_enough_memory;
            default:
                return std::error_condition(code, *this);
        }
    }
};

}  // namespace detail

// The category of every Result code. One object per program (inline
// function-local static).
inline const std::error_category& result_category() noexcept {
    static const detail::result_category_impl c;
    return c;
}

inline std::error_code make_error_code(errc e) noexcept {
    return std::error_code(static_cast<int>(e), result_category());
}
inline std::error_code make_error_code(int32_t code) noexcept {
    return std::error_code(static_cast<int>(code), result_category());
}

// Thrown by every call without a std::error_code& argument. code() is the
// Result code (orqext category) or, for failures of the layer itself, a
// generic one (std::errc::not_enough_memory, std::errc::operation_canceled).
// what() names the C function: "ORQExt_SendMessage: -1112 ORQEXT_E_TIMEOUT:
// no complete answer within the time limit".
class error : public std::system_error {
public:
    // A -1100 the layer refused on this thread names the parameter:
    // "ORQExt_SendMessage: argument 'module': -1100 ORQEXT_E_BAD_ARGUMENT: ...".
    error(std::error_code ec, const char* function)
        : std::system_error(ec, function),
          argument_(ec == make_error_code(errc::bad_argument) && detail::refused_name() ? detail::refused_name() : ""),
          length_(ec == make_error_code(errc::answer_too_long) ? detail::reported_length() : 0),
          text_(std::string(function) + ": " + (argument_.empty() ? "" : "argument '" + argument_ + "': ") +
                describe(ec)) {}
    // The parameter the layer refused ("" when the failure names none).
    const std::string& argument() const noexcept { return argument_; }
    // For errc::answer_too_long of a call that sizes its answer: the whole
    // answer's length the library reported (the longer one of two answers);
    // 0 otherwise.
    int32_t length() const noexcept { return length_; }
    const char* what() const noexcept override { return text_.c_str(); }
    // The Result code, or 0 when the failure is not one.
    int32_t result() const noexcept {
        return code().category() == result_category() ? static_cast<int32_t>(code().value()) : 0;
    }

private:
    static std::string describe(const std::error_code& ec) {
        return ec.category() == result_category() ? result_message(static_cast<int32_t>(ec.value()))
                                                  : ec.message();
    }
    std::string argument_;
    int32_t length_ = 0;
    std::string text_;
};

namespace detail {

// Throws orqext::error when ec holds a failure; value passes through.
template <class T>
T or_throw(const char* function, std::error_code& ec, T&& value) {
    if (ec) throw error(ec, function);
    return std::forward<T>(value);
}
inline void or_throw(const char* function, const std::error_code& ec) {
    if (ec) throw error(ec, function);
}

// Thrown while arguments are prepared, before the C call: the call is
// refused with -1100 and nothing is sent. `name` is the parameter refused
// (null when not known).
struct refused_argument {
    const char* name = nullptr;
};

// Thrown for a call on an empty connection (moved from, closed, released):
// the call fails with -4100 and nothing is sent.
struct empty_connection {};

// NUL-terminated copies of string_view arguments for one C call. A text with
// a NUL inside would be cut at it by the C API without notice, so it is
// refused (refused_argument) instead.
class cstrings {
public:
    const char* operator()(std::string_view s, const char* name = nullptr) {
        if (s.find('\0') != std::string_view::npos) throw refused_argument{name};
        keep_.emplace_back(s);
        return keep_.back().c_str();
    }
    // nullopt passes a null pointer (the C API's "none").
    const char* operator()(const std::optional<std::string_view>& s, const char* name = nullptr) {
        return s ? (*this)(*s, name) : nullptr;
    }

private:
    std::deque<std::string> keep_;
};

// A size that must fit the C API's int32; larger ones are refused.
inline int32_t size32(std::size_t n) {
    if (n > static_cast<std::size_t>(INT32_MAX)) throw refused_argument{};
    return static_cast<int32_t>(n);
}

// Runs body() (which returns a Result code or a value and may throw
// refused_argument, std::bad_alloc or length_error while arguments are
// copied) and keeps every exception out: the error_code overloads never
// throw. On an exception the value is R() and ec tells why; otherwise ec is
// left as it was.
template <class Body>
auto guard(std::error_code& ec, Body&& body) noexcept -> decltype(body()) {
    using R = decltype(body());
    if (!ec) {  // an error already set keeps its name and length
        refused_name() = nullptr;
        reported_length() = 0;
    }
    try {
        return body();
    } catch (const refused_argument& r) {
        refused_name() = r.name;
        ec = make_error_code(errc::bad_argument);
    } catch (const empty_connection&) {
        ec = make_error_code(errc::no_connection);
    } catch (const std::bad_alloc&) {
        ec = std::make_error_code(std::errc::not_enough_memory);
    } catch (const std::length_error&) {
        ec = std::make_error_code(std::errc::not_enough_memory);
    } catch (...) {
        ec = std::make_error_code(std::errc::state_not_recoverable);
    }
    return R();
}

// The code an error_code overload returns beside ec: the Result code, or
// -1100 for a failure of the layer itself.
inline int32_t failure_value(const std::error_code& ec) noexcept {
    if (ec.category() == result_category()) return static_cast<int32_t>(ec.value());
    return ORQEXT_E_BAD_ARGUMENT;
}

// The shape of most calls: a C call that returns a Result code or a
// non-negative status word. A negative one sets ec and is returned.
template <class Call>
int32_t status_call(std::error_code& ec, Call&& call) noexcept {
    ec.clear();
    const int32_t rc = guard(ec, [&]() -> int32_t {
        cstrings s;
        return call(s);
    });
    if (ec) return failure_value(ec);
    if (rc < 0) ec = make_error_code(rc);
    return rc;
}

// The length of an answer the library reported as `len` in a buffer that
// holds at most `most` bytes: 0 for a negative length, never more than most.
inline std::size_t answer_length(int32_t len, int32_t most) noexcept {
    return static_cast<std::size_t>(len < 0 ? 0 : len > most ? most : len);
}

// Text answers the library cuts at a NUL the server may put after them.
inline std::string without_trailing_nuls(std::string s) {
    while (!s.empty() && s.back() == '\0') s.pop_back();
    return s;
}

}  // namespace detail
}  // namespace orqext

// The family headers state each plain call as one line of data:
//
//   ORQEXT_CPP_STATUS(name, (parameters), C function, (C arguments))
//
// gives `int32_t name(parameters, std::error_code&) noexcept` and the
// throwing `int32_t name(parameters)`: the Result code or the server's
// non-negative status word. In the C arguments, s(text) is the NUL-terminated
// copy of a std::string_view (or nullptr for std::nullopt).
//
//   ORQEXT_CPP_SIZED(name, (parameters), C function, (C arguments))
//
// gives the same pair returning std::string for a call that answers into a
// caller buffer: the C arguments name it `buf, len`, and the answer sizes
// itself by the connection's answer_limits. The parameters hold a
// `const connection& c`.
#define ORQEXT_CPP_UNPAREN(...) __VA_ARGS__
#define ORQEXT_CPP_STATUS(name, params, cfn, cargs)                                                \
    inline int32_t name(ORQEXT_CPP_UNPAREN params, std::error_code& ec) noexcept {                 \
        return ::orqext::detail::status_call(ec, [&](::orqext::detail::cstrings & s) {             \
            (void)s;                                                                               \
            return cfn(ORQEXT_CPP_UNPAREN cargs);                                                  \
        });                                                                                        \
    }                                                                                              \
    inline int32_t name(ORQEXT_CPP_UNPAREN params) {                                               \
        std::error_code ec;                                                                        \
        const int32_t r = ::orqext::detail::status_call(ec, [&](::orqext::detail::cstrings & s) {  \
            (void)s;                                                                               \
            return cfn(ORQEXT_CPP_UNPAREN cargs);                                                  \
        });                                                                                        \
        return ::orqext::detail::or_throw(#cfn, ec, r);                                            \
    }
#define ORQEXT_CPP_SIZED(name, params, cfn, cargs)                                                 \
    inline std::string name(ORQEXT_CPP_UNPAREN params, std::error_code& ec) noexcept {             \
        return ::orqext::detail::sized_answer(                                                     \
            c.limits(), ec, [&](::orqext::detail::cstrings & s, void* buf, int32_t* len) {         \
                (void)s;                                                                           \
                return cfn(ORQEXT_CPP_UNPAREN cargs);                                              \
            });                                                                                    \
    }                                                                                              \
    inline std::string name(ORQEXT_CPP_UNPAREN params) {                                           \
        std::error_code ec;                                                                        \
        std::string r = ::orqext::detail::sized_answer(                                            \
            c.limits(), ec, [&](::orqext::detail::cstrings & s, void* buf, int32_t* len) {         \
                (void)s;                                                                           \
                return cfn(ORQEXT_CPP_UNPAREN cargs);                                              \
            });                                                                                    \
        return ::orqext::detail::or_throw(#cfn, ec, std::move(r));                                 \
    }

namespace std {
template <>
struct is_error_code_enum<orqext::errc> : true_type {};
}  // namespace std
