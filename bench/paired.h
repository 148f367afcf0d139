// Runs a module's call and its baseline in turns, a batch of each per
// iteration (which goes first alternates), each batch timed on the wall
// clock, so that load from elsewhere falls on both alike. Sets the counter
// "ratio" to the median of the batches' module / baseline ratios; the time per
// iteration means nothing here.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace velto::bench {

// `module` and `baseline` return false when a call failed.
template <typename Module, typename Baseline>
void PairedRatio(benchmark::State& state, int batch, Module&& module, Baseline&& baseline) {
  using Clock = std::chrono::steady_clock;
  std::vector<double> ratios;
  bool module_first = false;
  for (auto _ : state) {
    double took[2] = {};  // module, baseline
    for (int turn = 0; turn < 2; ++turn) {
      const bool is_module = (turn == 0) == module_first;
      const auto start = Clock::now();
      for (int k = 0; k < batch; ++k) {
        if (!(is_module ? module() : baseline())) return state.SkipWithError("a call failed");
      }
      took[is_module ? 0 : 1] = std::chrono::duration<double>(Clock::now() - start).count();
    }
    ratios.push_back(took[0] / took[1]);
    module_first = !module_first;
  }
  std::nth_element(ratios.begin(), ratios.begin() + ratios.size() / 2, ratios.end());
  state.counters["ratio"] = ratios[ratios.size() / 2];
}

}  // namespace velto::bench
