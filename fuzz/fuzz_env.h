// What every fuzz target shares: a private home, key folder and registry in
// a temporary folder (removed at exit), so a run never touches the user's
// own key or the machine's registry store.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace velto::fuzz {

// Points HOME, XDG_DATA_HOME and VELTOEAP_REGISTRY_ROOT into a new temporary
// folder, writes a fixed data protection key there and creates the module's
// registry key. Call once from LLVMFuzzerInitialize.
void SetUpPrivateEnvironment();

// Reads the input as a sequence of fields, giving zeros once it runs out.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint32_t U32();
  // Up to `max` bytes (fewer when the input ends).
  std::string Bytes(size_t max);
  // Copies up to `size` bytes into `out`, the rest of `out` left as it was.
  size_t CopyTo(void* out, size_t size);
  std::string Rest() { return Bytes(size_ - pos_); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace velto::fuzz
