// Micro-benchmarks of the core paths, against the scripted XSRClient double:
// registry lookups with many open connections, and a whole service call
// (frame, module message, exchange) with a small answer.
#include <benchmark/benchmark.h>

#include <vector>

#include "core/lifecycle.h"
#include "core/message.h"
#include "core/registry.h"
#include "exports/orqext.h"
#include "xsr/double/xsr_double.h"

namespace {

void fresh_library() {
    orq::lifecycle::unload();
    xsrdouble::reset();
    orq::lifecycle::load();
    orq::settings::set_cluster_enable(false);
}

// Looking up a handle among N registered connections (first record wins).
void BM_RegistryLookup(benchmark::State& state) {
    fresh_library();
    std::vector<int32_t> handles;
    for (int64_t i = 0; i < state.range(0); ++i) {
        int32_t st = 0;
        handles.push_back(ORQExt_Connect("srv", 1, "u", "p", &st));
    }
    std::size_t k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(orq::registry::cluster_enabled_or_create(handles[k]));
        k = (k + 7919) % handles.size();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RegistryLookup)->Arg(10)->Arg(1000)->Arg(10000);

// A service call end to end inside the process: build the frame, route, one
// XSR_CommandEx with a 16-byte answer.
void BM_ServiceCallRoundTrip(benchmark::State& state) {
    fresh_library();
    xsrdouble::set_handler([](const xsrdouble::Call&) { return xsrdouble::ok(std::string(16, 'a')); });
    char answer[128];
    for (auto _ : state) {
        orq::Frame f(0, "NLPE_DictSearch");
        f.str("word");
        int32_t len = sizeof answer;
        benchmark::DoNotOptimize(orq::send_frame(1, orq::kModNlpe, f, answer, &len));
    }
    xsrdouble::set_handler(nullptr);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ServiceCallRoundTrip);

}  // namespace

BENCHMARK_MAIN();
