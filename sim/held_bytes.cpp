#include "sim/held_bytes.h"

namespace xsrsim {

HeldCharge& HeldCharge::operator=(HeldCharge&& o) noexcept {
    if (this != &o) {
        give_back();
        account_ = std::move(o.account_);
        bytes_ = o.bytes_;
        o.bytes_ = 0;
    }
    return *this;
}

void HeldCharge::give_back() {
    if (account_) account_->pool->give_back(*account_, bytes_);
    account_.reset();
    bytes_ = 0;
}

std::shared_ptr<HeldAccount> HeldBytes::open_account() {
    auto a = std::make_shared<HeldAccount>();
    a->pool = shared_from_this();
    return a;
}

bool HeldBytes::take(const std::shared_ptr<HeldAccount>& account, uint64_t n, HeldCharge* charge) {
    charge->give_back();
    std::lock_guard<std::mutex> g(mu_);
    if (account->held + n > session_limit_ || total_ + n > total_limit_) return false;
    account->held += n;
    total_ += n;
    charge->account_ = account;
    charge->bytes_ = n;
    return true;
}

bool HeldBytes::full(const HeldAccount& account) const {
    std::lock_guard<std::mutex> g(mu_);
    return account.held >= session_limit_ || total_ >= total_limit_;
}

uint64_t HeldBytes::total() const {
    std::lock_guard<std::mutex> g(mu_);
    return total_;
}

void HeldBytes::give_back(HeldAccount& account, uint64_t n) {
    std::lock_guard<std::mutex> g(mu_);
    account.held -= n;
    total_ -= n;
}

}  // namespace xsrsim
