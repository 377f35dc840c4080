#include "core/registry.h"

#include <atomic>
#include <cstring>
#include <list>
#include <new>
#include <unordered_map>
#include <vector>

#include "cluster/cluster.h"
#include "core/result.h"
#include "xsr/xsrclient.h"

namespace orq::registry {

namespace {

struct Registry {
    platform::Lock lock;
    std::list<Record> records;  // insertion order
    // handle -> its records in insertion order (first is the lookup result)
    std::unordered_map<int32_t, std::vector<std::list<Record>::iterator>> index;
};

Registry* g_reg = nullptr;

bool fits(const char* s, std::size_t field) { return std::strlen(s) < field; }

}  // namespace

void create() { g_reg = new Registry(); }
void destroy() {
    delete g_reg;
    g_reg = nullptr;
}
platform::Lock& lock() { return g_reg->lock; }

Record* find_locked(int32_t handle) {
    auto it = g_reg->index.find(handle);
    if (it == g_reg->index.end() || it->second.empty()) return nullptr;
    return &*it->second.front();
}

Record* append_locked(int32_t handle, bool cluster_enabled, bool foreign) {
    g_reg->records.push_back(Record{handle, cluster_enabled, foreign});
    auto last = std::prev(g_reg->records.end());
    g_reg->index[handle].push_back(last);
    return &*last;
}

void remove_first_locked(int32_t handle) {
    auto it = g_reg->index.find(handle);
    if (it == g_reg->index.end() || it->second.empty()) return;
    g_reg->records.erase(it->second.front());
    it->second.erase(it->second.begin());
    if (it->second.empty()) g_reg->index.erase(it);
}

bool cluster_enabled_or_create(int32_t handle) {
    platform::Guard g(g_reg->lock);
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
            platform::Guard g(g_reg->lock);
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
    platform::Guard g(g_reg->lock);
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
}

int count() {
    platform::Guard g(g_reg->lock);
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
