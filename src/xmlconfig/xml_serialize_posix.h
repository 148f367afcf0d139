// The libxml2 DOM's xml property, and the node helpers it shares with the DOM.
#pragma once

#include <libxml/tree.h>

#include <string>

#include "base/secret_string.h"

namespace velto::xml {

// The first node from `node` on, and the next node after `node`, that the
// DOM shows: white-space-only text it hides is skipped.
xmlNodePtr FirstVisible(xmlNodePtr node);
xmlNodePtr NextVisible(xmlNodePtr node);

// xmlFree for a copy that libxml2 made of document content.
void WipeAndXmlFree(xmlChar* text);

// The element's qualified name, the way the DOM spells it.
std::string QualifiedName(const xmlChar* prefix, const xmlChar* name);

// Appends `node` and what it holds as the xml property writes them. The
// output may hold the password, so it is a wiped text.
void AppendNode(SecretBase* out, xmlNodePtr node);

}  // namespace velto::xml
