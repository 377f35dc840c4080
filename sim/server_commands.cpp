// xsr-sim: the table of command codes and the commands (tickets are in
// server_tickets.cpp).
#include <map>

#include "sim/server.h"
#include "sim/server_parts.h"

namespace xsrsim {

using namespace xsrproto;

// --- commands ----------------------------------------------------------------

namespace {

constexpr std::size_t kLogLimit = 1000;

}  // namespace

Server::Outgoing Server::dispatch(Session& s, const CommandView& cmd, Connection& c) {
    using Fn = Outgoing (Server::*)(Session&, const CommandView&, Connection&);
    static const std::map<uint16_t, Fn> table = {
        {1, &Server::cmd_action},        {2, &Server::cmd_message},
        {3, &Server::cmd_message},       {4, &Server::cmd_poll},
        {5, &Server::cmd_ticket},        {6, &Server::cmd_module_list},
        {7, &Server::cmd_module_info},   {8, &Server::cmd_version},
        {9, &Server::cmd_text},          {11, &Server::cmd_cluster_add},
        {12, &Server::cmd_cluster_delete}, {13, &Server::cmd_cluster_description},
    };
    if (cmd.capacity < 0) return Outgoing::code(kErrRequest);
    if (cmd.header.constant != kHeaderConstant) return Outgoing::code(kErrCommand);
    auto it = table.find(cmd.header.code);
    if (it == table.end()) return Outgoing::code(kErrCommand);
    {
        std::lock_guard<std::mutex> g(s.mu);
        sweep_locked(s);
    }
    return (this->*(it->second))(s, cmd, c);
}

namespace {

// module NUL, [target NUL], NUL, [payload]
bool parse_message(const unsigned char* p, std::size_t n, bool payload_follows, std::string* module,
                   std::string* target, const unsigned char** payload, std::size_t* payload_len) {
    BodyReader r(p, n);
    if (!r.cstr(module, 4096)) return false;
    if (!r.cstr(target, 4096)) return false;
    if (!target->empty()) {
        std::string empty;
        if (!r.cstr(&empty, 0)) return false;
    }
    r.rest(payload, payload_len);
    return payload_follows || *payload_len == 0;
}

}  // namespace

Server::Outgoing Server::cmd_message(Session& s, const CommandView& cmd, Connection& c) {
    const bool async = cmd.header.code == 3;
    ModuleCall call;
    const unsigned char* payload = nullptr;
    std::size_t payload_len = 0;
    if (!parse_message(cmd.body, cmd.body_len, !async, &call.module, &call.target, &payload, &payload_len))
        return Outgoing::code(kErrRequest);
    if (async) {
        payload = cmd.body2;
        payload_len = cmd.body2_len;
    }
    std::shared_ptr<Module> module;
    const int32_t rc = modules_.resolve(call.module, &module, nullptr);
    if (rc != 0) return Outgoing::code(rc);
    call.code = cmd.header.code;
    call.payload.assign(payload, payload + payload_len);
    call.user = s.user;
    call.capacity = cmd.capacity;

    if (module->quick(call)) {
        auto a = std::make_shared<const ModuleAnswer>(module->call(call, c.cancel, *this));
        return deliver_first(s, std::move(a), cmd.capacity, async);
    }
    // A slow call may leave its answer held for a ticket: none while the
    // session or the server holds its bound already.
    if (held_bytes_->full(*s.held)) return Outgoing::code(kErrHeldLimit);
    auto job = std::make_shared<Job>();
    job->call = std::move(call);
    job->module = std::move(module);
    if (!submit(job)) return Outgoing::code(kErrBusy);
    if (job->wait_done(cfg_.pending_after_ms)) {
        std::shared_ptr<const ModuleAnswer> a;
        int64_t at = 0;
        job->is_done(&a, &at);
        return deliver_first(s, std::move(a), cmd.capacity, async);
    }
    job->hold_for(s.held);
    std::lock_guard<std::mutex> g(s.mu);
    TicketEntry e;
    e.async = async;
    e.job = job;
    const Ticket t = new_ticket_locked(s, std::move(e));
    return pending_locked(s, t, cmd.capacity);
}

namespace {
Bytes text_bytes(const std::string& s) {
    Bytes b(s.begin(), s.end());
    b.push_back(0);
    return b;
}
}  // namespace

Server::Outgoing Server::cmd_module_list(Session& s, const CommandView& cmd, Connection&) {
    auto a = std::make_shared<ModuleAnswer>();
    a->bytes = text_bytes(modules_.list_text());
    return deliver_first(s, std::move(a), cmd.capacity, false);
}

Server::Outgoing Server::cmd_module_info(Session& s, const CommandView& cmd, Connection&) {
    BodyReader r(cmd.body, cmd.body_len);
    // name NUL, then either the closing NUL alone, or the second name (an
    // empty one too) with its NUL and the closing NUL.
    std::string name, second, empty;
    if (!r.cstr(&name, 4096) || !r.cstr(&second, 4096) || name.empty()) return Outgoing::code(kErrRequest);
    if (!r.at_end() && (!r.cstr(&empty, 0) || !r.at_end())) return Outgoing::code(kErrRequest);
    std::string text;
    const int32_t rc = modules_.info_text(name, second, &text);
    if (rc != 0) return Outgoing::code(rc);
    auto a = std::make_shared<ModuleAnswer>();
    a->bytes = text_bytes(text);
    return deliver_first(s, std::move(a), cmd.capacity, false);
}

Server::Outgoing Server::cmd_version(Session& s, const CommandView& cmd, Connection&) {
    auto a = std::make_shared<ModuleAnswer>();
    a->bytes = text_bytes(cfg_.version_text);
    return deliver_first(s, std::move(a), cmd.capacity, false);
}

Server::Outgoing Server::cmd_action(Session&, const CommandView& cmd, Connection&) {
    ActionDocument d;
    if (!parse_action_document(std::string(cmd.body, cmd.body + cmd.body_len), &d))
        return Outgoing::code(kErrStatement);
    return Outgoing::code(d.start ? modules_.start(d.module, d.has_version, d.version)
                                  : modules_.stop(d.module, d.has_version, d.version));
}

Server::Outgoing Server::cmd_text(Session& s, const CommandView& cmd, Connection&) {
    const std::string text(cmd.body, cmd.body + cmd.body_len);
    TextCommand t;
    int32_t rc = kErrStatement;
    if (text.find('\0') == std::string::npos && parse_text_command(text, &t)) {
        switch (t.kind) {
            case TextKind::Register:
                rc = modules_.register_module(t.reg);
                break;
            case TextKind::Unregister:
                rc = modules_.unregister(t.reg.module, t.reg.has_version, t.reg.version);
                break;
            case TextKind::ModuleStatement: {
                std::shared_ptr<Module> m;
                rc = modules_.resolve(t.module, &m, nullptr);
                break;
            }
            case TextKind::Statement:
                rc = 0;
                break;
        }
    }
    {
        std::lock_guard<std::mutex> g(log_mu_);
        log_.push_back(std::to_string(rc) + "\t" + s.user + "\t" + text);
        if (log_.size() > kLogLimit) log_.pop_front();
    }
    return Outgoing::code(rc);
}

Server::Outgoing Server::cmd_cluster_add(Session&, const CommandView& cmd, Connection&) {
    return Outgoing::code(clusters_.add(cmd.body, cmd.body_len));
}

Server::Outgoing Server::cmd_cluster_delete(Session&, const CommandView& cmd, Connection&) {
    return Outgoing::code(clusters_.remove(cmd.body, cmd.body_len));
}

Server::Outgoing Server::cmd_cluster_description(Session& s, const CommandView& cmd, Connection&) {
    auto a = std::make_shared<ModuleAnswer>();
    a->bytes = clusters_.encode();
    return deliver_first(s, std::move(a), cmd.capacity, false);
}

}  // namespace xsrsim
