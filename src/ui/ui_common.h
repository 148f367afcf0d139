// What the user-interface exports share.
#pragma once

#include <cstddef>
#include <cstdint>

#include "abi/eap_abi.h"

namespace velto {

// The dialog-profile method kind of an EAP type byte: 4 EAP-TTLS, 6 EAP-SIM,
// 8 EAP-AKA, 0 any other.
uint32_t MethodKindOf(uint8_t eap_type);

// A new zero-filled error record carrying a copy of the method type, or null
// when memory runs out. The host frees it with EapPeerFreeErrorMemory.
EAP_ERROR* NewErrorRecord(const EAP_METHOD_TYPE& method_type);

// Copies a profile text that the dialog library may have filled to its last
// byte: never more than the field holds, and always terminated.
void CopyFromProfile(char* to, size_t to_size, const char* from, size_t from_size);

template <size_t N, size_t M>
void CopyFromProfile(char (&to)[N], const char (&from)[M]) {
  CopyFromProfile(to, N, from, M);
}

}  // namespace velto
