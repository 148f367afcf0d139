// One seam per platform service: the portable code calls through it, the
// platform file supplies the default table, and tests may put in a table of
// their own (for example a registry or data protection that fails).
#pragma once

#include <atomic>

namespace velto {

template <typename Api>
class Seam {
 public:
  explicit constexpr Seam(const Api* platform) : platform_(platform), current_(platform) {}

  const Api& operator*() const { return *current_.load(std::memory_order_acquire); }
  const Api* operator->() const { return current_.load(std::memory_order_acquire); }
  const Api& platform() const { return *platform_; }

  // Null restores the platform's table.
  void Override(const Api* api) {
    current_.store(api != nullptr ? api : platform_, std::memory_order_release);
  }

 private:
  const Api* platform_;
  std::atomic<const Api*> current_;
};

// Puts a table in for the life of a scope (tests).
template <typename Api>
class ScopedSeamOverride {
 public:
  ScopedSeamOverride(Seam<Api>& seam, const Api* api) : seam_(seam) { seam_.Override(api); }
  ~ScopedSeamOverride() { seam_.Override(nullptr); }
  ScopedSeamOverride(const ScopedSeamOverride&) = delete;
  ScopedSeamOverride& operator=(const ScopedSeamOverride&) = delete;

 private:
  Seam<Api>& seam_;
};

}  // namespace velto
