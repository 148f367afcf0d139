// A console reporter that also keeps the CPU time of every benchmark (the
// median when repetitions are asked for) and, at the end, prints the module's
// figures beside their baselines as ratios against the targets.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace velto::bench {

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  explicit RatioReporter(OutputOptions options) : ConsoleReporter(options) {}

  void ReportRuns(const std::vector<Run>& runs) override;
  void Finalize() override;

  // True when every figure the table needs was measured and every target met.
  bool all_targets_met() const { return all_met_; }
  // True when a benchmark stopped with an error (its set-up failed).
  bool any_error() const { return any_error_; }

 private:
  struct Figure {
    double cpu_ns = 0;
    double items_per_second = 0;
    double paired_ratio = 0;  // the "ratio" counter of a paired benchmark
    bool from_median = false;
  };
  const Figure* Find(const std::string& name) const;
  void PrintTable();

  std::map<std::string, Figure> figures_;
  bool all_met_ = true;
  bool any_error_ = false;
};

}  // namespace velto::bench
