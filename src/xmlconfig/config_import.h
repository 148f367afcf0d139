// Configuration XML to the configuration record.
#pragma once

#include <cstdint>

#include "frame/cdata.h"
#include "xmlconfig/xml_dom.h"

namespace velto::xml {

// Fills the EAP-TTLS fields of `record` from the method element. 0, or 87
// when credSaved lacks its identity or password child, or a plain password
// cannot be written back sealed into the host's document. A plain password
// in the document is replaced there by its profile identity form with
// encrypted="true"; that is the only change to the document.
uint32_t build_eap_ttls_blob(DomNode* method, cdata* record);

// Fills the EAP-SIM / EAP-AKA fields of `record` from the method element:
// prompt, and the two optional identities. Always 0.
uint32_t build_eap_sim_aka_blob(DomNode* method, cdata* record);

}  // namespace velto::xml
