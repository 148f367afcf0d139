#include <windows.h>
#include <wincrypt.h>

#include "base/memory.h"
#include "protect/data_protection.h"

namespace velto::platform {
namespace {

bool Protect(const uint8_t* data, uint32_t size, const uint8_t* entropy, uint32_t entropy_size,
             ProtectedBlob* out) {
  DATA_BLOB in{size, const_cast<BYTE*>(data)};
  DATA_BLOB extra{entropy_size, const_cast<BYTE*>(entropy)};
  DATA_BLOB sealed{};
  if (!CryptProtectData(&in, nullptr, entropy != nullptr ? &extra : nullptr, nullptr, nullptr,
                        CRYPTPROTECT_UI_FORBIDDEN, &sealed)) {
    return false;
  }
  out->size = sealed.cbData;
  out->data = sealed.pbData;
  return true;
}

bool Unprotect(const uint8_t* data, uint32_t size, const uint8_t* entropy, uint32_t entropy_size,
               bool ask_description, ProtectedBlob* out) {
  DATA_BLOB in{size, const_cast<BYTE*>(data)};
  DATA_BLOB extra{entropy_size, const_cast<BYTE*>(entropy)};
  DATA_BLOB plain{};
  LPWSTR description = nullptr;
  BOOL ok = CryptUnprotectData(&in, ask_description ? &description : nullptr,
                               entropy != nullptr ? &extra : nullptr, nullptr, nullptr,
                               CRYPTPROTECT_UI_FORBIDDEN, &plain);
  if (description != nullptr) LocalFree(description);
  if (!ok) return false;
  out->size = plain.cbData;
  out->data = plain.pbData;
  return true;
}

void FreeBlob(ProtectedBlob* blob) {
  if (blob->data != nullptr) {
    SecureWipe(blob->data, blob->size);
    LocalFree(blob->data);
  }
  *blob = ProtectedBlob{};
}

const DataProtectionApi kWindowsDataProtection = {Protect, Unprotect, FreeBlob};

}  // namespace

Seam<DataProtectionApi> g_data_protection(&kWindowsDataProtection);

}  // namespace velto::platform
