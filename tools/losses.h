// What the module lost or will lose of a configuration: the import and the
// dialogs keep the module's rules (ASCII only, fixed field sizes, sealed
// passwords of at most 100 characters in the profile form), and eapcfg says
// each time one of them took something, naming the field.
#pragma once

#include <string>
#include <vector>

#include "frame/cdata.h"
#include "xmlconfig/xml_dom.h"

namespace velto::tools {

// The values of the document's method element that did not reach `record`
// whole, and what the record holds that will not come back out as it went
// in. `config` is the document's configuration element.
std::vector<std::string> ImportLosses(xml::DomNode* config, const cdata& record);

// The same for a record a configuration dialog made out of one whose inner
// method was `inner_before`.
std::vector<std::string> DialogLosses(uint32_t inner_before, const cdata& out);

}  // namespace velto::tools
