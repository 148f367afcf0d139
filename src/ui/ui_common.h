// What the user-interface exports share.
#pragma once

#include <cstdint>

#include "abi/eap_abi.h"

namespace velto {

// The dialog-profile method kind of an EAP type byte: 4 EAP-TTLS, 6 EAP-SIM,
// 8 EAP-AKA, 0 any other.
uint32_t MethodKindOf(uint8_t eap_type);

// A new zero-filled error record carrying a copy of the method type, or null
// when memory runs out. The host frees it with EapPeerFreeErrorMemory.
EAP_ERROR* NewErrorRecord(const EAP_METHOD_TYPE& method_type);

}  // namespace velto
