#include "core/registry.h"

#include <atomic>
#include <cstring>
#include <list>
#include <memory>
#include <new>
#include <unordered_map>
#include <vector>

#include "cluster/cluster.h"
#include "core/result.h"
#include "xsr/xsrclient.h"

namespace orq::registry {

namespace {

using namespace read_side;

// The read side of the registry, so that the lookup every module message
// makes takes no lock: for each handle met, whether it has a record and the
// cluster_enabled of its first record. Writers change it only under the
// registry lock, right after the records themselves, and mark each change
// with a sequence counter (odd while a change is in progress). A reader that
// sees the counter odd or moved takes the locked path instead; so calls from
// several threads read shared memory only and never queue behind each other.
// The ordering needs no fences: writers store slots with release, so a
// reader that sees a changed slot also sees the counter made odd before it;
// readers load slots with acquire, so their second look at the counter comes
// after what they read.
//
// Open addressing over slots that are only ever written by writers; a table
// that gets too full is rebuilt (in place, or into a larger one). Replaced
// tables are kept until the registry is destroyed, since a reader may still
// be looking at one; tables never shrink, so what is kept stays below the
// size of the current one.
class ReadSide {
public:
    ReadSide() {
        tables_.push_back(std::unique_ptr<Table>(new Table(kMinBits)));
        g_view.current.store(tables_.back().get(), std::memory_order_release);
    }
    // Readers that come after the registry is gone find no table and take
    // the locked path, as before it was created.
    ~ReadSide() { g_view.current.store(nullptr, std::memory_order_release); }

    // Makes room for one more handle; may allocate (and throw bad_alloc)
    // but changes nothing a reader sees until its last step.
    void reserve_one() {
        Table* t = current();
        if ((t->taken + 1) * 2 <= t->mask + 1) return;
        std::vector<std::pair<int32_t, uint8_t>> live;
        for (std::size_t i = 0; i <= t->mask; ++i) {
            const uint8_t s = t->slots[i].state.load(std::memory_order_relaxed);
            if (s == kRecordOff || s == kRecordOn)
                live.emplace_back(t->slots[i].handle.load(std::memory_order_relaxed), s);
        }
        unsigned bits = t->bits;
        while ((live.size() + 1) * 4 > (std::size_t{1} << bits)) ++bits;
        if (bits == t->bits) {
            // Only slots of handles without a record are in the way: clear
            // them out in place.
            begin_change();
            for (std::size_t i = 0; i <= t->mask; ++i) t->slots[i].state.store(kSlotEmpty, std::memory_order_release);
            t->taken = 0;
            for (const auto& e : live) t->put(e.first, e.second);
            end_change();
            return;
        }
        tables_.reserve(tables_.size() + 1);
        std::unique_ptr<Table> bigger(new Table(bits));
        for (const auto& e : live) bigger->put(e.first, e.second);
        begin_change();
        g_view.current.store(bigger.get(), std::memory_order_release);
        tables_.push_back(std::move(bigger));
        end_change();
    }

    // Records what a handle now is. A new handle needs reserve_one() first.
    void set(int32_t handle, uint8_t state) {
        Table* t = current();
        begin_change();
        t->put(handle, state);
        end_change();
    }

    // Forgets every handle.
    void clear() {
        Table* t = current();
        begin_change();
        for (std::size_t i = 0; i <= t->mask; ++i) t->slots[i].state.store(kSlotEmpty, std::memory_order_release);
        t->taken = 0;
        end_change();
    }

private:
    static constexpr unsigned kMinBits = 4;

    // Odd: a change is in progress. The slot stores after it are releases,
    // which carry this store to any reader that sees them.
    static void begin_change() {
        g_view.seq.store(g_view.seq.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    }
    static void end_change() {
        g_view.seq.store(g_view.seq.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    }
    static Table* current() { return const_cast<Table*>(g_view.current.load(std::memory_order_relaxed)); }

    std::vector<std::unique_ptr<Table>> tables_;  // the current one last
};

struct Registry {
    platform::Lock lock;
    std::list<Record> records;  // insertion order
    // handle -> its records in insertion order (first is the lookup result)
    std::unordered_map<int32_t, std::vector<std::list<Record>::iterator>> index;
    ReadSide read;
};

Registry* g_reg = nullptr;

// Every acquisition of the registry lock, counted (see lock_acquisitions).
std::atomic<uint64_t> g_acquisitions{0};

platform::Lock& counted_lock() {
    g_acquisitions.fetch_add(1, std::memory_order_relaxed);
    return g_reg->lock;
}

}  // namespace

namespace read_side {
View g_view;
}  // namespace read_side

namespace {

bool fits(const char* s, std::size_t field) { return std::strlen(s) < field; }

// Brings the read side up to date for a handle whose records changed.
void publish_locked(int32_t handle) {
    const Record* first = find_locked(handle);
    g_reg->read.set(handle, !first ? kNoRecord : first->cluster_enabled ? kRecordOn : kRecordOff);
}

}  // namespace

void create() { g_reg = new Registry(); }
void destroy() {
    delete g_reg;
    g_reg = nullptr;
}
platform::Lock& lock() { return counted_lock(); }
uint64_t lock_acquisitions() { return g_acquisitions.load(std::memory_order_relaxed); }

Record* find_locked(int32_t handle) {
    auto it = g_reg->index.find(handle);
    if (it == g_reg->index.end() || it->second.empty()) return nullptr;
    return &*it->second.front();
}

Record* append_locked(int32_t handle, bool cluster_enabled, bool foreign) {
    g_reg->read.reserve_one();
    g_reg->records.push_back(Record{handle, cluster_enabled, foreign});
    auto last = std::prev(g_reg->records.end());
    try {
        g_reg->index[handle].push_back(last);
    } catch (...) {
        g_reg->records.pop_back();  // no record the lookups cannot find
        throw;
    }
    publish_locked(handle);
    return &*last;
}

void remove_first_locked(int32_t handle) {
    auto it = g_reg->index.find(handle);
    if (it == g_reg->index.end() || it->second.empty()) return;
    g_reg->records.erase(it->second.front());
    it->second.erase(it->second.begin());
    if (it->second.empty()) g_reg->index.erase(it);
    publish_locked(handle);
}

void set_cluster_enabled_locked(Record* r, bool on) {
    r->cluster_enabled = on;
    publish_locked(r->handle);
}

bool cluster_enabled_or_create(int32_t handle) {
    const uint8_t known = read_side::lookup(handle);
    if (known == kRecordOn || known == kRecordOff) return known == kRecordOn;
    // No record yet, or a writer was busy: the locked path.
    platform::Guard g(counted_lock());
    Record* r = find_locked(handle);
    if (!r) r = append_locked(handle, settings::cluster_enable(), true);
    return r->cluster_enabled;
}

int32_t open(const char* server, int32_t port, const char* user, const char* password,
             int32_t* handle_slot) {
    if (!server || !*server || port <= 0 || !handle_slot) return kBadArgument;
    // The login record holds at most 63, 31 and 15 characters; longer values
    // are refused rather than cut, so a connection never logs in with
    // credentials other than the ones given.
    if (!user || !password || !fits(user, 64) || !fits(password, 32) || !fits(server, 16))
        return kBadArgument;
    XSR_Login login;
    std::memset(&login, 0, sizeof login);
    std::strcpy(login.user, user);
    std::strcpy(login.password, password);
    std::strcpy(login.server, server);

    int32_t rc = XSR_OpenConn(server, port, &login, handle_slot);
    if (rc < 0) return rc;
    if (rc == 0) {
        try {
            platform::Guard g(counted_lock());
            append_locked(*handle_slot, settings::cluster_enable(), false);
        } catch (const std::bad_alloc&) {
            // A connection the library cannot record could never be closed
            // through it: close it again at once.
            XSR_CloseConn(*handle_slot);
            *handle_slot = 0;
            return kBadArgument;
        }
    }
    if (settings::cluster_enable()) return cluster::refresh(*handle_slot);
    return rc;
}

int32_t close(int32_t handle) {
    platform::Guard g(counted_lock());
    if (!find_locked(handle)) return kNoConnection;
    remove_first_locked(handle);
    return XSR_CloseConn(handle);
}

void close_all_locked() {
    // A handle listed twice is still closed only once.
    std::unordered_map<int32_t, bool> closed;
    for (const Record& r : g_reg->records)
        if (!r.foreign && closed.emplace(r.handle, true).second) XSR_CloseConn(r.handle);
    g_reg->records.clear();
    g_reg->index.clear();
    g_reg->read.clear();
}

int count() {
    platform::Guard g(counted_lock());
    return static_cast<int>(g_reg->records.size());
}

}  // namespace orq::registry

namespace orq::settings {

namespace {
std::atomic<bool> g_cluster_enable{false};
}

bool cluster_enable() { return g_cluster_enable.load(std::memory_order_relaxed); }
void set_cluster_enable(bool on) { g_cluster_enable.store(on, std::memory_order_relaxed); }

bool parse_cluster_enable(const char* v) {
    const char* want = "true";
    for (int i = 0; i < 4; ++i) {
        char c = v[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != want[i]) return false;
    }
    return v[4] == '\0';
}

void load() {
    std::string v =
        platform::read_profile_string("orqclient.ini", "OrqExtClient", "ClusterEnable", "false", 20);
    set_cluster_enable(parse_cluster_enable(v.c_str()));
}

}  // namespace orq::settings
