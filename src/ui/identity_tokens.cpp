#include "ui/identity_tokens.h"

#include <cstring>

#include "base/text.h"
#include "trace/trace.h"

namespace velto {
namespace {

constexpr uint32_t kMethodKindAka = 8;
constexpr size_t kMaxIdentity = kIdentityOutputSize - 1;

bool TokenAt(const char* text, size_t remaining, const char* token) {
  size_t n = std::strlen(token);
  return remaining >= n && std::memcmp(text, token, n) == 0;
}

}  // namespace

void ReplaceIdentityTokens(char* identity_template, uint32_t method_kind) {
  if (identity_template == nullptr) return;
  char result[kIdentityTemplateSize] = {};
  if (identity_template[0] == '\0') {
    std::strcpy(result, method_kind == kMethodKindAka ? "0$imsi$" : "1$imsi$");
  } else {
    size_t n = strnlen(identity_template, kIdentityTemplateSize - 1);
    for (size_t i = 0; i < n; ++i) {
      char c = identity_template[i];
      result[i] = (c == '{' || c == '}') ? '$' : c;
    }
  }
  std::memset(identity_template, 0, kIdentityTemplateSize);
  std::memcpy(identity_template, result, std::strlen(result));
  Trace(">> %s : identity - %s", __func__, identity_template);
}

int ExpandIdentityTokens(const char* imsi, const char* identity_template, char* output) {
  if (imsi == nullptr || identity_template == nullptr || output == nullptr) return 1;
  const size_t imsi_length = strnlen(imsi, kMaxTextScan);
  const size_t template_length = strnlen(identity_template, kMaxTextScan);
  if (template_length == 0) return 1;

  size_t count = 0;  // characters put into the output so far
  size_t at = 0;     // position in the template
  while (count < kMaxIdentity && at < template_length) {
    const char* here = identity_template + at;
    size_t remaining = template_length - at;
    if (TokenAt(here, remaining, "$imsi$") && count + imsi_length < kIdentityOutputSize) {
      std::memcpy(output + count, imsi, imsi_length);
      count += imsi_length;
      at += 6;
    } else if ((TokenAt(here, remaining, "$mnc$") || TokenAt(here, remaining, "$mcc$")) &&
               count < kMaxIdentity - 2) {
      // Always three places: a short IMSI leaves the rest zero, which ends
      // the identity there.
      size_t from = here[2] == 'n' ? 3 : 0;
      for (size_t i = 0; i < 3 && from + i < imsi_length; ++i) output[count + i] = imsi[from + i];
      count += 3;
      at += 5;
    } else {
      output[count++] = *here;
      ++at;
    }
  }
  return 1;
}

}  // namespace velto
