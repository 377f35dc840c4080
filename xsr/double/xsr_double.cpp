#include "xsr/double/xsr_double.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "xsr/xsrclient.h"

namespace xsrdouble {

namespace {

struct State {
    std::mutex m;
    std::vector<Call> calls;
    std::deque<Reply> script;
    Handler handler;
    std::function<void()> after_open;
    std::map<std::string, int32_t> open_results;
    std::map<int32_t, int32_t> valid;
    std::vector<int32_t> open;
    int32_t next_handle = 1001;
    int32_t check_result = 0;
    int32_t close_result = 0;
    std::shared_ptr<Responder> responder;
};

// The zero-cost mode: read with one atomic load per call, outside st().
std::atomic<const FastReply*> g_fast{nullptr};
std::atomic<int32_t> g_fast_handle{1000001};

// Never freed: the library under test may still call in from its unload,
// after static destructors have run.
State& st() {
    static State* s = new State();
    return *s;
}

// The hooks around each XSR_ function (set_call_hooks); plain pointers so
// that calls after the test ended stay harmless.
std::atomic<void (*)()> g_enter{nullptr};
std::atomic<void (*)()> g_leave{nullptr};

struct Hooked {
    Hooked() {
        if (auto f = g_enter.load()) f();
    }
    ~Hooked() {
        if (auto f = g_leave.load()) f();
    }
};

int32_t le32_at(const std::string& s, std::size_t at) {
    if (s.size() < at + 4) return 0;
    const auto* p = reinterpret_cast<const unsigned char*>(s.data() + at);
    return static_cast<int32_t>(p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24));
}

}  // namespace

uint16_t Call::code() const {
    if (header.size() < 2) return 0;
    return static_cast<uint16_t>(static_cast<unsigned char>(header[0]) |
                                 (static_cast<unsigned char>(header[1]) << 8));
}
int32_t Call::field_a() const { return le32_at(header, 4); }
int32_t Call::field_b() const { return le32_at(header, 8); }
int32_t Call::field_c() const { return le32_at(header, 12); }

Reply ok(const std::string& bytes) { return Reply{0, bytes, -1}; }
Reply pending(int32_t t0, int32_t t1) { return Reply{-9000, le32(t0) + le32(t1), -1}; }
Reply part(const std::string& bytes) { return Reply{-1108, bytes, -1}; }
Reply fail(int32_t code, const std::string& bytes) { return Reply{code, bytes, -1}; }
Reply too_long(const std::string& bytes, int32_t whole) { return Reply{-1107, bytes, whole}; }

void set_call_hooks(void (*enter)(), void (*leave)()) {
    g_enter.store(enter);
    g_leave.store(leave);
}

void set_zero_cost(const FastReply* reply) { g_fast.store(reply, std::memory_order_release); }

void reset() {
    g_fast.store(nullptr, std::memory_order_release);
    State& s = st();
    std::lock_guard<std::mutex> g(s.m);
    s.calls.clear();
    s.script.clear();
    s.handler = nullptr;
    s.after_open = nullptr;
    s.open_results.clear();
    s.valid.clear();
    s.open.clear();
    s.next_handle = 1001;
    s.check_result = 0;
    s.close_result = 0;
    s.responder = nullptr;
}

void push(const Reply& r) {
    std::lock_guard<std::mutex> g(st().m);
    st().script.push_back(r);
}
void push(std::initializer_list<Reply> rs) {
    for (const Reply& r : rs) push(r);
}
std::size_t queued() {
    std::lock_guard<std::mutex> g(st().m);
    return st().script.size();
}
void set_handler(Handler h) {
    std::lock_guard<std::mutex> g(st().m);
    st().handler = std::move(h);
}
void set_open_result(const std::string& server, int32_t result) {
    std::lock_guard<std::mutex> g(st().m);
    st().open_results[server] = result;
}
void set_after_open(std::function<void()> hook) {
    std::lock_guard<std::mutex> g(st().m);
    st().after_open = std::move(hook);
}
void set_valid(int32_t handle, int32_t value) {
    std::lock_guard<std::mutex> g(st().m);
    st().valid[handle] = value;
}
void set_check_result(int32_t result) {
    std::lock_guard<std::mutex> g(st().m);
    st().check_result = result;
}
void set_responder(std::shared_ptr<Responder> r) {
    std::lock_guard<std::mutex> g(st().m);
    st().responder = std::move(r);
}
void set_close_result(int32_t result) {
    std::lock_guard<std::mutex> g(st().m);
    st().close_result = result;
}

std::vector<Call> calls() {
    std::lock_guard<std::mutex> g(st().m);
    return st().calls;
}
std::vector<Call> calls_of(Fn fn) {
    std::vector<Call> out;
    for (const Call& c : calls())
        if (c.fn == fn) out.push_back(c);
    return out;
}
std::size_t count(Fn fn) { return calls_of(fn).size(); }
std::vector<int32_t> open_handles() {
    std::lock_guard<std::mutex> g(st().m);
    return st().open;
}

std::string le32(int32_t v) {
    uint32_t u = static_cast<uint32_t>(v);
    char b[4] = {static_cast<char>(u), static_cast<char>(u >> 8), static_cast<char>(u >> 16),
                 static_cast<char>(u >> 24)};
    return std::string(b, 4);
}
std::string cstr(const char* s) { return std::string(s, std::strlen(s) + 1); }

}  // namespace xsrdouble

using namespace xsrdouble;

namespace xsrdouble {
void replay_from_environment();  // replay.cpp
}

extern "C" {

XSR_API int32_t XSR_CALL XSR_OpenConn(const char* server, int32_t port, XSR_Login* login,
                                      int32_t* handle) {
    if (g_fast.load(std::memory_order_acquire)) {
        *handle = g_fast_handle.fetch_add(1, std::memory_order_relaxed);
        return 0;
    }
    Hooked hooked;  // after the zero-cost path, which allocates nothing
    replay_from_environment();
    State& s = st();
    int32_t rc;
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> g(s.m);
        Call c;
        c.fn = Fn::Open;
        c.server = server ? server : "";
        c.port = port;
        if (login) c.login.assign(reinterpret_cast<const char*>(login), sizeof(XSR_Login));
        if (s.responder) {
            int32_t h = 0;
            rc = s.responder->open(c, &h);
            if (rc == 0) {
                c.handle = h;
                if (handle) *handle = h;
                s.open.push_back(h);
            }
            s.calls.push_back(c);
            return rc;
        }
        auto it = s.open_results.find(c.server);
        rc = it == s.open_results.end() ? 0 : it->second;
        if (rc == 0) {
            c.handle = s.next_handle++;
            *handle = c.handle;
            s.open.push_back(c.handle);
        }
        s.calls.push_back(c);
        hook = s.after_open;
    }
    if (hook) hook();
    return rc;
}

XSR_API int32_t XSR_CALL XSR_CloseConn(int32_t handle) {
    if (g_fast.load(std::memory_order_acquire)) return 0;
    Hooked hooked;  // after the zero-cost path, which allocates nothing
    replay_from_environment();
    State& s = st();
    std::lock_guard<std::mutex> g(s.m);
    Call c;
    c.fn = Fn::Close;
    c.handle = handle;
    s.calls.push_back(c);
    s.open.erase(std::remove(s.open.begin(), s.open.end(), handle), s.open.end());
    return s.responder ? s.responder->close(c) : s.close_result;
}

XSR_API int32_t XSR_CALL XSR_IsValidCon(int32_t handle) {
    if (g_fast.load(std::memory_order_acquire)) return 1;
    Hooked hooked;  // after the zero-cost path, which allocates nothing
    replay_from_environment();
    State& s = st();
    std::lock_guard<std::mutex> g(s.m);
    Call c;
    c.fn = Fn::IsValid;
    c.handle = handle;
    s.calls.push_back(c);
    if (s.responder) return s.responder->valid(c);
    auto it = s.valid.find(handle);
    return it == s.valid.end() ? 1 : it->second;
}

XSR_API int32_t XSR_CALL XSR_CheckServer(const char* server, int32_t port) {
    if (g_fast.load(std::memory_order_acquire)) return 0;
    Hooked hooked;  // after the zero-cost path, which allocates nothing
    replay_from_environment();
    State& s = st();
    std::lock_guard<std::mutex> g(s.m);
    Call c;
    c.fn = Fn::Check;
    c.server = server ? server : "";
    c.port = port;
    s.calls.push_back(c);
    return s.responder ? s.responder->check(c) : s.check_result;
}

XSR_API int32_t XSR_CALL XSR_CommandEx(int32_t handle, int32_t magic, int32_t reserved1,
                                       int32_t timeout_hint, void* answer, int32_t* answer_len,
                                       const void* header, int32_t header_len, int32_t reserved2,
                                       const void* body, int32_t body_len, int32_t reserved3,
                                       const void* body2, int32_t body2_len) {
    if (const FastReply* fast = g_fast.load(std::memory_order_acquire)) {
        const int32_t cap = answer_len && *answer_len > 0 ? *answer_len : 0;
        const int32_t n = fast->len < cap ? fast->len : cap;
        if (answer && n > 0) std::memcpy(answer, fast->bytes, static_cast<std::size_t>(n));
        if (answer_len) *answer_len = n;
        return 0;
    }
    Hooked hooked;  // after the zero-cost path, which allocates nothing
    replay_from_environment();
    State& s = st();
    Call c;
    c.fn = Fn::Command;
    c.handle = handle;
    c.magic = magic;
    c.reserved1 = reserved1;
    c.timeout_hint = timeout_hint;
    c.answer_null = answer == nullptr;
    c.len_null = answer_len == nullptr;
    c.capacity = answer_len ? *answer_len : 0;
    if (header && header_len > 0) c.header.assign(static_cast<const char*>(header), static_cast<std::size_t>(header_len));
    c.header_len = header_len;
    c.reserved2 = reserved2;
    c.reserved3 = reserved3;
    if (body && body_len > 0) c.body.assign(static_cast<const char*>(body), static_cast<std::size_t>(body_len));
    c.body_len = body_len;
    c.body2_null = body2 == nullptr;
    if (body2 && body2_len > 0) c.body2.assign(static_cast<const char*>(body2), static_cast<std::size_t>(body2_len));
    c.body2_len = body2_len;

    Reply r;
    bool have = false;
    Handler h;
    std::shared_ptr<Responder> responder;
    {
        std::lock_guard<std::mutex> g(s.m);
        s.calls.push_back(c);
        responder = s.responder;
        if (responder) {
            // answered below, outside the lock
        } else if (!s.script.empty()) {
            r = s.script.front();
            s.script.pop_front();
            have = true;
        } else {
            h = s.handler;
        }
    }
    if (responder) r = responder->command(c);  // may wait (paced replay)
    else if (!have && h) r = h(c);             // outside the lock: handlers may block

    std::size_t cap = answer_len && *answer_len > 0 ? static_cast<std::size_t>(*answer_len) : 0;
    std::size_t n = std::min(cap, r.bytes.size());
    if (answer && n) std::memcpy(answer, r.bytes.data(), n);
    if (answer_len) *answer_len = r.reported_len >= 0 ? r.reported_len : static_cast<int32_t>(n);
    return r.result;
}

}  // extern "C"
