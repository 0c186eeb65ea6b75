// The embed view's navigation rules: the top-level decision for a typical
// provider URL (a user clicking the video service's watch page), and for a
// script navigating to a percent-encoded billing path.
//
//   build/default/bench/embed_bench
#include <benchmark/benchmark.h>

#include <cstdio>

#include "embed/embed_policy.h"

namespace {

using VirelantDesktop::Embed::DecideTopLevelNavigation;
using VirelantDesktop::Embed::NavigationDecision;

void TopLevel(benchmark::State& state, const char* url, bool userInitiated, NavigationDecision expected) {
  for (auto _ : state) {
    bool visited = true;
    const NavigationDecision decision = DecideTopLevelNavigation(url, userInitiated, visited);
    benchmark::DoNotOptimize(decision);
    if (decision != expected) {
      state.SkipWithError("unexpected decision");
      break;
    }
  }
  state.counters["decisions/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_TopLevel_ProviderWatchPage(benchmark::State& state) {
  TopLevel(state, "https://www.youtube.com/watch?v=dQw4w9WgXcQ&t=42s", true, NavigationDecision::External);
}
void BM_TopLevel_EncodedBillingPath(benchmark::State& state) {
  TopLevel(state, "https://www.youtube.com/en-us/premium/%2563heckout?x=1", true, NavigationDecision::Block);
}
BENCHMARK(BM_TopLevel_ProviderWatchPage);
BENCHMARK(BM_TopLevel_EncodedBillingPath);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
