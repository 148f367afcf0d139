// Ownership helpers: every block the module hands out comes from malloc, and
// every block that held a secret is wiped before it goes back.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace velto {

// Overwrites `size` bytes with zeros in a way the optimiser may not drop: the
// empty asm statement claims to read the zeroed memory, so the memset before
// it must happen (a byte-by-byte volatile loop did the same, many times
// slower).
inline void SecureWipe(void* data, size_t size) {
  if (data == nullptr) return;
  std::memset(data, 0, size);
  __asm__ __volatile__("" : : "r"(data) : "memory");
}

// Wipes a NUL-terminated text over its length and frees it. Null is allowed.
inline void WipeAndFreeText(char* text) {
  if (text == nullptr) return;
  SecureWipe(text, std::strlen(text));
  std::free(text);
}

// Wipes `size` bytes of a block and frees it. Null is allowed.
inline void WipeAndFree(void* data, size_t size) {
  SecureWipe(data, size);
  std::free(data);
}

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <typename T>
using MallocPtr = std::unique_ptr<T, FreeDeleter>;

}  // namespace velto
