// How the tool's commands fail.
#pragma once

#include <string>

namespace velto::tools {

// A failure with the Win32 status it stands for (0 when the module was not
// the one that failed) and a reason in plain words.
struct Failure {
  unsigned status;
  std::string reason;
};

// Tells the failure on standard error; returns the exit status, 1.
int Report(const Failure& failure);

}  // namespace velto::tools
