// Ownership helpers: every block the module hands out comes from malloc, and
// every block that held a secret is wiped before it goes back.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <type_traits>

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

// Wipes a region it does not own when the scope ends, whatever way it is
// left (returns, exceptions). Declared after the owner of the memory, so the
// wipe runs before the memory goes. Null is allowed and wipes nothing.
class ScopedWipe {
 public:
  ScopedWipe(void* data, size_t size) noexcept : data_(data), size_(size) {}
  // The whole object or array: a record, a key, a text field. A pointer
  // variable is refused, since that would wipe the pointer, not what it
  // points to.
  template <typename T>
  explicit ScopedWipe(T& object) noexcept : ScopedWipe(&object, sizeof object) {
    static_assert(!std::is_pointer_v<T> && std::is_trivially_copyable_v<T>);
  }
  ~ScopedWipe() { SecureWipe(data_, size_); }
  // Only the first `used` bytes were written (the rest of a calloc'd block is
  // still zero): wipe those alone. Never widens the wipe.
  void Written(size_t used) noexcept {
    if (used < size_) size_ = used;
  }
  ScopedWipe(const ScopedWipe&) = delete;
  ScopedWipe& operator=(const ScopedWipe&) = delete;

 private:
  void* data_;
  size_t size_;
};

// A malloc'd record that may hold secrets: wiped over its size and freed.
template <typename T>
struct WipeFreeDeleter {
  void operator()(T* p) const { WipeAndFree(p, sizeof(T)); }
};
template <typename T>
using WipedPtr = std::unique_ptr<T, WipeFreeDeleter<T>>;

// A malloc'd NUL-terminated text that may hold a secret: wiped over its
// length and freed.
struct WipeFreeTextDeleter {
  void operator()(char* text) const { WipeAndFreeText(text); }
};
using SecretText = std::unique_ptr<char, WipeFreeTextDeleter>;

}  // namespace velto
