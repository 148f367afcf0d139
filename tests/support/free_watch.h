// Watches what this process frees, for the secret hygiene test: every block
// freed while a watch runs is searched for the given secrets (as 8-bit text
// and as UTF-16), and each hit is kept with the stack of the free. Linux
// only: the test program replaces free, realloc and operator delete.
#pragma once

#include <string>
#include <vector>

namespace velto::test {

struct FreedSecret {
  std::string secret;  // the secret as given
  bool wide = false;   // found in its UTF-16 form
  size_t block_size = 0;
  std::string freed_by;  // "veltoeap.so+0x1a2b (Function)"
};

// Starts a watch for `secrets` (at most 4, each at most 60 bytes). Frees are
// the module's when the first frame outside the C and C++ runtimes lies in
// the image loaded at `module_base` or in the test program: the runtimes only
// act for their caller (a string the module lets go of is freed inside the
// C++ runtime), and a free the module makes as its very last step (a tail
// call) seems to come from its caller, the test. A free inside another
// library (libxml2 releasing a node of the caller's document, a double) is
// that library's own. So the test itself frees no secret while it watches.
void StartFreeWatch(const void* module_base, const std::vector<std::string>& secrets);

// Ends the watch: the module's frees that still held a secret.
std::vector<FreedSecret> StopFreeWatch();

}  // namespace velto::test
