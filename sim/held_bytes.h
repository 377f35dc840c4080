// The bytes of finished answers that xsr-sim holds for tickets (pending
// answers nobody fetched yet, the rest of parted answers), counted per
// session and in all against two bounds, so that clients that never fetch
// cannot grow the server without limit.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

namespace xsrsim {

class HeldBytes;

// One session's share of the held bytes.
struct HeldAccount {
    std::shared_ptr<HeldBytes> pool;
    uint64_t held = 0;  // under the pool's lock
};

// Bytes taken for one held answer; given back when it goes (the ticket is
// fetched, cancelled, expired or its session ends).
class HeldCharge {
public:
    HeldCharge() = default;
    HeldCharge(HeldCharge&& o) noexcept { *this = std::move(o); }
    HeldCharge& operator=(HeldCharge&& o) noexcept;
    HeldCharge(const HeldCharge&) = delete;
    HeldCharge& operator=(const HeldCharge&) = delete;
    ~HeldCharge() { give_back(); }
    void give_back();

private:
    friend class HeldBytes;
    std::shared_ptr<HeldAccount> account_;
    uint64_t bytes_ = 0;
};

class HeldBytes : public std::enable_shared_from_this<HeldBytes> {
public:
    HeldBytes(uint64_t total_limit, uint64_t session_limit) : total_limit_(total_limit), session_limit_(session_limit) {}

    std::shared_ptr<HeldAccount> open_account();
    // Takes n bytes for the account into *charge (which gives back what it
    // held before). False, taking nothing, when the session or the server
    // would then hold more than its bound.
    bool take(const std::shared_ptr<HeldAccount>& account, uint64_t n, HeldCharge* charge);
    // True when the session or the server holds its bound already: a
    // request that may leave an answer held is refused.
    bool full(const HeldAccount& account) const;
    uint64_t total() const;

private:
    friend class HeldCharge;
    void give_back(HeldAccount& account, uint64_t n);

    const uint64_t total_limit_, session_limit_;
    mutable std::mutex mu_;
    uint64_t total_ = 0;
};

}  // namespace xsrsim
