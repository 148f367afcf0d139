#include "ui/ui_common.h"

#include <cstdlib>
#include <cstring>

#include "abi/dialog_profile.h"

namespace velto {

uint32_t MethodKindOf(uint8_t eap_type) {
  switch (eap_type) {
    case kEapTypeTtls: return kProfileMethodTtls;
    case kEapTypeSim: return kProfileMethodSim;
    case kEapTypeAka: return kProfileMethodAka;
    default: return 0;
  }
}

void CopyFromProfile(char* to, size_t to_size, const char* from, size_t from_size) {
  size_t n = strnlen(from, from_size);
  if (n >= to_size) n = to_size - 1;
  std::memcpy(to, from, n);
  to[n] = '\0';
}

EAP_ERROR* NewErrorRecord(const EAP_METHOD_TYPE& method_type) {
  auto* error = static_cast<EAP_ERROR*>(std::calloc(1, sizeof(EAP_ERROR)));
  if (error != nullptr) {
    error->dwWinError = kNoError;
    std::memcpy(&error->type, &method_type, sizeof method_type);
  }
  return error;
}

}  // namespace velto
