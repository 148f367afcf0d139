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

EAP_ERROR* NewErrorRecord(const EAP_METHOD_TYPE& method_type) {
  auto* error = static_cast<EAP_ERROR*>(std::calloc(1, sizeof(EAP_ERROR)));
  if (error != nullptr) {
    error->dwWinError = kNoError;
    std::memcpy(&error->type, &method_type, sizeof method_type);
  }
  return error;
}

}  // namespace velto
