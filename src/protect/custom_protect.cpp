#include "protect/custom_protect.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/memory.h"
#include "base/text.h"
#include "frame/user_name.h"
#include "protect/base64.h"
#include "protect/data_protection.h"
#include "trace/trace.h"

VELTO_DECLARE_TRACE_SETTINGS()

namespace velto {

char* CryptProtectCustom(const char* text) {
  if (text == nullptr || text[0] == '\0') return nullptr;

  // The user name only goes to the trace; it takes no part in the protection.
  // The sink keeps no line, so the name is looked up only while something
  // watches it: the look-up reads the password database, which costs more
  // than the seal itself.
  char user[100] = {};
  if (TraceWatched()) {
    uint32_t user_size = sizeof user;
    if (!platform::CurrentUserName(user, &user_size)) user[0] = '\0';
  }
  Trace(">> %s : CryptProtectCustom username: %s", __func__, user);

  size_t length = strnlen(text, kMaxTextScan);
  platform::ProtectedBlob sealed;
  if (!platform::g_data_protection->protect(reinterpret_cast<const uint8_t*>(text),
                                            static_cast<uint32_t>(length), nullptr, 0, &sealed)) {
    return nullptr;
  }

  char* result = nullptr;
  if (sealed.size != 0) {
    uint64_t encoded_length = 0;
    char* encoded = Base64EncodeWrapped(sealed.data, sealed.size, &encoded_length);
    if (encoded != nullptr && encoded_length != 0) {
      result = static_cast<char*>(std::malloc(encoded_length + 1));
      if (result != nullptr) std::memcpy(result, encoded, encoded_length + 1);
    }
    std::free(encoded);
  }
  platform::g_data_protection->free_blob(&sealed);
  return result;
}

char* CryptProtectCustomForField(const char* text, size_t field_size) {
  char* sealed = CryptProtectCustom(text);
  if (sealed != nullptr && std::strlen(sealed) >= field_size) {
    WipeAndFreeText(sealed);
    return nullptr;
  }
  return sealed;
}

char* CryptUnprotectCustom(const char* text) {
  if (text == nullptr || text[0] == '\0') return nullptr;

  uint64_t decoded_size = 0;
  uint8_t* decoded = Base64DecodeWrapped(text, strnlen(text, kMaxTextScan), &decoded_size);
  if (decoded == nullptr || decoded_size == 0 || decoded_size > UINT32_MAX) {
    std::free(decoded);
    return nullptr;
  }

  platform::ProtectedBlob plain;
  bool ok = platform::g_data_protection->unprotect(decoded, static_cast<uint32_t>(decoded_size),
                                                   nullptr, 0, /*ask_description=*/false, &plain);
  std::free(decoded);
  if (!ok) return nullptr;
  return platform::TakeOpenedText(&plain);
}

}  // namespace velto
