// The recording XSRClient over the scripted double as the "real" library:
// what the caller sees through it is exactly what the double gives (results,
// bytes, lengths, untouched bytes), the trace holds what went out and came
// back, the password stays out unless asked for, a trace that cannot be
// written (or a real library that cannot be loaded) is reported once, and
// records of many threads stay whole lines in order. The recorder reads its
// settings when it is loaded, so each case loads it in a child process of
// its own.
#if !defined(_WIN32)

#include <dlfcn.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/unit/trace/trace_support.h"
#include "xsr/trace/frames.h"
#include "xsr/trace/secrets.h"

using trace_test::TempFile;
using xsrdouble::Reply;

namespace {

using OpenFn = int32_t (*)(const char*, int32_t, XSR_Login*, int32_t*);
using CloseFn = int32_t (*)(int32_t);
using CheckFn = int32_t (*)(const char*, int32_t);
using CommandFn = int32_t (*)(int32_t, int32_t, int32_t, int32_t, void*, int32_t*, const void*, int32_t, int32_t,
                              const void*, int32_t, int32_t, const void*, int32_t);

// The five functions of the recorder, loaded beside the double.
struct Recorder {
    OpenFn open = nullptr;
    CloseFn close = nullptr, valid = nullptr;
    CheckFn check = nullptr;
    CommandFn command = nullptr;
    bool load() {
        void* lib = dlopen(ORQ_RECORDER_PATH, RTLD_NOW | RTLD_LOCAL);
        if (!lib) {
            std::fprintf(stderr, "dlopen: %s\n", dlerror());
            return false;
        }
        open = reinterpret_cast<OpenFn>(dlsym(lib, "XSR_OpenConn"));
        close = reinterpret_cast<CloseFn>(dlsym(lib, "XSR_CloseConn"));
        valid = reinterpret_cast<CloseFn>(dlsym(lib, "XSR_IsValidCon"));
        check = reinterpret_cast<CheckFn>(dlsym(lib, "XSR_CheckServer"));
        command = reinterpret_cast<CommandFn>(dlsym(lib, "XSR_CommandEx"));
        return open && close && valid && check && command && reinterpret_cast<void*>(command) !=
                                                                 reinterpret_cast<void*>(&XSR_CommandEx);
    }
};

struct ChildRun {
    int exit_code = -1;
    std::string err;
};

// Runs body in a child process with the environment given and its stderr
// captured; body returns the child's exit code (0: every check held).
ChildRun in_child(const std::vector<std::pair<std::string, std::string>>& env, const std::function<int()>& body) {
    TempFile err_file("stderr.txt");
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        for (const auto& e : env) setenv(e.first.c_str(), e.second.c_str(), 1);
        std::FILE* f = std::fopen(err_file.path().c_str(), "w");
        if (!f) _exit(90);
        dup2(fileno(f), 2);
        int rc = 91;
        try {
            rc = body();
        } catch (...) {
            std::fprintf(stderr, "exception\n");
        }
        std::fflush(nullptr);
        _exit(rc);
    }
    ChildRun r;
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid)
        r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.err = err_file.read();
    return r;
}

std::vector<xsrtrace::Record> read_trace(const TempFile& f, int* malformed = nullptr) {
    xsrtrace::File file;
    std::string error;
    EXPECT_TRUE(xsrtrace::read_file(f.path(), &file, &error)) << error;
    if (malformed) *malformed = file.malformed;
    return file.records;
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

const std::string kHeader("\x02\x00\xf5\x01\xff\xff\xff\xff\x10\x00\x00\x00\xff\xff\xff\xff", 16);
const std::string kBody("Echo\0\0ping", 10);

// One command with its buffers: what the caller saw.
struct Seen {
    int32_t rc = 0, len = 0;
    std::string buf;
    bool operator==(const Seen& o) const { return rc == o.rc && len == o.len && buf == o.buf; }
};

struct CommandCase {
    const char* what;
    Reply reply;
    int32_t capacity;
    bool answer_null, len_null;
};

const std::vector<CommandCase>& command_cases() {
    static const std::vector<CommandCase> cases = {
        {"complete answer", xsrdouble::ok("pong"), 16, false, false},
        {"answer longer than the buffer", Reply{-1107, "0123456789", 10}, 4, false, false},
        {"pending with its ticket", xsrdouble::pending(7, 8), 16, false, false},
        {"part of an answer", xsrdouble::part("abc"), 16, false, false},
        {"failure with bytes", xsrdouble::fail(-20102, "no"), 16, false, false},
        {"no room at all", xsrdouble::ok("pong"), 0, false, false},
        {"no answer buffer", xsrdouble::ok("pong"), 16, true, false},
        {"no length", xsrdouble::ok("pong"), 16, false, true},
    };
    return cases;
}

Seen command_through(CommandFn fn, const CommandCase& c) {
    Seen s;
    s.buf.assign(24, '~');
    s.len = c.capacity;
    xsrdouble::push(c.reply);
    s.rc = fn(1001, 32639, 0, 45000, c.answer_null ? nullptr : &s.buf[0], c.len_null ? nullptr : &s.len,
              kHeader.data(), 16, 0, kBody.data(), static_cast<int32_t>(kBody.size()), 0, nullptr, 0);
    return s;
}

std::string show(const Seen& s) {
    return "rc=" + std::to_string(s.rc) + " len=" + std::to_string(s.len) + " buf=" + s.buf;
}

TEST(Recorder, CallersSeeExactlyWhatTheRealLibraryGives) {
    TempFile trace("trace.xt");
    const ChildRun run = in_child({{"ORQ_XSR_REAL", ORQ_DOUBLE_PATH}, {"ORQ_XSR_TRACE", trace.path()}}, [] {
        Recorder rec;
        if (!rec.load()) return 2;
        xsrdouble::reset();
        int bad = 0;
        for (const CommandCase& c : command_cases()) {
            const Seen direct = command_through(&XSR_CommandEx, c);
            const Seen recorded = command_through(rec.command, c);
            if (!(direct == recorded)) {
                std::fprintf(stderr, "%s: direct %s, through the recorder %s\n", c.what, show(direct).c_str(),
                             show(recorded).c_str());
                ++bad;
            }
        }
        // The other four functions, with results of every kind.
        XSR_Login login{};
        std::strcpy(login.user, "alice");
        std::strcpy(login.server, "db");
        xsrdouble::set_open_result("down", -20002);
        xsrdouble::set_valid(1001, 0);
        xsrdouble::set_check_result(-20001);
        xsrdouble::set_close_result(-20012);
        int32_t h1 = -1, h2 = -1;
        const int32_t direct_open = XSR_OpenConn("down", 1, &login, &h1);
        const int32_t rec_open = rec.open("down", 1, &login, &h2);
        const int32_t direct_ok = XSR_OpenConn("up", 1, &login, &h1);
        const int32_t rec_ok = rec.open("up", 1, &login, &h2);
        const std::vector<std::pair<int32_t, int32_t>> pairs = {
            {direct_open, rec_open}, {direct_ok, rec_ok}, {h1 + 1, h2},
            {XSR_IsValidCon(1001), rec.valid(1001)}, {XSR_IsValidCon(h1), rec.valid(h1)},
            {XSR_CheckServer("x", 2), rec.check("x", 2)}, {XSR_CloseConn(h1), rec.close(h2)}};
        for (std::size_t i = 0; i < pairs.size(); ++i)
            if (pairs[i].first != pairs[i].second) {
                std::fprintf(stderr, "call %zu: direct %d, through the recorder %d\n", i, pairs[i].first,
                             pairs[i].second);
                ++bad;
            }
        return bad ? 1 : 0;
    });
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.err, "") << "nothing to report";

    int malformed = -1;
    const auto records = read_trace(trace, &malformed);
    EXPECT_EQ(malformed, 0);
    const auto& cases = command_cases();
    ASSERT_EQ(records.size(), cases.size() + 6);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const xsrtrace::Record& r = records[i];
        const CommandCase& c = cases[i];
        SCOPED_TRACE(c.what);
        EXPECT_EQ(r.fn, xsrtrace::Fn::Command);
        EXPECT_EQ(r.seq, i + 1);
        EXPECT_EQ(r.handle, 1001);
        EXPECT_EQ(r.magic, 32639);
        EXPECT_EQ(r.timeout_hint, 45000);
        EXPECT_EQ(r.header, kHeader);
        EXPECT_EQ(r.body, kBody);
        EXPECT_TRUE(r.body2_null);
        EXPECT_EQ(r.result, c.reply.result);
        EXPECT_EQ(r.answer_null, c.answer_null);
        EXPECT_EQ(r.len_null, c.len_null);
        if (!c.len_null) {
            EXPECT_EQ(r.capacity, c.capacity);
            EXPECT_EQ(r.answer_len, c.reply.reported_len >= 0 ? c.reply.reported_len
                                                              : std::min<int32_t>(c.capacity, c.reply.bytes.size()));
        }
        const std::string kept = c.answer_null || c.len_null ? "" : c.reply.bytes.substr(0, c.capacity);
        EXPECT_EQ(r.answer, kept) << "the answer bytes the caller got, never more";
        EXPECT_GE(r.duration_us, 0);
        EXPECT_EQ(r.pid, records[0].pid);
    }
    const xsrtrace::Record& down = records[cases.size()];
    EXPECT_EQ(down.fn, xsrtrace::Fn::Open);
    EXPECT_EQ(down.result, -20002);
    EXPECT_EQ(down.server, "down");
    EXPECT_EQ(down.user, "alice");
    EXPECT_EQ(down.login_server, "db");
    const xsrtrace::Record& up = records[cases.size() + 1];
    EXPECT_EQ(up.result, 0);
    EXPECT_NE(up.handle, 0) << "the handle given back";
    EXPECT_EQ(records[cases.size() + 2].fn, xsrtrace::Fn::IsValid);
    EXPECT_EQ(records[cases.size() + 2].result, 0);
    EXPECT_EQ(records[cases.size() + 4].fn, xsrtrace::Fn::Check);
    EXPECT_EQ(records[cases.size() + 4].result, -20001);
    EXPECT_EQ(records.back().fn, xsrtrace::Fn::Close);
    EXPECT_EQ(records.back().result, -20012);
}

TEST(Recorder, ThePasswordIsWrittenOnlyWhenAskedFor) {
    struct Case {
        const char* secrets;  // nullptr: not set
        bool written;
    } cases[] = {{nullptr, false}, {"0", false}, {"yes", false}, {"", false}, {"1", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.secrets ? c.secrets : "(unset)");
        TempFile trace("trace.xt");
        std::vector<std::pair<std::string, std::string>> env = {{"ORQ_XSR_REAL", ORQ_DOUBLE_PATH},
                                                                {"ORQ_XSR_TRACE", trace.path()}};
        if (c.secrets) env.push_back({"ORQ_XSR_TRACE_SECRETS", c.secrets});
        else unsetenv("ORQ_XSR_TRACE_SECRETS");
        const ChildRun run = in_child(env, [] {
            Recorder rec;
            if (!rec.load()) return 2;
            XSR_Login login{};
            std::strcpy(login.user, "bob");
            std::strcpy(login.password, "S3cr t!");
            int32_t h = 0;
            return rec.open("srv", 7300, &login, &h) == 0 ? 0 : 1;
        });
        ASSERT_EQ(run.exit_code, 0) << run.err;
        const std::string text = trace.read();
        const auto records = read_trace(trace);
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].user, "bob");
        EXPECT_EQ(records[0].password_recorded, c.written);
        EXPECT_EQ(records[0].password, c.written ? "S3cr t!" : "");
        EXPECT_EQ(text.find("S3cr") != std::string::npos, c.written) << text;
    }
}

TEST(Recorder, ProblemsAreReportedOnceAndNeverFailACall) {
    struct Case {
        const char* what;
        std::string real, trace;
        const char* report;
        bool calls_work;
    } cases[] = {
        {"trace in a folder that does not exist", ORQ_DOUBLE_PATH, "/nonexistent/orq/trace.xt",
         "the trace file /nonexistent/orq/trace.xt is not written", true},
        {"trace that is a folder", ORQ_DOUBLE_PATH, "/", "the trace file / is not written: it is a directory, not a regular file", true},
        {"no real library", "/nonexistent/libXSRClient.so", "", "cannot load the real client library", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempFile fallback("trace.xt");
        const std::string trace = c.trace.empty() ? fallback.path() : c.trace;
        const ChildRun run = in_child({{"ORQ_XSR_REAL", c.real}, {"ORQ_XSR_TRACE", trace}}, [&] {
            Recorder rec;
            if (!rec.load()) return 2;
            xsrdouble::reset();
            int bad = 0;
            for (int i = 0; i < 5; ++i) {
                XSR_Login login{};
                int32_t h = 0;
                const int32_t open_rc = rec.open("srv", 1, &login, &h);
                const Seen s = command_through(rec.command, command_cases()[0]);
                const bool as_given = open_rc == 0 && s.rc == 0 && s.len == 4 && s.buf.compare(0, 4, "pong") == 0;
                const bool refused = open_rc == -20011 && s.rc == -20011 && rec.check("srv", 1) == -20011;
                if (c.calls_work ? !as_given : !refused) {
                    std::fprintf(stderr, "call %d: open %d, command %s\n", i, open_rc, show(s).c_str());
                    ++bad;
                }
            }
            return bad ? 1 : 0;
        });
        EXPECT_EQ(run.exit_code, 0) << run.err;
        EXPECT_EQ(count(run.err, "XSRClient recorder:"), 1u) << run.err;
        EXPECT_NE(run.err.find(c.report), std::string::npos) << run.err;
        if (!c.calls_work) {
            EXPECT_EQ(read_trace(fallback).size(), 15u) << "refused calls are still recorded";
        }
    }
}

// Many threads call through the recorder at once: every record is a whole
// line, numbered in the order of the lines, with its own request and answer.
TEST(Recorder, ConcurrencyRecordsOfManyThreadsStayWholeAndOrdered) {
    constexpr int kThreads = 4, kCalls = 50;
    TempFile trace("trace.xt");
    const ChildRun run = in_child({{"ORQ_XSR_REAL", ORQ_DOUBLE_PATH}, {"ORQ_XSR_TRACE", trace.path()}}, [] {
        Recorder rec;
        if (!rec.load()) return 2;
        xsrdouble::reset();
        xsrdouble::set_handler([](const xsrdouble::Call& c) { return xsrdouble::ok(c.body + "!"); });
        std::vector<std::thread> threads;
        std::vector<int> bad(kThreads, 0);
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&, t] {
                for (int i = 0; i < kCalls; ++i) {
                    const std::string body = "t" + std::to_string(t) + "-" + std::to_string(i) + std::string(100, 'x');
                    std::string buf(256, '\0');
                    int32_t len = 256;
                    const int32_t rc = rec.command(1001, 32639, 0, 45000, &buf[0], &len, kHeader.data(), 16, 0,
                                                   body.data(), static_cast<int32_t>(body.size()), 0, nullptr, 0);
                    if (rc != 0 || buf.substr(0, static_cast<std::size_t>(len)) != body + "!") ++bad[t];
                }
            });
        for (auto& th : threads) th.join();
        for (int b : bad)
            if (b) return 1;
        return 0;
    });
    ASSERT_EQ(run.exit_code, 0) << run.err;
    int malformed = -1;
    const auto records = read_trace(trace, &malformed);
    EXPECT_EQ(malformed, 0);
    ASSERT_EQ(records.size(), static_cast<std::size_t>(kThreads * kCalls));
    std::set<std::string> bodies;
    std::set<uint64_t> threads;
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].seq, i + 1) << "numbered in line order";
        EXPECT_EQ(records[i].answer, records[i].body + "!");
        bodies.insert(records[i].body);
        threads.insert(records[i].thread);
    }
    EXPECT_EQ(bodies.size(), records.size()) << "every call recorded once";
    EXPECT_EQ(threads.size(), static_cast<std::size_t>(kThreads));
}

// A trace path that is no file of the user's own, readable by the user
// alone, is refused: nothing is written there, one line on stderr says why,
// and the calls go on unrecorded. A new trace is 0600 whatever the umask.
TEST(Recorder, ATraceFileThatIsNoPrivateFileOfTheUserIsRefused) {
    const std::string kOther = "a line of another file\n";
    struct Case {
        const char* what;
        std::function<void(const std::string& trace, const std::string& other)> make;
        const char* report;  // nullptr: the trace is written
        mode_t umask_value;
    } cases[] = {
        {"a symbolic link to another file",
         [](const std::string& t, const std::string& o) { ASSERT_EQ(symlink(o.c_str(), t.c_str()), 0); },
         "it is a symbolic link", 022},
        {"a hard link to another file",
         [](const std::string& t, const std::string& o) { ASSERT_EQ(link(o.c_str(), t.c_str()), 0); },
         "more than one name", 022},
        {"a file others may read",
         [](const std::string& t, const std::string&) {
             std::ofstream(t) << "";
             ASSERT_EQ(chmod(t.c_str(), 0644), 0);
         },
         "mode 0644 lets group or others at it", 022},
        {"a file others may write",
         [](const std::string& t, const std::string&) {
             std::ofstream(t) << "";
             ASSERT_EQ(chmod(t.c_str(), 0602), 0);
         },
         "mode 0602 lets group or others at it", 022},
        {"another user's file",
         [](const std::string& t, const std::string&) {
             std::ofstream(t) << "";
             ASSERT_EQ(chmod(t.c_str(), 0600), 0);
             if (geteuid() != 0) GTEST_SKIP() << "giving a file to another user needs root";
             ASSERT_EQ(chown(t.c_str(), 65534, 65534), 0);
         },
         "it belongs to another user", 022},
        {"a FIFO (opened without waiting for a reader)",
         [](const std::string& t, const std::string&) { ASSERT_EQ(mkfifo(t.c_str(), 0600), 0); },
         "not a regular file", 022},
        {"a new file under umask 0", [](const std::string&, const std::string&) {}, nullptr, 0},
        {"a new file under umask 0277", [](const std::string&, const std::string&) {}, nullptr, 0277},
        {"the user's own private file, appended to",
         [&](const std::string& t, const std::string&) {
             std::ofstream(t) << kOther;
             ASSERT_EQ(chmod(t.c_str(), 0600), 0);
         },
         nullptr, 022},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempFile trace("trace.xt"), other("other.txt");
        other.write(kOther);
        ASSERT_EQ(chmod(other.path().c_str(), 0600), 0);
        c.make(trace.path(), other.path());
        if (testing::Test::IsSkipped()) continue;
        const ChildRun run = in_child({{"ORQ_XSR_REAL", ORQ_DOUBLE_PATH}, {"ORQ_XSR_TRACE", trace.path()}}, [&] {
            umask(c.umask_value);
            Recorder rec;
            if (!rec.load()) return 2;
            xsrdouble::reset();
            int bad = 0;
            for (int i = 0; i < 3; ++i) {
                const Seen s = command_through(rec.command, command_cases()[0]);
                if (s.rc != 0 || s.buf.compare(0, 4, "pong") != 0) ++bad;
            }
            return bad;
        });
        EXPECT_EQ(run.exit_code, 0) << "the calls go on: " << run.err;
        EXPECT_EQ(other.read(), kOther) << "the other file is untouched";
        struct stat st {};
        ASSERT_EQ(lstat(trace.path().c_str(), &st), 0);
        if (c.report) {
            EXPECT_EQ(count(run.err, "XSRClient recorder:"), 1u) << run.err;
            EXPECT_NE(run.err.find(c.report), std::string::npos) << run.err;
            EXPECT_NE(run.err.find("calls go on unrecorded"), std::string::npos) << run.err;
            if (S_ISREG(st.st_mode) && st.st_nlink == 1) {
                EXPECT_EQ(trace.read(), "") << "nothing written to the refused file";
            }
            if (S_ISLNK(st.st_mode) || st.st_nlink > 1) unlink(trace.path().c_str());
        } else {
            EXPECT_EQ(run.err, "");
            EXPECT_TRUE(S_ISREG(st.st_mode));
            EXPECT_EQ(st.st_mode & 07777, 0600u);
            const std::string text = trace.read();
            EXPECT_EQ(read_trace(trace).size(), 3u) << text;
        }
    }
}

// Little-endian int32 and NUL-terminated strings, for frames of the tests.
std::string i32(int32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xFF);
    return s;
}
std::string z(const std::string& s) { return s + std::string(1, '\0'); }
std::string header_of(uint16_t code) {
    std::string h = kHeader;
    h[0] = static_cast<char>(code & 0xFF);
    h[1] = static_cast<char>(code >> 8);
    return h;
}
std::string node(const std::string& server, int32_t port, const std::string& user, const std::string& pass) {
    return z(server) + i32(port) + z(user) + z(pass) + z("attr");
}

// With ORQ_XSR_TRACE_MAX_BYTES the trace is rotated before a record would
// take it past that size: TRACE.1 is the newest rotated file, at most
// ORQ_XSR_TRACE_KEEP of them are kept, each is the user's alone, the record
// numbers go on across the files, and a reader of TRACE takes the set
// oldest first as one run of records.
TEST(Recorder, ATraceIsRotatedBySizeAndReadOldestFirst) {
    constexpr int kCalls = 40;
    constexpr std::size_t kMax = 1500;
    TempFile trace("rotated.xt");
    auto rotated = [&](int n) { return trace.path() + "." + std::to_string(n); };
    for (int n = 1; n <= 4; ++n) std::remove(rotated(n).c_str());
    const ChildRun run = in_child({{"ORQ_XSR_REAL", ORQ_DOUBLE_PATH},
                                   {"ORQ_XSR_TRACE", trace.path()},
                                   {"ORQ_XSR_TRACE_MAX_BYTES", std::to_string(kMax)},
                                   {"ORQ_XSR_TRACE_KEEP", "2"}},
                                  [&] {
                                      Recorder rec;
                                      if (!rec.load()) return 2;
                                      xsrdouble::reset();
                                      int bad = 0;
                                      for (int i = 0; i < kCalls; ++i)
                                          if (command_through(rec.command, command_cases()[0]).rc != 0) ++bad;
                                      return bad;
                                  });
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const std::vector<std::string> files = {rotated(2), rotated(1), trace.path()};
    for (const std::string& f : files) {
        struct stat st {};
        ASSERT_EQ(lstat(f.c_str(), &st), 0) << f;
        EXPECT_LE(static_cast<std::size_t>(st.st_size), kMax) << f;
        EXPECT_GT(st.st_size, 0) << f;
        EXPECT_EQ(st.st_mode & 07777, 0600u) << f;
    }
    struct stat st {};
    EXPECT_NE(lstat(rotated(3).c_str(), &st), 0) << "only two rotated files are kept";

    xsrtrace::Reader reader;
    std::string error;
    ASSERT_TRUE(reader.open(trace.path(), &error)) << error;
    EXPECT_EQ(reader.files(), files);
    std::vector<uint64_t> seqs;
    for (xsrtrace::Record r; reader.next(&r);) seqs.push_back(r.seq);
    EXPECT_EQ(reader.damaged_lines(), 0u);
    ASSERT_GE(seqs.size(), 3u);
    EXPECT_EQ(seqs.back(), static_cast<uint64_t>(kCalls)) << "the newest record is in TRACE itself";
    for (std::size_t i = 1; i < seqs.size(); ++i) EXPECT_EQ(seqs[i], seqs[i - 1] + 1) << "in order, none twice";
    EXPECT_GT(seqs.front(), 1u) << "the oldest records went with the files no longer kept";
    EXPECT_EQ(reader.gap_count(), 1u) << "the records before the oldest file kept are named as missing";
    for (int n = 1; n <= 4; ++n) std::remove(rotated(n).c_str());
}

// Every password the library sends or receives through XSR_CommandEx is
// masked in the trace unless ORQ_XSR_TRACE_SECRETS=1: the node records of a
// cluster add, and those of a cluster description, whole or in parts after a
// pending answer. The rest of the bytes and every length stay as they
// travelled, and the caller gets the real bytes either way.
TEST(Recorder, NodePasswordsAreMaskedUnlessSecretsAreAskedFor) {
    const std::string add = i32(1) + z("C") + z("t") + std::string(1, '\0') + i32(2) +
                            node("h1", 7300, "admin", "pw-one") + node("h2", 7301, "bob", "pw-two");
    const std::string description = i32(3) + i32(2) + z("C") + z("t") + z("a") + z("b") + i32(1) +
                                    node("h1", 7300, "admin", "pw-three") + z("D") + z("t") + z("") + z("") +
                                    i32(1) + node("h2", 7301, "admin", "pw-four");
    for (const bool secrets : {false, true}) {
        SCOPED_TRACE(secrets ? "ORQ_XSR_TRACE_SECRETS=1" : "masked");
        TempFile trace("trace.xt");
        std::vector<std::pair<std::string, std::string>> env = {{"ORQ_XSR_REAL", ORQ_DOUBLE_PATH},
                                                                {"ORQ_XSR_TRACE", trace.path()}};
        if (secrets) env.push_back({"ORQ_XSR_TRACE_SECRETS", "1"});
        else unsetenv("ORQ_XSR_TRACE_SECRETS");
        const ChildRun run = in_child(env, [&] {
            Recorder rec;
            if (!rec.load()) return 2;
            xsrdouble::reset();
            auto call = [&](uint16_t code, const std::string& body, int32_t cap, std::string* got) {
                const std::string h = header_of(code);
                std::string buf(static_cast<std::size_t>(cap), '\0');
                int32_t len = cap;
                const int32_t rc = rec.command(1001, 32639, 0, 45000, &buf[0], &len, h.data(), 16, 0, body.data(),
                                               static_cast<int32_t>(body.size()), 0, nullptr, 0);
                if (got) *got = buf.substr(0, static_cast<std::size_t>(std::max(0, std::min(len, cap))));
                return rc;
            };
            int bad = 0;
            std::string got;
            xsrdouble::push(xsrdouble::ok());
            bad += call(11, add, 16, nullptr) != 0;
            // The description whole, then pending and in three parts split
            // inside the passwords.
            xsrdouble::push(xsrdouble::ok(description));
            bad += call(13, "", 512, &got) != 0 || got != description;
            const std::size_t cut1 = description.find("pw-th") + 3, cut2 = description.find("pw-fo") + 2;
            xsrdouble::push(xsrdouble::pending(9, 4));
            xsrdouble::push(xsrdouble::part(description.substr(0, cut1)));
            xsrdouble::push(xsrdouble::part(description.substr(cut1, cut2 - cut1)));
            xsrdouble::push(xsrdouble::ok(description.substr(cut2)));
            std::string whole, piece;
            bad += call(13, "", 512, &piece) != -9000;
            const std::string ticket = i32(9) + i32(4);
            for (int i = 0; i < 3; ++i) {
                call(4, ticket, 512, &piece);
                whole += piece;
            }
            bad += whole != description;
            // A poll of another ticket is no part of the description.
            xsrdouble::push(xsrdouble::ok(z("x") + "pw-five"));
            call(4, i32(1) + i32(1), 512, nullptr);
            return bad;
        });
        ASSERT_EQ(run.exit_code, 0) << run.err;
        const std::string text = trace.read();
        const auto records = read_trace(trace);
        ASSERT_EQ(records.size(), 7u) << text;
        for (const char* pw : {"pw-one", "pw-two", "pw-three", "pw-four"}) {
            const std::string hex = xsrtrace::to_hex(pw);
            EXPECT_EQ(text.find(hex) != std::string::npos, secrets) << pw;
        }
        EXPECT_NE(text.find(xsrtrace::to_hex("pw-five")), std::string::npos) << "an answer of no description";
        auto masked = [&](std::string bytes) {
            if (secrets) return bytes;
            for (const char* pw : {"pw-one", "pw-two", "pw-three", "pw-four"}) {
                const auto at = bytes.find(pw);
                if (at != std::string::npos) bytes.replace(at, std::strlen(pw), std::string(std::strlen(pw), '*'));
            }
            return bytes;
        };
        EXPECT_EQ(records[0].body, masked(add));
        EXPECT_EQ(records[1].answer, masked(description));
        EXPECT_EQ(records[1].answer_len, static_cast<int32_t>(description.size())) << "lengths as they travelled";
        EXPECT_EQ(records[2].answer, i32(9) + i32(4)) << "the ticket";
        EXPECT_EQ(records[3].answer + records[4].answer + records[5].answer, masked(description));
        EXPECT_EQ(xsrtrace::cluster_add_without_passwords(records[0].body),
                  xsrtrace::cluster_add_without_passwords(add))
            << "a cluster add matches without its passwords";
    }
}

// A write that fails part way (here: the file size limit, reached in the
// middle of a record) leaves no torn line: the file ends with the last whole
// record, the records that could not be written are counted, and once the
// limit is lifted recording resumes with a message saying how many were lost.
TEST(Recorder, AWriteThatFailsPartWayLeavesOnlyWholeRecords) {
    TempFile trace("trace.xt");
    const ChildRun run = in_child({{"ORQ_XSR_REAL", ORQ_DOUBLE_PATH}, {"ORQ_XSR_TRACE", trace.path()}}, [&] {
        signal(SIGXFSZ, SIG_IGN);
        Recorder rec;
        if (!rec.load()) return 2;
        xsrdouble::reset();
        auto calls = [&](int n) {
            for (int i = 0; i < n; ++i) command_through(rec.command, command_cases()[0]);
        };
        calls(2);
        struct stat st {};
        if (stat(trace.path().c_str(), &st) != 0) return 3;
        rlimit old {};
        getrlimit(RLIMIT_FSIZE, &old);
        // Room for half of the next record.
        rlimit low = old;
        low.rlim_cur = static_cast<rlim_t>(st.st_size + st.st_size / 4);
        if (setrlimit(RLIMIT_FSIZE, &low) != 0) return 4;
        calls(3);
        if (setrlimit(RLIMIT_FSIZE, &old) != 0) return 5;
        calls(2);
        return 0;
    });
    ASSERT_EQ(run.exit_code, 0) << run.err;
    int malformed = -1;
    const auto records = read_trace(trace, &malformed);
    EXPECT_EQ(malformed, 0) << trace.read();
    ASSERT_EQ(records.size(), 4u) << trace.read();
    const std::vector<uint64_t> seqs = {records[0].seq, records[1].seq, records[2].seq, records[3].seq};
    EXPECT_EQ(seqs, (std::vector<uint64_t>{1, 2, 6, 7})) << "the lost records leave a gap in the numbers";
    EXPECT_NE(run.err.find("cannot write record #3"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("recording resumed with record #6; 3 record(s) were lost (#3 to #5)"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(count(run.err, "XSRClient recorder:"), 2u) << run.err;
}

}  // namespace

#endif  // !_WIN32
