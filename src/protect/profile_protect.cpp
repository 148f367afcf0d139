#include "protect/profile_protect.h"

#include <cstdlib>
#include <cstring>

#include "abi/eap_abi.h"
#include "base/memory.h"
#include "base/text.h"
#include "protect/base64.h"
#include "protect/data_protection.h"
#include "trace/trace.h"

VELTO_DECLARE_TRACE_SETTINGS()

namespace velto {
namespace {

// The module's identity entropy constant. Texts sealed under one value open
// only under the same value: it must never change once profiles exist.
constexpr uint8_t kIdentityEntropyConstant[16] = {0x5E, 0x1B, 0xC7, 0x42, 0x9A, 0x03, 0xD8, 0x6F,
                                                  0x21, 0xB4, 0x7C, 0xE9, 0x30, 0x85, 0x4D, 0xF6};

}  // namespace

uint32_t BuildIdentityEntropy(char* buffer) {
  if (buffer == nullptr) return kErrorInvalidParameter;
  // Each byte as "%02X" would print it, without a formatter call per byte
  // (sixteen of them cost more than the seal they serve).
  constexpr char kHexDigits[] = "0123456789ABCDEF";
  size_t used = 0;
  for (uint8_t byte : kIdentityEntropyConstant) {
    buffer[used++] = kHexDigits[byte >> 4];
    buffer[used++] = kHexDigits[byte & 0x0F];
  }
  buffer[used] = '\0';
  static_assert(2 * sizeof kIdentityEntropyConstant < kIdentityEntropyBufferSize);
  return kNoError;
}

char* EncryptProfileIdentityData(const char* text) {
  if (text == nullptr) return nullptr;
  size_t length = strnlen(text, kMaxTextScan);
  if (length > kMaxProfileIdentityText) return nullptr;

  char entropy[kIdentityEntropyBufferSize];
  BuildIdentityEntropy(entropy);

  platform::ProtectedBlob sealed;
  bool ok = platform::g_data_protection->protect(
      reinterpret_cast<const uint8_t*>(text), static_cast<uint32_t>(length),
      reinterpret_cast<const uint8_t*>(entropy), kIdentityEntropyLength, &sealed);
  if (!ok) return nullptr;

  char* encoded = nullptr;
  bool encoded_ok = Base64EncodeFlatText(sealed.data, sealed.size, &encoded);
  Trace(">> %s ServiceCryptProtectData returns %d - %s", __func__, 0,
        encoded != nullptr ? encoded : "");
  Trace(">>>>%s Encoded Text: %s", __func__, encoded != nullptr ? encoded : "");
  platform::g_data_protection->free_blob(&sealed);
  if (!encoded_ok || encoded == nullptr) {
    std::free(encoded);
    return nullptr;
  }

  size_t n = std::strlen(encoded);
  char* result = static_cast<char*>(std::malloc(n + 1));
  if (result != nullptr) std::memcpy(result, encoded, n + 1);
  std::free(encoded);
  return result;
}

char* DecryptProfileIdentityData(char* text) {
  char entropy[kIdentityEntropyBufferSize];
  BuildIdentityEntropy(entropy);
  Trace(">> %s Encoded Block:%s", __func__, text != nullptr ? text : "");
  Trace(">>>> %s Encrypted Text:%s", __func__, text != nullptr ? text : "");
  Trace(">> %s Entropy:%s", __func__, entropy);
  if (text == nullptr) return nullptr;

  uint8_t* decoded = nullptr;
  uint32_t decoded_size = 0;
  if (!Base64DecodeFlatText(text, &decoded, &decoded_size)) return nullptr;

  platform::ProtectedBlob plain;
  bool ok = platform::g_data_protection->unprotect(
      decoded, decoded_size, reinterpret_cast<const uint8_t*>(entropy), kIdentityEntropyLength,
      /*ask_description=*/true, &plain);
  std::free(decoded);
  if (!ok) return nullptr;
  return platform::TakeOpenedText(&plain);
}

}  // namespace velto
