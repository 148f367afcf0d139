// The read rules every element lookup of the configuration import shares:
// exact names, direct children only, first match, ASCII-only text.
#pragma once

#include <memory>

#include "xmlconfig/xml_dom.h"

namespace velto::xml {

struct NodeReleaser {
  void operator()(DomNode* node) const;
};
// A node reference that is given back when it goes out of scope.
using NodeRef = std::unique_ptr<DomNode, NodeReleaser>;

// The first direct child of `parent` whose node name equals `name` code unit
// by code unit (the name is widened from the ANSI code page). None when the
// parent or name is null, there are no children, or any DOM call fails.
NodeRef find_child_node(DomNode* parent, const char* name);

// The node's text as a new UTF-8 text, or null: null node, failing call, no
// string, more than 4096 UTF-16 units, or anything outside U+0001..U+007F.
// An empty string gives the empty text.
char* node_text_utf8(DomNode* node);

// The element's attribute "encrypted" as a new UTF-8 text under the same
// rules, or null when the node is not an element or the attribute is absent
// or empty.
char* get_encrypted_attribute(DomNode* node);

// Sets encrypted="true" on an element; failures are ignored.
void set_encrypted_attribute(DomNode* node);

}  // namespace velto::xml
