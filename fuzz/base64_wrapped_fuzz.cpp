// Input: a stored password's wrapped Base64 text, decoded and encoded back.
#include <cstdlib>
#include <cstring>

#include "protect/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint64_t length = 0;
  uint8_t* bytes = velto::Base64DecodeWrapped(reinterpret_cast<const char*>(data), size, &length);
  if (bytes == nullptr) return 0;
  uint64_t text_length = 0;
  char* text = velto::Base64EncodeWrapped(bytes, length, &text_length);
  if (text == nullptr || std::strlen(text) != text_length) std::abort();
  // What was decoded decodes the same from its own encoding.
  uint64_t again_length = 0;
  uint8_t* again = velto::Base64DecodeWrapped(text, text_length, &again_length);
  if (again == nullptr || again_length != length || std::memcmp(again, bytes, length) != 0) {
    std::abort();
  }
  std::free(again);
  std::free(text);
  std::free(bytes);
  return 0;
}
