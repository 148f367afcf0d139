// Input: an identity template as the dialog returns it (60 bytes, maybe unterminated) and a SIM's IMSI.
#include <cstring>
#include <string>

#include "fuzz_env.h"
#include "ui/identity_tokens.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velto::fuzz::Input input(data, size);
  const uint32_t method_kind = input.Byte() & 0x0F;  // the profile's kinds are 4, 6 and 8
  const size_t template_length = input.Byte() % (velto::kIdentityTemplateSize + 1);
  char identity_template[velto::kIdentityTemplateSize];
  std::memset(identity_template, 0, sizeof identity_template);
  input.CopyTo(identity_template, template_length);
  std::string imsi = input.Rest();  // as the SIM library terminates it
  velto::ReplaceIdentityTokens(identity_template, method_kind);
  char output[velto::kIdentityOutputSize] = {};
  velto::ExpandIdentityTokens(imsi.c_str(), identity_template, output);
  if (output[sizeof output - 1] != '\0') std::abort();
  return 0;
}
