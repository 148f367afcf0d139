// Text that may hold a password or a PIN. Every buffer such a text ever
// used is wiped before it goes back: the old heap buffer when the text grows
// or goes (the allocator), and the inline buffer that holds a short text in
// the object itself (the destructor; a text moved away leaves its characters
// there). The one string type for a secret anywhere in the tree: a secret
// copied into a std::string that grows leaves its old buffers unwiped.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "base/memory.h"

namespace velto {

template <typename T>
struct WipingAllocator {
  using value_type = T;
  WipingAllocator() noexcept = default;
  template <typename U>
  WipingAllocator(const WipingAllocator<U>&) noexcept {}
  T* allocate(size_t n) { return std::allocator<T>().allocate(n); }
  void deallocate(T* block, size_t n) noexcept {
    SecureWipe(block, n * sizeof(T));
    std::allocator<T>().deallocate(block, n);
  }
  template <typename U>
  bool operator==(const WipingAllocator<U>&) const noexcept {
    return true;
  }
};

using SecretBase = std::basic_string<char, std::char_traits<char>, WipingAllocator<char>>;

class SecretString : public SecretBase {
 public:
  using SecretBase::SecretBase;
  SecretString() = default;
  SecretString(const SecretString&) = default;
  SecretString(SecretString&&) noexcept = default;
  SecretString(SecretBase&& text) noexcept : SecretBase(std::move(text)) {}
  SecretString& operator=(const SecretString&) = default;
  SecretString& operator=(SecretString&&) noexcept = default;
  using SecretBase::operator=;
  ~SecretString() { SecureWipe(data(), capacity()); }
};

// Overwrites the text's whole buffer (not only its characters) and empties
// it, for a text that lives on after its secret is done with. Null is
// allowed.
inline void Wipe(SecretBase* text) {
  if (text == nullptr) return;
  SecureWipe(text->data(), text->capacity());
  text->clear();
}

}  // namespace velto
