// The recording XSRClient: exports the five XSR_ functions, forwards every
// call unchanged to the real client library and appends a record of the call
// to a trace file (xsr/trace/trace.h, docs/trace.md).
//
// Environment:
//   ORQ_XSR_REAL           path of the real client library; default: the file
//                          libXSRClient-real.so (XSRClient-real.dll) beside
//                          this library
//   ORQ_XSR_TRACE          the trace file, appended to; default xsr-trace.xt
//                          in the current directory
//   ORQ_XSR_TRACE_MAX_BYTES  rotate the trace before it grows past this
//                          many bytes (unset or 0: never)
//   ORQ_XSR_TRACE_KEEP     how many rotated files (TRACE.1 the newest) are
//                          kept; default 3
//   ORQ_XSR_TRACE_SECRETS  "1": passwords are written as they travelled (the
//                          login record's, and the node records' of cluster
//                          adds and cluster descriptions); otherwise masked
//
// What the application sees is what the real library gives: the call goes
// first, unchanged, and the record is made from its arguments and results
// afterwards. A trace file that is a link, a FIFO, a device, a hard link,
// another user's, or readable by others is refused; a trace that cannot be opened is reported once on
// standard error and the calls go on unrecorded. Without a real library every call fails with
// -20011 (reported once on standard error) and is still recorded.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "platform/files.h"
#include "xsr/proto/wire.h"
#include "xsr/trace/frames.h"
#include "xsr/trace/secrets.h"
#include "xsr/trace/trace.h"
#include "xsr/xsrclient.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace {

using OpenFn = int32_t(XSR_CALL*)(const char*, int32_t, XSR_Login*, int32_t*);
using CloseFn = int32_t(XSR_CALL*)(int32_t);
using ValidFn = int32_t(XSR_CALL*)(int32_t);
using CheckFn = int32_t(XSR_CALL*)(const char*, int32_t);
using CommandFn = int32_t(XSR_CALL*)(int32_t, int32_t, int32_t, int32_t, void*, int32_t*, const void*, int32_t,
                                     int32_t, const void*, int32_t, int32_t, const void*, int32_t);

constexpr int32_t kNoRealLibrary = xsrproto::kErrResources;

#if defined(_WIN32)
constexpr const char* kRealName = "XSRClient-real.dll";
#else
constexpr const char* kRealName = "libXSRClient-real.so";
#endif

void report_once(std::atomic<bool>& done, const std::string& text) {
    if (!done.exchange(true)) std::fprintf(stderr, "XSRClient recorder: %s\n", text.c_str());
}

// The folder this library was loaded from, with its separator.
std::string own_folder() {
#if defined(_WIN32)
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&own_folder), &self);
    char path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
    std::string p(path, n);
    const auto cut = p.find_last_of("\\/");
#else
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&own_folder), &info) || !info.dli_fname) return std::string();
    std::string p = info.dli_fname;
    const auto cut = p.find_last_of('/');
#endif
    return cut == std::string::npos ? std::string() : p.substr(0, cut + 1);
}

struct Real {
    OpenFn open = nullptr;
    CloseFn close = nullptr;
    ValidFn valid = nullptr;
    CheckFn check = nullptr;
    CommandFn command = nullptr;
    bool loaded = false;
};

std::atomic<bool> g_real_reported{false};

Real load_real() {
    Real r;
    const char* env = std::getenv("ORQ_XSR_REAL");
    const std::string path = env && *env ? std::string(env) : own_folder() + kRealName;
#if defined(_WIN32)
    HMODULE lib = LoadLibraryA(path.c_str());
    if (!lib) {
        report_once(g_real_reported, "cannot load the real client library " + path + " (error " +
                                         std::to_string(GetLastError()) + "); every call fails with -20011");
        return r;
    }
    auto sym = [&](const char* name) { return reinterpret_cast<void*>(GetProcAddress(lib, name)); };
#else
    // The real library resolves its own names first, so that its calls of
    // its own functions never come back here. Sanitizer runtimes refuse
    // RTLD_DEEPBIND; there the library's own binding applies.
    int flags = RTLD_NOW | RTLD_LOCAL;
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    flags |= RTLD_DEEPBIND;
#endif
    void* lib = dlopen(path.c_str(), flags);
    if (!lib) {
        const char* why = dlerror();
        report_once(g_real_reported, "cannot load the real client library " + path + ": " + (why ? why : "?") +
                                         "; every call fails with -20011");
        return r;
    }
    auto sym = [&](const char* name) { return dlsym(lib, name); };
#endif
    r.open = reinterpret_cast<OpenFn>(sym("XSR_OpenConn"));
    r.close = reinterpret_cast<CloseFn>(sym("XSR_CloseConn"));
    r.valid = reinterpret_cast<ValidFn>(sym("XSR_IsValidCon"));
    r.check = reinterpret_cast<CheckFn>(sym("XSR_CheckServer"));
    r.command = reinterpret_cast<CommandFn>(sym("XSR_CommandEx"));
    r.loaded = r.open && r.close && r.valid && r.check && r.command;
    if (!r.loaded)
        report_once(g_real_reported, path + " does not export the five XSR_ functions; every call fails with -20011");
    return r;
}

const Real& real() {
    static const Real r = load_real();
    return r;
}

// A number from the environment; `fallback` when unset, `bad` when it is no
// decimal number within [lo, hi].
uint64_t env_number(const char* name, uint64_t fallback, uint64_t lo, uint64_t hi, bool* bad) {
    const char* v = std::getenv(name);
    if (!v || !*v) return fallback;
    char* end = nullptr;
    errno = 0;
    const unsigned long long x = std::strtoull(v, &end, 10);
    if (errno != 0 || *end != '\0' || v[0] == '-' || x < lo || x > hi) {
        *bad = true;
        return fallback;
    }
    return x;
}

// The trace file, opened once under the writing rule of platform/files.h
// (refused: a link, a FIFO, a device, a folder, a hard link, another user's
// file, one others may read) and appended to with one write per record.
// A record is written whole or not at all: after a write that fails part way
// the file is cut back to the end of the last whole record (or, where that is
// not possible, the torn line is ended before the next record), the records
// that cannot be written are counted, and standard error says when writing
// works again and how many records were lost.
//
// With ORQ_XSR_TRACE_MAX_BYTES the file is rotated before a record would take
// it past that size: TRACE.KEEP is removed, TRACE.N renamed TRACE.N+1, TRACE
// renamed TRACE.1, and a new TRACE begun; the record numbers go on.
class Sink {
public:
    void open() {
        std::lock_guard<std::mutex> g(m_);
        if (opened_) return;
        opened_ = true;
        const char* env = std::getenv("ORQ_XSR_TRACE");
        path_ = env && *env ? env : "xsr-trace.xt";
        bool bad = false;
        max_bytes_ = env_number("ORQ_XSR_TRACE_MAX_BYTES", 0, 0, UINT64_C(1) << 62, &bad);
        if (bad) report("ORQ_XSR_TRACE_MAX_BYTES is no number of bytes; the trace is not rotated");
        bad = false;
        keep_ = static_cast<int>(env_number("ORQ_XSR_TRACE_KEEP", kDefaultKeep, 1, kMaxKeep, &bad));
        if (bad)
            report("ORQ_XSR_TRACE_KEEP is no count from 1 to " + std::to_string(kMaxKeep) + "; " +
                   std::to_string(kDefaultKeep) + " rotated files are kept");
        open_file();
    }
    // Numbers the record and writes it: the order of the lines is the order
    // of their numbers. A record that cannot be written keeps its number, so
    // readers see the gap.
    void write(xsrtrace::Record& r) {
        open();
        std::lock_guard<std::mutex> g(m_);
        r.seq = ++seq_;
        if (!file_.is_open()) return;
        std::string line = xsrtrace::encode(r);
        // A torn line that could not be cut off ends before this record.
        if (torn_) line.insert(line.begin(), '\n');
        if (max_bytes_ > 0) rotate_for(line.size());
        if (!file_.is_open()) return;
        std::string why;
        const long long done = file_.write(line.data(), line.size(), &why);
        if (done == static_cast<long long>(line.size())) {
            torn_ = false;
            if (lost_) {
                report("recording resumed with record #" + std::to_string(r.seq) + "; " +
                       std::to_string(lost_) + " record(s) were lost (#" + std::to_string(first_lost_) + " to #" +
                       std::to_string(r.seq - 1) + ")");
                lost_ = 0;
            }
            return;
        }
        // After an appending write the size is the end of what it wrote.
        if (done > 0) {
            const long long end = file_.size();
            if (end < done || !file_.truncate(end - done)) torn_ = true;
        }
        if (!lost_) {
            first_lost_ = r.seq;
            report("cannot write record #" + std::to_string(r.seq) + " to the trace file " + path_ + " (" + why +
                   "); records are left out until writing works again");
        }
        ++lost_;
    }

private:
    void open_file() {
        orq::platform::FileProblem problem;
        if (!orq::platform::open_for_writing(path_, orq::platform::WriteRule::Append, &file_, &problem))
            report("the trace file " + path_ + " is not written: " + problem.why + "; calls go on unrecorded");
    }
    std::string rotated(int n) const { return path_ + "." + std::to_string(n); }
    // Begins a new file when this record would take the current one past
    // the limit. Another process writing the same trace may have rotated it
    // already: then the new file it began is opened.
    void rotate_for(std::size_t bytes) {
        if (!file_.is_at(path_)) {
            file_.close();
            open_file();
            return;
        }
        const long long size = file_.size();
        if (size <= 0 || static_cast<uint64_t>(size) + bytes <= max_bytes_) return;
        file_.close();
        std::remove(rotated(keep_).c_str());
        for (int n = keep_ - 1; n >= 1; --n) rename_over(rotated(n), rotated(n + 1));
        if (!rename_over(path_, rotated(1))) {
            report("the trace file " + path_ + " cannot be renamed " + rotated(1) + "; it goes on growing");
            max_bytes_ = 0;  // not tried again at every record
        }
        open_file();
    }
    static bool rename_over(const std::string& from, const std::string& to) {
#if defined(_WIN32)
        return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
        return std::rename(from.c_str(), to.c_str()) == 0;
#endif
    }
    // Each outage is reported when it starts and when it ends; a trace that
    // fails over and over stops being reported after a few.
    void report(const std::string& text) {
        if (reports_ >= kMaxReports) return;
        if (++reports_ == kMaxReports)
            std::fprintf(stderr, "XSRClient recorder: %s (no more reports about the trace)\n", text.c_str());
        else
            std::fprintf(stderr, "XSRClient recorder: %s\n", text.c_str());
    }
    static constexpr int kMaxReports = 20;
    static constexpr int kDefaultKeep = 3, kMaxKeep = 999;
    std::mutex m_;
    bool opened_ = false;
    std::string path_;
    uint64_t max_bytes_ = 0;
    int keep_ = kDefaultKeep;
    uint64_t seq_ = 0;
    uint64_t lost_ = 0, first_lost_ = 0;
    bool torn_ = false;
    int reports_ = 0;
    orq::platform::File file_;
};

// Never destroyed: calls may come in from other libraries' unload.
Sink& sink() {
    static Sink* s = new Sink();
    return *s;
}

uint64_t thread_id() {
#if defined(_WIN32)
    return GetCurrentThreadId();
#else
    return static_cast<uint64_t>(syscall(SYS_gettid));
#endif
}

uint64_t process_id() {
#if defined(_WIN32)
    return GetCurrentProcessId();
#else
    return static_cast<uint64_t>(getpid());
#endif
}

// Times one forwarded call and writes its record.
class Recording {
public:
    explicit Recording(xsrtrace::Fn fn)
        : start_wall_(std::chrono::system_clock::now()), start_(std::chrono::steady_clock::now()) {
        r_.fn = fn;
    }
    xsrtrace::Record& record() { return r_; }
    int32_t finish(int32_t result) {
        r_.duration_us =
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start_).count();
        r_.start_us =
            std::chrono::duration_cast<std::chrono::microseconds>(start_wall_.time_since_epoch()).count();
        r_.result = result;
        r_.pid = process_id();
        r_.thread = thread_id();
        try {
            sink().write(r_);
        } catch (...) {
            // Out of memory for the record: the call's result stands.
        }
        return result;
    }

private:
    xsrtrace::Record r_;
    std::chrono::system_clock::time_point start_wall_;
    std::chrono::steady_clock::time_point start_;
};

std::string bounded(const char* s, std::size_t max) {
    if (!s) return std::string();
    std::size_t n = 0;
    while (n < max && s[n]) ++n;
    return std::string(s, n);
}

bool secrets_wanted() {
    const char* env = std::getenv("ORQ_XSR_TRACE_SECRETS");
    return env && std::strcmp(env, "1") == 0;
}

// Masks the passwords of a command's record: the node records of a cluster
// add, and those of a cluster description, whose answer may come in several
// calls (a pending answer, then polls by its ticket; parts, then polls with
// the ticket of the exchange, zero when there was no pending answer). The
// description being read is kept per handle and ticket until its last part.
class Masker {
public:
    void mask(xsrtrace::Record& r) {
        using xsrtrace::PasswordFields;
        const uint16_t code = r.code();
        if (code == kClusterAdd) {
            xsrtrace::mask_cluster_add(&r.body);
            return;
        }
        if (code != kClusterDescription && code != kPoll) return;
        std::lock_guard<std::mutex> g(m_);
        Key key{r.handle, 0, 0};
        auto it = open_.end();
        if (code == kClusterDescription) {
            it = open_.emplace(key, PasswordFields(PasswordFields::Layout::ClusterDescription)).first;
            it->second = PasswordFields(PasswordFields::Layout::ClusterDescription);
        } else {
            if (r.body.size() != 8 || !xsrtrace::read_ticket(r.body, &key.t0, &key.t1)) return;
            it = open_.find(key);
            if (it == open_.end()) return;
        }
        if (r.result == xsrproto::kPending) {
            // The answer is the ticket the polls will carry.
            Key ticket{r.handle, 0, 0};
            if (code == kClusterDescription && xsrtrace::read_ticket(r.answer, &ticket.t0, &ticket.t1)) {
                PasswordFields f = it->second;
                open_.erase(it);
                open_.emplace(ticket, f);
            }
            return;
        }
        if (!r.answer.empty()) it->second.mask(&r.answer[0], r.answer.size());
        // Parts without a pending answer are polled with a zero ticket, the
        // key a description starts with.
        if (r.result != xsrproto::kPart) open_.erase(it);
        // Exchanges abandoned half way (a closed connection) are dropped
        // once many are open.
        if (open_.size() > kMaxOpen) open_.clear();
    }

private:
    static constexpr uint16_t kPoll = 4, kClusterAdd = 11, kClusterDescription = 13;
    static constexpr std::size_t kMaxOpen = 256;
    struct Key {
        int32_t handle, t0, t1;
        bool operator<(const Key& o) const {
            return handle != o.handle ? handle < o.handle : t0 != o.t0 ? t0 < o.t0 : t1 < o.t1;
        }
    };
    std::mutex m_;
    std::map<Key, xsrtrace::PasswordFields> open_;
};

// Never destroyed, like the sink.
Masker& masker() {
    static Masker* m = new Masker();
    return *m;
}

#if !defined(_WIN32)
// Opening the trace and loading the real library at load time keeps the
// process's descriptors steady from the first call on.
__attribute__((constructor)) void start_early() {
    sink().open();
    (void)real();
}
#endif

}  // namespace

#if defined(_WIN32)
// Only the trace file is opened under the loader lock; the real library is
// loaded by the first call.
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) sink().open();
    return TRUE;
}
#endif

extern "C" {

XSR_API int32_t XSR_CALL XSR_OpenConn(const char* server, int32_t port, XSR_Login* login, int32_t* handle) {
    Recording rec(xsrtrace::Fn::Open);
    const int32_t rc = real().loaded ? real().open(server, port, login, handle) : kNoRealLibrary;
    xsrtrace::Record& r = rec.record();
    r.server = server ? server : "";
    r.port = port;
    if (login) {
        r.user = bounded(login->user, sizeof login->user);
        r.login_server = bounded(login->server, sizeof login->server);
        if (secrets_wanted()) {
            r.password = bounded(login->password, sizeof login->password);
            r.password_recorded = true;
        }
    }
    r.handle = rc == 0 && handle ? *handle : 0;
    return rec.finish(rc);
}

XSR_API int32_t XSR_CALL XSR_CloseConn(int32_t handle) {
    Recording rec(xsrtrace::Fn::Close);
    const int32_t rc = real().loaded ? real().close(handle) : kNoRealLibrary;
    rec.record().handle = handle;
    return rec.finish(rc);
}

XSR_API int32_t XSR_CALL XSR_IsValidCon(int32_t handle) {
    Recording rec(xsrtrace::Fn::IsValid);
    const int32_t rc = real().loaded ? real().valid(handle) : 0;
    rec.record().handle = handle;
    return rec.finish(rc);
}

XSR_API int32_t XSR_CALL XSR_CheckServer(const char* server, int32_t port) {
    Recording rec(xsrtrace::Fn::Check);
    const int32_t rc = real().loaded ? real().check(server, port) : kNoRealLibrary;
    rec.record().server = server ? server : "";
    rec.record().port = port;
    return rec.finish(rc);
}

XSR_API int32_t XSR_CALL XSR_CommandEx(int32_t handle, int32_t magic, int32_t reserved1, int32_t timeout_hint,
                                       void* answer, int32_t* answer_len, const void* header, int32_t header_len,
                                       int32_t reserved2, const void* body, int32_t body_len, int32_t reserved3,
                                       const void* body2, int32_t body2_len) {
    Recording rec(xsrtrace::Fn::Command);
    xsrtrace::Record& r = rec.record();
    // What goes out is taken before the call: the answer may land in the
    // same memory.
    r.handle = handle;
    r.magic = magic;
    r.timeout_hint = timeout_hint;
    r.answer_null = answer == nullptr;
    r.len_null = answer_len == nullptr;
    r.capacity = answer_len ? *answer_len : 0;
    if (header && header_len > 0) r.header.assign(static_cast<const char*>(header), static_cast<std::size_t>(header_len));
    if (body && body_len > 0) r.body.assign(static_cast<const char*>(body), static_cast<std::size_t>(body_len));
    r.body2_null = body2 == nullptr;
    if (body2 && body2_len > 0) r.body2.assign(static_cast<const char*>(body2), static_cast<std::size_t>(body2_len));

    const int32_t rc = real().loaded ? real().command(handle, magic, reserved1, timeout_hint, answer, answer_len,
                                                      header, header_len, reserved2, body, body_len, reserved3,
                                                      body2, body2_len)
                                     : kNoRealLibrary;
    if (answer_len) {
        r.answer_len = *answer_len;
        // Only what can be in the buffer: never more than was offered.
        const int32_t n = r.answer_len < r.capacity ? r.answer_len : r.capacity;
        if (answer && n > 0) r.answer.assign(static_cast<const char*>(answer), static_cast<std::size_t>(n));
    }
    r.result = rc;
    if (!secrets_wanted()) {
        try {
            masker().mask(r);
        } catch (...) {
            // Out of memory for the bookkeeping: none of the answer is kept.
            std::fill(r.answer.begin(), r.answer.end(), xsrtrace::kMaskByte);
        }
    }
    return rec.finish(rc);
}

}  // extern "C"
