// Making and copying configuration records.
#pragma once

#include <cstdint>

#include "abi/cdata.h"

namespace velto {

// Fills `record` with the default record of an EAP type. Returns false, and
// leaves the record zeroed, for a type that has no default record.
//   21 EAP-TTLS: MSCHAPV2 inner method, prompt, the current user as the outer
//                identity (empty when the platform cannot name the user);
//   18 EAP-SIM, 23 EAP-AKA: saved credentials and nothing else.
bool MakeDefaultRecord(uint8_t eap_type, cdata* record);

// A new malloc'd, zero-filled record, or null when memory runs out.
cdata* AllocRecord();

}  // namespace velto
