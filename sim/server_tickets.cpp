// xsr-sim: answers held by ticket (pending, and parted answers): their
// table, their delivery by the part rule, polls, fetches and cancels.
#include "sim/delivery.h"
#include "sim/server.h"
#include "sim/server_parts.h"

namespace xsrsim {

using namespace xsrproto;

// --- tickets -----------------------------------------------------------------

uint32_t Server::part_size_of(const ModuleAnswer& a) const {
    return a.part_size > 0 ? a.part_size : cfg_.part_size;
}

Ticket Server::new_ticket_locked(Session& s, TicketEntry e) {
    Ticket t{static_cast<int32_t>(s.id), s.next_ticket++};
    if (s.next_ticket <= 0) s.next_ticket = 1;
    s.tickets[t] = std::move(e);
    return t;
}

void Server::sweep_locked(Session& s) {
    const int64_t now = xsrnet::now_ms();
    if (now - s.last_sweep < 1000) return;
    s.last_sweep = now;
    for (auto it = s.tickets.begin(); it != s.tickets.end();) {
        TicketEntry& e = it->second;
        if (!e.answer && e.job) e.job->is_done(&e.answer, &e.ready_at, &e.charge);
        if (e.answer && now - e.ready_at > static_cast<int64_t>(cfg_.ticket_ttl_ms))
            it = s.tickets.erase(it);
        else
            ++it;
    }
}

Server::Outgoing Server::pending_locked(Session& s, const Ticket& t, int32_t capacity) {
    if (capacity < static_cast<int32_t>(kTicketSize)) {
        // No room for the ticket: the answer could never be fetched.
        auto it = s.tickets.find(t);
        if (it != s.tickets.end()) {
            if (it->second.job) it->second.job->cancel.cancel();
            s.tickets.erase(it);
        }
        return Outgoing::code(kErrOverflow);
    }
    Bytes b(kTicketSize);
    put_ticket(b.data(), t);
    return Outgoing::own(kPending, std::move(b));
}

Server::Outgoing Server::deliver_ticket_locked(Session& s, const Ticket& t, int32_t capacity) {
    auto it = s.tickets.find(t);
    if (it == s.tickets.end()) return Outgoing::code(kErrTicket);
    TicketEntry& e = it->second;
    if (!e.answer && !(e.job && e.job->is_done(&e.answer, &e.ready_at, &e.charge)))
        return pending_locked(s, t, capacity);
    const ModuleAnswer& a = *e.answer;
    const Chunk ch = next_chunk(a.bytes.size() - e.offset, part_size_of(a), static_cast<std::size_t>(capacity));
    Outgoing o;
    o.bytes = std::shared_ptr<const Bytes>(e.answer, &e.answer->bytes);
    o.off = e.offset;
    o.len = ch.len;
    o.whole = a.bytes.size();
    if (e.offset == 0) {
        o.fault = a.fault;
        o.cut_at = a.cut_at;
    }
    switch (ch.step) {
        case Step::Whole:
            o.result = a.result;
            s.tickets.erase(it);
            break;
        case Step::Part:
            o.result = kPart;
            o.part_ticket = t;
            e.offset += ch.len;
            break;
        case Step::Overflow:
            // The rest is dropped; the caller learns the whole length and
            // asks again with room for it.
            o.result = kTooLong;
            s.tickets.erase(it);
            break;
    }
    return o;
}

Server::Outgoing Server::deliver_first(Session& s, std::shared_ptr<const ModuleAnswer> a,
                                       int32_t capacity, bool async) {
    const std::size_t size = a->bytes.size();
    if (size > part_size_of(*a)) {
        // Parts are fetched by ticket: an asynchronous sender gets the ticket
        // first (pending), a synchronous one its first part at once.
        std::lock_guard<std::mutex> g(s.mu);
        TicketEntry e;
        if (!held_bytes_->take(s.held, size, &e.charge)) return Outgoing::code(kErrHeldLimit);
        e.async = async;
        e.answer = a;
        e.ready_at = xsrnet::now_ms();
        const Ticket t = new_ticket_locked(s, std::move(e));
        return async ? pending_locked(s, t, capacity) : deliver_ticket_locked(s, t, capacity);
    }
    const Chunk ch = next_chunk(size, part_size_of(*a), static_cast<std::size_t>(capacity));
    Outgoing o;
    o.result = ch.step == Step::Whole ? a->result : kTooLong;
    o.bytes = std::shared_ptr<const Bytes>(a, &a->bytes);
    o.len = ch.len;
    o.whole = size;
    o.fault = a->fault;
    o.cut_at = a->cut_at;
    return o;
}

namespace {
bool ticket_body(const CommandView& cmd, Ticket* t) {
    if (cmd.body_len != kTicketSize) return false;
    *t = get_ticket(cmd.body);
    // A poll right after a first part carries no ticket of its own.
    if (t->zero()) *t = cmd.part_ticket;
    return true;
}
}  // namespace

Server::Outgoing Server::cmd_poll(Session& s, const CommandView& cmd, Connection&) {
    Ticket t;
    if (!ticket_body(cmd, &t)) return Outgoing::code(kErrRequest);
    std::lock_guard<std::mutex> g(s.mu);
    return deliver_ticket_locked(s, t, cmd.capacity);
}

Server::Outgoing Server::cmd_ticket(Session& s, const CommandView& cmd, Connection&) {
    Ticket t;
    if (!ticket_body(cmd, &t)) return Outgoing::code(kErrRequest);
    std::lock_guard<std::mutex> g(s.mu);
    auto it = s.tickets.find(t);
    if (it == s.tickets.end()) return Outgoing::code(kErrTicket);
    if (it->second.async) return deliver_ticket_locked(s, t, cmd.capacity);
    // A synchronous request's ticket is only ever polled with code 4; code 5
    // on it is the cancel at the end of a time limit.
    if (it->second.job) it->second.job->cancel.cancel();
    s.tickets.erase(it);
    ++cancelled_;
    return Outgoing::code(0);
}

}  // namespace xsrsim
