#include "ratio_report.h"

#include <cstdio>

namespace velto::bench {
namespace {

// A row of the table: the module's benchmark over its baseline, and the
// highest ratio the target allows (0: reported, no target).
struct Pair {
  const char* label;
  std::string module;
  std::string baseline;
  double target;
};

std::vector<Pair> Pairs() {
  std::vector<Pair> pairs;
  struct Import {
    const char* profile;
    double target;
  };
  for (Import p : {Import{"ttls-saved", 3.0}, Import{"ttls-sealed", 0}, Import{"ttls-prompt", 0},
                   Import{"sim", 1.3}, Import{"aka", 1.3}, Import{"siblings", 3.0}}) {
    pairs.push_back({"import", std::string("xml/import/") + p.profile,
                     std::string("xml/parse/") + p.profile, p.target});
  }
  for (const char* profile : {"ttls-saved", "ttls-prompt", "sim", "aka"}) {
    pairs.push_back({"export", std::string("xml/export/") + profile,
                     std::string("xml/parse-output/") + profile, 2.0});
  }
  struct Codec {
    const char* name;
    const char* baseline;
  };
  for (Codec c : {Codec{"encode-wrapped", "openssl-encode"}, Codec{"encode-flat", "openssl-encode"},
                  Codec{"decode-wrapped", "openssl-decode"}, Codec{"decode-flat", "openssl-decode"}}) {
    for (int size : {64, 1024, 65536}) {
      std::string arg = "/" + std::to_string(size);
      pairs.push_back({"base64", std::string("base64/") + c.name + arg,
                       std::string("base64/") + c.baseline + arg, size == 64 ? 0 : 1.0});
    }
  }
  return pairs;
}

std::string KeyOf(const benchmark::BenchmarkReporter::Run& run) {
  std::string key = run.run_name.function_name;
  if (!run.run_name.args.empty()) key += "/" + run.run_name.args;
  return key;
}

}  // namespace

void RatioReporter::ReportRuns(const std::vector<Run>& runs) {
  for (const Run& run : runs) {
    if (run.error_occurred) {
      any_error_ = true;
      continue;
    }
    bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
    if (run.run_type == Run::RT_Aggregate && !median) continue;
    Figure& figure = figures_[KeyOf(run)];
    if (figure.from_median && !median) continue;  // a median outranks single runs
    figure.cpu_ns = run.GetAdjustedCPUTime() * 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
    auto rate = run.counters.find("items_per_second");
    figure.items_per_second = rate != run.counters.end() ? rate->second.value : 0;
    auto ratio = run.counters.find("ratio");
    figure.paired_ratio = ratio != run.counters.end() ? ratio->second.value : 0;
    figure.from_median = median;
  }
  ConsoleReporter::ReportRuns(runs);
}

const RatioReporter::Figure* RatioReporter::Find(const std::string& name) const {
  auto it = figures_.find(name);
  return it != figures_.end() ? &it->second : nullptr;
}

void RatioReporter::PrintTable() {
  // "ratio" divides the two medians; "paired" (XML roads) is the median
  // ratio of batches run in turns, which load from elsewhere disturbs least,
  // and is the one held against the target where it was measured.
  std::printf("\n%-8s %-22s %11s %11s %7s %7s %8s  %s\n", "what", "module / baseline",
              "module us", "base us", "ratio", "paired", "target", "met");
  for (const Pair& pair : Pairs()) {
    const std::string label = pair.module.substr(pair.module.find('/') + 1);
    const Figure* module = Find(pair.module);
    const Figure* baseline = Find(pair.baseline);
    if (module == nullptr || baseline == nullptr) {
      if (module != nullptr || baseline != nullptr) {
        std::printf("%-8s %-22s not measured in this run\n", pair.label, label.c_str());
      }
      if (pair.target != 0) all_met_ = false;
      continue;
    }
    const double ratio = module->cpu_ns / baseline->cpu_ns;
    const Figure* paired = Find("pair/" + label);
    const double judged = paired != nullptr ? paired->paired_ratio : ratio;
    const bool met = pair.target == 0 || judged <= pair.target;
    all_met_ = all_met_ && met;
    char target[16] = "-";
    if (pair.target != 0) std::snprintf(target, sizeof target, "<= %.1f", pair.target);
    char paired_text[16] = "-";
    if (paired != nullptr) std::snprintf(paired_text, sizeof paired_text, "%.2f", judged);
    std::printf("%-8s %-22s %11.3f %11.3f %7.2f %7s %8s  %s\n", pair.label, label.c_str(),
                module->cpu_ns / 1e3, baseline->cpu_ns / 1e3, ratio, paired_text, target,
                pair.target == 0 ? "" : (met ? "yes" : "NO"));
  }

  std::printf("\n%-40s %12s\n", "sealing", "us per call");
  for (const auto& [name, figure] : figures_) {
    if (name.rfind("seal/", 0) == 0) {
      std::printf("%-40s %12.3f\n", name.c_str(), figure.cpu_ns / 1e3);
    }
  }
  for (const auto& [name, figure] : figures_) {
    if (name.rfind("cards/", 0) == 0) {
      std::printf("\n%-40s %12.0f events/s\n", name.c_str(), figure.items_per_second);
    }
  }
  std::fflush(stdout);
}

void RatioReporter::Finalize() {
  ConsoleReporter::Finalize();
  PrintTable();
}

}  // namespace velto::bench
