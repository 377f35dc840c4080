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
//   ORQ_XSR_TRACE_SECRETS  "1": passwords are written as they travelled (the
//                          login record's, and the node records' of cluster
//                          adds and cluster descriptions); otherwise masked
//
// What the application sees is what the real library gives: the call goes
// first, unchanged, and the record is made from its arguments and results
// afterwards. A trace file that is a link, another user's, or readable by
// others is refused; a trace that cannot be opened is reported once on
// standard error and the calls go on unrecorded. Without a real library every call fails with
// -20011 (reported once on standard error) and is still recorded.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "xsr/proto/wire.h"
#include "xsr/trace/frames.h"
#include "xsr/trace/secrets.h"
#include "xsr/trace/trace.h"
#include "xsr/xsrclient.h"

#if defined(_WIN32)
#include <windows.h>
// after windows.h
#include <sddl.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
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

// Why an existing trace file is not written to: it could be someone else's
// file reached through a link, or one others may read.
#if defined(_WIN32)
std::string refusal(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info))
        return "it is not a regular file";
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return "it is a reparse point (a link)";
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return "it is a folder";
    if (info.nNumberOfLinks > 1) return "it has more than one name (a hard link)";
    return std::string();
}
#else
std::string refusal(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0) return std::string("it cannot be examined: ") + std::strerror(errno);
    if (!S_ISREG(st.st_mode)) return "it is not a regular file";
    if (st.st_uid != geteuid()) return "it belongs to another user";
    if (st.st_nlink > 1) return "it has more than one name (a hard link)";
    if (st.st_mode & (S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH)) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        return std::string("others may read or write it (mode ") + mode + "; chmod 600 it or remove it)";
    }
    return std::string();
}
#endif

// The trace file, opened once and appended to with one write per record.
// A record is written whole or not at all: after a write that fails part way
// the file is cut back to the end of the last whole record (or, where that is
// not possible, the torn line is ended before the next record), the records
// that cannot be written are counted, and standard error says when writing
// works again and how many records were lost.
class Sink {
public:
    void open() {
        std::lock_guard<std::mutex> g(m_);
        if (opened_) return;
        opened_ = true;
        const char* env = std::getenv("ORQ_XSR_TRACE");
        path_ = env && *env ? env : "xsr-trace.xt";
#if defined(_WIN32)
        // The link itself is opened, never what it points to; a new file
        // gets a list of rights with its owner alone.
        SECURITY_ATTRIBUTES sa{sizeof sa, owner_only_descriptor(), FALSE};
        file_ = CreateFileA(path_.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, sa.lpSecurityDescriptor ? &sa : nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (sa.lpSecurityDescriptor) LocalFree(sa.lpSecurityDescriptor);
        if (file_ == INVALID_HANDLE_VALUE) return fail_open("it cannot be opened (error " + std::to_string(GetLastError()) + ")");
        const std::string why = refusal(file_);
        if (!why.empty()) {
            CloseHandle(file_);
            file_ = INVALID_HANDLE_VALUE;
            fail_open(why);
        }
#else
        // A new file is made with O_EXCL and set to 0600 whatever the umask;
        // an existing one is opened without following a link (and without
        // waiting for a reader of a FIFO) and examined before use.
        for (int attempt = 0; attempt < 3 && fd_ < 0; ++attempt) {
            fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
            if (fd_ >= 0) {
                if (fchmod(fd_, 0600) != 0) {
                    ::close(fd_);
                    fd_ = -1;
                    return fail_open(std::string("its mode cannot be set: ") + std::strerror(errno));
                }
                return;
            }
            if (errno != EEXIST) break;
            fd_ = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
            if (fd_ < 0 && errno == ENOENT) continue;  // removed in between: make it anew
        }
        if (fd_ < 0)
            return fail_open(errno == ELOOP    ? std::string("it is a symbolic link")
                             : errno == ENXIO ? std::string("it is not a regular file (a FIFO no one reads)")
                                              : std::string("it cannot be opened: ") + std::strerror(errno));
        const std::string why = refusal(fd_);
        if (!why.empty()) {
            ::close(fd_);
            fd_ = -1;
            fail_open(why);
        }
#endif
    }
    // Numbers the record and writes it: the order of the lines is the order
    // of their numbers. A record that cannot be written keeps its number, so
    // readers see the gap.
    void write(xsrtrace::Record& r) {
        open();
        std::lock_guard<std::mutex> g(m_);
        r.seq = ++seq_;
        if (!usable()) return;
        std::string line = xsrtrace::encode(r);
        // A torn line that could not be cut off ends before this record.
        if (torn_) line.insert(line.begin(), '\n');
        std::string why;
        const long long done = put(line, &why);
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
        if (done > 0 && !cut_back(done)) torn_ = true;
        if (!lost_) {
            first_lost_ = r.seq;
            report("cannot write record #" + std::to_string(r.seq) + " to the trace file " + path_ + " (" + why +
                   "); records are left out until writing works again");
        }
        ++lost_;
    }

private:
    void fail_open(const std::string& why) {
        report("the trace file " + path_ + " is not written: " + why + "; calls go on unrecorded");
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
#if defined(_WIN32)
    bool usable() const { return file_ != INVALID_HANDLE_VALUE; }
    long long put(const std::string& line, std::string* why) {
        DWORD done = 0;
        if (!WriteFile(file_, line.data(), static_cast<DWORD>(line.size()), &done, nullptr))
            *why = "error " + std::to_string(GetLastError());
        else if (done != line.size())
            *why = "written in part";
        return done;
    }
    // An append-only handle cannot cut the file: the next record ends the
    // torn line instead.
    bool cut_back(long long) { return false; }
    // Full control for the user who runs the program, nobody else, nothing
    // inherited; null when it cannot be made (the folder's rights apply).
    static void* owner_only_descriptor() {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
        unsigned char buf[256];
        DWORD n = 0;
        const bool ok = GetTokenInformation(token, TokenUser, buf, sizeof buf, &n);
        CloseHandle(token);
        char* sid = nullptr;
        if (!ok || !ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buf)->User.Sid, &sid)) return nullptr;
        const std::string sddl = std::string("D:P(A;;FA;;;") + sid + ")";
        LocalFree(sid);
        PSECURITY_DESCRIPTOR sd = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &sd, nullptr))
            return nullptr;
        return sd;
    }
#else
    bool usable() const { return fd_ >= 0; }
    long long put(const std::string& line, std::string* why) {
        // One write per record: records of several threads or processes
        // never mix within a line.
        const ssize_t n = ::write(fd_, line.data(), line.size());
        if (n < 0) {
            *why = std::strerror(errno);
            return 0;
        }
        if (static_cast<std::size_t>(n) != line.size()) *why = "written in part";
        return n;
    }
    // After an appending write the offset is the end of what it wrote.
    bool cut_back(long long written) {
        const off_t end = lseek(fd_, 0, SEEK_CUR);
        return end >= written && ftruncate(fd_, end - written) == 0;
    }
#endif
    static constexpr int kMaxReports = 20;
    std::mutex m_;
    bool opened_ = false;
    std::string path_;
    uint64_t seq_ = 0;
    uint64_t lost_ = 0, first_lost_ = 0;
    bool torn_ = false;
    int reports_ = 0;
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
