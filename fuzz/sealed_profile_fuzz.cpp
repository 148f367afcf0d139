// Input: a profile's encrypted password text, opened; or a plain text sealed, then opened.
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/memory.h"
#include "fuzz_env.h"
#include "protect/profile_protect.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  velto::fuzz::SetUpPrivateEnvironment();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velto::fuzz::Input input(data, size);
  const bool round_trip = (input.Byte() & 1) != 0;
  std::string text = input.Rest();
  if (!round_trip) {
    velto::WipeAndFreeText(velto::DecryptProfileIdentityData(text.data()));  // changes the copy
    return 0;
  }
  // Whatever is sealed opens to the same text (up to its first NUL); the
  // empty text seals, but opens to nothing.
  char* sealed = velto::EncryptProfileIdentityData(text.c_str());
  if (sealed == nullptr) return 0;
  char* opened = velto::DecryptProfileIdentityData(sealed);
  if (text[0] == '\0' ? opened != nullptr
                       : opened == nullptr || std::strcmp(opened, text.c_str()) != 0) {
    std::abort();
  }
  velto::WipeAndFreeText(opened);
  std::free(sealed);
  return 0;
}
