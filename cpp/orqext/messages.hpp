// orqext/messages.hpp - module messages, statements and module
// administration.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "orqext/connection.hpp"

namespace orqext {

namespace detail {

// A time limit in the C API's milliseconds; a negative one is refused as the
// argument `name` (the calls without a limit wait as long as it takes).
inline int32_t limit_ms(std::chrono::milliseconds limit, const char* name) {
    if (limit.count() < 0) throw refused_argument{name};
    return limit.count() > INT32_MAX ? INT32_MAX : static_cast<int32_t>(limit.count());
}

inline std::optional<std::string_view> target_or_none(std::string_view target) noexcept {
    if (target.empty()) return std::nullopt;
    return target;
}

}  // namespace detail

// ---------------------------------------------------------------------------
// Module messages. The payload is bytes (NULs allowed); an empty target is
// none. The answer sizes itself (answer_limits); on -1107 the message is sent
// a second time, so the module must take a repeated message well (every
// query does; a message that changes state on the server may run twice).
// ---------------------------------------------------------------------------

inline std::string send_to(const connection& c, std::string_view module, std::string_view target,
                           std::string_view payload, std::error_code& ec) noexcept {
    return detail::sized_answer(c.limits(), ec, [&](detail::cstrings& s, void* buf, int32_t* len) {
        return ORQExt_SendMessage(c.call_handle(), s(module, "module"), s(detail::target_or_none(target), "target"),
                                  payload.data(), detail::size32(payload.size()), buf, len);
    });
}
inline std::string send_to(const connection& c, std::string_view module, std::string_view target,
                           std::string_view payload) {
    std::error_code ec;
    auto r = send_to(c, module, target, payload, ec);
    return detail::or_throw("ORQExt_SendMessage", ec, std::move(r));
}
inline std::string send(const connection& c, std::string_view module, std::string_view payload,
                        std::error_code& ec) noexcept {
    return send_to(c, module, {}, payload, ec);
}
inline std::string send(const connection& c, std::string_view module, std::string_view payload) {
    return send_to(c, module, {}, payload);
}

// Time-limited: no complete answer within `timeout` gives errc::timeout, or,
// with cancel_on_timeout (default: false), errc::timeout_cancelled after the
// pending answer was cancelled on the server. A negative limit is refused
// (errc::bad_argument naming "timeout") before anything is sent.
inline std::string send_to(const connection& c, std::string_view module, std::string_view target,
                           std::string_view payload, std::chrono::milliseconds timeout,
                           bool cancel_on_timeout, std::error_code& ec) noexcept {
    return detail::sized_answer(c.limits(), ec, [&](detail::cstrings& s, void* buf, int32_t* len) {
        return ORQExt_SendMessageTimeOut(c.call_handle(), s(module, "module"), s(detail::target_or_none(target), "target"),
                                         payload.data(), detail::size32(payload.size()), buf, len,
                                         detail::limit_ms(timeout, "timeout"), cancel_on_timeout ? 1 : 0);
    });
}
inline std::string send_to(const connection& c, std::string_view module, std::string_view target,
                           std::string_view payload, std::chrono::milliseconds timeout,
                           bool cancel_on_timeout = false) {
    std::error_code ec;
    auto r = send_to(c, module, target, payload, timeout, cancel_on_timeout, ec);
    return detail::or_throw("ORQExt_SendMessageTimeOut", ec, std::move(r));
}
inline std::string send(const connection& c, std::string_view module, std::string_view payload,
                        std::chrono::milliseconds timeout, bool cancel_on_timeout,
                        std::error_code& ec) noexcept {
    return send_to(c, module, {}, payload, timeout, cancel_on_timeout, ec);
}
inline std::string send(const connection& c, std::string_view module, std::string_view payload,
                        std::chrono::milliseconds timeout, bool cancel_on_timeout = false) {
    return send_to(c, module, {}, payload, timeout, cancel_on_timeout);
}
// Without cancel_on_timeout: a pending answer is left on the server.
inline std::string send_to(const connection& c, std::string_view module, std::string_view target,
                           std::string_view payload, std::chrono::milliseconds timeout,
                           std::error_code& ec) noexcept {
    return send_to(c, module, target, payload, timeout, false, ec);
}
inline std::string send(const connection& c, std::string_view module, std::string_view payload,
                        std::chrono::milliseconds timeout, std::error_code& ec) noexcept {
    return send_to(c, module, {}, payload, timeout, false, ec);
}

// ---------------------------------------------------------------------------
// Statements
// ---------------------------------------------------------------------------

// On a temporary connection described by "server=...;port=...;user=...;pass=...".
// A server name longer than the login record's 15 characters is resolved and
// each IPv4 address tried in turn, as connection does (orqext/resolve.hpp); a
// name with no IPv4 address gives -20001 (XSR_E_RESOLVE).
inline int32_t exec_sql(std::string_view connect_string, std::string_view statement,
                        std::error_code& ec) noexcept {
    return detail::status_call(ec, [&](detail::cstrings& s) {
        const char* st = s(statement, "statement");
        s(connect_string, "connect_string");  // a NUL is refused before the name is resolved
        int32_t rc = -20001;                   // XSR_E_RESOLVE: no address to try
        for (const std::string& cs : connect_string_server(connect_string).to_try()) {
            rc = ORQExt_ExecSql(cs.c_str(), st);
            if (!try_next_address(rc)) break;
        }
        return rc;
    });
}
inline int32_t exec_sql(std::string_view connect_string, std::string_view statement) {
    std::error_code ec;
    int32_t r = exec_sql(connect_string, statement, ec);
    const connect_string_server cs(connect_string);
    if (ec.value() == -20001 && cs.too_long())
        throw error(ec, ("ORQExt_ExecSql: " + server_name_refusal("server", cs.server())).c_str());
    return detail::or_throw("ORQExt_ExecSql", ec, r);
}
inline int32_t exec_sql(const connection& c, std::string_view statement, std::error_code& ec) noexcept {
    return detail::status_call(ec, [&](detail::cstrings& s) {
        return ORQExt_ExecSql2(c.call_handle(), s(statement, "statement"));
    });
}
inline int32_t exec_sql(const connection& c, std::string_view statement) {
    std::error_code ec;
    int32_t r = exec_sql(c, statement, ec);
    return detail::or_throw("ORQExt_ExecSql2", ec, r);
}
// The free text of "use ext <module> ..." to the module's statement process;
// errc::bad_statement when it is not an extension statement.
inline int32_t query_sql_process(const connection& c, std::string_view statement,
                                 std::error_code& ec) noexcept {
    return detail::status_call(ec, [&](detail::cstrings& s) {
        return ORQExt_QuerySqlProcess(c.call_handle(), s(statement, "statement"));
    });
}
inline int32_t query_sql_process(const connection& c, std::string_view statement) {
    std::error_code ec;
    int32_t r = query_sql_process(c, statement, ec);
    return detail::or_throw("ORQExt_QuerySqlProcess", ec, r);
}

// ---------------------------------------------------------------------------
// Module administration
// ---------------------------------------------------------------------------

struct module_registration {
    std::string_view version;  // empty: 1.0.0.0
    bool autostart = false;
    std::string_view file_ref;  // empty ones are left out
    std::string_view cmd_param;
    std::string_view desc;
    std::string_view depend_files;
};

// The server's text answers, split: `raw` as received (without a trailing
// NUL); `lines` its lines; `fields` the lines of the form key=value.
struct text_answer {
    std::string raw;
    std::vector<std::string> lines;
    std::vector<std::pair<std::string, std::string>> fields;

    // The value of the first field `key`, or nullopt.
    std::optional<std::string> field(std::string_view key) const {
        for (const auto& f : fields)
            if (f.first == key) return f.second;
        return std::nullopt;
    }
};

inline text_answer parse_text_answer(std::string raw) {
    while (!raw.empty() && raw.back() == '\0') raw.pop_back();
    text_answer t;
    std::size_t at = 0;
    while (at < raw.size()) {
        std::size_t end = raw.find('\n', at);
        if (end == std::string::npos) end = raw.size();
        std::string line = raw.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) {
            const std::size_t eq = line.find('=');
            if (eq != std::string::npos) t.fields.emplace_back(line.substr(0, eq), line.substr(eq + 1));
            t.lines.push_back(std::move(line));
        }
        at = end + 1;
    }
    t.raw = std::move(raw);
    return t;
}

// The lines of a text answer split at TABs: the shape of the text mining
// modules' result lists ("term TAB count", "id TAB category TAB score").
// Empty lines and a trailing NUL are dropped; a CR before a line end too.
inline std::vector<std::vector<std::string>> tab_rows(std::string_view text) {
    std::vector<std::vector<std::string>> rows;
    for (const std::string& line : parse_text_answer(std::string(text)).lines) {
        std::vector<std::string> row;
        std::size_t at = 0;
        for (;;) {
            const std::size_t tab = line.find('\t', at);
            row.push_back(line.substr(at, tab == std::string::npos ? std::string::npos : tab - at));
            if (tab == std::string::npos) break;
            at = tab + 1;
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

namespace admin {

inline int32_t register_module(const connection& c, std::string_view module,
                               const module_registration& r, std::error_code& ec) noexcept {
    return detail::status_call(ec, [&](detail::cstrings& s) {
        return ORQExt_RegExtMod(c.call_handle(), s(module, "module"), s(r.version), r.autostart ? 1 : 0,
                                s(r.file_ref), s(r.cmd_param), s(r.desc), s(r.depend_files));
    });
}
inline int32_t register_module(const connection& c, std::string_view module,
                               const module_registration& r = {}) {
    std::error_code ec;
    int32_t v = register_module(c, module, r, ec);
    return detail::or_throw("ORQExt_RegExtMod", ec, v);
}
// version nullopt: none sent; an empty one is sent empty.
inline int32_t unregister_module(const connection& c, std::string_view module,
                                 std::optional<std::string_view> version, std::error_code& ec) noexcept {
    return detail::status_call(ec, [&](detail::cstrings& s) {
        return ORQExt_UnRegExtMod(c.call_handle(), s(module, "module"), s(version, "version"));
    });
}
inline int32_t unregister_module(const connection& c, std::string_view module,
                                 std::optional<std::string_view> version = std::nullopt) {
    std::error_code ec;
    int32_t v = unregister_module(c, module, version, ec);
    return detail::or_throw("ORQExt_UnRegExtMod", ec, v);
}
// Start and stop: one request, the server's result as it comes (errc::pending
// and errc::part are failures here: nothing is polled).
inline int32_t start_module(const connection& c, std::string_view module,
                            std::optional<std::string_view> version, std::error_code& ec) noexcept {
    return detail::status_call(ec, [&](detail::cstrings& s) {
        return ORQExt_LoadExtMod(c.call_handle(), s(module, "module"), s(version, "version"));
    });
}
inline int32_t start_module(const connection& c, std::string_view module,
                            std::optional<std::string_view> version = std::nullopt) {
    std::error_code ec;
    int32_t v = start_module(c, module, version, ec);
    return detail::or_throw("ORQExt_LoadExtMod", ec, v);
}
inline int32_t stop_module(const connection& c, std::string_view module,
                           std::optional<std::string_view> version, std::error_code& ec) noexcept {
    return detail::status_call(ec, [&](detail::cstrings& s) {
        return ORQExt_UnloadExtMod(c.call_handle(), s(module, "module"), s(version, "version"));
    });
}
inline int32_t stop_module(const connection& c, std::string_view module,
                           std::optional<std::string_view> version = std::nullopt) {
    std::error_code ec;
    int32_t v = stop_module(c, module, version, ec);
    return detail::or_throw("ORQExt_UnloadExtMod", ec, v);
}

// Information on one module (second_name nullopt: none).
inline text_answer module_info(const connection& c, std::string_view module,
                               std::optional<std::string_view> second_name,
                               std::error_code& ec) noexcept {
    std::string raw = detail::sized_answer(c.limits(), ec, [&](detail::cstrings& s, void* b, int32_t* n) {
        return ORQExt_GetModInfo(c.call_handle(), s(module, "module"), s(second_name, "second_name"), b, n);
    });
    return detail::guard(ec, [&] { return ec ? text_answer{} : parse_text_answer(std::move(raw)); });
}
inline text_answer module_info(const connection& c, std::string_view module,
                               std::optional<std::string_view> second_name = std::nullopt) {
    std::error_code ec;
    auto r = module_info(c, module, second_name, ec);
    return detail::or_throw("ORQExt_GetModInfo", ec, std::move(r));
}
// The list of extension modules, one line per module.
inline text_answer module_list(const connection& c, std::error_code& ec) noexcept {
    std::string raw = detail::sized_answer(c.limits(), ec, [&](detail::cstrings&, void* b, int32_t* n) {
        return ORQExt_GetModInfos(c.call_handle(), b, n);
    });
    return detail::guard(ec, [&] { return ec ? text_answer{} : parse_text_answer(std::move(raw)); });
}
inline text_answer module_list(const connection& c) {
    std::error_code ec;
    auto r = module_list(c, ec);
    return detail::or_throw("ORQExt_GetModInfos", ec, std::move(r));
}
// The extension layer's version text.
inline std::string extension_version(const connection& c, std::error_code& ec) noexcept {
    std::string raw = detail::sized_answer(c.limits(), ec, [&](detail::cstrings&, void* b, int32_t* n) {
        return ORQExt_GetExtVersion(c.call_handle(), b, n);
    });
    while (!raw.empty() && raw.back() == '\0') raw.pop_back();
    return raw;
}
inline std::string extension_version(const connection& c) {
    std::error_code ec;
    auto r = extension_version(c, ec);
    return detail::or_throw("ORQExt_GetExtVersion", ec, std::move(r));
}

}  // namespace admin
}  // namespace orqext
