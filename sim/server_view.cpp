// xsr-sim: what hosted modules see of the server (ServerView): its name,
// the statement log, the stats and the named gates.
#include <algorithm>
#include <chrono>

#include "sim/server.h"
#include "sim/server_parts.h"

namespace xsrsim {

// --- ServerView ----------------------------------------------------------------

std::string Server::server_name() const { return cfg_.name; }

std::string Server::statement_log() const {
    std::lock_guard<std::mutex> g(log_mu_);
    std::string s;
    for (const auto& l : log_) s += l + "\n";
    return s;
}

void Server::clear_statement_log() {
    std::lock_guard<std::mutex> g(log_mu_);
    log_.clear();
}

std::string Server::stats() const {
    std::size_t sessions = 0, sockets = 0, tickets = 0, frame_bytes = 0, pending_logins = 0;
    {
        std::lock_guard<std::mutex> g(conn_mu_);
        for (const auto& c : conns_) {
            frame_bytes += c->frame_room;
            if (!c->done && !c->closing && !c->logged_in) ++pending_logins;
        }
    }
    std::vector<std::shared_ptr<Session>> list;
    {
        std::lock_guard<std::mutex> g(sess_mu_);
        sessions = sessions_.size();
        for (const auto& s : sessions_) {
            sockets += static_cast<std::size_t>(s.second->sockets);
            list.push_back(s.second);
        }
    }
    for (const auto& s : list) {
        std::lock_guard<std::mutex> g(s->mu);
        tickets += s->tickets.size();
    }
    return "sessions=" + std::to_string(sessions) + "\nsockets=" + std::to_string(sockets) +
           "\ntickets=" + std::to_string(tickets) + "\ncancelled=" + std::to_string(cancelled_.load()) +
           "\nrequests=" + std::to_string(requests_.load()) + "\nheld=" + std::to_string(held_.load()) +
           "\nframe_bytes=" + std::to_string(frame_bytes) + "\nheld_bytes=" + std::to_string(held_bytes_->total()) +
           "\npending_logins=" + std::to_string(pending_logins) + "\n";
}

bool Server::hold_gate(const std::string& name, const CancelToken& cancel, uint32_t max_ms) {
    struct Count {
        std::atomic<uint64_t>& n;
        explicit Count(std::atomic<uint64_t>& c) : n(c) { ++n; }
        ~Count() { --n; }
    } count(held_);
    std::unique_lock<std::mutex> g(gate_mu_);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(max_ms);
    while (!gates_[name]) {
        if (cancel.cancelled() || stopping_) return false;
        // Slices, so that a cancel (which does not signal this condition)
        // is seen promptly.
        if (gate_cv_.wait_until(g, std::min(until, std::chrono::steady_clock::now() +
                                                       std::chrono::milliseconds(20))) ==
                std::cv_status::timeout &&
            std::chrono::steady_clock::now() >= until)
            return gates_[name];
    }
    return true;
}

void Server::release_gate(const std::string& name) {
    {
        std::lock_guard<std::mutex> g(gate_mu_);
        gates_[name] = true;
    }
    gate_cv_.notify_all();
}

}  // namespace xsrsim
