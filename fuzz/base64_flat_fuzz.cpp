// Input: a profile identity's flat Base64 text, decoded into a buffer and as a terminated text.
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_env.h"
#include "protect/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velto::fuzz::Input input(data, size);
  // The buffer's capacity as the caller states it: any value, the real room
  // never larger.
  int32_t capacity = static_cast<int32_t>(input.U32());
  std::string text = input.Rest();
  std::vector<uint8_t> room(capacity > 0 ? std::min<int32_t>(capacity, 4096) : 0);
  int32_t stated = std::min<int32_t>(capacity, static_cast<int32_t>(room.size()));
  velto::Base64DecodeFlat(text.data(), static_cast<int32_t>(text.size()),
                          room.empty() ? nullptr : room.data(), &stated);

  // The text form stops at the first NUL and changes the text in place.
  uint8_t* bytes = nullptr;
  uint32_t length = 0;
  if (velto::Base64DecodeFlatText(text.data(), &bytes, &length)) std::free(bytes);
  return 0;
}
