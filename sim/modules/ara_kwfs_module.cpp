// Simulated "KExt_ARA" (association-rule statistics over named runs of term
// pairs) and "KExt_KWFS" (keyword frequencies), plus the frame shared by all
// service modules and their registration.
#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include "sim/modules/service_modules.h"
#include "sim/modules/text_tools.h"

namespace xsrsim {

namespace svc {

ModuleAnswer ServiceModule::call(const ModuleCall& call, const CancelToken&, ServerView&) {
    ServiceCall rc;
    if (!open_call(call.payload, with_selector_, &rc)) return status(kErrFrame);
    // Every reply is sized from the capacity offered; a huge offer must not
    // make the module build a huge answer.
    const int32_t offered = call.capacity < kMaxAnswer ? call.capacity : kMaxAnswer;
    std::lock_guard<std::mutex> g(mu_);
    return dispatch(rc, offered);
}

namespace {

// ---- KExt_ARA ----------------------------------------------------------

// A run counts ordered pairs of terms.
using Run = std::map<std::pair<std::string, std::string>, int64_t>;

int32_t clamp32(int64_t v) { return v > INT32_MAX ? INT32_MAX : static_cast<int32_t>(v); }

// Pair updates one association call may make: the pairs grow with the
// product of the two texts' terms, and the module's lock is held meanwhile.
constexpr uint64_t kMaxPairUpdates = uint64_t(1) << 20;

class Ara : public ServiceModule {
public:
    Ara() : ServiceModule(false) {}

protected:
    ModuleAnswer dispatch(ServiceCall& rc, int32_t) override {
        static const std::map<std::string, ModuleAnswer (Ara::*)(Args&)> t = {
            {"ARA_Stat_AssociatedFreq_Begin", &Ara::begin},
            {"ARA_Stat_AssociatedFreq", &Ara::add},
            {"ARA_Stat_AssociatedFreq_End", &Ara::end},
            {"ARA_MulMergeFile", &Ara::merge},
            {"ARA_Filtrate", &Ara::filtrate},
            {"ARA_GetWordSupportRec", &Ara::support},
        };
        auto it = t.find(rc.name);
        if (it == t.end()) return status(kErrFunction);
        return (this->*(it->second))(rc.args);
    }

private:
    std::map<std::string, Run> runs_;
    std::string current_;  // the open run, empty when none
    bool open_ = false;

    // Up to two strings (null ones are left out), then `tail` bytes.
    static bool two(Args& a, std::size_t tail, std::string* x, std::string* y) {
        std::vector<std::string> v;
        if (!a.strings_before(tail, 2, &v)) return false;
        *x = v.size() > 0 ? v[0] : std::string();
        *y = v.size() > 1 ? v[1] : std::string();
        return true;
    }

    // Opens run `name` ("" for a null name), emptying it.
    ModuleAnswer begin(Args& a) {
        std::vector<std::string> v;
        if (!a.strings_before(0, 1, &v)) return status(kErrFrame);
        current_ = v.empty() ? std::string() : v[0];
        runs_[current_].clear();
        open_ = true;
        return status(0);
    }

    // Every term of text A paired with every other term of text B counts
    // `value` (1 when not above 0); flag set: the reverse pairs as well.
    // Answers the number of distinct pairs in the run. A call that would
    // make more than kMaxPairUpdates updates is refused and counts nothing.
    ModuleAnswer add(Args& a) {
        std::string x, y;
        int32_t value = 0;
        uint8_t flag = 0;
        if (!two(a, 5, &x, &y) || !a.i32(&value) || !a.u8(&flag) || !a.at_end()) return status(kErrFrame);
        if (!open_) return status(kErrState);
        const std::vector<std::string> xs = distinct_terms(x), ys = distinct_terms(y);
        if (uint64_t{xs.size()} * ys.size() * (flag ? 2 : 1) > kMaxPairUpdates) return status(kErrValue);
        Run& run = runs_[current_];
        const int64_t w = value > 0 ? value : 1;
        for (const std::string& p : xs)
            for (const std::string& q : ys) {
                if (p == q) continue;
                run[{p, q}] += w;
                if (flag) run[{q, p}] += w;
            }
        return status(clamp32(static_cast<int64_t>(run.size())));
    }

    ModuleAnswer end(Args& a) {
        if (!a.at_end()) return status(kErrFrame);
        if (!open_) return status(kErrState);
        open_ = false;
        return status(clamp32(static_cast<int64_t>(runs_[current_].size())));
    }

    // Adds the counts of run A to run B (made when missing); answers B's
    // number of pairs.
    ModuleAnswer merge(Args& a) {
        std::string x, y;
        if (!two(a, 0, &x, &y)) return status(kErrFrame);
        auto from = runs_.find(x);
        if (from == runs_.end()) return status(kErrNotFound);
        const Run src = from->second;
        Run& dst = runs_[y];
        for (const auto& kv : src) dst[kv.first] += kv.second;
        return status(clamp32(static_cast<int64_t>(dst.size())));
    }

    // Drops the pairs of run A counted less than `value` and, when text B
    // names a term, the pairs without it; answers the pairs left.
    ModuleAnswer filtrate(Args& a) {
        std::string x, y;
        int32_t value = 0;
        if (!two(a, 4, &x, &y) || !a.i32(&value) || !a.at_end()) return status(kErrFrame);
        auto it = runs_.find(x);
        if (it == runs_.end()) return status(kErrNotFound);
        const std::string term = lower_ascii(y);
        Run& run = it->second;
        for (auto p = run.begin(); p != run.end();) {
            const bool keep = p->second >= value &&
                              (term.empty() || p->first.first == term || p->first.second == term);
            p = keep ? std::next(p) : run.erase(p);
        }
        return status(clamp32(static_cast<int64_t>(run.size())));
    }

    // Support of term B in run A: the sum of the counts of the pairs it is in.
    ModuleAnswer support(Args& a) {
        std::string x, y;
        if (!two(a, 0, &x, &y)) return status(kErrFrame);
        auto it = runs_.find(x);
        if (it == runs_.end()) return status(kErrNotFound);
        const std::string term = lower_ascii(y);
        if (term.empty()) return status(kErrValue);
        int64_t s = 0;
        for (const auto& kv : it->second)
            if (kv.first.first == term || kv.first.second == term) s += kv.second;
        return status(clamp32(s));
    }
};

// ---- KExt_KWFS ---------------------------------------------------------

struct KwfsItem {
    std::string text;
    int32_t weight = 0;
    std::string field;
};

// count, then per item text1, value, text2; then the options value and the
// optional options text; then `tail` bytes. Every item is read with its
// text1: an item sent without one cannot be told apart from its neighbours.
bool read_items(Args& a, std::size_t tail, std::vector<KwfsItem>* items, int32_t* opt_value,
                std::string* opt_text) {
    int32_t count = 0;
    if (!a.i32(&count)) return false;
    // Each item takes at least 6 bytes, which bounds the count by the frame.
    if (count < 0 || static_cast<std::size_t>(count) > a.left() / 6) return false;
    for (int32_t i = 0; i < count; ++i) {
        KwfsItem it;
        if (!a.str(&it.text) || !a.i32(&it.weight) || !a.str(&it.field)) return false;
        items->push_back(std::move(it));
    }
    if (!a.i32(opt_value)) return false;
    std::vector<std::string> v;
    if (!a.strings_before(tail, 1, &v)) return false;
    *opt_text = v.empty() ? std::string() : v[0];
    return true;
}

class Kwfs : public ServiceModule {
public:
    Kwfs() : ServiceModule(false) {}

protected:
    ModuleAnswer dispatch(ServiceCall& rc, int32_t) override {
        if (rc.name == "KWFS_Frequency") return frequency(rc.args);
        if (rc.name == "KWFS_Associated") return associated(rc.args);
        return status(kErrFunction);
    }

private:
    // Term counts over the item texts, each weighted by its value (1 when not
    // above 0); stop words and the words of the options text left out.
    // Answers the number of distinct terms counted at least the options
    // value, at most `number` of them when number is above 0.
    ModuleAnswer frequency(Args& a) {
        std::vector<KwfsItem> items;
        int32_t min = 0, number = 0;
        std::string skip;
        if (!read_items(a, 4, &items, &min, &skip) || !a.i32(&number) || !a.at_end()) return status(kErrFrame);
        const std::vector<std::string> extra = word_list(skip);
        Counts all;
        for (const KwfsItem& it : items) add_counts(all, count_terms(it.text, true), it.weight > 0 ? it.weight : 1);
        int64_t n = 0;
        for (const auto& kv : all)
            if (kv.second >= min && std::find(extra.begin(), extra.end(), kv.first) == extra.end()) ++n;
        if (number > 0 && n > number) n = number;
        return status(clamp32(n));
    }

    // The options text names a keyword; answers the number of distinct
    // non-stop terms that share an item text with it, counted (with the
    // items' weights) at least the options value.
    ModuleAnswer associated(Args& a) {
        std::vector<KwfsItem> items;
        int32_t min = 0;
        std::string keyword;
        if (!read_items(a, 0, &items, &min, &keyword)) return status(kErrFrame);
        const std::string key = lower_ascii(keyword);
        if (key.empty()) return status(kErrValue);
        Counts with;
        for (const KwfsItem& it : items) {
            Counts c = count_terms(it.text, true);
            if (!c.count(key)) continue;
            c.erase(key);
            add_counts(with, c, it.weight > 0 ? it.weight : 1);
        }
        int64_t n = 0;
        for (const auto& kv : with)
            if (kv.second >= min) ++n;
        return status(clamp32(n));
    }
};

}  // namespace
}  // namespace svc

std::shared_ptr<Module> make_ara_module(const ModuleSettings&) { return std::make_shared<svc::Ara>(); }
std::shared_ptr<Module> make_kwfs_module(const ModuleSettings&) { return std::make_shared<svc::Kwfs>(); }

void register_service_types(ModuleTypes& types) {
    types.add("KExt_NLPE", make_nlpe_module);
    types.add("KExt_ARA", make_ara_module);
    types.add("KExt_KWFS", make_kwfs_module);
    types.add("KExt_STM", make_stm_module);
}

}  // namespace xsrsim
