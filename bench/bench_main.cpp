// The benchmark program. Everything it seals uses a key made for this run in a
// temporary folder (XDG_DATA_HOME and HOME point there), so no user's key or
// state is read or touched; the folder is removed at the end.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "ratio_report.h"
#include "support/test_env.h"

int main(int argc, char** argv) {
  std::string temp = velto::test::MakeTempDir();
  if (temp.empty()) {
    std::fprintf(stderr, "velto_bench: cannot make a temporary folder\n");
    return 1;
  }
  velto::test::SetEnvVar("HOME", temp.c_str());
  velto::test::SetEnvVar("XDG_DATA_HOME", (temp + "/data").c_str());
  velto::test::SetEnvVar("VELTOEAP_REGISTRY_ROOT", (temp + "/registry").c_str());

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    velto::test::RemoveTree(temp);
    return 1;
  }
  velto::bench::RatioReporter reporter(isatty(STDOUT_FILENO)
                                           ? benchmark::ConsoleReporter::OO_ColorTabular
                                           : benchmark::ConsoleReporter::OO_Tabular);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  velto::test::RemoveTree(temp);
  // A missed target is a figure, not a failure; a benchmark that could not
  // run is.
  return reporter.any_error() ? 1 : 0;
}
