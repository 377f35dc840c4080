// orqext/connection.hpp - the RAII connection, the server probe and answers
// that size themselves.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "orqext/error.hpp"
#include "orqext/resolve.hpp"

namespace orqext {

// How large a buffer a call offers for its answer. The first attempt offers
// `initial` bytes (at most `maximum`). When the library answers -1107 and
// reports the whole length, the call is made once more with exactly that
// capacity, provided it is not above `maximum`; a second -1107, a -1107
// without a longer length, or a length above `maximum` is an error
// (errc::answer_too_long). So a hostile length never becomes a huge
// allocation, and no answer is ever asked for more than twice.
struct answer_limits {
    int32_t initial = 4096;
    int32_t maximum = 64 * 1024 * 1024;
};

namespace detail {

// Told of a connection's handle just before the connection closes it: the
// asynchronous requests (async.hpp) set it on their first send, to end the
// requests still pending on that handle as cancelled.
inline std::atomic<void (*)(int32_t)>& closing_hook() noexcept {
    static std::atomic<void (*)(int32_t)> hook{nullptr};
    return hook;
}

// One self-sizing answer: call(buffer, &length) -> Result code, with length
// the capacity on entry and the answer's length on return. Returns the
// answer (empty on failure, ec set); *rc_out receives the last Result code.
template <class Call>
std::string sized_answer(const answer_limits& limits, std::error_code& ec, Call&& call,
                         int32_t* rc_out = nullptr) noexcept {
    std::string answer;
    int32_t rc = 0;
    ec.clear();
    guard(ec, [&]() -> int {
        cstrings s;
        const int32_t maximum = limits.maximum > 0 ? limits.maximum : 0;
        int32_t capacity = limits.initial < 1 ? 1 : limits.initial;
        if (capacity > maximum) capacity = maximum;
        for (int attempt = 0; attempt < 2; ++attempt) {
            answer.assign(static_cast<std::size_t>(capacity), '\0');
            int32_t length = capacity;
            rc = call(s, capacity == 0 ? nullptr : &answer[0], &length);
            if (rc == ORQEXT_E_ANSWER_TOO_LONG && attempt == 0 && length > capacity &&
                length <= maximum) {
                capacity = length;  // the whole length: once more, exactly that
                continue;
            }
            if (rc < 0) {
                if (rc == ORQEXT_E_ANSWER_TOO_LONG) reported_length() = length;
                answer.clear();
                return 0;
            }
            answer.resize(answer_length(length, capacity));
            return 0;
        }
        return 0;
    });
    if (!ec && rc < 0) ec = make_error_code(rc);
    if (ec) answer.clear();
    if (rc_out) *rc_out = ec ? failure_value(ec) : rc;
    return answer;
}

}  // namespace detail

// Server status probe (XSR_CheckServer through the library); no connection.
inline int32_t server_status(std::string_view server, int32_t port, std::error_code& ec) noexcept {
    return detail::status_call(ec, [&](detail::cstrings& s) {
        return ORQExt_GetServerStatus(s(server, "server"), port);
    });
}
inline int32_t server_status(std::string_view server, int32_t port) {
    std::error_code ec;
    int32_t r = server_status(server, port, ec);
    return detail::or_throw("ORQExt_GetServerStatus", ec, r);
}

// A connection: opened by the constructor (or connection::open), closed by
// the destructor. Move-only. An empty connection (default-constructed, moved
// from, closed, released) has handle() 0.
//
// One connection may be used from several threads at once (the library
// serialises nothing per handle); moving, closing and destroying it must not
// race with its use.
class connection {
public:
    connection() noexcept = default;
    connection(std::string_view server, int32_t port, std::string_view user,
               std::string_view password) {
        std::error_code ec;
        *this = open(server, port, user, password, ec);
        if (ec && server.size() > server_name_room && ec.value() == -20001)  // XSR_E_RESOLVE
            throw error(ec, ("ORQExt_Connect: " + server_name_refusal("server", server)).c_str());
        detail::or_throw("ORQExt_Connect", ec);
    }
    // A server name longer than the login record's 15 characters is resolved
    // and each IPv4 address tried in turn (orqext/resolve.hpp); a name with no
    // IPv4 address gives -20001 (XSR_E_RESOLVE).
    static connection open(std::string_view server, int32_t port, std::string_view user,
                           std::string_view password, std::error_code& ec) noexcept {
        int32_t handle = 0;
        int32_t status = 0;
        ec.clear();
        detail::guard(ec, [&]() -> int {
            detail::cstrings s;
            const char* u = s(user, "user");
            const char* pw = s(password, "password");
            s(server, "server");  // a NUL in the name is refused before it is resolved
            const std::vector<std::string> names = server_names_to_try(server);
            status = names.empty() ? -20001 : 0;  // XSR_E_RESOLVE
            for (const std::string& name : names) {
                if (handle != 0) ORQExt_DisConnect(std::exchange(handle, 0));
                handle = ORQExt_Connect(name.c_str(), port, u, pw, &status);
                if (!try_next_address(status)) break;
            }
            return 0;
        });
        connection c;
        if (ec) return c;
        if (status != 0 || handle == 0) {
            // A handle that came back with a failure is not kept open.
            if (handle != 0) ORQExt_DisConnect(handle);
            ec = make_error_code(status != 0 ? status : static_cast<int32_t>(ORQEXT_E_BAD_ARGUMENT));
            return c;
        }
        c.handle_ = handle;
        return c;
    }
    // Takes over a handle opened through the C API (ORQExt_Connect); the
    // connection closes it.
    static connection adopt(int32_t handle) noexcept {
        connection c;
        c.handle_ = handle;
        return c;
    }

    connection(const connection&) = delete;
    connection& operator=(const connection&) = delete;
    connection(connection&& o) noexcept
        : handle_(std::exchange(o.handle_, 0)), limits_(o.limits_) {}
    connection& operator=(connection&& o) noexcept {
        if (this != &o) {
            std::error_code ignored;
            close(ignored);
            handle_ = std::exchange(o.handle_, 0);
            limits_ = o.limits_;
        }
        return *this;
    }
    ~connection() {
        std::error_code ignored;
        close(ignored);
    }

    // The C handle, for mixing with the C API (still owned here).
    int32_t handle() const noexcept { return handle_; }
    // The handle a call goes out on; an empty connection throws
    // detail::empty_connection, which the calls turn into errc::no_connection
    // before anything is sent (the library would pass handle 0 on).
    int32_t call_handle() const {
        if (handle_ == 0) throw detail::empty_connection{};
        return handle_;
    }
    // Gives up ownership: the caller closes the handle.
    int32_t release() noexcept { return std::exchange(handle_, 0); }
    explicit operator bool() const noexcept { return handle_ != 0; }

    // True while the server side of the connection is alive (ORQExt_IsConnect).
    bool alive() const noexcept { return handle_ != 0 && ORQExt_IsConnect(handle_) != 0; }

    // Closes now (ORQExt_DisConnect); the connection is empty afterwards
    // whatever the result. Closing an empty connection does nothing.
    void close(std::error_code& ec) noexcept {
        ec.clear();
        if (handle_ == 0) return;
        if (auto hook = detail::closing_hook().load()) hook(handle_);
        const int32_t rc = ORQExt_DisConnect(std::exchange(handle_, 0));
        if (rc < 0) ec = make_error_code(rc);
    }
    void close() {
        std::error_code ec;
        close(ec);
        detail::or_throw("ORQExt_DisConnect", ec);
    }

    // Answer sizes of the self-sizing calls on this connection.
    const answer_limits& limits() const noexcept { return limits_; }
    void set_limits(const answer_limits& l) noexcept { limits_ = l; }

private:
    int32_t handle_ = 0;
    answer_limits limits_;
};

}  // namespace orqext
