// Input: a stored password in its sealed form, opened; or a plain text sealed, then opened.
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/memory.h"
#include "base/text.h"
#include "fuzz_env.h"
#include "protect/custom_protect.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  velto::fuzz::SetUpPrivateEnvironment();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velto::fuzz::Input input(data, size);
  const bool round_trip = (input.Byte() & 1) != 0;
  std::string text = input.Rest();
  if (!round_trip) {
    velto::WipeAndFreeText(velto::CryptUnprotectCustom(text.c_str()));
    return 0;
  }
  // Whatever is sealed opens to the same text (up to its first NUL), as long
  // as the sealed text is within the characters the opener reads (a
  // plain text of about 3000 bytes and more is not; no record field holds one).
  char* sealed = velto::CryptProtectCustom(text.c_str());
  if (sealed == nullptr) return 0;
  char* opened = velto::CryptUnprotectCustom(sealed);
  const bool readable = std::strlen(sealed) <= velto::kMaxTextScan;
  if (readable && (opened == nullptr || std::strcmp(opened, text.c_str()) != 0)) std::abort();
  velto::WipeAndFreeText(opened);
  std::free(sealed);
  return 0;
}
