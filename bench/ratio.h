// A small harness for benchmarks that report ratios measured in one run.
//
// Two workloads are compared in alternating rounds (A then B, then B then A,
// ...), each round timing one batch of each; the figure is the median of the
// per-round ratios. A machine that is busy with other work slows both sides
// of a round alike, so the ratio holds where absolute timings do not.
//
// It is a plain timing loop over std::chrono::steady_clock rather than Google
// Benchmark so that the same programs build with MinGW-w64 (for which Debian
// has no Google Benchmark) and run under Wine.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#if defined(__has_include)
#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#define ORQ_BENCH_CALLGRIND 1
#endif
#endif

namespace bench {

using Clock = std::chrono::steady_clock;

struct Options {
    int rounds = 41;          // odd: the median is one of the rounds
    // Length of one batch: short, so that most batches run without being
    // interrupted by other work on the machine, and the median is one of them.
    double batch_ms = 1.0;
    bool smoke = false;       // a short run that checks the programs work
    const char* only = nullptr;  // run only the benchmarks whose name has this
    long calls = 0;  // > 0: every batch makes exactly this many calls, one
                     // round (for instruction counts under callgrind)
    // > 0: instead of timing, each side of every named comparison makes this
    // many calls (fewer for the large shapes, see count_calls) between a
    // zeroing and a dump of callgrind's counters, the dump named
    // "NAME:SIDE:CALLS". Nothing is printed; run under callgrind.
    long count = 0;
    // Instruction counts per call from an earlier counting run, printed
    // beside the times: lines "NAME SIDE INSTRUCTIONS".
    std::map<std::string, double> instructions;
};

// The counts file of --counts: "NAME SIDE INSTRUCTIONS_PER_CALL" per line.
inline void load_instructions(Options& o, const char* path) {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string name, side;
        double ir = 0;
        if (fields >> name >> side >> ir) o.instructions[name + ":" + side] = ir;
    }
}

inline Options parse_options(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--smoke")) {
            o.smoke = true;
            o.rounds = 3;
            o.batch_ms = 0.2;
        } else if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc) {
            o.rounds = std::max(1, std::atoi(argv[++i]));
        } else if (!std::strcmp(argv[i], "--batch-ms") && i + 1 < argc) {
            o.batch_ms = std::atof(argv[++i]);
        } else if (!std::strcmp(argv[i], "--calls") && i + 1 < argc) {
            o.calls = std::max(1L, std::atol(argv[++i]));
            o.rounds = 1;
        } else if (!std::strcmp(argv[i], "--only") && i + 1 < argc) {
            o.only = argv[++i];
        } else if (!std::strcmp(argv[i], "--count") && i + 1 < argc) {
            o.count = std::max(1L, std::atol(argv[++i]));
            o.rounds = 1;
        } else if (!std::strcmp(argv[i], "--counts") && i + 1 < argc) {
            load_instructions(o, argv[++i]);
        }
    }
    return o;
}

inline bool selected(const Options& o, const char* name) {
    return !o.only || std::strstr(name, o.only) != nullptr;
}

inline double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}
inline double quantile(std::vector<double> v, double q) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(q * static_cast<double>(v.size() - 1) + 0.5)];
}

inline double seconds_since(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Nanoseconds per run of `iterations` runs of f.
template <class F>
double ns_per_op(F& f, long iterations) {
    const Clock::time_point t0 = Clock::now();
    for (long i = 0; i < iterations; ++i) f();
    return seconds_since(t0) * 1e9 / static_cast<double>(iterations);
}

// Iterations that make one batch of f take about batch_ms.
template <class F>
long calibrate(F& f, const Options& o) {
    if (o.calls > 0) return o.calls;
    long n = 16;
    for (;;) {
        const Clock::time_point t0 = Clock::now();
        for (long i = 0; i < n; ++i) f();
        const double ms = seconds_since(t0) * 1e3;
        if (ms >= o.batch_ms / 4 || n >= (1L << 28)) {
            const double per = ms / static_cast<double>(n);
            const long want = static_cast<long>(o.batch_ms / (per > 0 ? per : 1e-6));
            return std::max(want, 1L);
        }
        n *= 4;
    }
}

struct Ratio {
    double ratio = 0;  // median of the per-round ratios A / B
    double low = 0, high = 0;  // first and third quartile of those ratios
    double a = 0, b = 0;       // medians of each side (their own unit)
};

// The per-round figures of two sides, their ratio in each round, and the
// summary.
inline Ratio summarise(const std::vector<double>& a, const std::vector<double>& b) {
    std::vector<double> r;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) r.push_back(b[i] > 0 ? a[i] / b[i] : 0);
    Ratio out;
    out.ratio = median(r);
    out.low = quantile(r, 0.25);
    out.high = quantile(r, 0.75);
    out.a = median(a);
    out.b = median(b);
    return out;
}

// Calls per side of a counting run for a shape that moves about `bytes`
// bytes per call: the large shapes make fewer, so that a run stays short.
inline long count_calls(const Options& o, std::size_t bytes) {
    const long scale = static_cast<long>(bytes / 16384) + 1;
    return std::max(20L, o.count / scale);
}

// Under callgrind: `calls` runs of f between a zeroing of the counters and a
// dump named NAME:SIDE:CALLS.
template <class F>
void count_side(const std::string& name, const char* side, F& f, long calls) {
#if ORQ_BENCH_CALLGRIND
    const std::string dump = name + ":" + side + ":" + std::to_string(calls);
    CALLGRIND_ZERO_STATS;
    for (long i = 0; i < calls; ++i) f();
    CALLGRIND_DUMP_STATS_AT(dump.c_str());
#else
    (void)name, (void)side, (void)f, (void)calls;
#endif
}

// Time per run of A and of B in alternating rounds; the ratio is A / B.
// Each side's batch is calibrated to the same length of time, so that both
// are as likely to be interrupted by other work on the machine. In a
// counting run (Options::count) a named comparison is counted instead, its
// sides named SIDE_A and SIDE_B, and gives an empty Ratio.
template <class A, class B>
Ratio compare(A a, B b, const Options& o, const std::string& name = std::string(),
              const char* side_a = "a", const char* side_b = "b", std::size_t bytes = 0) {
    if (o.count > 0) {
        if (!name.empty()) {
            count_side(name, side_a, a, count_calls(o, bytes));
            count_side(name, side_b, b, count_calls(o, bytes));
        }
        return Ratio{};
    }
    const long na = calibrate(a, o), nb = calibrate(b, o);
    std::vector<double> ta, tb;
    for (int r = 0; r < o.rounds; ++r) {
        if (r % 2 == 0) {
            ta.push_back(ns_per_op(a, na));
            tb.push_back(ns_per_op(b, nb));
        } else {
            tb.push_back(ns_per_op(b, nb));
            ta.push_back(ns_per_op(a, na));
        }
    }
    return summarise(ta, tb);
}

// Wall time in seconds for `threads` threads that each run f `iterations`
// times, started together.
template <class F>
double run_threads(F& f, int threads, long iterations) {
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([&] {
            ready.fetch_add(1);
            while (!go.load(std::memory_order_acquire)) std::this_thread::yield();
            for (long i = 0; i < iterations; ++i) f();
        });
    while (ready.load() < threads) std::this_thread::yield();
    const Clock::time_point t0 = Clock::now();
    go.store(true, std::memory_order_release);
    for (std::thread& t : pool) t.join();
    return seconds_since(t0);
}

inline double per_us(long calls, double seconds) { return static_cast<double>(calls) / (seconds * 1e6); }

// Calls per microsecond with `many` threads against calls per second with one
// thread, in alternating rounds; each thread makes the same number of calls.
template <class F>
Ratio scaling(F f, int many, const Options& o) {
    const long n = o.calls > 0 ? o.calls : calibrate(f, o) * 4;
    std::vector<double> one, more;
    for (int r = 0; r < o.rounds; ++r) {
        if (r % 2 == 0) {
            one.push_back(per_us(n, run_threads(f, 1, n)));
            more.push_back(per_us(n * many, run_threads(f, many, n)));
        } else {
            more.push_back(per_us(n * many, run_threads(f, many, n)));
            one.push_back(per_us(n, run_threads(f, 1, n)));
        }
    }
    return summarise(more, one);
}

// One line per figure, the same shape for every benchmark:
//   NAME  ratio R  [quartiles L..H]  A: a UNIT  B: b UNIT  target T (met|missed)
// In a smoke run targets are not judged.
// With instruction counts loaded (--counts), a second line under it:
//   instructions per call: A a, B b, ratio R
// A counting run prints nothing.
inline void report_instructions(const Options& o, const std::string& name, const char* a_label,
                                const char* b_label) {
    const auto a = o.instructions.find(name + ":" + a_label);
    const auto b = o.instructions.find(name + ":" + b_label);
    if (a == o.instructions.end() || b == o.instructions.end()) return;
    std::printf("%-44s   instructions per call: %s %.0f, %s %.0f, ratio %.3f\n", "", a_label,
                a->second, b_label, b->second, b->second > 0 ? a->second / b->second : 0.0);
}

inline void report(const Options& o, const std::string& name, const Ratio& r, const char* unit,
                   const char* a_label, const char* b_label, const char* target_op,
                   double target) {
    if (o.count > 0) return;
    bool met = std::strcmp(target_op, "<=") == 0 ? r.ratio <= target : r.ratio >= target;
    std::printf("%-44s ratio %6.3f  [%.3f..%.3f]  %s %.2f %s, %s %.2f %s  target %s %.2f%s\n",
                name.c_str(), r.ratio, r.low, r.high, a_label, r.a, unit, b_label, r.b, unit,
                target_op, target,
                o.smoke ? " (smoke run: not judged)" : (met ? " met" : " MISSED"));
    report_instructions(o, name, a_label, b_label);
    std::fflush(stdout);
}

// A reference figure with no target (what a part of the work costs at least).
inline void report_reference(const Options& o, const std::string& name, const Ratio& r,
                             const char* unit, const char* a_label, const char* b_label) {
    if (o.count > 0) return;
    std::printf("%-44s ratio %6.3f  [%.3f..%.3f]  %s %.2f %s, %s %.2f %s  (reference)\n",
                name.c_str(), r.ratio, r.low, r.high, a_label, r.a, unit, b_label, r.b, unit);
    report_instructions(o, name, a_label, b_label);
    std::fflush(stdout);
}

// Keeps the compiler from dropping writes to p that nothing reads.
inline void escape(const void* p) {
#if defined(__GNUC__)
    asm volatile("" : : "g"(p) : "memory");
#else
    (void)p;
#endif
}

// A failed check in a benchmark's set-up: the figures would mean nothing.
[[noreturn]] inline void fail(const char* what, long got, long want) {
    std::fprintf(stderr, "benchmark set-up failed: %s: got %ld, expected %ld\n", what, got, want);
    std::exit(1);
}
inline void expect(const char* what, long got, long want) {
    if (got != want) fail(what, got, want);
}

}  // namespace bench
