#include "failure.h"

#include <cstdio>

namespace velto::tools {

int Report(const Failure& failure) {
  if (failure.status != 0) {
    std::fprintf(stderr, "eapcfg: error %u: %s\n", failure.status, failure.reason.c_str());
  } else {
    std::fprintf(stderr, "eapcfg: %s\n", failure.reason.c_str());
  }
  return 1;
}

}  // namespace velto::tools
