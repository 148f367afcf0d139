// The platform's per-user data protection. On Windows CryptProtectData and
// CryptUnprotectData; on Linux a replacement with the same contract built on
// libsodium (data_protection_posix.cpp): sealed bytes open only for the same
// user and the same entropy, and nothing ever prompts.
#pragma once

#include <cstdint>

#include "base/seam.h"

namespace velto::platform {

struct ProtectedBlob {
  uint32_t size = 0;
  uint8_t* data = nullptr;
};

struct DataProtectionApi {
  // Seals `size` bytes. `entropy` null means none. No user interface. On true
  // *out holds a blob to release with free_blob.
  bool (*protect)(const uint8_t* data, uint32_t size, const uint8_t* entropy,
                  uint32_t entropy_size, ProtectedBlob* out);
  // Opens a sealed blob. With `ask_description` the platform's description is
  // asked for and released at once. False for another user's blob, another
  // entropy or damaged bytes.
  bool (*unprotect)(const uint8_t* data, uint32_t size, const uint8_t* entropy,
                    uint32_t entropy_size, bool ask_description, ProtectedBlob* out);
  // Releases a blob that protect or unprotect returned (LocalFree); wipes it
  // first. Leaves *blob empty.
  void (*free_blob)(ProtectedBlob* blob);
};

extern Seam<DataProtectionApi> g_data_protection;

// Turns opened data into a new NUL-terminated text and releases the blob.
// Null when the data is empty (an opened empty text counts as one that does
// not open) or memory runs out.
char* TakeOpenedText(ProtectedBlob* plain);

}  // namespace velto::platform
