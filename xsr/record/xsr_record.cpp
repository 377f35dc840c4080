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
//   ORQ_XSR_TRACE_SECRETS  "1": the login record's password is written too
//
// What the application sees is what the real library gives: the call goes
// first, unchanged, and the record is made from its arguments and results
// afterwards. A trace that cannot be written is reported once on standard
// error; the calls go on. Without a real library every call fails with
// -20011 (reported once on standard error) and is still recorded.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "xsr/proto/wire.h"
#include "xsr/trace/trace.h"
#include "xsr/xsrclient.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
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

// The trace file, opened once and appended to with one write per record.
class Sink {
public:
    void open() {
        std::lock_guard<std::mutex> g(m_);
        if (opened_) return;
        opened_ = true;
        const char* env = std::getenv("ORQ_XSR_TRACE");
        path_ = env && *env ? env : "xsr-trace.xt";
#if defined(_WIN32)
        file_ = CreateFileA(path_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file_ == INVALID_HANDLE_VALUE) fail("cannot open");
#else
        fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (fd_ < 0) fail("cannot open");
#endif
    }
    // Numbers the record and writes it: the order of the lines is the order
    // of their numbers.
    void write(xsrtrace::Record& r) {
        open();
        std::lock_guard<std::mutex> g(m_);
        r.seq = ++seq_;
        const std::string line = xsrtrace::encode(r);
#if defined(_WIN32)
        if (file_ == INVALID_HANDLE_VALUE) return;
        DWORD done = 0;
        if (!WriteFile(file_, line.data(), static_cast<DWORD>(line.size()), &done, nullptr) || done != line.size())
            fail("cannot write");
#else
        if (fd_ < 0) return;
        // One write per record: records of several threads or processes
        // never mix within a line.
        const ssize_t n = ::write(fd_, line.data(), line.size());
        if (n != static_cast<ssize_t>(line.size())) fail("cannot write");
#endif
    }

private:
    void fail(const char* what) {
        report_once(reported_, std::string(what) + " the trace file " + path_ + "; calls go on unrecorded");
    }
    std::mutex m_;
    bool opened_ = false;
    std::string path_;
    std::atomic<bool> reported_{false};
    uint64_t seq_ = 0;
#if defined(_WIN32)
    HANDLE file_ = INVALID_HANDLE_VALUE;
#else
    int fd_ = -1;
#endif
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
    return rec.finish(rc);
}

}  // extern "C"
