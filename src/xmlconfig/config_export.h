// The configuration record to configuration XML.
#pragma once

#include <cstddef>

#include "frame/cdata.h"

namespace velto::xml {

// Appends the EAP-TTLS method element and "</Config>" at `destination`,
// formatting at most `capacity` bytes with the terminator. Writes saved
// credentials' password only in its profile identity form: a plain password
// is sealed in the record itself first (flag 0x10), and one that cannot be
// is written as "None". Returns the characters written.
size_t build_eap_ttls_xml(cdata* record, char* destination, size_t capacity);

// Appends the EAP-SIM or EAP-AKA method element and "</Config>".
size_t build_eap_sim_aka_xml(const cdata* record, char* destination, size_t capacity);

}  // namespace velto::xml
