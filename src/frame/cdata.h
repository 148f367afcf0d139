// Making and copying configuration records.
#pragma once

#include <cstddef>
#include <cstring>

#include "abi/cdata.h"

namespace velto {

// Copies `text` into a fixed text field of `size` bytes, cut to size - 1 bytes
// so that the terminator always fits. A null text stores the empty text.
void CopyTextField(char* field, size_t size, const char* text);

template <size_t N>
void CopyTextField(char (&field)[N], const char* text) {
  CopyTextField(field, N, text);
}

// A fixed text field as a terminated text. A record from the host may fill a
// field to its last byte, so a field is never read as a text in place.
template <size_t N>
void FieldText(const char (&field)[N], char (&text)[N + 1]) {
  std::memcpy(text, field, N);
  text[N] = '\0';
}

// Fills `record` with the default record of an EAP type. Returns false, and
// leaves the record zeroed, for a type that has no default record.
//   21 EAP-TTLS: MSCHAPV2 inner method, prompt, the current user as the outer
//                identity (empty when the platform cannot name the user);
//   18 EAP-SIM, 23 EAP-AKA: saved credentials and nothing else.
bool MakeDefaultRecord(uint8_t eap_type, cdata* record);

// A new malloc'd, zero-filled record, or null when memory runs out.
cdata* AllocRecord();

}  // namespace velto
