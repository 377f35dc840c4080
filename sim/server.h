// xsr-sim: a loopback server speaking the protocol of docs/protocol.md.
// One thread accepts, one thread serves each socket, a small pool runs the
// module calls that may block. Sessions (a login and the sockets attached to
// it) own the tickets of pending and parted answers.
//
// The source files, by what they do:
//   server.cpp           start and stop, the accept loop, connection limits
//   server_framing.cpp   reading frames, the login, serving a socket
//   server_commands.cpp  the command table and the commands
//   server_tickets.cpp   answers held by ticket: delivery, poll, fetch, cancel
//   server_workers.cpp   the worker pool for module calls that may block
//   server_view.cpp      what hosted modules see (statement log, stats, gates)
//   server_parts.h       the structures these files share
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/admin.h"
#include "sim/cluster_desc.h"
#include "sim/config.h"
#include "sim/held_bytes.h"
#include "sim/modules.h"
#include "xsr/net/socket.h"
#include "xsr/proto/wire.h"

namespace xsrsim {

class Server : public ServerView {
public:
    explicit Server(const Config& cfg);
    ~Server() override;
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds the listeners (port 0 picks a free one) and starts serving.
    bool start(uint16_t port, std::string* error);
    uint16_t port() const { return port_; }
    const std::vector<std::string>& addresses() const { return bound_; }
    // Stops accepting, ends every connection and module call, joins every
    // thread. Safe to call more than once.
    void stop();

    ModuleTypes& types() { return types_; }

    // Closes every logged-in socket that has waited for its next request
    // longer than the idle limit (none with a limit of 0), and returns how
    // many it closed. The accept loop calls it about once a second.
    std::size_t end_idle_connections();
    // Closes every socket that has not logged in within the login limit of
    // its connect, and returns how many it closed. The accept loop calls it
    // about once a second.
    std::size_t end_late_logins();

    // ServerView
    std::string server_name() const override;
    std::string statement_log() const override;
    void clear_statement_log() override;
    std::string stats() const override;
    bool hold_gate(const std::string& name, const CancelToken& cancel, uint32_t max_ms) override;
    void release_gate(const std::string& name) override;

    struct Job;
    struct Session;
    struct Connection;
    struct Outgoing;

private:
    struct TicketEntry {
        bool async = false;
        std::shared_ptr<Job> job;
        std::shared_ptr<const ModuleAnswer> answer;  // once known
        std::size_t offset = 0;                      // bytes delivered
        int64_t ready_at = 0;
        HeldCharge charge;  // the answer's bytes, once known
    };

    void accept_loop();
    void serve(Connection* c);
    void serve_frames(Connection* c);
    bool handshake(Connection* c);
    void end_connection(Connection* c);
    void reap_connections(bool all);
    void end_socket_locked(Connection& c);
    bool admit_login(Connection* c);
    int64_t clock_ms() const;

    Outgoing dispatch(Session& s, const xsrproto::CommandView& cmd, Connection& c);
    Outgoing cmd_action(Session&, const xsrproto::CommandView&, Connection&);
    Outgoing cmd_message(Session&, const xsrproto::CommandView&, Connection&);
    Outgoing cmd_poll(Session&, const xsrproto::CommandView&, Connection&);
    Outgoing cmd_ticket(Session&, const xsrproto::CommandView&, Connection&);
    Outgoing cmd_module_list(Session&, const xsrproto::CommandView&, Connection&);
    Outgoing cmd_module_info(Session&, const xsrproto::CommandView&, Connection&);
    Outgoing cmd_version(Session&, const xsrproto::CommandView&, Connection&);
    Outgoing cmd_text(Session&, const xsrproto::CommandView&, Connection&);
    Outgoing cmd_cluster_add(Session&, const xsrproto::CommandView&, Connection&);
    Outgoing cmd_cluster_delete(Session&, const xsrproto::CommandView&, Connection&);
    Outgoing cmd_cluster_description(Session&, const xsrproto::CommandView&, Connection&);

    Outgoing deliver_first(Session& s, std::shared_ptr<const ModuleAnswer> a, int32_t capacity, bool async);
    Outgoing deliver_ticket_locked(Session& s, const xsrproto::Ticket& t, int32_t capacity);
    Outgoing pending_locked(Session& s, const xsrproto::Ticket& t, int32_t capacity);
    xsrproto::Ticket new_ticket_locked(Session& s, TicketEntry e);
    void sweep_locked(Session& s);
    uint32_t part_size_of(const ModuleAnswer& a) const;

    bool submit(const std::shared_ptr<Job>& job);
    void worker_loop();

    Config cfg_;
    ModuleTypes types_;
    ModuleTable modules_;
    ClusterDescription clusters_;

    uint16_t port_ = 0;
    std::vector<std::string> bound_;
    std::vector<xsrnet::Socket> listeners_;
    int wake_[2] = {-1, -1};
    std::thread acceptor_;
    std::atomic<bool> stopping_{false};
    bool started_ = false;
    std::mutex stop_mu_;

    // connections
    mutable std::mutex conn_mu_;
    std::list<std::unique_ptr<Connection>> conns_;

    // sessions
    mutable std::mutex sess_mu_;
    std::map<uint32_t, std::shared_ptr<Session>> sessions_;
    uint32_t next_session_ = 1;

    // bytes of answers held for tickets
    std::shared_ptr<HeldBytes> held_bytes_;

    // worker pool
    std::mutex pool_mu_;
    std::condition_variable pool_cv_;
    std::deque<std::shared_ptr<Job>> queue_;
    std::list<std::shared_ptr<Job>> running_;
    std::vector<std::thread> workers_;
    bool pool_stop_ = false;

    // gates
    std::mutex gate_mu_;
    std::condition_variable gate_cv_;
    std::map<std::string, bool> gates_;

    // statements and counters
    mutable std::mutex log_mu_;
    std::deque<std::string> log_;
    std::atomic<uint64_t> cancelled_{0};
    std::atomic<uint64_t> requests_{0};
    std::atomic<uint64_t> held_{0};  // requests waiting at a gate
};

}  // namespace xsrsim
